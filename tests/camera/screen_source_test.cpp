// The screen source: colour bars in the camera edition, the display's frame buffer in the
// screen-capture edition, its pace from "Max FPS", its open/start/stop/close cycle. Then the LCD
// plane reader (the source's pictures on PXA27x devices, which the tours record with an overlay
// switched on) against the simulated PXA27x LCD controller: every depth and colour format the
// controller offers, with pixels written straight into the planes' physical memory and the
// expected picture computed from the formats' definitions; and its limits.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <optional>
#include <random>
#include <sstream>

#include "camera/camera_test_support.h"
#include "camera/device_info.h"
#include "camera/lcd_plane_reader.h"
#include "core/app_state.h"
#include "platform/hooks.h"
#include "settings/settings_model.h"
#include "settings/settings_table.h"
#include "sim/lcd_controller.h"

namespace {

using namespace camtest;

const CameraBackend& camera = kScreenSourceBackend;

constexpr uint8_t kBars[8][3] = {{128, 235, 128}, {16, 211, 146}, {166, 170, 16}, {54, 145, 34},
                                 {202, 106, 222}, {90, 81, 240},  {240, 41, 109}, {128, 16, 128}};

// Makes "Max FPS" give `periodMs` (its entry of that value).
void setFramePeriod(int32_t periodMs) {
    ValueList& list = setting(kSlotMaxFps);
    for (list.current = 0; list.current < list.count; ++list.current)
        if (valueOf(list) == periodMs) return;
    ADD_FAILURE() << "\"Max FPS\" has no entry of " << periodMs << " ms";
}

class ScreenSource : public ::testing::Test {
  protected:
    ScreenSource() {
        screenFramePeriod.store(maxFpsPeriod);
        setFramePeriod(40);
    }
    ~ScreenSource() override {
        setting(kSlotMaxFps).current = -1;
        camera.stop();
        camera.close();
        gApp.screenCaptureEdition = 0;
        LcdPlaneReader::destroy(gDeviceInfo.lcdPlanes);
        gDeviceInfo.lcdPlanes = nullptr;
    }
    void use(const DeviceProfile& profile, bool screenCapture) {
        device_.emplace(profile);
        gSink.reset();
        gApp.screenCaptureEdition = screenCapture ? 1 : 0;
        detectDevice(gDeviceInfo);
    }
    // Opens and starts the whole crop of a sensor of that size.
    void startCrop(uint32_t width, uint32_t height) {
        ASSERT_EQ(camera.open(block_), 1u);
        CaptureParams p = params(width, height, 0, 0, width, height);
        ASSERT_EQ(camera.start(&p), 1u);
    }
    // Waits for a frame that begins after now, and gives it.
    Seen nextFrame() {
        const int frames = gSink.frames;
        EXPECT_TRUE(waitUntil([&] { return gSink.frames >= frames + 2; }));
        return gSink.seen();
    }

    std::optional<TempDevice> device_;
    uint8_t block_[kOpenBlockBytes] = {};
};

// Two clean cycles; every row eight bars of 20 pairs, black at the left to white at the right (an
// odd width leaves the last column out: black, 16 and 128); the starts it refuses.
TEST_F(ScreenSource, ColourBarsCyclesAndRefusals) {
    use(*findBuiltinProfile("nocamera"), false);
    expectTwoCleanCycles(camera, params(64, 48, 0, 0, 64, 48), 64u * 48 * 2);
    const uint32_t sizes[][2] = {{320, 240}, {33, 5}};
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(w);
        startCrop(w, h);
        const Seen seen = nextFrame();
        EXPECT_EQ(seen.bytes, w * h * 2);
        EXPECT_EQ(seen.format, Uyvy);
        std::vector<uint8_t> expected;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t pair = 0; pair < w / 2; ++pair) {
                const uint8_t* c = kBars[7 - pair / (w / 16)];
                expected.insert(expected.end(), {c[0], c[1], c[2], c[1]});
            }
            if (w % 2) expected.insert(expected.end(), {128, 16});
        }
        EXPECT_EQ(seen.pixels, expected);
        camera.stop();
        camera.close();
    }
    ASSERT_EQ(camera.open(block_), 1u);
    EXPECT_EQ(camera.open(block_), 0u) << "already open";
    CaptureParams none = params(64, 48, 0, 0, 64, 48, nullptr);
    EXPECT_EQ(camera.start(&none), 0u) << "no frame handler";
    CaptureParams tooLarge = params(1280, 960, 0, 0, 1280, 960);
    EXPECT_EQ(camera.start(&tooLarge), 0u) << "larger than the frame buffer";
    CaptureParams p = params(64, 48, 0, 0, 64, 48);
    ASSERT_EQ(camera.start(&p), 1u);
    EXPECT_EQ(camera.start(&p), 0u) << "already streaming";
}

