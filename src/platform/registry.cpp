// The registry store. One text file in the device root's private folder holds every key and
// value; every call reads it afresh under a lock shared by all processes on the root, and every
// change writes a complete new file and renames it over the old one.
#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

struct Value {
    std::string name;  // as first written
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::string name;                     // full path as first written
    std::map<std::string, Value> values;  // by lower-case name
};

// By lower-case full path ("hklm\software\quorvale\lumovatrix"); names compare without case.
using Store = std::map<std::string, Key>;

constexpr const char* kHeader = "lumovatrix-registry 1";

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
    if (text.size() % 2) return false;
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

Store load() {
    Store store;
    FILE* f = fopen(storePath().c_str(), "rb");
    if (!f) return store;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader) return store;
    Key* current = nullptr;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string tag, a, b, c;
        fields >> tag >> a;
        std::string name;
        if (tag == "key" && unhex(a, name)) {
            current = &store[lower(name)];
            current->name = name;
        } else if (tag == "value" && current && (fields >> b >> c)) {
            Value v;
            std::string data;
            if (!unhex(b, v.name) || !unhex(c, data)) continue;
            v.type = static_cast<DWORD>(std::stoul(a));
            v.data.assign(data.begin(), data.end());
            current->values[lower(v.name)] = v;
        }
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
