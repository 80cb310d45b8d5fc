// The host inputs through FFmpeg's real lavfi devices: the spec and profile keys, the camera's
// centre cut and levels, the sensor's window and look over a host picture, the microphone's
// resampled tone. Every wait has a time limit.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "media/movie_oracle.h"
#include "sim/camera_sensor.h"
#include "sim/device_profile.h"
#include "sim/host/host_camera.h"
#include "sim/host/host_microphone.h"
#include "sim/microphone.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kFirstFrameLimitMs = 10000;

TEST(HostInputSpec, SplitsAtTheFirstColonWithOptionsAfterTheFormat) {
    struct Case {
        std::string spec;
        bool ok;
        std::string format, input;
        size_t options;
    };
    const Case cases[] = {
        {"v4l2:/dev/video0", true, "v4l2", "/dev/video0", 0},
        {"lavfi:testsrc2=size=1280x720:rate=30", true, "lavfi", "testsrc2=size=1280x720:rate=30",
         0},
        {"v4l2,input_format=mjpeg,video_size=1280x720:/dev/video1", true, "v4l2", "/dev/video1", 2},
        {"file:/tmp/a:b.avi", true, "file", "/tmp/a:b.avi", 0},
        {"nocolon", false, "", "", 0},
        {":input", false, "", "", 0},
        {"alsa:", false, "", "", 0},
        {"v4l2,bad:/dev/video0", false, "", "", 0},
        {",a=b:x", false, "", "", 0},
    };
    for (const Case& c : cases) {
        HostInputSpec spec;
        std::string error;
        ASSERT_EQ(parseHostInputSpec(c.spec, spec, error), c.ok) << c.spec << ": " << error;
        if (!c.ok) {
            EXPECT_NE(error.find("'" + c.spec + "'"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(spec.format, c.format);
        EXPECT_EQ(spec.input, c.input);
        EXPECT_EQ(spec.options.size(), c.options);
    }
}

TEST(HostInputSpec, ProfileKeysAndTheHostProfile) {
    DeviceProfile p;
    std::string error;
    EXPECT_EQ(p.cameraInput, "scene");
    EXPECT_EQ(p.microphoneInput, "tone");
    ASSERT_TRUE(parseProfile("camera-input = lavfi:color=c=red\nmicrophone-input = alsa:hw:1,0\n",
                             "t", p, error))
        << error;
    EXPECT_EQ(p.cameraInput, "lavfi:color=c=red");
    EXPECT_EQ(p.microphoneInput, "alsa:hw:1,0");
    ASSERT_TRUE(parseProfile("camera-input = scene\nmicrophone-input = tone\n", "t", p, error));
    EXPECT_EQ(p.cameraInput, "scene");
    EXPECT_FALSE(parseProfile("\nmicrophone-input = scene\n", "t.profile", p, error));
    EXPECT_EQ(error,
              "t.profile:2: microphone-input: 'scene' is not FORMAT:INPUT (for example "
              "lavfi:testsrc2 or v4l2:/dev/video0) or 'tone'");

    const DeviceProfile* host = findBuiltinProfile("host");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->cameraInput, "v4l2:/dev/video0");
    EXPECT_EQ(host->microphoneInput, "alsa:default");
    EXPECT_EQ(host->processorName, "PXA270");
    EXPECT_TRUE(host->installs("HTCcamera.dll"));
}

// Opens a lavfi camera and waits for its first frame.
std::shared_ptr<HostCamera> openCamera(const std::string& graph) {
    std::string error;
    auto camera = HostCamera::open("lavfi:" + graph, Clock::now(), error);
    EXPECT_TRUE(camera) << error;
    if (camera) {
        EXPECT_NE(camera->waitNewer(0, kFirstFrameLimitMs), 0u) << "no frame from " << graph;
    }
    return camera;
}

struct Uyvy {
    int cb, y, cr;
};
Uyvy pixelAt(const std::vector<uint8_t>& picture, uint32_t width, uint32_t x, uint32_t y) {
    const size_t at = (size_t(y) * width + (x & ~1u)) * 2;
    return {picture[at], picture[at + 1 + (x & 1) * 2], picture[at + 2]};
}

TEST(HostCamera, RedInStudioLevels) {
    auto camera = openCamera("color=c=red:size=320x240:rate=25");
    ASSERT_TRUE(camera);
    std::vector<uint8_t> picture(176 * 144 * 2);
    ASSERT_NE(camera->read(picture.data(), 176, 144), 0u);
    // BT.601 studio red: Y 81, Cb 90, Cr 240.
    for (uint32_t y : {0u, 77u, 143u}) {
        const Uyvy p = pixelAt(picture, 176, 101, y);
        EXPECT_NEAR(p.y, 81, 2);
        EXPECT_NEAR(p.cb, 90, 2);
        EXPECT_NEAR(p.cr, 240, 2);
    }
}

// A 16:9 frame with a blue band at the left (an eighth of the width), the rest red: a 4:3 sensor
// sees only the centre, with no blue; a 16:9 sensor sees the band, so nothing was stretched.
// Likewise a 4:3 frame with a blue band at the top, cut for a 16:9 sensor.
TEST(HostCamera, CentreCutToTheSensorsAspectNeverStretched) {
    struct Case {
        std::string graph;
        uint32_t width, height;
        uint32_t x, y;  // a pixel inside the band's place
        bool blue;
    };
    const std::string wide =
        "color=c=red:size=1280x720:rate=25,drawbox=x=0:y=0:w=160:h=720:color=blue:t=fill";
    const std::string tall =
        "color=c=red:size=640x480:rate=25,drawbox=x=0:y=0:w=640:h=60:color=blue:t=fill";
    const Case cases[] = {
        {wide, 640, 480, 2, 240, false}, {wide, 640, 360, 2, 180, true},
        {wide, 320, 180, 8, 90, true},   {tall, 640, 360, 320, 2, false},
        {tall, 320, 240, 160, 2, true},
    };
    for (const Case& c : cases) {
        auto camera = openCamera(c.graph);
        ASSERT_TRUE(camera);
        std::vector<uint8_t> picture(size_t(c.width) * c.height * 2);
        ASSERT_NE(camera->read(picture.data(), c.width, c.height), 0u);
        const Uyvy p = pixelAt(picture, c.width, c.x, c.y);
        EXPECT_EQ(p.cb > 200, c.blue)
            << c.graph << " at " << c.width << "x" << c.height << ": Cb " << p.cb;
    }
}

// Through the sensor: the window is cut from the host picture, and the look changes it as it
// changes the scene (brightness three steps up: 48 luma levels).
TEST(HostCamera, SensorCutsItsWindowAndAppliesTheLook) {
    auto camera = openCamera(
        "color=c=gray:size=640x480:rate=25,drawbox=x=320:y=0:w=320:h=480:color=white:t=fill");
    ASSERT_TRUE(camera);
    installHostCamera(camera);
    SimulatedSensor sensor;
    sensor.setHostFeed(hostCameraFeed());
    ASSERT_NE(sensor.hostFeed(), nullptr);
    ASSERT_TRUE(
        sensor.configure(640, 480, 160, 120, 320, 240));  // the centre: half gray, half white
    std::vector<uint8_t> frame(sensor.frameBytes());
    sensor.capture(frame.data(), 0);
    EXPECT_NE(sensor.hostFrame(), 0u);
    const Uyvy gray = pixelAt(frame, 320, 40, 120), white = pixelAt(frame, 320, 280, 120);
    EXPECT_NEAR(white.y, 235, 2);
    EXPECT_LT(gray.y, 160);
    sensor.setProperty(kPropertyBrightness, 8);
    sensor.capture(frame.data(), 0);
    EXPECT_NEAR(pixelAt(frame, 320, 40, 120).y, gray.y + 48, 2);
    installHostCamera(nullptr);
    EXPECT_EQ(hostCameraFeed(), nullptr);
}

// An input that ends (a lavfi graph of half a second stands in for an unplugged camera): its
// frames stop, then it is opened again and they resume, without anyone asking.
TEST(HostCamera, FramesResumeWhenTheInputComesBack) {
    auto camera = openCamera("color=c=red:size=64x48:rate=25:d=0.5");
    ASSERT_TRUE(camera);
    constexpr uint64_t kOneRun = 13;  // frames in half a second at 25 a second
    uint64_t seen = camera->newest();
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (seen <= kOneRun + 2 && Clock::now() < deadline) seen = camera->waitNewer(seen, 1000);
    EXPECT_GT(seen, kOneRun + 2) << "no frames after the input ended";
}

// A microphone whose input ends gives silence at the same pace, then its sound again.
TEST(HostMicrophone, SilenceWhileTheInputIsGoneThenSoundAgain) {
    std::string error;
    auto microphone = HostMicrophone::open(
        "lavfi:sine=frequency=1000:sample_rate=8000:duration=0.3", Clock::now(), error);
    ASSERT_TRUE(microphone) << error;
    std::mutex mutex;
    std::condition_variable changed;
    size_t silentBlocks = 0, loudBlocksAfterSilence = 0;
    ASSERT_TRUE(microphone->attach([&](const int16_t* block, size_t count) {
        bool loud = false;
        for (size_t i = 0; i < count; ++i) loud = loud || std::abs(int(block[i])) > 1000;
        std::lock_guard lock(mutex);
        if (!loud) ++silentBlocks;
        if (loud && silentBlocks > 50) ++loudBlocksAfterSilence;
        changed.notify_all();
    }));
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(15),
                                     [&] { return loudBlocksAfterSilence > 5; }))
            << silentBlocks << " silent blocks";
    }
    microphone->detach();
}

