// Address-space reservations and mappings of the device's physical memory. The device keeps its
// physical memory in a file whose offsets are physical addresses; VirtualCopy maps the file
// there, so the mapping aliases the memory the simulated hardware reads and writes.
//
// As on the handheld, a mapping is made of whole pages: VirtualCopy takes the physical address
// in 256-byte units, but it must lie on a page, and the destination then aliases it byte for
// byte. A caller that wants an object inside a page maps from the page below it and adds the
// object's offset in the page (a page-table entry cannot start in the middle of a page).
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <mutex>

#include "platform/device.h"
#include "platform/hooks.h"
#include "platform/kernel.h"

namespace {

struct Reservation {
    uint8_t* base;  // the host mapping, one guard page before the address handed out
    size_t total;
    size_t size;  // what the caller reserved
};

std::mutex mutex;
// By the address handed out. Outlives static destruction: process-wide records release their
// mappings when they are destroyed at exit.
std::map<uint8_t*, Reservation>& reservationMap() {
    static auto* map = new std::map<uint8_t*, Reservation>;
    return *map;
}

size_t pageSize() {
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

constexpr uint64_t kPhysicalUnit = 256;  // VirtualCopy's physical addresses are in these units

}  // namespace

LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD type, DWORD protect) {
    if (address != nullptr || size == 0 || type != MEM_RESERVE || protect != PAGE_NOACCESS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A guard page on either side of the range handed out: a read past the mapping faults.
    size_t total = (size + pageSize() - 1) / pageSize() * pageSize() + 2 * pageSize();
    void* base =
        mmap(nullptr, total, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* handedOut = static_cast<uint8_t*>(base) + pageSize();
    std::lock_guard lock(mutex);
    reservationMap()[handedOut] = {static_cast<uint8_t*>(base), total, size};
    return handedOut;
}

BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect) {
    trace("VirtualCopy " + std::to_string(reinterpret_cast<uintptr_t>(source)) + " " +
          std::to_string(size));
    if (!(protect & PAGE_PHYSICAL) || !deviceInstalled() || device().physicalMemoryFd() < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const uint64_t physical =
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(source)) * kPhysicalUnit;
    if (physical % kDevicePageBytes != 0 || !device().physicalRangeValid(physical, size)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* dest = static_cast<uint8_t*>(destination);
    std::lock_guard lock(mutex);
    auto it = reservationMap().find(dest);
    if (it == reservationMap().end() || size > it->second.size) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A host with pages larger than the device's cannot map every device page on its own.
    if (physical % pageSize() != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    const size_t length = (size + pageSize() - 1) / pageSize() * pageSize();
    const int access = PROT_READ | ((protect & PAGE_READWRITE) ? PROT_WRITE : 0);
    void* mapped = mmap(dest, length, access, MAP_SHARED | MAP_FIXED, device().physicalMemoryFd(),
                        static_cast<off_t>(physical));
    if (mapped == MAP_FAILED) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

BOOL VirtualFree(LPVOID address, DWORD, DWORD type) {
    if (type != MEM_RELEASE) return FALSE;
    std::lock_guard lock(mutex);
    auto it = reservationMap().find(static_cast<uint8_t*>(address));
    if (it == reservationMap().end()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    munmap(it->second.base, it->second.total);
    reservationMap().erase(it);
    return TRUE;
}
