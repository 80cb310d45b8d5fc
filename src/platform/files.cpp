// Device paths and the device file system, rooted at the device's host folder.
#include "platform/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/hooks.h"

std::u16string toUtf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        auto c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c >> 5) == 6) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c >> 4) == 14) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c >> 3) == 30) {
            cp = c & 0x07;
            n = 4;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        if (i + n > utf8.size()) {
            out.push_back(0xFFFD);
            break;
        }
        for (size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string toUtf8(const std::u16string& utf16) {
    std::string out;
    for (size_t i = 0; i < utf16.size(); ++i) {
        uint32_t cp = utf16[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

size_t wcslen16(const WCHAR* text) {
    size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

namespace {

// The stand-in's own files live in this folder of the root; device paths cannot reach it.
constexpr const char* kPrivateFolder = ".device";

bool caseInsensitiveEqual(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The existing entry of `folder` that matches `name` ignoring case, as the handheld's file system
// does; `name` itself when there is none.
std::string matchEntry(const std::string& folder, const std::string& name) {
    struct stat st;
    if (lstat((folder + "/" + name).c_str(), &st) == 0) return name;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return name;
    std::string found = name;
    while (dirent* entry = readdir(dir)) {
        if (caseInsensitiveEqual(entry->d_name, name)) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

std::string hostPathOf(const WCHAR* devicePath) {
    if (!devicePath || devicePath[0] != u'\\' || !deviceInstalled()) return {};
    std::string path = toUtf8(std::u16string(devicePath));
    std::string host = device().root();
    bool first = true;
    size_t start = 1;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty() || component == ".") continue;
        if (component == ".." || component.find_first_of("/:*?\"<>|") != std::string::npos ||
            component.find('\0') != std::string::npos)
            return {};
        if (first && caseInsensitiveEqual(component, kPrivateFolder)) return {};
        first = false;
        host += "/" + matchEntry(host, component);
        // A link could lead out of the root: refuse any along the way.
        struct stat st;
        if (lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return {};
    }
    return host;
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    std::string host = hostPathOf(path);
    if (host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (mkdir(host.c_str(), 0777) != 0) {
        SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileW(LPCWSTR path) {
    std::string host = hostPathOf(path);
    trace("DeleteFileW " + toUtf8(path ? std::u16string(path) : std::u16string()));
    struct stat st;
    if (host.empty() || lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        unlink(host.c_str()) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL GetDiskFreeSpaceExW(LPCWSTR directory, ULARGE_INTEGER* available, ULARGE_INTEGER* total,
                         ULARGE_INTEGER* totalFree) {
    std::string host = hostPathOf(directory);
    struct statvfs vfs;
    if (host.empty() || statvfs(host.c_str(), &vfs) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    uint64_t free = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    uint64_t size = static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    if (auto fixed = device().freeSpace()) {
        free = *fixed;
        size = std::max(size, free);
    }
    if (available) available->QuadPart = free;
    if (total) total->QuadPart = size;
    if (totalFree) totalFree->QuadPart = free;
    return TRUE;
}

namespace {

// A file that fails its writes once the device's write budget is spent, as a full card does.
// Unbuffered, so the failing write is the one the program made.
struct BudgetFile {
    FILE* inner;
};

ssize_t budgetWrite(void* cookie, const char* data, size_t size) {
    auto* f = static_cast<BudgetFile*>(cookie);
    auto& budget = device().faults.writeBudget;
    int64_t left = budget.load();
    size_t allowed = size;
    if (left >= 0) {
        // Only bytes that grow the file take room on a card: rewriting what is there is free.
        // (The inner stream is flushed after every write, so its size is the file's.)
        struct stat st {};
        const off_t position = ftello(f->inner);
        const int64_t inPlace =
            fstat(fileno(f->inner), &st) == 0 && position >= 0
                ? std::clamp<int64_t>(int64_t{st.st_size} - position, 0, int64_t(size))
                : 0;
        while (true) {
            const int64_t growth = std::min<int64_t>(left, int64_t(size) - inPlace);
            allowed = static_cast<size_t>(inPlace + growth);
            if (budget.compare_exchange_weak(left, left - growth)) break;
        }
    }
    size_t written = allowed ? fwrite(data, 1, allowed, f->inner) : 0;
    fflush(f->inner);
    // A short count (not -1) makes the stream's fwrite report exactly what was written.
    return static_cast<ssize_t>(written);
}

ssize_t budgetRead(void* cookie, char* data, size_t size) {
    auto* f = static_cast<BudgetFile*>(cookie);
    return static_cast<ssize_t>(fread(data, 1, size, f->inner));
}

int budgetSeek(void* cookie, off64_t* offset, int whence) {
    auto* f = static_cast<BudgetFile*>(cookie);
    if (fseeko(f->inner, *offset, whence) != 0) return -1;
    *offset = ftello(f->inner);
    return 0;
}

int budgetClose(void* cookie) {
    auto* f = static_cast<BudgetFile*>(cookie);
    int result = fclose(f->inner);
    delete f;
    return result;
}

}  // namespace

FILE* _wfopen(LPCWSTR path, const WCHAR* mode) {
    std::string host = hostPathOf(path);
    std::string openMode = mode ? toUtf8(std::u16string(mode)) : "";
    if (host.empty() || openMode.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    // Only regular files: a FIFO would block the open (and every read), a directory or a
    // device is no file of the program's. Refused like a file that cannot be opened.
    struct stat st {};
    if (stat(host.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return nullptr;
    }
    FILE* file = fopen(host.c_str(), openMode.c_str());
    if (!file) return nullptr;
    bool writing = openMode.find_first_of("wa+") != std::string::npos;
    if (!writing || device().faults.writeBudget.load() < 0) return file;
    auto* cookie = new BudgetFile{file};
    cookie_io_functions_t io{budgetRead, budgetWrite, budgetSeek, budgetClose};
    FILE* wrapped = fopencookie(cookie, openMode.c_str(), io);
    if (!wrapped) {
        fclose(file);
        delete cookie;
        return nullptr;
    }
    setvbuf(wrapped, nullptr, _IONBF, 0);
    return wrapped;
}

long _wtol(const WCHAR* text) {
    if (!text) return 0;
    while (*text == u' ' || (*text >= u'\t' && *text <= u'\r')) ++text;
    bool negative = false;
    if (*text == u'-' || *text == u'+') negative = *text++ == u'-';
    int64_t value = 0;
    // The handheld's long is 32 bits: an overflowing number saturates there.
    while (*text >= u'0' && *text <= u'9') {
        value = value * 10 + (*text++ - u'0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<long>(value);
}

char* _strupr(char* text) {
    for (char* p = text; p && *p; ++p)
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    return text;
}
