// In-process capture tests: a simulated handheld with a chosen profile (clock, cards, free
// space, microphone), the settings model built for it with a recording fake camera, the storage
// places found, the program's photo buffer and last-file buffer, and the built-in encoder.
// Camera frames are the test scene rendered in packed 4:2:2; TurboJPEG reads the photos back.
#pragma once

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/frame.h"
#include "jpeg/jpeg_encoder.h"
#include "media/avi_writer.h"
#include "media/storage.h"
#include "platform/hooks.h"
#include "preview/preview_loop.h"
#include "settings/settings_test_support.h"
#include "sim/device_profile.h"
#include "sim/scene/scene_generator.h"
#include "support/temp_device.h"

namespace capturetest {

// The default device with a fixed clock and a given amount of free space.
inline DeviceProfile profile(const std::string& clock = "2006-12-05 14:30:15",
                             uint64_t freeBytes = 100000000) {
    DeviceProfile p = *findBuiltinProfile(defaultProfileName());
    p.clock = clock;
    p.freeSpace = freeBytes;
    return p;
}

inline std::string narrow(const WCHAR* text) {
    std::string out;
    for (; text && *text; ++text) out.push_back(static_cast<char>(*text));
    return out;
}

// A width x height frame of the test scene (packed Cb Y0 Cr Y1).
inline std::vector<uint8_t> sceneFrame(uint32_t width, uint32_t height, uint32_t number = 7,
                                       uint32_t tick = 400) {
    static SceneGenerator scene;  // rendered once per size
    if (scene.width != width || scene.height != height) sceneInit(scene, width, height);
    std::vector<uint8_t> frame(size_t{width} * height * 2);
    sceneRender(scene, frame.data(), number, tick, SceneLook{});
    return frame;
}

// Builds the program's capture state on `device`: settings at their defaults, the storage
// places, the buffers, the encoder configured for width x height at `quality` (0: raw planes for
// BMP) and the frame record describing such a frame.
class CaptureState {
  public:
    explicit CaptureState(const DeviceProfile& p) : device_(p) {
        buildModel();
        buildStoragePlaces();
        if (!gApp.lastFilePath)
            gApp.lastFilePath = static_cast<WCHAR*>(std::calloc(MAX_PATH, sizeof(WCHAR)));
        gApp.lastFilePath[0] = 0;
        ensureImage(gApp.photoImage, 640, 480);
        if (!gEncoderSetup.encoder) gEncoderSetup.encoder = createJpegEncoder();
        gEncoderSetup.available = 1;
        gApp.freeSpaceMargin = UINT32_MAX;
        seenActivity.store(Idle);
        ResetEvent(gController.frameEvent);
    }
    ~CaptureState() {
        if (gAviWriter.file.ops) aviClose(gAviWriter);
        releaseAverageBuffer();
        seenActivity.store(Idle);
        gApp.activity.store(Idle);
    }

    // Configures the encoder and the frame record for a width x height camera frame.
    void encodeAs(uint32_t width, uint32_t height, uint32_t quality, uint32_t format = 1,
                  uint32_t rotation = 0) {
        ASSERT_EQ(configureEncoder(gEncoderSetup, width, height, quality, format, 1, 1, rotation),
                  1u);
        gFrame.frameWidth = width;
        gFrame.frameHeight = height;
        gFrame.frameFormat = Uyvy;
    }

    TempDevice& device() { return device_; }

  private:
    TempDevice device_;
};

// A JPEG decoded by TurboJPEG into 8-bit gray; empty when it does not decode.
struct Gray {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    uint8_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

inline Gray decodeGray(const std::vector<uint8_t>& jpeg) {
    Gray g;
    tjhandle h = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &g.width, &g.height, &subsampling,
                            &colourspace) == 0) {
        g.pixels.resize(size_t(g.width) * g.height);
        if (tjDecompress2(h, jpeg.data(), jpeg.size(), g.pixels.data(), g.width, 0, g.height,
                          TJPF_GRAY, 0) != 0)
            g = Gray{};
    }
    tjDestroy(h);
    return g;
}

}  // namespace capturetest
