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

namespace {

BOOL request(HANDLE driver, DWORD code, const void* input = nullptr, DWORD inputSize = 0,
             void* output = nullptr, DWORD outputSize = 0) {
    DWORD returned = 0;
    return DeviceIoControl(driver, code, const_cast<void*>(input), inputSize, output, outputSize,
                           &returned, nullptr);
}

CaptureBlock startBlock(uint32_t sensorWidth, uint32_t sensorHeight, uint32_t left, uint32_t top,
                        uint32_t width, uint32_t height) {
    CaptureBlock b{};
    b.sensorWidth = sensorWidth;
    b.sensorHeight = sensorHeight;
    b.cropLeft = left;
    b.cropTop = top;
    b.cropRight = left + width - 1;
    b.cropBottom = top + height - 1;
    return b;
}

class Lcm1Driver : public ::testing::Test {
  protected:
    Lcm1Driver() : device_("pm10a") {}
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
        for (int tries = 0; tries < 300; ++tries) {
            uint8_t* frame = nullptr;
            if (request(driver, kLcm1NextFrame, nullptr, 0, &frame, bytes) && frame) return frame;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return nullptr;
    }
    TempDevice device_;
};

TEST_F(Lcm1Driver, OneOpenAtATime) {
    HANDLE first = open();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
    CloseHandle(first);
    HANDLE again = open();
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_EQ(
        CreateFileW(u"LCM1:", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE)
        << "no sharing";
    CloseHandle(again);
}

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

TEST_F(Lcm1Driver, RefusesBadStartBlocks) {
    HANDLE driver = open();
    CaptureBlock block = startBlock(640, 480, 0, 0, 640, 480);
    EXPECT_FALSE(request(driver, kLcm1Start, &block, sizeof block)) << "not initialised";
    CloseHandle(driver);
    driver = ready();
    EXPECT_FALSE(request(driver, kLcm1Start, &block, 76)) << "the handheld's size, not this host's";
    CaptureBlock outside = startBlock(640, 480, 400, 0, 320, 240);
    EXPECT_FALSE(request(driver, kLcm1Start, &outside, sizeof outside));
    EXPECT_FALSE(request(driver, kLcm1Stop)) << "not streaming";
    EXPECT_TRUE(request(driver, kLcm1Start, &block, sizeof block));
    EXPECT_FALSE(request(driver, kLcm1Start, &block, sizeof block)) << "already streaming";
    EXPECT_TRUE(request(driver, kLcm1Stop));
    CloseHandle(driver);
}

TEST_F(Lcm1Driver, FramesAreHandedOutAndReleased) {
    HANDLE driver = ready();
    CaptureBlock block = startBlock(320, 240, 0, 0, 320, 240);
    ASSERT_TRUE(request(driver, kLcm1Start, &block, sizeof block));
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

TEST_F(Lcm1Driver, RegistersAndProperties) {
    HANDLE driver = ready();
    const uint8_t write[8] = {1, 0, 0, 0, 0x31, 0x7F, 0, 0};
    EXPECT_TRUE(request(driver, kLcm1Register, write, 8));
    const uint32_t read[2] = {0, 0x31};
    uint32_t value = 0;
    EXPECT_TRUE(request(driver, kLcm1Register, read, 8, &value, 2));
    EXPECT_EQ(value, 0x7Fu);
    const uint32_t beyond[2] = {0, 256};
    EXPECT_FALSE(request(driver, kLcm1Register, beyond, 8, &value, 2));
    EXPECT_FALSE(request(driver, kLcm1Register, read, 4, &value, 2)) << "8 bytes in";
    const uint32_t property[2] = {kPropertySaturation, 7};
    EXPECT_TRUE(request(driver, kLcm1SetProperty, property, 8));
    EXPECT_TRUE(request(driver, kLcm1GetProperty, &property[0], 4, &value, 4));
    EXPECT_EQ(value, 7u);
    EXPECT_FALSE(request(driver, 0x9000202C)) << "unknown request";
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

TEST_F(Dsc1Driver, OpensForReadingAndWritingAndShares) {
    EXPECT_EQ(open(GENERIC_READ), INVALID_HANDLE_VALUE);
    HANDLE a = open(), b = open();
    EXPECT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_NE(b, INVALID_HANDLE_VALUE);
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(Dsc1Driver, ReadsFramesOfTheConfiguredSizeOnly) {
    HANDLE driver = open();
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

TEST_F(Dsc1Driver, PropertiesWithBrightnessAndContrastExchanged) {
    HANDLE driver = open();
    const uint32_t brightness[2] = {4, 6};
    EXPECT_TRUE(request(driver, kDsc1SetParameter, brightness, 8));
    uint32_t ask[2] = {4, 0};
    EXPECT_TRUE(request(driver, kDsc1GetProperty, ask, 8));
    EXPECT_EQ(ask[1], 6u) << "the value comes back in the second word";
    uint32_t contrast[2] = {5, 0};
    EXPECT_TRUE(request(driver, kDsc1GetProperty, contrast, 8));
    EXPECT_EQ(contrast[1], 4u) << "contrast stays at its neutral value";
    CloseHandle(driver);
}

}  // namespace