// A picture once the device's clock reaches the "Max FPS" period after the last one, whatever
// the real time: the test drives the clock, one period at a time, and gets one picture each.
// And a stop does not wait out the period: with the clock set far back, a source that slept
// until the due time would hang past the limit.
TEST_F(ScreenSource, PaceFollowsMaxFpsOnTheDeviceClock) {
    use(*findBuiltinProfile("nocamera"), false);
    constexpr int32_t kPeriodMs = 1000;
    setFramePeriod(kPeriodMs);
    startCrop(32, 24);
    ASSERT_TRUE(waitUntil([] { return gSink.frames >= 1; }));
    for (int next = 2; next <= 4; ++next) {
        advanceTickCount(kPeriodMs);
        ASSERT_TRUE(waitUntil([next] { return gSink.frames >= next; }));
        EXPECT_EQ(gSink.frames, next) << "one picture per period";
    }
    constexpr int64_t kFarBackMs = 200000;
    advanceTickCount(-kFarBackMs);
    auto stopped = std::async(std::launch::async, [] { camera.stop(); });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    advanceTickCount(kFarBackMs);  // lets a source that waits for the due time go
    stopped.wait();
    camera.close();
}

// A screen height of 220 is captured as 224: the rows beyond the display are black; and so is
// the whole picture on a device that describes no frame buffer (neither the raw frame buffer
// escape nor GAPI answers). The raw and GAPI descriptions are compared with the home screen by the
// tours of every device.
TEST_F(ScreenSource, CopiesTheFrameBufferAtTheCropSize) {
    DeviceProfile plain = *findBuiltinProfile("pm200");  // no PXA27x: no plane reader
    plain.displayWidth = 176;
    plain.displayHeight = 220;
    for (bool known : {true, false}) {
        plain.rawFrameBuffer = plain.gxInfo = known;
        use(plain, true);
        uint8_t* display = device_->handheld().displayMemory();
        std::vector<uint8_t> expected(176 * 224 * 2, 0);
        for (size_t i = 0; i < 176 * 220 * 2; ++i) display[i] = uint8_t(i % 251);
        if (known) std::copy(display, display + 176 * 220 * 2, expected.begin());
        startCrop(176, 224);
        const Seen seen = nextFrame();
        EXPECT_EQ(seen.format, Rgb565);
        EXPECT_EQ(seen.pixels, expected);
        camera.stop();
        camera.close();
    }
}

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kCapacity = 2u << 20;

struct PlaneFormat {
    const char* command;  // switches the overlay on; none for the base plane
    uint32_t plane, width, height, layout;
    std::vector<std::pair<uint64_t, size_t>> fills;           // physical address, random bytes
    std::function<Bytes(const std::vector<Bytes>&)> picture;  // from the bytes filled
};

// 18- and 19-bit pixels in one word or packed into 3 bytes, 5 x 3: seven whole pairs of Rgb565
// (the fifteenth pixel has no partner).
PlaneFormat rgb18(const char* command, uint32_t bytes) {
    return {command, 1, 5, 3, Rgb565, {{kOverlay1Physical, 15 * bytes}}, [bytes](auto& f) {
                Bytes out;
                for (uint32_t k = 0; k < 14; ++k) {
                    uint32_t v = 0;
                    for (uint32_t b = 0; b < bytes; ++b)
                        v |= uint32_t{f[0][k * bytes + b]} << (8 * b);
                    const uint32_t red6 = (v >> 12) & 0x3F, green6 = (v >> 6) & 0x3F,
                                   blue6 = v & 0x3F;
                    const uint16_t w = uint16_t((red6 >> 1) << 11 | green6 << 5 | blue6 >> 1);
                    out.insert(out.end(), {uint8_t(w), uint8_t(w >> 8)});
                }
                return out;
            }};
}

