// Stream drivers, the kernel's control codes and dynamically loaded libraries.
#include "platform/devices.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/device.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "platform/kernel_object.h"

namespace {

// An open stream driver; CloseHandle closes it.
class DriverHandle final : public KernelObject {
  public:
    explicit DriverHandle(std::unique_ptr<StreamDriver> driver) : driver_(std::move(driver)) {}
    bool wait(DWORD) override { return false; }
    StreamDriver& driver() { return *driver_; }

  private:
    std::unique_ptr<StreamDriver> driver_;
};

void copyWide(WCHAR* out, size_t capacity, const std::u16string& text) {
    size_t n = std::min(capacity - 1, text.size());
    std::copy(text.begin(), text.begin() + n, out);
    out[n] = 0;
}

struct Library {
    void* handle;
};
std::mutex librariesMutex;
// Every loaded library. Outlives static destruction: a library the program never frees stays
// loaded to the end.
std::set<Library*>& libraries() {
    static auto* set = new std::set<Library*>;
    return *set;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD creation, DWORD, HANDLE) {
    std::u16string deviceName = name ? name : u"";
    trace("CreateFileW " + toUtf8(deviceName));
    // Only stream drivers are opened this way: a name of the form "XXXn:".
    if (!deviceInstalled() || creation != OPEN_EXISTING || deviceName.size() != 5 ||
        deviceName.back() != u':') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::unique_ptr<StreamDriver> driver = device().openStreamDriver(deviceName, access, shareMode);
    if (!driver) {
        SetLastError(ERROR_DEV_NOT_EXIST);
        return INVALID_HANDLE_VALUE;
    }
    return registerKernelObject(new DriverHandle(std::move(driver)));
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID input, DWORD inputSize, LPVOID output,
                     DWORD outputSize, DWORD* bytesReturned, LPVOID) {
    KernelRef ref(device);
    auto* handle = dynamic_cast<DriverHandle*>(ref.get());
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD returned = 0;
    BOOL ok = handle->driver().ioControl(code, input, inputSize, output, outputSize, &returned);
    if (bytesReturned) *bytesReturned = returned;
    return ok;
}

BOOL KernelIoControl(DWORD code, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize,
                     DWORD* bytesReturned) {
    char text[40];
    snprintf(text, sizeof text, "KernelIoControl 0x%08X", code);
    trace(text);
    if (!deviceInstalled()) return FALSE;
    if (code == IOCTL_PROCESSOR_INFORMATION) {
        const DeviceIdentity& id = device().identity();
        if (!id.processorQuery || !output || outputSize < sizeof(PROCESSOR_INFO)) return FALSE;
        auto* info = static_cast<PROCESSOR_INFO*>(output);
        info->wVersion = 1;
        copyWide(info->szProcessCore, 40, id.processorCore);
        copyWide(info->szProcessorName, 40, id.processorName);
        if (bytesReturned) *bytesReturned = sizeof(PROCESSOR_INFO);
        return TRUE;
    }
    return device().kernelIoControl(code, input, inputSize, output, outputSize, bytesReturned);
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
    std::u16string name = fileName ? fileName : u"";
    trace("LoadLibraryW " + toUtf8(name));
    // A full device path ("\\Program Files\\...\\x.dll") names the file; a bare name is looked
    // for in the program's own folder first, then in \Windows.
    const bool fullPath = !name.empty() && name[0] == u'\\';
    if (name.empty() || name.find(u'/') != std::u16string::npos ||
        (!fullPath && name.find(u'\\') != std::u16string::npos)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::vector<std::u16string> candidates;
    if (fullPath) {
        candidates.push_back(name);
    } else {
        WCHAR program[MAX_PATH] = {};  // stays empty when there is no program module
        GetModuleFileNameW(nullptr, program, MAX_PATH);
        std::u16string own(program);
        candidates.push_back(own.substr(0, own.rfind(u'\\') + 1) + name);
        candidates.push_back(u"\\Windows\\" + name);
    }
    for (const std::u16string& path : candidates) {
        std::string host = hostPathOf(path.c_str());
        struct stat st;
        if (host.empty() || stat(host.c_str(), &st) != 0) continue;
        void* handle = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            trace(std::string("LoadLibraryW failed: ") + dlerror());
            continue;
        }
        auto* library = new Library{handle};
        std::lock_guard lock(librariesMutex);
        libraries().insert(library);
        return reinterpret_cast<HMODULE>(library);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName) {
    auto* library = reinterpret_cast<Library*>(module);
    {
        std::lock_guard lock(librariesMutex);
        if (!libraries().count(library)) return nullptr;
    }
    if (!procName || IS_INTRESOURCE(procName)) return nullptr;
    std::string name = toUtf8(std::u16string(procName));
    void* symbol = dlsym(library->handle, name.c_str());
    FARPROC proc;
    static_assert(sizeof proc == sizeof symbol);
    memcpy(&proc, &symbol, sizeof proc);
    return proc;
}

BOOL FreeLibrary(HMODULE module) {
    auto* library = reinterpret_cast<Library*>(module);
    {
        std::lock_guard lock(librariesMutex);
        if (!libraries().erase(library)) return FALSE;
    }
    dlclose(library->handle);
    delete library;
    return TRUE;
}
