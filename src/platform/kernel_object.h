// Inside the stand-in: the reference-counted kernel object behind every HANDLE.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/types.h"

class KernelObject {
  public:
    virtual ~KernelObject() = default;

    void retain() { refs_.fetch_add(1, std::memory_order_relaxed); }
    // Retains unless the last reference is already gone.
    bool tryRetain();
    // Drops one reference; the object is deleted with the last.
    void release();

    // Waits up to `milliseconds` (INFINITE for ever) for the object to be signalled; consumes
    // the signal of an auto-reset event. True when signalled.
    virtual bool wait(DWORD milliseconds) = 0;

  protected:
    virtual void lastReferenceDropped() {}

  private:
    std::atomic<int> refs_{1};
};

// Registers a new object (holding its first reference) and returns its handle.
HANDLE registerKernelObject(KernelObject* object);
// The object behind a handle, retained; null for null, INVALID_HANDLE_VALUE, or anything that is
// not a live kernel object made by the stand-in (so a stale pointer is never followed).
KernelObject* acquireKernelObject(HANDLE handle);

// Holds the reference acquireKernelObject took for the length of a call.
class KernelRef {
  public:
    explicit KernelRef(HANDLE handle) : object_(acquireKernelObject(handle)) {}
    ~KernelRef() {
        if (object_) object_->release();
    }
    KernelRef(const KernelRef&) = delete;
    KernelRef& operator=(const KernelRef&) = delete;
    KernelObject* get() const { return object_; }
    KernelObject* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

  private:
    KernelObject* object_;
};

// Deadline arithmetic for waits.
inline std::chrono::steady_clock::time_point deadlineAfter(DWORD milliseconds) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}
