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
    struct Shared {
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        HANDLE released = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // a waiter got through
        std::atomic<int> count{0};
    } shared;
    auto waiter = [](LPVOID p) -> DWORD {
        auto* s = static_cast<Shared*>(p);
        if (WaitForSingleObject(s->event, 10000) == WAIT_OBJECT_0) {
            s->count.fetch_add(1);
            SetEvent(s->released);
        }
        return 0;
    };
    HANDLE a = CreateThread(nullptr, 0, waiter, &shared, 0, nullptr);
    HANDLE b = CreateThread(nullptr, 0, waiter, &shared, 0, nullptr);
    // Whether or not the waiters wait yet, one signal lets exactly one of them through.
    SetEvent(shared.event);
    ASSERT_EQ(WaitForSingleObject(shared.released, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(shared.count.load(), 1);
    SetEvent(shared.event);
    EXPECT_EQ(WaitForSingleObject(a, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(b, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(shared.count.load(), 2);
    EXPECT_EQ(WaitForSingleObject(shared.event, 0), WAIT_TIMEOUT) << "the signal was consumed";
    CloseHandle(a);
    CloseHandle(b);
    CloseHandle(shared.released);
    CloseHandle(shared.event);
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
    // The thread ends when the test lets it, so it is still running at the first look.
    HANDLE finish = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [](LPVOID event) -> DWORD {
        return WaitForSingleObject(static_cast<HANDLE>(event), 10000) == WAIT_OBJECT_0 ? 7 : 1;
    };
    HANDLE thread = CreateThread(nullptr, 0, body, finish, 0, nullptr);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_NORMAL));
    EXPECT_EQ(GetThreadPriority(thread), 3);
    SetEvent(finish);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
    CloseHandle(finish);
}

TEST(Threads, ClosingTheHandleEarlyLeavesTheThreadRunning) {
    // The thread goes on only after its handle is closed, then signals that it ran.
    static HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static HANDLE ran = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto body = [](LPVOID) -> DWORD {
        if (WaitForSingleObject(go, 10000) == WAIT_OBJECT_0) SetEvent(ran);
        return 0;
    };
    EXPECT_TRUE(CloseHandle(CreateThread(nullptr, 0, body, nullptr, 0, nullptr)));
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(ran, 5000), WAIT_OBJECT_0);
}

TEST(Clock, TickCountCanBeDrivenForward) {
    DWORD before = GetTickCount();
    advanceTickCount(40000);
    DWORD after = GetTickCount();
    EXPECT_GE(after - before, 40000u);
    advanceTickCount(-40000);
}

}  // namespace
