// The "LCM1:" backend on a simulated PM10A: the hardware-layer codes around the driver's life,
// the exact register request bytes, the frame requests and releases, the single open, every
// failed-open path, and a close that gives up on a frame handler that does not return.
#include <gtest/gtest.h>

#include "camera/camera_test_support.h"

namespace {

using namespace camtest;

const CameraBackend& camera = kLcm1Backend;

class Lcm1Backend : public ::testing::Test {
  protected:
    Lcm1Backend() : device_("pm10a") { sink().reset(); }
    ~Lcm1Backend() override {
        sink().release = true;
        camera.stop();
        camera.close();
    }
    std::vector<std::string> requests() { return recordsStartingWith(device_.handheld(), "LCM1"); }
    TempDevice device_;
    uint8_t block_[kOpenBlockBytes] = {};
};

// An initialisation the device refuses releases the driver, its thread waited for; then the
// hardware-layer codes around the driver's life, and a single open.
TEST_F(Lcm1Backend, PowerAroundTheDriversLifeAndARefusedInitialisation) {
    const int baseline = threadBaseline();
    ASSERT_EQ(device_.handheld().command({"camera", "init", "refuse"}), "");
    EXPECT_EQ(camera.open(block_), 0u);
    EXPECT_TRUE(threadsBackTo(baseline)) << "the thread was waited for";
    ASSERT_EQ(device_.handheld().command({"camera", "init", "accept"}), "");
    ASSERT_NE(camera.open(block_), 0u) << "the driver was released";
    uint32_t initialised;
    memcpy(&initialised, block_, 4);
    EXPECT_NE(initialised, 0u) << "the driver's answer lands at the start of the block";
    EXPECT_EQ(camera.open(block_), 0u) << "a second open while open";
    EXPECT_NE(camera.close(), 0u);
    EXPECT_EQ(camera.close(), 0u) << "already closed";
    const std::vector<std::string> expected = {"device camera init refuse",
                                               "HAL 0x01013C40",
                                               "LCM1 open",
                                               "LCM1 0x90002004",
                                               "LCM1 close",
                                               "device camera init accept",
                                               "HAL 0x01013C40",
                                               "LCM1 open",
                                               "LCM1 0x90002004",
                                               "LCM1 0x90002008",
                                               "LCM1 close",
                                               "HAL 0x01013C44"};
    EXPECT_EQ(device_.handheld().records(), expected);
}

TEST_F(Lcm1Backend, RegisterRequestBytesPropertiesAndFlashLight) {
    uint32_t value = 0;
    EXPECT_EQ(camera.setProperty(5, 3), 0u) << "not open";
    EXPECT_EQ(camera.getProperty(5, &value), 0u);
    ASSERT_NE(camera.open(block_), 0u);
    EXPECT_NE(camera.writeRegister(0x12, 0x80), 0u);
    EXPECT_EQ(requests().back(), "LCM1 0x90002020 01 00 00 00 12 80 00 00");
    value = 0xFFFFFFFF;
    EXPECT_NE(camera.readRegister(0x12, &value), 0u);
    EXPECT_EQ(requests().back(), "LCM1 0x90002020 00 00 00 00 12 00 00 00");
    EXPECT_EQ(value, 0x80u) << "two bytes into the cleared word";
    EXPECT_NE(camera.setProperty(5, 3), 0u);
    EXPECT_EQ(requests().back(), "LCM1 0x90002014 5 3");
    EXPECT_NE(camera.getProperty(5, &value), 0u);
    EXPECT_EQ(value, 3u);
    EXPECT_NE(camera.flashLight(1), 0u);
    EXPECT_EQ(requests().back(), "LCM1 0x90002024 1");
}

TEST_F(Lcm1Backend, StopWithoutAnyFrameStillSendsTheStopCode) {
    expectStopWithoutFrames(device_.handheld(), camera, "LCM1 0x90002010");
}

// Each start asks the driver for frames of the crop size: 320 x 240 is 153,600 bytes.
TEST_F(Lcm1Backend, CyclesCleanlyAskingForFramesOfTheCropSize) {
    expectTwoCleanCycles(camera, params(640, 480, 160, 120, 320, 240), 153600u);
    EXPECT_EQ(recordsStartingWith(device_.handheld(), "LCM1 0x9000201C"),
              std::vector<std::string>(2, "LCM1 0x9000201C 153600"));
    EXPECT_EQ(recordsStartingWith(device_.handheld(), "LCM1 0x9000200C")[0],
              "LCM1 0x9000200C sensor 640x480 crop 160,120-479,359");
}

TEST(Lcm1BackendWithoutDriver, OpenFailsAndLeavesNothing) {
    DeviceProfile profile = *findBuiltinProfile("pm10a");
    profile.install = {"HTCcamera.dll"};
    TempDevice device(profile);
    expectFailedOpenLeavesNothing(camera);
    EXPECT_EQ(camera.stop(), 0u);
}

// A frame handler that does not return: stop and close each give up after their bound, the late
// thread keeps the driver until its frame is done, then releases it and ends.
TEST_F(Lcm1Backend, CloseGivesUpOnABusyHandlerAndTheThreadCleansUpLater) {
    const int baseline = threadBaseline();
    ASSERT_NE(camera.open(block_), 0u);
    CaptureParams p = params(320, 240, 0, 0, 320, 240);
    sink().holdMs = 10000;
    ASSERT_NE(camera.start(&p), 0u);
    ASSERT_TRUE(waitUntil([] { return sink().seen().bytes == 153600u; }));  // inside the handler
    auto start = std::chrono::steady_clock::now();
    camera.stop();
    camera.close();
    EXPECT_GE(millisSince(start), 1900) << "both waited their bound";
    EXPECT_LT(millisSince(start), 5000);
    EXPECT_EQ(camera.open(block_), 0u) << "the late thread still holds the single-open driver";
    EXPECT_TRUE(recordsStartingWith(device_.handheld(), "LCM1 close").empty());
    sink().holdMs = 0;
    sink().release = true;
    EXPECT_TRUE(waitUntil([&] {
        return recordsStartingWith(device_.handheld(), "LCM1 close").size() == 1u;
    })) << "the thread released the driver when its frame was done";
    EXPECT_TRUE(threadsBackTo(baseline));
    EXPECT_EQ(sink().frames, 1) << "no frame after the thread was told to end";
    EXPECT_NE(camera.open(block_), 0u);
}

}  // namespace
