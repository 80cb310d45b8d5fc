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

class GoldenScreens : public PreviewTest {
  protected:
    // One frame of the test picture through the preview; the hash of the screen picture.
    static uint64_t screenAfterFrame(int w, int h) {
        streamCrop(uint32_t(w), uint32_t(h));
        // Sensor, crop, output window, output size, scale: the whole frame at 100 %.
        const uint32_t sw = uint32_t(w), sh = uint32_t(h);
        gController.publishedGeometry = {sw, sh,     0,      0,  sw - 1, sh - 1, 0,
                                         0,  sw - 1, sh - 1, sw, sh,     0x10000};
        refreshStatusTexts();
        std::vector<uint8_t> frame = testPicture(w, h);
        onFrame(frame.data(), uint32_t(frame.size()), nullptr);
        return fnv1a(gApp.screenImage.pixels, gApp.screenImage.header.biSizeImage);
    }
};

TEST_F(GoldenScreens, GeneralPathQvgaPortrait) {
    choose(kSlotOrientation, 1);
    choose(kSlotRotation, 0);
    choose(kSlotPhotoScreen, 5);  // "Full" on a fast device: 1.0, the general path
    EXPECT_EQ(screenAfterFrame(320, 240), 0x648680596c5fcc2cull);
}

TEST_F(GoldenScreens, PortablePathCifTurnedRightWithLandscapeText) {
    useScreen(240, 320, false);
    choose(kSlotOrientation, 0);
    setTextOrientation(0);
    choose(kSlotRotation, 3);
    choose(kSlotPhotoScreen, 3);  // "Full" on a slow device: drawFullColour, bars above and below
    EXPECT_EQ(screenAfterFrame(352, 288), 0x89a87bca45014733ull);
}

TEST_F(GoldenScreens, IntegerFactorVgaSmallUpsideDownText) {
    choose(kSlotOrientation, 3);
    setTextOrientation(3);
    choose(kSlotRotation, 2);
    choose(kSlotPhotoScreen, 6);  // "Small": step 4.0, the integer-factor kernel
    EXPECT_EQ(screenAfterFrame(640, 480), 0xb45541f33234416bull);
}

TEST_F(GoldenScreens, GrayPathWithAMenuPageShown) {
    useScreen(240, 320, false);
    choose(kSlotPhotoScreen, 2);  // "Gray Small"
    SettingsPage settings;
    settings.page.selected.store(3);  // "Back"
    gApp.currentPage.store(&settings.page);
    gApp.menuVisible.store(1);
    EXPECT_EQ(screenAfterFrame(320, 240), 0x30d9c0536b32bf50ull);
    gApp.menuVisible.store(0);
    gApp.currentPage.store(nullptr);
}

}  // namespace
