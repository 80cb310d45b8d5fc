// Golden screens: the whole screen picture (camera picture and overlay) after one frame of a
// fixed test picture with fixed settings, kept as the FNV-1a hash of its bytes. They cover each
// drawing path with a turn, each text orientation, black bars and a menu page, and must come out
// the same with the vector kernels and with LUMO_NO_SIMD=1. After a deliberate change, look at
// the screens (the tour's screenshots take the same paths) and take the new hashes from the
// failures.
#include "preview_test_support.h"

namespace {

using namespace preview_test;

// An asymmetric colour picture: a luma ramp running both ways, Cb rising to the right, Cr rising
// downwards, and a bright block in the top-left corner.
std::vector<uint8_t> testPicture(int w, int h) {
    std::vector<uint8_t> bytes(size_t(w) * h * 2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; x += 2) {
            uint8_t* pair = &bytes[(size_t(y) * w + x) * 2];
            const bool block = x < w / 5 && y < h / 6;
            pair[0] = static_cast<uint8_t>(16 + x * 224 / w);  // Cb
            pair[1] = block ? 235 : static_cast<uint8_t>(16 + (3 * x + 5 * y) % 220);
            pair[2] = static_cast<uint8_t>(16 + y * 224 / h);  // Cr
            pair[3] = block ? 235 : static_cast<uint8_t>(16 + (3 * (x + 1) + 5 * y) % 220);
        }
    return bytes;
}

// One frame of the test picture through the preview with the settings of each case: each drawing
// path with a turn, each text orientation, black bars and a menu page.
TEST_F(PreviewTest, GoldenScreens) {
    struct Case {
        const char* name;
        bool fast;
        int32_t orientation, rotation, style, w, h;
        bool menu;
        uint64_t hash;
    };
    const Case cases[] = {
        // "Full" on a fast device: 1.0, the general path.
        {"general QVGA, Portrait", true, 1, 0, 5, 320, 240, false, 0x648680596c5fcc2cull},
        // "Full" on a fast device at step 2.5: a large frame, so the general path converts only
        // the rows it samples and turns while resizing.
        {"general SVGA, Portrait", true, 1, 0, 5, 800, 600, false, 0x86b9fc562361250bull},
        // "Full" on a slow device: drawFullColour, bars above and below.
        {"portable CIF turned right, Landscape L", false, 0, 3, 3, 352, 288, false,
         0x89a87bca45014733ull},
        // "Small": step 4.0, the integer-factor kernel.
        {"integer factor VGA, upside down", true, 3, 2, 6, 640, 480, false, 0xb45541f33234416bull},
        // "Gray Small" with the Settings page open at "Back"; "Orientation" at its default.
        {"gray with a menu page", false, -1, 0, 2, 320, 240, true, 0x30d9c0536b32bf50ull},
    };
    SettingsPage settings;
    settings.page.selected.store(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useScreen(240, 320, c.fast);
        if (c.orientation >= 0) choose(kSlotOrientation, c.orientation);
        setTextOrientation(c.orientation >= 0 ? uint32_t(c.orientation) : 1);
        choose(kSlotRotation, c.rotation);
        choose(kSlotPhotoScreen, c.style);
        gApp.currentPage.store(c.menu ? &settings.page : nullptr);
        gApp.menuVisible.store(c.menu);
        streamCrop(uint32_t(c.w), uint32_t(c.h));
        // Sensor, crop, output window, output size, scale: the whole frame at 100 %.
        const uint32_t sw = uint32_t(c.w), sh = uint32_t(c.h);
        gController.publishedGeometry = {sw, sh,     0,      0,  sw - 1, sh - 1, 0,
                                         0,  sw - 1, sh - 1, sw, sh,     0x10000};
        refreshStatusTexts();
        std::vector<uint8_t> frame = testPicture(c.w, c.h);
        onFrame(frame.data(), uint32_t(frame.size()), nullptr);
        EXPECT_EQ(fnv1a(gApp.screenImage.pixels, gApp.screenImage.header.biSizeImage), c.hash);
    }
    gApp.menuVisible.store(0);
    gApp.currentPage.store(nullptr);
}

}  // namespace
