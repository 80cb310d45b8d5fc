// lumo-preview-screens: the display memory the preview loop leaves, as one FNV-1a hash a line, for
// a sweep of devices, display sizes, frame (crop) sizes, "Screen" styles, rotations and pixel
// orders. It uses only the preview's public entry (onFrame) and the process-wide records, so the
// same source builds against an earlier tree too; bench/preview/compare-previous.sh builds it
// both ways and compares the lines, which shows that a change of the kernels leaves every
// displayed pixel as it was.
//
// Each case runs two frames of different content with the photo buffer (the general path's
// scratch) first filled with a pattern of its own, so that bytes the converter leaves alone are
// the same in both builds. A second pass ("sequence") runs the cases again without refilling
// the photo buffer: what one geometry leaves there is what the next finds. It leaves out crops
// that are not whole 8 x 8 blocks both ways: the converter never writes their remainder, so the
// pixels sampled there show whatever earlier frames left in the photo buffer, and the general
// path converting only the rows it samples leaves other bytes there than a whole conversion
// did. (The controller streams only whole blocks; the fresh pass covers ragged crops.)
//
// Usage: lumo-preview-screens [--quick]   (LUMO_SIMD picks the kernel tier)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/program_resources.h"
#include "camera/device_info.h"
#include "core/app_state.h"
#include "core/frame.h"
#include "preview/overlay.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"
#include "settings/settings_table.h"
#include "settings/value_list.h"

namespace {

uint64_t fnv1a(const void* data, size_t bytes) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint64_t h = 0xcbf29ce484222325ull;  // FNV offset basis
    for (size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 0x100000001b3ull;  // FNV prime
    return h;
}

// A deterministic byte stream (xorshift32), so both builds see the same frames.
struct Bytes {
    uint32_t state;
    uint8_t next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<uint8_t>(state >> 11);
    }
};

// A camera frame: smooth luma and chroma ramps with noise, so every sample position matters.
std::vector<uint8_t> makeFrame(int w, int h, uint32_t seed) {
    std::vector<uint8_t> frame(size_t(w) * h * 2);
    Bytes noise{seed * 2654435761u + 1};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            uint8_t* pair = &frame[(size_t(y) * w + x) * 2];
            pair[0] = static_cast<uint8_t>(16 + (x * 7 + y * 3 + noise.next() % 32) % 224);
            pair[1] = static_cast<uint8_t>(noise.next());
            pair[2] = static_cast<uint8_t>(16 + (x * 2 + y * 9 + noise.next() % 32) % 224);
            pair[3] = static_cast<uint8_t>(noise.next());
        }
    return frame;
}

std::vector<uint16_t> gDisplay;

int noConsumer(uint8_t*) {
    return 0;
}

// Chooses the entry of `slot` whose value is `value`; false when the list has none.
bool choose(int slot, int32_t value) {
    ValueList& list = setting(slot);
    for (int32_t i = 0; i < list.count; ++i)
        if (entryValue(list, i) == value) {
            list.current.store(i);
            return true;
        }
    return false;
}

struct Display {
    int w, h;
};
struct Stream {
    int sensorW, sensorH, cropW, cropH;
    uint32_t cameraType;
};

void useDevice(const Display& d, bool fast, uint32_t cameraType) {
    gDeviceInfo.cameraType = cameraType;
    gDeviceInfo.isPxa27x = fast ? 1 : 0;
    gDisplay.assign(size_t(d.w) * d.h, 0x5A5A);
    gDeviceInfo.display = {};
    gDeviceInfo.display.wBPP = 16;
    gDeviceInfo.display.cxPixels = static_cast<uint32_t>(d.w);
    gDeviceInfo.display.cyPixels = static_cast<uint32_t>(d.h);
    gDeviceInfo.display.pFramePointer = gDisplay.data();
    ensureImage(gApp.screenImage, d.w, d.h);
    ensureImage(gApp.auxScreenImage, d.w, d.h);
    completeDeviceLists(gDeviceInfo);
    for (int slot = 0; slot < kSettingsCount; ++slot) setting(slot).current.store(-1);
}