// Packed Y, Cb, Cr words, 6 x 3: each pair's chroma averaged.
PlaneFormat packedYcbcr() {
    PlaneFormat format{"overlay2 yuv444 6x3 at 10 20", 2, 6, 3, Uyvy,
                       {{kOverlay2Physical, 72}},      {}};
    format.picture = [](auto& f) {
        Bytes out;
        for (size_t pair = 0; pair < 9; ++pair) {
            const uint8_t *a = &f[0][pair * 8], *b = a + 4;
            out.insert(out.end(),
                       {uint8_t((a[1] + b[1]) >> 1), a[0], uint8_t((a[2] + b[2]) >> 1), b[0]});
        }
        return out;
    };
    return format;
}

// Planar YCbCr, 6 pixels wide, chroma planes `chromaWidth` wide with a row for every picture row
// (4:2:0: for every two): each pair gives its first luma sample twice and the chroma samples
// under that pixel.
PlaneFormat planar(const char* command, uint32_t height, uint32_t chromaWidth, uint32_t rowShift) {
    const size_t n = 6 * height;
    PlaneFormat format{command, 2, 6, height, Uyvy, {}, {}};
    format.fills = {{kOverlay2Physical, n}, {kOverlay2CbPhysical, n}, {kOverlay2CrPhysical, n}};
    format.picture = [=](auto& f) {
        Bytes out;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t i = 0; i < 3; ++i) {
                const size_t c = (y >> rowShift) * chromaWidth + 2 * i * chromaWidth / 6;
                out.insert(out.end(), {f[1][c], f[0][y * 6 + 2 * i], f[2][c], f[0][y * 6 + 2 * i]});
            }
        return out;
    };
    return format;
}

class LcdPlanes : public ::testing::Test {
  protected:
    LcdPlanes() : device_("nocamera"), output_(kCapacity), reader_(LcdPlaneReader::create()) {
        gFrame.framePixels = output_.data();
    }
    ~LcdPlanes() override {
        LcdPlaneReader::destroy(reader_);
        gFrame.framePixels = nullptr;
    }
    TempDevice device_;
    Bytes output_;
    LcdPlaneReader* reader_;
};

TEST_F(LcdPlanes, EveryDepthAndColourFormat) {
    auto copy = [](auto& f) { return f[0]; };
    const PlaneFormat formats[] = {
        {"overlay1 rgb16 6x5 at 3 4", 1, 6, 5, Rgb555, {{kOverlay1Physical, 6 * 5 * 2}}, copy},
        rgb18("overlay1 rgb18 5x3 at 0 0", 4),
        rgb18("overlay1 rgb18p 5x3 at 0 0", 3),
        rgb18("overlay1 rgb19 5x3 at 0 0", 4),
        rgb18("overlay1 rgb19p 5x3 at 0 0", 3),
        packedYcbcr(),
        planar("overlay2 yuv444p 6x2 at 0 0", 2, 6, 0),
        planar("overlay2 yuv422 6x3 at 0 0", 3, 3, 0),
        planar("overlay2 yuv420 6x4 at 0 0", 4, 3, 1),
        // Last: the overlays switched off after a picture of each, the next comes from the base.
        {nullptr, 0, 240, 320, Rgb565, {{kDisplayPhysical, 240 * 320 * 2}}, copy},
    };
    std::mt19937 random(1);
    for (const PlaneFormat& f : formats) {
        SCOPED_TRACE(f.command ? f.command : "base");
        ASSERT_EQ(device_.handheld().command({"overlay1", "off"}), "");
        ASSERT_EQ(device_.handheld().command({"overlay2", "off"}), "");
        reader_->refresh();
        if (f.command) {
            std::vector<std::string> words;
            std::istringstream in(f.command);
            for (std::string w; in >> w;) words.push_back(w);
            ASSERT_EQ(device_.handheld().command(words), "");
        }
        std::vector<Bytes> filled;
        for (const auto& [address, n] : f.fills) {
            filled.emplace_back(n);
            for (uint8_t& b : filled.back()) b = static_cast<uint8_t>(random());
            memcpy(device_.handheld().physical(address, n), filled.back().data(), n);
        }
        reader_->refresh();
        EXPECT_EQ(reader_->base.mapped, f.plane == 0) << "an overlay covers the base";
        PlaneRecord& record = f.plane == 0   ? reader_->base
                              : f.plane == 1 ? reader_->overlay1
                                             : reader_->overlay2;
        ASSERT_TRUE(reader_->takePicture(record, f.plane, kCapacity));
        EXPECT_EQ(gFrame.frameFormat, f.layout);
        EXPECT_EQ(gFrame.frameWidth, f.width);
        EXPECT_EQ(gFrame.frameHeight, f.height);
        const Bytes expected = f.picture(filled);
        EXPECT_EQ(Bytes(output_.begin(), output_.begin() + long(expected.size())), expected);
    }
    // A picture that would not fit, a plane that is not on.
    EXPECT_FALSE(reader_->takePicture(reader_->base, 0, 240 * 320 * 2 - 1));
    EXPECT_FALSE(reader_->takePicture(reader_->overlay1, 1, kCapacity));
}

