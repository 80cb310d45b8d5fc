// The capture threads' hand-shakes. `pause` and `inFrameLoop` are sequentially consistent: a stop
// that stores pause = 1 and then reads inFrameLoop = 0 is ordered before the thread's store of
// inFrameLoop = 1, so the thread's next look at `pause` (or at the withdrawn run request) keeps
// it out of the frame loop. A stale pausedEvent (from a thread that left its loop without being
// asked to) cannot end a later stop early, since the stop keeps waiting while inFrameLoop is 1.
#include "camera/capture_thread.h"

#include <new>

namespace {

// Values of CaptureThread::owners.
constexpr uint32_t kBothOwn = 0;
constexpr uint32_t kThreadLeft = 1;  // the thread has ended: close releases the block
constexpr uint32_t kCloseLeft = 2;   // close gave up waiting: the thread releases the block

void closeEvents(CaptureThread& block) {
    for (HANDLE* event : {&block.runEvent, &block.pausedEvent, &block.exitedEvent}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
}

}  // namespace

CaptureThread* createCaptureThread() {
    auto* block = new (std::nothrow) CaptureThread;
    if (!block) return nullptr;
    block->runEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    block->pausedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    block->exitedEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!block->runEvent || !block->pausedEvent || !block->exitedEvent) {
        closeEvents(*block);
        delete block;
        return nullptr;
    }
    ResetEvent(block->runEvent);
    return block;
}

HANDLE launchCaptureThread(CaptureThread* block, LPTHREAD_START_ROUTINE body) {
    return block ? CreateThread(nullptr, 0, body, block, 0, nullptr) : nullptr;
}

void discardCaptureThread(CaptureThread*& block) {
    if (!block) return;
    closeEvents(*block);
    delete block;
    block = nullptr;
}

bool waitForRun(CaptureThread& block) {
    if (block.quit.load()) return false;
    if (WaitForSingleObject(block.runEvent, INFINITE) != WAIT_OBJECT_0) return false;
    block.inFrameLoop.store(1);
    return true;
}

bool keepCapturing(const CaptureThread& block) {
    return !block.pause.load() && WaitForSingleObject(block.runEvent, 0) == WAIT_OBJECT_0;
}

void leaveFrameLoop(CaptureThread& block) {
    block.inFrameLoop.store(0);
    SetEvent(block.pausedEvent);
}

void captureThreadEnded(CaptureThread* block) {
    HANDLE exited = block->exitedEvent;
    if (block->owners.exchange(kThreadLeft) == kCloseLeft) {
        // Close went on without this thread: the block and what it names are ours to release.
        closeEvents(*block);
        if (block->driver && block->driver != INVALID_HANDLE_VALUE) CloseHandle(block->driver);
        delete[] block->frameBuffer;
        delete block;
        return;
    }
    // After this the thread touches the block no more; close releases it.
    SetEvent(exited);
}

void runCaptureThread(CaptureThread* block) {
    if (block) SetEvent(block->runEvent);
}

void pauseCaptureThread(CaptureThread* block) {
    if (!block) return;
    ResetEvent(block->runEvent);
    block->quit.store(0);
    block->pause.store(1);
    const DWORD start = GetTickCount();
    while (block->inFrameLoop.load()) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= kCaptureHandshakeMs ||
            WaitForSingleObject(block->pausedEvent, kCaptureHandshakeMs - elapsed) != WAIT_OBJECT_0)
            break;
    }
    ResetEvent(block->pausedEvent);
    block->pause.store(0);
}

bool endCaptureThread(CaptureThread*& block) {
    if (!block) return true;
    CaptureThread* b = block;
    block = nullptr;
    b->quit.store(1);
    b->pause.store(1);
    SetEvent(b->runEvent);
    if (WaitForSingleObject(b->exitedEvent, kCaptureHandshakeMs) != WAIT_OBJECT_0) {
        if (b->owners.exchange(kCloseLeft) == kBothOwn) return false;
        // The thread reached its end meanwhile and is about to say so.
        WaitForSingleObject(b->exitedEvent, kCaptureHandshakeMs);
    }
    closeEvents(*b);
    delete b;
    return true;
}