void fillPhotoBuffer(uint32_t seed) {
    Bytes pattern{seed | 1};
    for (uint32_t i = 0; i < gApp.photoImage.header.biSizeImage; ++i)
        gApp.photoImage.pixels[i] = pattern.next();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (argc > 1 && !quick) {
        std::fprintf(stderr, "usage: lumo-preview-screens [--quick]\n");
        return 2;
    }
    gApp.instance = createProgramModule(kProgramDevicePath, &kProgramResources);
    ensureImage(gApp.photoImage, 1280, 960);  // the scratch of the largest preview stream
    gApp.fullScreen.store(1);
    gApp.activity.store(Idle);
    seenActivity.store(Idle);
    previewMode.store(Live);
    frameConsumer = noConsumer;
    loadFont();

    const std::vector<Display> displays = {{240, 320}, {320, 240}, {480, 640}, {176, 220}};
    // Whole sensors, zoomed crops of them, and ragged crops (not multiples of 8) whose remainder
    // the resizer samples; small and large frames (the turn moves from converter to resizer at
    // 131072 pixels); the OEM 320 x 240 stream whose border is fixed.
    std::vector<Stream> streams = {
        {320, 240, 320, 240, 0},    {320, 240, 320, 240, 1},   {352, 288, 352, 288, 1},
        {640, 480, 640, 480, 1},    {800, 600, 800, 600, 1},   {1280, 960, 1280, 960, 1},
        {176, 144, 176, 144, 1},    {160, 120, 160, 120, 1},   {1280, 960, 640, 480, 1},
        {1280, 960, 800, 600, 1},   {1280, 960, 1000, 750, 1}, {640, 480, 350, 262, 1},
        {640, 480, 324, 245, 1},    {800, 600, 646, 486, 1},   {800, 600, 802, 598, 1},
        {1280, 960, 1046, 782, 1},  {640, 480, 166, 126, 1},   {640, 480, 330, 250, 1},
        {1280, 960, 1100, 830, 1},  {800, 600, 514, 386, 1},   {640, 480, 512, 254, 1},
        {640, 480, 258, 512, 1},    {1280, 960, 962, 722, 1},  {800, 600, 736, 552, 1},
    };
    if (quick) streams.resize(8);

    for (int pass = 0; pass < 2; ++pass) {
        const char* passName = pass ? "sequence" : "fresh";
        uint32_t caseNumber = 0;
        for (const Display& d : displays)
            for (const Stream& s : streams)
                for (bool fast : {true, false})
                    for (int32_t style = 1; style <= 6; ++style)
                        for (int32_t rotation = 0; rotation < 4; ++rotation)
                            for (int32_t order = 0; order < 2; ++order) {
                                ++caseNumber;
                                if (order && (rotation % 2 || style % 2)) continue;  // fewer cases
                                if (pass == 1 && (s.cropW % 8 || s.cropH % 8)) continue;
                                useDevice(d, fast, s.cameraType);
                                if (!choose(kSlotPhotoScreen, style)) continue;
                                choose(kSlotRotation, rotation);
                                choose(kSlotPixelOrder, order);
                                setTextOrientation(1);
                                refreshStatusTexts();
                                CaptureGeometry& g = gController.streamGeometry;
                                g = {};
                                g.sensorWidth = uint32_t(s.sensorW);
                                g.sensorHeight = uint32_t(s.sensorH);
                                g.cropLeft = uint32_t(s.sensorW - s.cropW) / 2;
                                g.cropTop = uint32_t(s.sensorH - s.cropH) / 2;
                                g.cropRight = g.cropLeft + uint32_t(s.cropW) - 1;
                                g.cropBottom = g.cropTop + uint32_t(s.cropH) - 1;
                                gFrame = Frame{uint32_t(s.cropW), uint32_t(s.cropH), Uyvy, nullptr};
                                if (pass == 0) fillPhotoBuffer(caseNumber);
                                std::printf("%s display %dx%d crop %dx%d of %dx%d type %u %s style "
                                            "%d rotation %d order %d:",
                                            passName, d.w, d.h, s.cropW, s.cropH, s.sensorW,
                                            s.sensorH, s.cameraType, fast ? "fast" : "slow", style,
                                            rotation, order);
                                for (uint32_t f = 0; f < 2; ++f) {
                                    std::vector<uint8_t> frame =
                                        makeFrame(s.cropW, s.cropH, caseNumber * 2 + f);
                                    onFrame(frame.data(), uint32_t(frame.size()), nullptr);
                                    std::printf(" %016llx",
                                                static_cast<unsigned long long>(fnv1a(
                                                    gDisplay.data(), gDisplay.size() * 2)));
                                }
                                std::printf("\n");
                            }
    }
    return 0;
}
