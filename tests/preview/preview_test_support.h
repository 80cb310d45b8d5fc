// The process-wide state the preview loop and the overlay read, set to a known scene for each
// test: a 16-bit display of the chosen size whose memory is a test buffer, the three image
// buffers, a fast or slow device, settings at their defaults, and a counting frame consumer.
// Also an independent reading of the font bitmap file, to check drawn text pixel by pixel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "app/process_objects.h"
#include "app/program_resources.h"
#include "camera/device_info.h"
#include "core/app_state.h"
#include "core/frame.h"
#include "media/storage.h"
#include "platform/hooks.h"
#include "preview/overlay.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"

namespace preview_test {

inline int gConsumed = 0;
inline uint8_t* gConsumedPixels = nullptr;
inline int countingConsumer(uint8_t* pixels) {
    ++gConsumed;
    gConsumedPixels = pixels;
    return 0;
}

// Chooses the entry of `slot` whose value is `value`.
inline void choose(int slot, int32_t value) {
    ValueList& list = setting(slot);
    for (int32_t i = 0; i < list.count; ++i)
        if (entryValue(list, i) == value) {
            list.current.store(i);
            return;
        }
    ADD_FAILURE() << "slot " << slot << " has no value " << value;
}

// The loop, the overlay and the display for a screenW x screenH device.
class PreviewTest : public ::testing::Test {
  protected:
    std::vector<uint16_t> display;  // the display memory

    void useScreen(int32_t w, int32_t h, bool fast = true) {
        static const HINSTANCE module = createProgramModule(kProgramDevicePath, &kProgramResources);
        gApp.instance = module;
        gDeviceInfo.cameraType = 1;
        gDeviceInfo.isPxa27x = fast ? 1 : 0;
        gDeviceInfo.isSmartphone = 0;
        std::snprintf(gDeviceInfo.model, sizeof gDeviceInfo.model, "%s", "HTC PH10C");
        display.assign(size_t(w) * h, 0x5A5A);
        // Format, bits per pixel, memory, pixel and row strides in bytes, size.
        gDeviceInfo.display = {0, 16, display.data(), 2, w * 2, w, h};
        ensureImage(gApp.screenImage, w, h);
        ensureImage(gApp.auxScreenImage, w, h);
        ensureImage(gApp.photoImage, 1280, 960);
        completeDeviceLists(gDeviceInfo);
        for (int slot = 0; slot < kSettingsCount; ++slot) setting(slot).current.store(-1);
        loadFont();
        setTextOrientation(1);  // "Portrait"
    }

    void SetUp() override {
        resetProcessState();
        useScreen(240, 320);
        gApp.fullScreen.store(1);
        seenActivity.store(Idle);
        frameCaptureMode.store(kModePhoto);
        gOverlayState = {};
        frameConsumer = countingConsumer;
        gConsumed = 0;
        gConsumedPixels = nullptr;
        refreshStatusTexts();
    }

    void TearDown() override { frameConsumer = consumeFrame; }

  public:
    // The controller streams a w x h crop of a w x h sensor.
    static void streamCrop(uint32_t w, uint32_t h) {
        // Sensor, crop; the output fields are the controller's own.
        gController.streamGeometry = {w, h, 0, 0, w - 1, h - 1, 0, 0, 0, 0, 0, 0, 0};
        gFrame = Frame{w, h, Uyvy, nullptr};
    }

    static void paintScreen() {
        std::memset(gApp.screenImage.pixels, 0x77, gApp.screenImage.header.biSizeImage);
    }
    static std::vector<uint16_t> picture() {
        const auto* p = reinterpret_cast<const uint16_t*>(gApp.screenImage.pixels);
        return {p, p + gApp.screenImage.header.biSizeImage / 2};
    }
    static uint16_t screenAt(int x, int y) {
        return reinterpret_cast<uint16_t*>(
            gApp.screenImage.pixels)[y * gApp.screenImage.header.biWidth + x];
    }
};

// A "Settings" page: "Rotation" with its value, "~Exposure" (a heading, drawn without the
// tilde), a hidden item that takes no row, and "Back".
struct SettingsPage {
    MenuItem items[4];
    MenuPage page;
    SettingsPage() {
        items[0].label.store("Rotation");
        items[0].setting = &setting(kSlotRotation);
        items[1].label.store("~Exposure");
        items[3].label.store("Back");
        page.title = "Settings";
        page.items = items;
        page.itemCount = 4;
        page.labelWidth = 8;
    }
};

// The committed font bitmap, read on its own: ink at pixel x (0 to 31) of row r of glyph `code`.
struct FontFile {
    std::vector<uint8_t> bytes;

    FontFile() {
        std::ifstream in(LUMO_FONT_BITMAP, std::ios::binary);
        bytes.resize(14 + 48 + 1552 * 4 + 1);  // one byte more shows a longer file
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<size_t>(in.gcount()));
    }
    bool ink(int code, int x, int r) const {
        constexpr size_t kHeaders = 14 + 48;
        const int imageRow = 16 * (code - 32) + r;
        const size_t row = kHeaders + size_t{4} * (1552 - 1 - imageRow);
        return (bytes[row + x / 8] & (0x80 >> (x % 8))) == 0;
    }
    bool loaded() const { return bytes.size() == 14 + 48 + 1552 * 4; }
};

// FNV-1a, 64 bits: the golden pictures are kept as a hash of their bytes.
inline uint64_t fnv1a(const uint8_t* bytes, size_t size) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 0x100000001b3ull;
    return h;
}

}  // namespace preview_test