// The lavfi sine at 44.1 kHz arrives as 10 ms blocks of 8 kHz samples holding a 1 kHz tone.
TEST(HostMicrophone, ResampledToneInTenMillisecondBlocks) {
    std::string error;
    auto microphone =
        HostMicrophone::open("lavfi:sine=frequency=1000:sample_rate=44100", Clock::now(), error);
    ASSERT_TRUE(microphone) << error;
    std::mutex mutex;
    std::condition_variable enough;
    std::vector<int16_t> samples;
    std::vector<size_t> blockSizes;
    auto source = openHostWaveSource(microphone);
    ASSERT_TRUE(source->start([&](const int16_t* block, size_t count) {
        std::lock_guard lock(mutex);
        samples.insert(samples.end(), block, block + count);
        blockSizes.push_back(count);
        if (samples.size() >= 4000) enough.notify_all();
    }));
    EXPECT_FALSE(source->start([](const int16_t*, size_t) {})) << "one sink at a time";
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(enough.wait_for(lock, std::chrono::seconds(10),
                                    [&] { return samples.size() >= 4000; }));
    }
    source->stop();
    std::lock_guard lock(mutex);
    for (size_t n : blockSizes) EXPECT_EQ(n, kMicrophoneBlockSamples);
    ASSERT_GE(samples.size(), 4000u);
    EXPECT_NEAR(movieoracle::toneFrequency(samples), 1000.0, 2.0);
}

}  // namespace

