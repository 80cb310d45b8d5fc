// The OEM camera library backend: the table filled from the simulated "HTCcamera.dll" streams
// frames of the crop size on the library's own thread, stops for good when ended, opens again
// after it was closed, and refuses what the library refuses.
#include <gtest/gtest.h>

#include "camera/camera_test_support.h"
#include "camera/device_info.h"

namespace {

using namespace camtest;

// The library's own log of the requests it received.
std::string libraryRecords() {
    HMODULE library = LoadLibraryW(u"HTCcamera.dll");
    auto records = reinterpret_cast<uint32_t (*)(char*, uint32_t)>(
        GetProcAddressW(library, u"SimCamera_Records"));
    std::string text(records ? records(nullptr, 0) + 1 : 1, '\0');
    if (records) records(text.data(), static_cast<uint32_t>(text.size()));
    FreeLibrary(library);
    return text.c_str();
}

class CameraLibraryBackend : public ::testing::Test {
  protected:
    CameraLibraryBackend() : device_("ph10c") {
        sink().reset();
        EXPECT_TRUE(loadCameraLibrary());
    }
    ~CameraLibraryBackend() override {
        // Leave no library thread running into the next test.
        if (gCameraLibraryBackend.close) {
            gCameraLibraryBackend.stop();
            gCameraLibraryBackend.close();
        }
    }
    const CameraBackend& camera = gCameraLibraryBackend;
    TempDevice device_;
};

TEST_F(CameraLibraryBackend, StreamsTheCropStopsAndOpensAgain) {
    expectTwoCleanCycles(camera, params(640, 480, 160, 120, 320, 240), 320u * 240 * 2);
    const std::string log = libraryRecords();
    EXPECT_NE(log.find("Camera_Init\nCamera_Begin sensor 640x480 crop 160,120-479,359 exposure 2\n"
                       "Camera_End\nCamera_Deinit\nCamera_Init\n"),
              std::string::npos)
        << log;
}

TEST_F(CameraLibraryBackend, RefusesToBeginUnopenedOrTwiceAndAnInitialisationTheDeviceRefuses) {
    CaptureParams p = params(320, 240, 0, 0, 320, 240);
    EXPECT_EQ(camera.start(&p), 0u) << "not open";
    uint8_t block[kOpenBlockBytes] = {};
    ASSERT_EQ(device_.handheld().command({"camera", "init", "refuse"}), "");
    EXPECT_EQ(camera.open(block), 0u);
    ASSERT_EQ(device_.handheld().command({"camera", "init", "accept"}), "");
    ASSERT_NE(camera.open(block), 0u);
    ASSERT_NE(camera.start(&p), 0u);
    EXPECT_EQ(camera.start(&p), 0u) << "already streaming";
}

}  // namespace
