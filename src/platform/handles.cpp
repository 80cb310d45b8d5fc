// Kernel objects: registration of handles, events and threads, waits.
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>

#include "platform/hooks.h"
#include "platform/kernel.h"
#include "platform/kernel_object.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// Every live kernel object, so that CloseHandle and the waits can reject what is not one.
std::mutex registryMutex;
std::unordered_set<KernelObject*>& liveObjects() {
    static auto* set = new std::unordered_set<KernelObject*>;  // outlives static destruction
    return *set;
}

class Event final : public KernelObject {
  public:
    Event(bool manualReset, bool initialState, std::u16string name)
        : manualReset_(manualReset), signalled_(initialState), name_(std::move(name)) {}

    bool wait(DWORD milliseconds) override {
        std::unique_lock lock(mutex_);
        auto ready = [this] { return signalled_; };
        if (milliseconds == INFINITE) {
            cv_.wait(lock, ready);
        } else if (!cv_.wait_until(lock, deadlineAfter(milliseconds), ready)) {
            return false;
        }
        if (!manualReset_) signalled_ = false;
        return true;
    }

    void modify(DWORD function) {
        std::lock_guard lock(mutex_);
        switch (function) {
            case EVENT_SET:
                signalled_ = true;
                if (manualReset_)
                    cv_.notify_all();
                else
                    cv_.notify_one();
                break;
            case EVENT_RESET:
                signalled_ = false;
                break;
            default:
                break;
        }
    }

    const std::u16string& name() const { return name_; }

  protected:
    void lastReferenceDropped() override;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    const bool manualReset_;
    bool signalled_;
    const std::u16string name_;
};

// Named events, shared while any handle is open.
std::mutex namedMutex;
std::map<std::u16string, Event*>& namedEvents() {
    static auto* map = new std::map<std::u16string, Event*>;
    return *map;
}

void Event::lastReferenceDropped() {
    if (name_.empty()) return;
    std::lock_guard lock(namedMutex);
    auto it = namedEvents().find(name_);
    if (it != namedEvents().end() && it->second == this) namedEvents().erase(it);
}

class Thread final : public KernelObject {
  public:
    Thread(LPTHREAD_START_ROUTINE start, LPVOID parameter) : start_(start), parameter_(parameter) {}

    // The running thread holds its own reference, released when it ends.
    void launch() {
        retain();
        std::thread([this] {
            threadId_.store(GetCurrentThreadId(), std::memory_order_relaxed);
            DWORD code = start_(parameter_);
            {
                std::lock_guard lock(mutex_);
                if (!terminated_) exitCode_ = code;
                finished_ = true;
            }
            cv_.notify_all();
            release();
        }).detach();
    }

    bool wait(DWORD milliseconds) override {
        std::unique_lock lock(mutex_);
        auto done = [this] { return finished_ || terminated_; };
        if (milliseconds == INFINITE) {
            cv_.wait(lock, done);
            return true;
        }
        return cv_.wait_until(lock, deadlineAfter(milliseconds), done);
    }

    void terminate(DWORD code) {
        {
            std::lock_guard lock(mutex_);
            if (finished_) return;
            terminated_ = true;
            exitCode_ = code;
        }
        cv_.notify_all();
        trace("TerminateThread (abandoned)");
    }

    DWORD exitCode() {
        std::lock_guard lock(mutex_);
        return finished_ || terminated_ ? exitCode_ : STILL_ACTIVE;
    }

    std::atomic<int> priority{THREAD_PRIORITY_NORMAL};

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    LPTHREAD_START_ROUTINE start_;
    LPVOID parameter_;
    bool finished_ = false;
    bool terminated_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
    std::atomic<DWORD> threadId_{0};
};

}  // namespace

void KernelObject::release() {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    {
        std::lock_guard lock(registryMutex);
        liveObjects().erase(this);
    }
    lastReferenceDropped();
    delete this;
}

bool KernelObject::tryRetain() {
    int refs = refs_.load(std::memory_order_relaxed);
    while (refs > 0) {
        if (refs_.compare_exchange_weak(refs, refs + 1, std::memory_order_relaxed)) return true;
    }
    return false;
}

HANDLE registerKernelObject(KernelObject* object) {
    std::lock_guard lock(registryMutex);
    liveObjects().insert(object);
    return object;
}

KernelObject* acquireKernelObject(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* object = static_cast<KernelObject*>(handle);
    std::lock_guard lock(registryMutex);
    return liveObjects().count(object) && object->tryRetain() ? object : nullptr;
}

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD error) {
    lastError = error;
}

BOOL CloseHandle(HANDLE handle) {
    KernelRef ref(handle);
    if (!ref) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ref->release();  // the handle's own reference; `ref` holds another until it goes
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    // The reference held for the length of the wait keeps a CloseHandle elsewhere from freeing
    // the object under the waiter.
    KernelRef ref(handle);
    if (!ref) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return ref->wait(milliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    std::u16string eventName = name ? std::u16string(name) : std::u16string();
    if (!eventName.empty()) {
        std::lock_guard lock(namedMutex);
        auto it = namedEvents().find(eventName);
        if (it != namedEvents().end()) {
            it->second->retain();
            SetLastError(ERROR_ALREADY_EXISTS);
            return it->second;
        }
        auto* event = new Event(manualReset != 0, initialState != 0, eventName);
        namedEvents()[eventName] = event;
        SetLastError(ERROR_SUCCESS);
        return registerKernelObject(event);
    }
    SetLastError(ERROR_SUCCESS);
    return registerKernelObject(new Event(manualReset != 0, initialState != 0, eventName));
}

BOOL EventModify(HANDLE handle, DWORD function) {
    KernelRef ref(handle);
    auto* event = dynamic_cast<Event*>(ref.get());
    if (!event || (function != EVENT_SET && function != EVENT_RESET)) {
        SetLastError(event ? ERROR_NOT_SUPPORTED : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!event->name().empty()) {
        trace("EventModify " + toUtf8(event->name()) + (function == EVENT_SET ? " SET" : " RESET"));
    }
    event->modify(function);
    return TRUE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, DWORD, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD, DWORD* threadId) {
    if (!start) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* thread = new Thread(start, parameter);
    HANDLE handle = registerKernelObject(thread);
    thread->launch();
    if (threadId) *threadId = 0;
    return handle;
}

BOOL SetThreadPriority(HANDLE handle, int priority) {
    KernelRef ref(handle);
    auto* thread = dynamic_cast<Thread*>(ref.get());
    if (!thread || priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    thread->priority.store(priority, std::memory_order_relaxed);
    return TRUE;
}

int GetThreadPriority(HANDLE handle) {
    KernelRef ref(handle);
    auto* thread = dynamic_cast<Thread*>(ref.get());
    return thread ? thread->priority.load(std::memory_order_relaxed) : 0x7FFFFFFF;
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
    KernelRef ref(handle);
    auto* thread = dynamic_cast<Thread*>(ref.get());
    if (!thread || !exitCode) return FALSE;
    *exitCode = thread->exitCode();
    return TRUE;
}

BOOL TerminateThread(HANDLE handle, DWORD exitCode) {
    KernelRef ref(handle);
    auto* thread = dynamic_cast<Thread*>(ref.get());
    if (!thread) return FALSE;
    thread->terminate(exitCode);
    return TRUE;
}

DWORD GetCurrentThreadId() {
    static std::atomic<DWORD> next{1};
    thread_local DWORD id = next.fetch_add(1);
    return id;
}