namespace {

// A file played as an input loops, and each pass's timestamps follow the ones before, so a paced
// reader plays it at its own rate pass after pass instead of racing through it.
TEST(HostInput, FileLoopsWithTimestampsThatKeepGrowing) {
    char folder[] = "/tmp/lumo-host-input-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string clip = std::string(folder) + "/clip.nut";
    if (std::system(("ffmpeg -nostdin -v error -y -f lavfi -i color=c=red:s=64x48:r=25:d=0.2 "
                     "-c:v rawvideo '" +
                     clip + "'")
                        .c_str()) != 0)
        GTEST_SKIP() << "ffmpeg cannot make a clip here";
    HostInput input;
    std::string error;
    ASSERT_TRUE(input.open("file:" + clip, HostMedia::Video, error)) << error;
    EXPECT_TRUE(input.paced());
    AVFrame* frame = av_frame_alloc();
    constexpr int kFrames = 5 * 4;  // four passes of five frames
    for (int i = 0; i < kFrames; ++i) {
        double seconds = -1;
        ASSERT_EQ(input.next(frame, seconds), 1) << "frame " << i;
        EXPECT_NEAR(seconds, i * 0.04, 1e-6) << "frame " << i;
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
    std::system(("rm -rf '" + std::string(folder) + "'").c_str());
}

}  // namespace