// A 480 x 640 x 2-byte base plane does not fit the descriptor length the reader takes (AND
// 0x7FFFC), and is then not read past its end; no LCD controller, nothing mapped.
TEST(LcdPlaneLimits, ABasePlaneTooLongAndNoController) {
    for (const char* profile : {"pu10", "mpx220"}) {
        SCOPED_TRACE(profile);
        TempDevice device(profile);
        LcdPlaneReader* reader = LcdPlaneReader::create();
        ASSERT_NE(reader, nullptr);
        reader->refresh();
        const bool vga = profile[0] == 'p';
        EXPECT_EQ(reader->base.mapped, vga);
        EXPECT_EQ(reader->base.plane0Bytes, vga ? (480u * 640 * 2) & 0x7FFFC : 0u);
        EXPECT_FALSE(reader->takePicture(reader->base, 0, kCapacity));
        LcdPlaneReader::destroy(reader);
    }
}

// The reader finds a plane wherever its descriptor and frame buffer lie: on a page, 256 bytes
// into one (where a mapping rounded down to 256 would start in the middle of a page), far into
// one, across a page's end. Overlay 1's descriptor is moved there and pointed at the buffer; the
// picture read is exactly the bytes put there.
TEST_F(LcdPlanes, PlanesAnywhereInAPage) {
    constexpr uint64_t kPage = 4096, kFree = kRamPhysical + (40u << 20);  // RAM nothing else uses
    constexpr uint32_t kBytes = 6 * 5 * 2;                                // rgb16, 6 x 5
    const struct {
        uint64_t descriptor, buffer;  // offsets in their pages
    } places[] = {{0, 0},         {0x10, 0x20},   {0x100, 0x100},
                  {0x300, 0x360}, {0xB40, 0xF00}, {0xFF0, 0xFF0}};
    std::mt19937 random(3);
    for (const auto& place : places) {
        SCOPED_TRACE(testing::Message() << std::hex << "descriptor at +0x" << place.descriptor
                                        << ", buffer at +0x" << place.buffer);
        ASSERT_EQ(device_.handheld().command({"overlay1", "off"}), "");
        reader_->refresh();
        ASSERT_EQ(device_.handheld().command({"overlay1", "rgb16", "6x5", "at", "0", "0"}), "");
        const uint64_t descriptor = kFree + place.descriptor, buffer = kFree + kPage + place.buffer;
        const uint32_t words[4] = {uint32_t(descriptor), uint32_t(buffer), 0, kBytes};
        memcpy(device_.handheld().physical(descriptor, sizeof words), words, sizeof words);
        const uint32_t channel1 = uint32_t(descriptor);
        memcpy(device_.handheld().physical(kLcdRegistersPhysical + kFdadr0 + 0x10, 4), &channel1,
               4);
        Bytes pixels(kBytes);
        for (uint8_t& b : pixels) b = static_cast<uint8_t>(random());
        memcpy(device_.handheld().physical(buffer, kBytes), pixels.data(), kBytes);

        reader_->refresh();
        ASSERT_TRUE(reader_->overlay1.mapped);
        EXPECT_EQ(reader_->overlay1.plane0Bytes, kBytes);
        ASSERT_TRUE(reader_->takePicture(reader_->overlay1, 1, kCapacity));
        EXPECT_EQ(Bytes(output_.begin(), output_.begin() + kBytes), pixels);
    }
}

}  // namespace
