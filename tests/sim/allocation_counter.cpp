// Replaces the global operator new and delete of the test binary with malloc and free, counting
// the news of a thread while an AllocationCount is alive. Kept in its own file so the compiler
// never sees a new expression and this delete together.
#include "sim/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool tCounting = false;
thread_local int tAllocations = 0;
}  // namespace

AllocationCount::AllocationCount() {
    tAllocations = 0;
    tCounting = true;
}
AllocationCount::~AllocationCount() {
    tCounting = false;
}
int AllocationCount::allocations() const {
    return tAllocations;
}

void* operator new(std::size_t size) {
    if (tCounting) ++tAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
