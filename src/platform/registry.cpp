// The registry store. One text file in the device root's private folder holds every key and
// value; every call reads it afresh under a lock shared by all processes on the root, and every
// change writes a complete new file and renames it over the old one. A store read in part keeps
// every readable key; one that cannot be read at all is kept aside under a new name, never
// overwritten, and the program goes on with defaults; either is said once on standard error.
#include "platform/registry.h"

#include "platform/registry_text.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/device.h"
#include "platform/hooks.h"

namespace {

using Value = RegistryValue;
using Store = RegistryStore;

constexpr const char* kHeader = "lumovatrix-registry 1";
constexpr const char* kAsidePrefix = "/registry.unreadable-";  // + a number not yet taken

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out.empty() ? "-" : out;
}

bool unhex(const std::string& text, std::string& out) {
    out.clear();
    if (text == "-") return true;
    if (text.empty() || text.size() % 2) return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; ++k) {
            char c = text[i + k];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out.push_back(static_cast<char>(v));
    }
    return true;
}

// A value type: decimal digits only, within 32 bits.
bool readType(const std::string& text, DWORD& type) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFu) return false;
    type = static_cast<DWORD>(v);
    return true;
}

// The fields of a line, split at blanks.
std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        if (end > at) fields.push_back(line.substr(at, end - at));
        at = end;
    }
    return fields;
}

}  // namespace

RegistryReadResult readRegistryText(const std::string& text, RegistryStore& store) {
    RegistryReadResult result;
    size_t at = 0;
    uint32_t number = 0;
    RegistryKey* current = nullptr;
    auto skip = [&](const std::string& why) {
        result.badLines += 1;
        if (result.problems.size() < kMaxRegistryProblems)
            result.problems.push_back("line " + std::to_string(number) + ": " + why);
    };
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        // Every line is written with its end: a last line without one was cut off, and what is
        // left of it may still look whole (hex data cut at an even length).
        const bool cut = end == std::string::npos;
        if (cut) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        number += 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        if (number == 1) {
            if (line != kHeader) return result;  // not this form at all
            result.recognised = true;
            continue;
        }
        if (line.empty()) continue;
        if (cut) {
            skip("cut off before its end");
            continue;
        }
        const std::vector<std::string> f = fieldsOf(line);
        std::string name, data;
        DWORD type = 0;
        if (f[0] == "key") {
            if (f.size() != 2 || !unhex(f[1], name) || name.empty()) {
                current = nullptr;  // its values would land in the wrong key
                skip("not a key line");
                continue;
            }
            current = &store[lower(name)];
            current->name = name;
        } else if (f[0] == "value") {
            if (!current) {
                skip("a value outside a readable key");
            } else if (f.size() != 4 || !readType(f[1], type) || !unhex(f[2], name) ||
                       !unhex(f[3], data)) {
                skip("not a value line");
            } else {
                RegistryValue& v = current->values[lower(name)];
                v.name = name;
                v.type = type;
                v.data.assign(data.begin(), data.end());
            }
        } else {
            skip("neither a key nor a value");
        }
    }
    if (number == 0) result.recognised = true;  // empty: a new store
    return result;
}

