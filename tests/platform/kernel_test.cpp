// Events, threads and waits behave as the handheld's kernel does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/hooks.h"
#include "platform/kernel.h"

namespace {

TEST(Events, ManualResetStaysSignalledForEveryWaiter) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 10), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Events, AutoResetReleasesOneWaiter) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> released{0};
    auto waiter = [](LPVOID p) -> DWORD {
        auto* args = static_cast<std::pair<HANDLE, std::atomic<int>*>*>(p);
        if (WaitForSingleObject(args->first, 2000) == WAIT_OBJECT_0) args->second->fetch_add(1);
        return 0;
    };
    std::pair<HANDLE, std::atomic<int>*> args{event, &released};
    HANDLE a = CreateThread(nullptr, 0, waiter, &args, 0, nullptr);
    HANDLE b = CreateThread(nullptr, 0, waiter, &args, 0, nullptr);
    Sleep(50);
    SetEvent(event);
    // One waiter is released; the other stays blocked until the second signal.
    Sleep(100);
    EXPECT_EQ(released.load(), 1);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(a, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 3000), WAIT_OBJECT_0);
    EXPECT_EQ(released.load(), 2);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "the signal was consumed";
    CloseHandle(a);
    CloseHandle(b);
    CloseHandle(event);
}

TEST(Events, TimeoutReturnsWaitTimeoutAfterTheTime) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    CloseHandle(event);
}

TEST(Events, NamedEventsAreShared) {
    HANDLE first = CreateEventW(nullptr, FALSE, TRUE, u"SharedTestEvent");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateEventW(nullptr, FALSE, FALSE, u"SharedTestEvent");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(first, second);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0) << "initial state of the first";
    CloseHandle(second);
    CloseHandle(first);
    // With every handle closed the name is free again: a new event starts unsignalled.
    HANDLE third = CreateEventW(nullptr, FALSE, FALSE, u"SharedTestEvent");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(third, 0), WAIT_TIMEOUT);
    CloseHandle(third);
}

TEST(Handles, ClosedAndForeignHandlesAreRejected) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    int notAHandle = 0;
    EXPECT_FALSE(SetEvent(&notAHandle));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(nullptr));
}

TEST(Threads, HandleIsSignalledWhenTheThreadEnds) {
    auto body = [](LPVOID) -> DWORD {
        Sleep(30);
        return 7;
    };
    HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(GetThreadPriority(thread), 3);
    EXPECT_EQ(WaitForSingleObject(thread, 3000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
}

TEST(Threads, ClosingTheHandleEarlyLeavesTheThreadRunning) {
    static std::atomic<bool> ran{false};
    auto body = [](LPVOID) -> DWORD {
        Sleep(20);
        ran = true;
        return 0;
    };
    CloseHandle(CreateThread(nullptr, 0, body, nullptr, 0, nullptr));
    for (int i = 0; i < 300 && !ran; ++i) Sleep(10);
    EXPECT_TRUE(ran);
}

TEST(Clock, TickCountCanBeDrivenForward) {
    DWORD before = GetTickCount();
    advanceTickCount(40000);
    DWORD after = GetTickCount();
    EXPECT_GE(after - before, 40000u);
    advanceTickCount(-40000);
}

}  // namespace
