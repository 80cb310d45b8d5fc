// The three sensor backends on simulated handhelds: the OEM library "HTCcamera.dll" (PH10C), the
// "DSC1:" driver (MPX220) and the "LCM1:" driver (PM10A). What all of them owe (clean cycles, a
// stop without frames, a failed open that leaves nothing), then each one's exact requests.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "camera/camera_test_support.h"
#include "camera/device_info.h"

namespace {

using namespace camtest;

class Backend : public ::testing::Test {
  protected:
    ~Backend() override {
        gSink.release = true;
        if (camera_ && camera_->close) {
            camera_->stop();
            camera_->close();
        }
    }
    void use(const DeviceProfile& profile, const CameraBackend& camera) {
        camera_ = nullptr;
        device_.emplace(profile);
        gSink.reset();
        EXPECT_TRUE(&camera != &gCameraLibraryBackend || loadCameraLibrary());
        camera_ = &camera;
    }
    // The records the device's hardware kept that begin with `prefix`.
    std::vector<std::string> records(const std::string& prefix) {
        std::vector<std::string> out;
        for (const std::string& r : device_->handheld().records())
            if (r.rfind(prefix, 0) == 0) out.push_back(r);
        return out;
    }
    std::optional<TempDevice> device_;
    const CameraBackend* camera_ = nullptr;
    uint8_t block_[kOpenBlockBytes] = {};
};

// Open, start, stop, close, open again: frames of the crop size, none after stop; the LCM1:
// driver is asked for frames of the crop size (320 x 240: 153,600 bytes) at each start. An
// initialisation the library refuses fails the open.
TEST_F(Backend, EveryBackendCyclesCleanly) {
    use(*findBuiltinProfile("ph10c"), gCameraLibraryBackend);
    expectTwoCleanCycles(*camera_, params(640, 480, 160, 120, 320, 240), 320u * 240 * 2);
    ASSERT_EQ(device_->handheld().command({"camera", "init", "refuse"}), "");
    EXPECT_EQ(camera_->open(block_), 0u) << "the library refused its initialisation";
    use(*findBuiltinProfile("mpx220"), kDsc1Backend);
    expectTwoCleanCycles(*camera_, params(352, 288, 0, 0, 352, 288), 352u * 288 * 2);
    EXPECT_EQ(camera_->close(), 0u) << "already closed";
    EXPECT_EQ(records("DSC1 close").size(), 2u);
    use(*findBuiltinProfile("pm10a"), kLcm1Backend);
    expectTwoCleanCycles(*camera_, params(640, 480, 160, 120, 320, 240), 153600u);
    EXPECT_EQ(records("LCM1 0x9000201C"), std::vector<std::string>(2, "LCM1 0x9000201C 153600"));
    EXPECT_EQ(records("LCM1 0x9000200C")[0], "LCM1 0x9000200C sensor 640x480 crop 160,120-479,359");
}

// With the sensor delivering nothing, stop returns within the hand-shake's 1000 ms bound and
// still stops the sensor.
TEST_F(Backend, StopWithoutFrames) {
    const std::tuple<const char*, const CameraBackend*, std::string> backends[] = {
        {"mpx220", &kDsc1Backend, "DSC1 6"}, {"pm10a", &kLcm1Backend, "LCM1 0x90002010"}};
    for (const auto& [profile, camera, stop] : backends) {
        SCOPED_TRACE(profile);
        use(*findBuiltinProfile(profile), *camera);
        ASSERT_EQ(device_->handheld().command({"camera", "frames", "off"}), "");
        ASSERT_NE(camera->open(block_), 0u);
        CaptureParams p = params(320, 240, 0, 0, 320, 240);
        ASSERT_NE(camera->start(&p), 0u);
        const auto start = std::chrono::steady_clock::now();
        camera->stop();
        EXPECT_LT(millisSince(start), 5000) << "the hand-shake's bound is 1000 ms";
        EXPECT_EQ(records(stop.substr(0, 4)).back(), stop);
        EXPECT_EQ(gSink.frames, 0);
        camera->close();
    }
}

// The configuration bytes of a start at 640 x 480: the command block keeps what the last request
// left in bytes 2 to 7 (an 8-byte request after a 24-byte one included). A second start without
// a stop, or a second open, sends nothing. Properties go as two words.
TEST_F(Backend, Dsc1StartSendsTheConfigurationSequence) {
    use(*findBuiltinProfile("mpx220"), kDsc1Backend);
    ASSERT_EQ(camera_->open(block_), 1u);
    CaptureParams p = params(640, 480, 0, 0, 640, 480);
    ASSERT_EQ(camera_->start(&p), 1u);
    camera_->stop();
    const size_t before = records("DSC1").size();
    ASSERT_EQ(camera_->start(&p), 1u);
    const std::vector<std::string> all = records("DSC1");
    const std::vector<std::string> sent(all.begin() + long(before), all.begin() + long(before) + 7);
    const std::string zeros18 = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    const std::vector<std::string> expected = {
        "DSC1 2 0d 04 03 02 80 e0 00 00",
        "DSC1 2 0e 00 03 02 80 e0 00 00",
        "DSC1 6",
        "DSC1 2 01 01 03 02 80 e0" + zeros18,  // mode 3 for 640; 640 and 480 modulo 256
        "DSC1 2 10 64 03 02 80 e0 00 00",
        "DSC1 5",
        "DSC1 2 02 01 03 02 80 e0" + zeros18,
    };
    EXPECT_EQ(sent, expected);
    ASSERT_TRUE(waitUntil([] { return gSink.frames >= 2; }));
    EXPECT_EQ(gSink.seen().bytes, 614400u);
    EXPECT_EQ(records("DSC1 3 ").back(), "DSC1 3 614400") << "the driver fills frameBytes";
    const size_t configurations = records("DSC1 2").size();
    EXPECT_EQ(camera_->start(&p), 1u);
    EXPECT_EQ(camera_->open(block_), 1u);
    EXPECT_EQ(records("DSC1 2").size(), configurations);
    EXPECT_EQ(records("DSC1 open").size(), 1u);
    EXPECT_EQ(camera_->setProperty(4, 7), 1u);
    EXPECT_EQ(records("DSC1 2").back(), "DSC1 2 04 00 00 00 07 00 00 00");
    uint32_t value = 0;
    EXPECT_EQ(camera_->getProperty(4, &value), 1u);
    EXPECT_EQ(value, 7u);
}

// An initialisation the device refuses releases the driver, its thread waited for; then the
// hardware-layer codes around the driver's life, and a single open.
TEST_F(Backend, Lcm1PowerAroundTheDriversLifeAndARefusedInitialisation) {
    use(*findBuiltinProfile("pm10a"), kLcm1Backend);
    const int baseline = threadBaseline();
    ASSERT_EQ(device_->handheld().command({"camera", "init", "refuse"}), "");
    EXPECT_EQ(camera_->open(block_), 0u);
    EXPECT_TRUE(threadsBackTo(baseline)) << "the thread was waited for";
    ASSERT_EQ(device_->handheld().command({"camera", "init", "accept"}), "");
    ASSERT_NE(camera_->open(block_), 0u) << "the driver was released";
    EXPECT_NE(block_[0] | block_[1] | block_[2] | block_[3], 0) << "the driver's answer";
    EXPECT_EQ(camera_->open(block_), 0u) << "a second open while open";
    EXPECT_NE(camera_->close(), 0u);
    EXPECT_EQ(camera_->close(), 0u) << "already closed";
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
    EXPECT_EQ(device_->handheld().records(), expected);
}

TEST_F(Backend, Lcm1RegisterRequestBytesPropertiesAndFlashLight) {
    use(*findBuiltinProfile("pm10a"), kLcm1Backend);
    uint32_t value = 0xFFFFFFFF;
    EXPECT_EQ(camera_->setProperty(5, 3), 0u) << "not open";
    ASSERT_NE(camera_->open(block_), 0u);
    EXPECT_NE(camera_->writeRegister(0x12, 0x80), 0u);
    EXPECT_EQ(records("LCM1").back(), "LCM1 0x90002020 01 00 00 00 12 80 00 00");
    EXPECT_NE(camera_->readRegister(0x12, &value), 0u);
    EXPECT_EQ(records("LCM1").back(), "LCM1 0x90002020 00 00 00 00 12 00 00 00");
    EXPECT_EQ(value, 0x80u) << "two bytes into the cleared word";
    EXPECT_NE(camera_->setProperty(5, 3), 0u);
    EXPECT_EQ(records("LCM1").back(), "LCM1 0x90002014 5 3");
    EXPECT_NE(camera_->getProperty(5, &value), 0u);
    EXPECT_EQ(value, 3u);
    EXPECT_NE(camera_->flashLight(1), 0u);
    EXPECT_EQ(records("LCM1").back(), "LCM1 0x90002024 1");
}

// A frame handler that does not return: stop and close each give up after their bound, the late
// thread keeps the driver until its frame is done, then releases it and ends.
TEST_F(Backend, Lcm1CloseGivesUpOnABusyHandlerAndTheThreadCleansUpLater) {
    use(*findBuiltinProfile("pm10a"), kLcm1Backend);
    const int baseline = threadBaseline();
    ASSERT_NE(camera_->open(block_), 0u);
    CaptureParams p = params(320, 240, 0, 0, 320, 240);
    gSink.holdMs = 10000;
    ASSERT_NE(camera_->start(&p), 0u);
    ASSERT_TRUE(waitUntil([] { return gSink.seen().bytes == 153600u; }));  // inside the handler
    const auto start = std::chrono::steady_clock::now();
    camera_->stop();
    camera_->close();
    EXPECT_GE(millisSince(start), 1900) << "both waited their bound";
    EXPECT_LT(millisSince(start), 5000);
    EXPECT_EQ(camera_->open(block_), 0u) << "the late thread still holds the single-open driver";
    EXPECT_TRUE(records("LCM1 close").empty());
    gSink.release = true;
    EXPECT_TRUE(waitUntil([&] { return records("LCM1 close").size() == 1u; }));
    EXPECT_TRUE(threadsBackTo(baseline));
    EXPECT_EQ(gSink.frames, 1) << "no frame after the thread was told to end";
    EXPECT_NE(camera_->open(block_), 0u);
}

}  // namespace