namespace {

std::string folder() {
    return device().root() + "/.device";
}
std::string storePath() {
    return folder() + "/registry";
}

// Serialises access among threads of this process and, through flock, among processes.
class StoreLock {
  public:
    explicit StoreLock(bool exclusive) : guard_(mutex()) {
        mkdir(folder().c_str(), 0777);
        fd_ = open((folder() + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ >= 0) flock(fd_, exclusive ? LOCK_EX : LOCK_SH);
    }
    ~StoreLock() {
        if (fd_ >= 0) close(fd_);  // closing releases the flock
    }

  private:
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    std::lock_guard<std::mutex> guard_;
    int fd_ = -1;
};

// One line on the host's standard error, once per distinct store text in this process.
void reportOnce(const std::string& text, const std::vector<std::string>& lines) {
    static std::mutex mutex;
    static std::set<size_t> reported;
    std::lock_guard<std::mutex> lock(mutex);
    if (!reported.insert(std::hash<std::string>{}(text)).second) return;
    for (const std::string& line : lines) {
        std::fprintf(stderr, "lumovatrix: %s\n", line.c_str());
        trace("registry " + line);
    }
}

// A hard link to the store under the first free "registry.unreadable-N": never replaces a file.
// The name, or empty when no link could be made.
std::string keepAside() {
    for (int n = 1; n < 1000; ++n) {
        const std::string aside = folder() + kAsidePrefix + std::to_string(n);
        if (link(storePath().c_str(), aside.c_str()) == 0) return aside;
        if (errno != EEXIST) return {};
    }
    return {};
}

Store load() {
    Store store;
    // Only a regular file is read (a FIFO would block, a directory cannot be read); opened
    // without blocking, then checked.
    const int fd = open(storePath().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return store;
    struct stat st {};
    std::string text;
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buffer[4096];
    ssize_t n;
    while (regular && (n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
    close(fd);
    const RegistryReadResult r = readRegistryText(text, store);
    if (!regular || !r.recognised) {
        // Nothing in it can be trusted: it stays on disk under a new name and the program
        // starts with defaults, the store written afresh at the next change.
        const std::string aside = regular ? keepAside() : std::string();
        if (!aside.empty()) unlink(storePath().c_str());
        reportOnce(text,
                   {"the registry store " + storePath() + " cannot be read" +
                    (aside.empty() ? std::string(" (not a regular file)") : "; kept as " + aside) +
                    "; starting with default settings"});
        store.clear();
        return store;
    }
    if (r.badLines != 0) {
        // What could be read is used; the whole store is kept aside once as it was, because
        // the next change rewrites it without the skipped lines.
        std::vector<std::string> lines;
        for (const std::string& p : r.problems)
            lines.push_back("registry store " + storePath() + ", " + p + "; skipped");
        static std::mutex asideMutex;
        static std::set<size_t> keptAside;
        std::lock_guard<std::mutex> lock(asideMutex);
        if (keptAside.insert(std::hash<std::string>{}(text)).second) {
            const std::string aside = keepAside();
            if (!aside.empty()) lines.push_back("the registry store as it was is kept as " + aside);
        }
        reportOnce(text, lines);
    }
    return store;
}

bool save(const Store& store) {
    std::ostringstream out;
    out << kHeader << "\n";
    for (const auto& [path, key] : store) {
        out << "key " << hex(key.name) << "\n";
        for (const auto& [name, v] : key.values)
            out << "value " << v.type << " " << hex(v.name) << " "
                << hex(std::string(v.data.begin(), v.data.end())) << "\n";
    }
    std::string text = out.str();
    std::string temp = storePath() + ".tmp." + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok =
        write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    close(fd);
    if (ok && device().faults.crashInRegistrySave.load()) _exit(86);
    if (!ok || rename(temp.c_str(), storePath().c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    int dir = open(folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// Open keys: a handle is a heap record holding the key's full path.
struct OpenKey {
    std::string path;
};
std::mutex handlesMutex;
std::set<OpenKey*> openKeys;

const char* rootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return "HKLM";
    if (key == HKEY_CURRENT_USER) return "HKCU";
    if (key == HKEY_CLASSES_ROOT) return "HKCR";
    return nullptr;
}

bool pathOf(HKEY key, std::string& path) {
    if (const char* root = rootName(key)) {
        path = root;
        return true;
    }
    std::lock_guard lock(handlesMutex);
    auto* open = reinterpret_cast<OpenKey*>(key);
    if (!openKeys.count(open)) return false;
    path = open->path;
    return true;
}

// Joins a sub-key; empty components (doubled or trailing backslashes) are dropped.
std::string join(const std::string& base, LPCWSTR subKey) {
    std::string out = base;
    if (!subKey) return out;
    std::string sub = toUtf8(std::u16string(subKey));
    size_t start = 0;
    while (start <= sub.size()) {
        size_t end = sub.find('\\', start);
        if (end == std::string::npos) end = sub.size();
        if (end > start) out += "\\" + sub.substr(start, end - start);
        start = end + 1;
    }
    return out;
}

HKEY newHandle(const std::string& path) {
    auto* key = new OpenKey{path};
    std::lock_guard lock(handlesMutex);
    openKeys.insert(key);
    return reinterpret_cast<HKEY>(key);
}

std::string valueName(LPCWSTR name) {
    return name ? toUtf8(std::u16string(name)) : std::string();
}

}  // namespace

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, DWORD, HKEY* result) {
    std::string base;
    if (!result || !pathOf(key, base)) return ERROR_INVALID_HANDLE;
    std::string path = join(base, subKey);
    StoreLock lock(false);
    Store store = load();
    if (!rootName(key) || path != base) {
        if (!store.count(lower(path))) return ERROR_FILE_NOT_FOUND;
    }
    *result = newHandle(path);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES,
                     HKEY* result, DWORD* disposition) {
    std::string base;
    if (!result || !pathOf(key, base)) return ERROR_INVALID_HANDLE;
    std::string path = join(base, subKey);
    StoreLock lock(true);
    Store store = load();
    bool existed = store.count(lower(path)) != 0;
    if (!existed) {
        // Every missing key on the way is created too.
        for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
            std::string part = path.substr(0, at);
            if (part.find('\\') != std::string::npos && !store.count(lower(part)))
                store[lower(part)].name = part;
        }
        store[lower(path)].name = path;
        if (!save(store)) return ERROR_ACCESS_DENIED;
    }
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = newHandle(path);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    std::string path;
    if (!pathOf(key, path)) return ERROR_INVALID_HANDLE;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    StoreLock lock(false);
    Store store = load();
    auto k = store.find(lower(path));
    if (k == store.end()) return ERROR_FILE_NOT_FOUND;
    auto v = k->second.values.find(lower(valueName(name)));
    if (v == k->second.values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->second.type;
    DWORD needed = static_cast<DWORD>(v->second.data.size());
    LONG result = ERROR_SUCCESS;
    if (data) {
        if (*size < needed)
            result = ERROR_MORE_DATA;
        else
            std::copy(v->second.data.begin(), v->second.data.end(), data);
    }
    if (size) *size = needed;
    return result;
}

LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    std::string path;
    if (!pathOf(key, path)) return ERROR_INVALID_HANDLE;
    if (size && !data) return ERROR_INVALID_PARAMETER;
    trace("RegSetValueExW " + path + "\\" + valueName(name));
    StoreLock lock(true);
    Store store = load();
    auto k = store.find(lower(path));
    if (k == store.end()) return ERROR_FILE_NOT_FOUND;
    Value& v = k->second.values[lower(valueName(name))];
    if (v.name.empty()) v.name = valueName(name);
    v.type = type;
    v.data.assign(data, data + size);
    return save(store) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LONG RegCloseKey(HKEY key) {
    if (rootName(key)) return ERROR_SUCCESS;
    std::lock_guard lock(handlesMutex);
    auto* open = reinterpret_cast<OpenKey*>(key);
    if (!openKeys.erase(open)) return ERROR_INVALID_HANDLE;
    delete open;
    return ERROR_SUCCESS;
}

// Called when a device is installed: the values it ships with, where they are missing.
void applyRegistrySeeds() {
    for (const RegistrySeed& seed : device().registrySeeds()) {
        HKEY key;
        if (RegCreateKeyExW(seed.currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                            seed.key.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            continue;
        DWORD size = 0;
        if (RegQueryValueExW(key, seed.value.c_str(), nullptr, nullptr, nullptr, &size) ==
            ERROR_FILE_NOT_FOUND)
            RegSetValueExW(key, seed.value.c_str(), 0, seed.type, seed.data.data(),
                           static_cast<DWORD>(seed.data.size()));
        RegCloseKey(key);
    }
}
