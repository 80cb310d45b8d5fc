// The simulated "LCM1:" and "DSC1:" drivers, through the platform's CreateFileW and
// DeviceIoControl: what they accept, what they refuse as a real driver would, and the frames
// they deliver.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/windows.h"
#include "sim/camera_sensor.h"
#include "sim/capture_block.h"
#include "sim/stream_drivers.h"
#include "support/temp_device.h"
#include "support/wait_until.h"

namespace {

BOOL request(HANDLE driver, DWORD code, const void* input = nullptr, DWORD inputSize = 0,
             void* output = nullptr, DWORD outputSize = 0) {
    DWORD returned = 0;
    return DeviceIoControl(driver, code, const_cast<void*>(input), inputSize, output, outputSize,
                           &returned, nullptr);
}

class Lcm1Driver : public ::testing::Test {
  protected:
    Lcm1Driver() : device_("pm10a") {
        block_.sensorWidth = 320;
        block_.sensorHeight = 240;
        block_.cropRight = 319;
        block_.cropBottom = 239;
    }
    HANDLE open() {
        return CreateFileW(u"LCM1:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    // Powered, opened and initialised.
    HANDLE ready() {
        KernelIoControl(kHalCameraPowerOn, nullptr, 0, nullptr, 0, nullptr);
        HANDLE driver = open();
        uint32_t id = 0;
        EXPECT_TRUE(request(driver, kLcm1Initialise, nullptr, 0, &id, 4));
        return driver;
    }
    // Asks until a frame is there (bounded); its address.
    uint8_t* nextFrame(HANDLE driver, uint32_t bytes) {
        uint8_t* frame = nullptr;
        waitUntil(
            [&] { return request(driver, kLcm1NextFrame, nullptr, 0, &frame, bytes) && frame; },
            std::chrono::milliseconds(1500), std::chrono::milliseconds(5));
        return frame;
    }
    TempDevice device_;
    CaptureBlock block_{};  // the whole 320 x 240 picture
};

TEST_F(Lcm1Driver, InitialisesOnlyWhenPowered) {
    HANDLE driver = open();
    uint32_t id = 0;
    EXPECT_FALSE(request(driver, kLcm1Initialise, nullptr, 0, &id, 4));
    KernelIoControl(kHalCameraPowerOn, nullptr, 0, nullptr, 0, nullptr);
    EXPECT_FALSE(request(driver, kLcm1Initialise, nullptr, 0, &id, 2)) << "output too small";
    EXPECT_TRUE(request(driver, kLcm1Initialise, nullptr, 0, &id, 4));
    EXPECT_NE(id, 0u);
    CloseHandle(driver);
    EXPECT_FALSE(KernelIoControl(0x01010000, nullptr, 0, nullptr, 0, nullptr)) << "unknown code";
}

TEST_F(Lcm1Driver, RefusesBadStartBlocksAndRegisterRequests) {
    HANDLE driver = open();
    EXPECT_FALSE(request(driver, kLcm1Start, &block_, sizeof block_)) << "not initialised";
    CloseHandle(driver);
    driver = ready();
    EXPECT_FALSE(request(driver, kLcm1Start, &block_, 76))
        << "the handheld's size, not this host's";
    CaptureBlock outside = block_;
    outside.cropLeft = 200;
    outside.cropRight = 519;
    EXPECT_FALSE(request(driver, kLcm1Start, &outside, sizeof outside));
    EXPECT_FALSE(request(driver, kLcm1Stop)) << "not streaming";
    EXPECT_TRUE(request(driver, kLcm1Start, &block_, sizeof block_));
    EXPECT_FALSE(request(driver, kLcm1Start, &block_, sizeof block_)) << "already streaming";
    EXPECT_TRUE(request(driver, kLcm1Stop));
    // Register requests (the ones that work are checked through the LCM1: backend).
    const uint32_t beyond[2] = {0, 256}, read[2] = {0, 0x31};
    uint32_t value = 0;
    EXPECT_FALSE(request(driver, kLcm1Register, beyond, 8, &value, 2));
    EXPECT_FALSE(request(driver, kLcm1Register, read, 4, &value, 2)) << "8 bytes in";
    EXPECT_FALSE(request(driver, 0x9000202C)) << "unknown request";
    CloseHandle(driver);
}

TEST_F(Lcm1Driver, FramesAreHandedOutAndReleased) {
    HANDLE driver = ready();
    ASSERT_TRUE(request(driver, kLcm1Start, &block_, sizeof block_));
    uint8_t* frame = nullptr;
    EXPECT_FALSE(request(driver, kLcm1NextFrame, nullptr, 0, &frame, 153600)) << "not armed";
    ASSERT_TRUE(request(driver, kLcm1ReleaseFrame));
    EXPECT_FALSE(request(driver, kLcm1NextFrame, nullptr, 0, &frame, 4))
        << "no room for an address";
    uint8_t* first = nextFrame(driver, 153600);
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(request(driver, kLcm1NextFrame, nullptr, 0, &frame, 153600))
        << "the frame is still the program's";
    // The frame is the scene: its top rows are the white bar of the test picture.
    EXPECT_GT(first[1], 200);
    EXPECT_TRUE(request(driver, kLcm1ReleaseFrame));
    uint8_t* second = nextFrame(driver, 153600);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first) << "two buffers take turns";
    request(driver, kLcm1ReleaseFrame);
    ASSERT_TRUE(request(driver, kLcm1Stop));
    EXPECT_FALSE(request(driver, kLcm1NextFrame, nullptr, 0, &frame, 153600));
    CloseHandle(driver);
}

class Dsc1Driver : public ::testing::Test {
  protected:
    Dsc1Driver() : device_("mpx220") {}
    HANDLE open(DWORD access = GENERIC_READ | GENERIC_WRITE) {
        return CreateFileW(u"DSC1:", access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    TempDevice device_;
};

// Opened for reading and writing only, and shared; frames of the configured size only.
TEST_F(Dsc1Driver, ReadsFramesOfTheConfiguredSizeOnly) {
    EXPECT_EQ(open(GENERIC_READ), INVALID_HANDLE_VALUE);
    HANDLE driver = open(), second = open();
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    CloseHandle(second);
    std::vector<uint8_t> frame(320 * 240 * 2);
    EXPECT_FALSE(request(driver, kDsc1ReadFrame, frame.data(), 153600)) << "nothing configured";
    const uint8_t size[24] = {1, 1, 3, 2, 320 % 256, 240};  // mode 3: 640 x 480
    EXPECT_TRUE(request(driver, kDsc1SetParameter, size, 24));
    EXPECT_FALSE(request(driver, kDsc1ReadFrame, frame.data(), 153600)) << "sensor stopped";
    EXPECT_TRUE(request(driver, kDsc1StartSensor));
    EXPECT_FALSE(request(driver, kDsc1ReadFrame, frame.data(), 1000)) << "no such frame size";
    EXPECT_TRUE(request(driver, kDsc1ReadFrame, frame.data(), 153600))
        << "320 x 240 from the low bytes";
    EXPECT_GT(frame[1], 100);
    EXPECT_FALSE(request(driver, kDsc1SetParameter, size, 12)) << "8 or 24 bytes";
    EXPECT_TRUE(request(driver, kDsc1StopSensor));
    CloseHandle(driver);
}

}  // namespace
