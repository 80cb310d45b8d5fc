// The interval thread against a camera that always starts (a fake backend table in the
// controller); the test thread plays the capture thread's frame consumer: it waits for each
// armed snapshot request, takes the frame (or not) and signals frameEvent. The tick counter is
// driven forward while the test waits, so the 3 s before the first shot pass at once. Every
// wait has a time limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "camera/device_info.h"
#include "core/app_state.h"
#include "platform/hooks.h"
#include "platform/windows.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"
#include "support/temp_device.h"
#include "support/wait_until.h"

namespace {

const CameraBackend kAlwaysStarts = {
    .open = [](void*) -> uint32_t { return 1; },
    .start = [](const CaptureParams*) -> uint32_t { return 1; },
    .stop = []() -> uint32_t { return 1; },
    .close = []() -> uint32_t { return 1; },
    .setProperty = [](uint32_t, uint32_t) -> uint32_t { return 1; },
    .getProperty = nullptr,
    .readRegister = nullptr,
    .writeRegister = nullptr,
    .flashLight = nullptr,
};

constexpr UINT kSentinel = WM_APP + 1;
constexpr DWORD kWaitMs = 5000;

class IntervalThread : public ::testing::Test {
  protected:
    TempDevice device{"nocamera"};  // no OEM library to install: only the window is needed
    HANDLE thread = nullptr;
    std::vector<uint8_t> average = std::vector<uint8_t>(64, 0xFF);

    void SetUp() override {
        gDeviceInfo.cameraType = 1;
        gDeviceInfo.isPxa27x = 1;
        buildSettingsModel(gDeviceInfo);
        for (int slot = 0; slot < kSettingsCount; ++slot) setting(slot).current.store(-1);
        setting(kSlotCaptureMode).current.store(kModeInterval);
        setting(kSlotDelay).current.store(0);  // "0 sec": 1 ms
        gController.backend = &kAlwaysStarts;
        gController.opened.store(1);
        gController.running.store(1);
        gController.snapshotFrames.store(1);
        gController.snapshotArmed.store(0);
        ensureImage(gApp.photoImage, 64, 64);
        gApp.averageBuffer = average.data();
        gApp.averageBufferSize = static_cast<uint32_t>(average.size());
        gApp.intervalStop.store(0);
        gApp.intervalShots.store(0);
        gApp.intervalDoneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.lpszClassName = u"IntervalTestWindow";
        RegisterClassW(&windowClass);  // already registered by an earlier test: fine
        gApp.mainWindow = CreateWindowExW(0, u"IntervalTestWindow", u"interval", 0, 0, 0, 240, 320,
                                          nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(gApp.mainWindow, nullptr);
        messages();  // nothing left over from an earlier test
    }

    void TearDown() override {
        if (thread) {
            gApp.intervalStop.store(1);
            SetEvent(gController.frameEvent);
            WaitForSingleObject(thread, kWaitMs);
            CloseHandle(thread);
        }
        CloseHandle(gApp.intervalDoneEvent);
        gApp.intervalDoneEvent = nullptr;
        gApp.averageBuffer = nullptr;
        gApp.averageBufferSize = 0;
        DestroyWindow(gApp.mainWindow);
        gApp.mainWindow = nullptr;
    }

    void start() {
        thread = CreateThread(nullptr, 0, intervalThreadMain, nullptr, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        gApp.intervalThread.store(thread);
    }

    // Waits until a frame request is armed, moving the tick counter on meanwhile. False on
    // time-out.
    static bool armed() {
        return waitUntil(
            [] {
                if (gController.snapshotArmed.load() == 1) return true;
                advanceTickCount(50);
                return false;
            },
            std::chrono::milliseconds(kWaitMs), std::chrono::milliseconds(1));
    }

    // The capture thread's part for one requested frame: waits for the request, notes the
    // last-frame and first-frame marks, then takes the frame (the consumer disarms the request) or
    // not, and signals frameEvent. False on time-out.
    static bool serveFrame(bool taken, std::vector<int>* marks = nullptr,
                           std::vector<int>* firsts = nullptr) {
        if (!armed()) return false;
        if (marks) marks->push_back(intervalLastFrame.load(std::memory_order_acquire));
        if (firsts) firsts->push_back(intervalFirstFrame.load(std::memory_order_acquire));
        if (taken) gController.snapshotArmed.store(0);
        SetEvent(gController.frameEvent);
        return true;
    }

    // The run's end is signalled and the thread has ended, clearing intervalThread.
    bool ended() const {
        return WaitForSingleObject(gApp.intervalDoneEvent, kWaitMs) == WAIT_OBJECT_0 &&
               WaitForSingleObject(thread, kWaitMs) == WAIT_OBJECT_0 &&
               gApp.intervalThread.load() == nullptr;
    }

    // The messages in the window queue, up to a sentinel posted now.
    static std::vector<MSG> messages() {
        std::vector<MSG> got;
        PostMessageW(gApp.mainWindow, kSentinel, 0, 0);
        MSG m{};
        while (GetMessageW(&m, nullptr, 0, 0) && m.message != kSentinel) got.push_back(m);
        return got;
    }
};

TEST_F(IntervalThread, AverageFourTakesFourSnapshotFramesAShot) {
    setting(kSlotAverage).current.store(2);  // "4"
    start();
    // The first frame of each shot is marked (the consumer clears the sums with it), the last
    // finishes the shot.
    std::vector<int> marks, firsts;
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(serveFrame(true, &marks, &firsts)) << "frame " << i;
    EXPECT_EQ(marks, (std::vector<int>{0, 0, 0, 1, 0, 0, 0, 1}));
    EXPECT_EQ(firsts, (std::vector<int>{1, 0, 0, 0, 1, 0, 0, 0}));

    // Stopped the way the window thread does it, while waiting for the third shot's first
    // frame: the flag, then frameEvent. That shot was never taken, so it is not counted.
    ASSERT_TRUE(armed());
    gApp.intervalStop.store(1);
    SetEvent(gController.frameEvent);
    ASSERT_TRUE(ended());
    EXPECT_EQ(gApp.intervalShots.load(), 2u);
    EXPECT_TRUE(messages().empty()) << "a stop is silent";
}

TEST_F(IntervalThread, AStopBeforeTheFirstShotEndsSilently) {
    start();
    gApp.intervalStop.store(1);
    ASSERT_TRUE(ended());
    EXPECT_EQ(gApp.intervalShots.load(), 0u);
    EXPECT_EQ(gController.snapshotArmed.load(), 0u) << "no frame was requested";
    EXPECT_TRUE(messages().empty());
}

TEST_F(IntervalThread, AShotWhoseFrameWasNotTakenPostsWmApp) {
    start();
    ASSERT_TRUE(serveFrame(false));
    ASSERT_TRUE(ended());
    EXPECT_EQ(gApp.intervalShots.load(), 0u);
    EXPECT_EQ(gController.snapshotArmed.load(), 0u);
    const std::vector<MSG> got = messages();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].message, WM_APP);
    EXPECT_EQ(got[0].wParam, 1u);
    EXPECT_EQ(got[0].lParam, 0);
}

}  // namespace
