// The message queue: order, the quit message, and tasks run on the window thread, at once or
// once the queue is empty.
#include <gtest/gtest.h>

#include <vector>

#include "platform/hooks.h"
#include "platform/window.h"
#include "support/temp_device.h"

namespace {

std::vector<UINT> handled;

// Records WM_APP messages; WM_APP + 9 posts WM_APP + 2 as it is handled.
LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_APP) handled.push_back(message);
    if (message == WM_APP + 9) PostMessageW(window, WM_APP + 2, 0, 0);
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(MessageQueue, TasksPostAheadOfLaterMessagesAndQuitComesLast) {
    TempDevice device;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = recordingProc;
    windowClass.lpszClassName = u"QueueTest";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    HWND window = CreateWindowExW(0, u"QueueTest", u"Queue", 0, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    // A front-end resolves a key on the window thread and posts it; a message queued after the
    // task must still come after the key the task posted.
    runOnWindowThread([window] { PostMessageW(window, WM_APP + 1, 0, 0); });
    PostMessageW(window, WM_APP + 2, 0, 0);
    PostQuitMessage(5);
    PostMessageW(window, WM_APP + 3, 0, 0);  // queued messages are taken before the quit
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) DispatchMessageW(&message);
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 5u);
    EXPECT_EQ(handled, (std::vector<UINT>{WM_APP + 1, WM_APP + 2, WM_APP + 3}));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(PostMessageW(window, WM_APP, 0, 0)) << "a destroyed window takes no messages";
}

// A front-end's wait for the program to handle its input: the task runs once nothing is queued,
// after what handling the earlier messages posted and after messages queued meanwhile.
TEST(MessageQueue, ATaskForAnEmptyQueueRunsAfterEverythingQueuedAndPostedByHandling) {
    TempDevice device;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = recordingProc;
    windowClass.lpszClassName = u"IdleTest";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    HWND window = CreateWindowExW(0, u"IdleTest", u"Idle", 0, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    handled.clear();
    PostMessageW(window, WM_APP + 9, 0, 0);
    runWhenQueueHandled([] { handled.push_back(0); });
    PostMessageW(window, WM_APP + 3, 0, 0);
    PostQuitMessage(0);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0)) DispatchMessageW(&message);
    EXPECT_EQ(handled, (std::vector<UINT>{WM_APP + 9, WM_APP + 3, WM_APP + 2, 0}));
    EXPECT_TRUE(DestroyWindow(window));
}

}  // namespace
