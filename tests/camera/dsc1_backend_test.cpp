// The "DSC1:" backend on a simulated MPX220: the exact configuration bytes of a start, the
// persistent command block, the frame reads into the backend's buffer, and the thread hand-shakes.
#include <gtest/gtest.h>

#include "camera/camera_test_support.h"

namespace {

using namespace camtest;

const CameraBackend& camera = kDsc1Backend;

class Dsc1Backend : public ::testing::Test {
  protected:
    Dsc1Backend() : device_("mpx220") { sink().reset(); }
    ~Dsc1Backend() override {
        camera.stop();
        camera.close();
    }
    std::vector<std::string> requests() { return recordsStartingWith(device_.handheld(), "DSC1"); }
    TempDevice device_;
    uint8_t block_[kOpenBlockBytes] = {};
};

TEST_F(Dsc1Backend, StartSendsTheConfigurationSequence) {
    ASSERT_EQ(camera.open(block_), 1u);
    CaptureParams p = params(640, 480, 0, 0, 640, 480);
    ASSERT_EQ(camera.start(&p), 1u);
    camera.stop();
    // The second start shows the whole sequence with the command block as the first one left it.
    const size_t before = requests().size();
    ASSERT_EQ(camera.start(&p), 1u);
    const std::vector<std::string> all = requests();
    const std::vector<std::string> sent(all.begin() + static_cast<long>(before),
                                        all.begin() + static_cast<long>(before) + 7);
    const std::string zeros18 = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    const std::vector<std::string> expected = {
        "DSC1 2 0d 04 03 02 80 e0 00 00",  // bytes 2..7 are what the last request left
        "DSC1 2 0e 00 03 02 80 e0 00 00",
        "DSC1 6",
        "DSC1 2 01 01 03 02 80 e0" + zeros18,  // mode 3 for 640; 640 and 480 modulo 256
        "DSC1 2 10 64 03 02 80 e0 00 00",      // an 8-byte request after a 24-byte one
        "DSC1 5",
        "DSC1 2 02 01 03 02 80 e0" + zeros18,
    };
    EXPECT_EQ(sent, expected);
    ASSERT_TRUE(waitUntil([] { return sink().frames >= 2; }));
    EXPECT_EQ(sink().seen().bytes, 614400u);
    EXPECT_EQ(recordsStartingWith(device_.handheld(), "DSC1 3 ").back(), "DSC1 3 614400")
        << "the driver fills frameBytes of the buffer";
    // A second start without a stop, or a second open, sends nothing.
    const size_t configurations = recordsStartingWith(device_.handheld(), "DSC1 2").size();
    EXPECT_EQ(camera.start(&p), 1u);
    EXPECT_EQ(camera.open(block_), 1u);
    EXPECT_EQ(recordsStartingWith(device_.handheld(), "DSC1 2").size(), configurations);
    EXPECT_EQ(recordsStartingWith(device_.handheld(), "DSC1 open").size(), 1u);
}

TEST_F(Dsc1Backend, StopWithoutAnyFrameStillStopsTheSensor) {
    expectStopWithoutFrames(device_.handheld(), camera, "DSC1 6");
}

TEST_F(Dsc1Backend, PropertiesAsTwoWords) {
    ASSERT_EQ(camera.open(block_), 1u);
    EXPECT_EQ(camera.setProperty(4, 7), 1u);
    EXPECT_EQ(requests().back(), "DSC1 2 04 00 00 00 07 00 00 00");
    uint32_t value = 0;
    EXPECT_EQ(camera.getProperty(4, &value), 1u);
    EXPECT_EQ(value, 7u);
}

TEST_F(Dsc1Backend, CyclesCleanly) {
    expectTwoCleanCycles(camera, params(352, 288, 0, 0, 352, 288), 352u * 288 * 2);
    EXPECT_EQ(camera.close(), 0u) << "already closed";
    EXPECT_EQ(recordsStartingWith(device_.handheld(), "DSC1 close").size(), 2u);
}

TEST(Dsc1BackendWithoutDriver, OpenFailsAndLeavesNothing) {
    DeviceProfile p = *findBuiltinProfile("mpx220");
    p.install = {};
    TempDevice device(p);
    expectFailedOpenLeavesNothing(camera);
}

}  // namespace
