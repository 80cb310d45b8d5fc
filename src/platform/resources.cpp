// The program's module: its device path and the resources compiled into it.
#include <cstring>
#include <mutex>
#include <set>

#include "platform/files.h"
#include "platform/hooks.h"
#include "platform/window.h"

namespace {

struct ProgramModule {
    std::u16string path;
    const ModuleResources* resources;
};

std::mutex mutex;
std::set<ProgramModule*> modules;
ProgramModule* program = nullptr;

ProgramModule* moduleOf(HINSTANCE instance) {
    auto* m = reinterpret_cast<ProgramModule*>(instance);
    std::lock_guard lock(mutex);
    if (!m) return program;
    return modules.count(m) ? m : nullptr;
}

}  // namespace

HINSTANCE createProgramModule(const WCHAR* devicePath, const ModuleResources* resources) {
    auto* m = new ProgramModule{devicePath ? devicePath : u"", resources};
    std::lock_guard lock(mutex);
    modules.insert(m);
    if (!program) program = m;
    return reinterpret_cast<HINSTANCE>(m);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    ProgramModule* m = moduleOf(module);
    if (!m || !fileName || size == 0) return 0;
    // As on the handheld: truncated to the buffer, always terminated.
    DWORD n = static_cast<DWORD>(std::min<size_t>(m->path.size(), size - 1));
    std::copy(m->path.begin(), m->path.begin() + n, fileName);
    fileName[n] = 0;
    return n;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
    ProgramModule* m = moduleOf(instance);
    if (!m || !m->resources || !buffer || bufferMax <= 0) return 0;
    for (size_t i = 0; i < m->resources->stringCount; ++i) {
        const StringResource& s = m->resources->strings[i];
        if (s.id != id) continue;
        size_t n = std::min<size_t>(wcslen16(s.text), static_cast<size_t>(bufferMax - 1));
        std::copy(s.text, s.text + n, buffer);
        buffer[n] = 0;
        return static_cast<int>(n);
    }
    buffer[0] = 0;
    return 0;
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    ProgramModule* m = moduleOf(module);
    if (!m || !m->resources || !IS_INTRESOURCE(name) || !IS_INTRESOURCE(type)) return nullptr;
    for (size_t i = 0; i < m->resources->dataCount; ++i) {
        const DataResource& r = m->resources->data[i];
        if (r.id == reinterpret_cast<uintptr_t>(name) &&
            r.type == reinterpret_cast<uintptr_t>(type))
            return reinterpret_cast<HRSRC>(const_cast<DataResource*>(&r));
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    return resource;
}

LPVOID LockResource(HGLOBAL loaded) {
    if (!loaded) return nullptr;
    return const_cast<void*>(static_cast<const DataResource*>(loaded)->data);
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
    return resource ? reinterpret_cast<const DataResource*>(resource)->size : 0;
}
