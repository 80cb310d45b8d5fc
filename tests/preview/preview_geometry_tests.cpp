// The preview geometry: fitting, halving, centring and the choice of path, on the worked
// examples of a 240 x 320 display.
#include <gtest/gtest.h>

#include <tuple>

#include "preview/preview_geometry.h"

namespace {

constexpr int32_t kNone = 0, k90L = 1, k90R = 3;
using enum PreviewPath;

TEST(PreviewGeometry, WorkedExamplesOnAPortraitScreen) {
    // Style, rotation, crop; path, step, extents, offsets, destination, whether bars are cleared.
    using Case = std::tuple<uint32_t, int32_t, int32_t, int32_t, PreviewPath, uint32_t, int32_t,
                            int32_t, int32_t, int32_t, uint32_t, bool>;
    const Case cases[] = {
        // QVGA fills the screen at step 1; the camera's x axis runs down the display.
        {StyleKernelFull, kNone, 320, 240, General, 0x10000, 320, 240, 0, 0, 0, false},
        {StyleFull, kNone, 320, 240, PortableColour, 0x10000, 320, 240, 0, 0, 0, false},
        // "Small": halved and centred; (240 - 120) / 2 + 4 = 64 rounds to 64, not 60. The
        // destination is row offX, column offY.
        {StyleKernelSmall, kNone, 320, 240, IntegerFactor, 0x20000, 160, 120, 80, 64, 80 * 240 + 64,
         true},
        {StyleSmall, kNone, 320, 240, PortableColour, 0x20000, 160, 120, 80, 64, 80 * 240 + 64,
         true},
        // CIF fits by its height; 293 rounded down to a multiple of 4.
        {StyleKernelFull, kNone, 352, 288, General, 78643, 292, 240, 16, 0, 16 * 240, true},
        {StyleKernelFull, kNone, 640, 480, IntegerFactor, 0x20000, 320, 240, 0, 0, 0, false},
        // "90L": the camera's x axis runs across the 240 columns; offY is (140 / 2 + 4) rounded
        // down to a multiple of 8, the destination row offY, column offX. "90R" lands in the same
        // rectangle.
        {StyleFull, k90L, 320, 240, PortableColour, 0x10000 * 4 / 3, 240, 180, 0, 72, 72 * 240,
         true},
        {StyleFull, k90R, 320, 240, PortableColour, 0x10000 * 4 / 3, 240, 180, 0, 72, 72 * 240,
         true},
    };
    for (const Case& c : cases) {
        const auto& [style, rotation, cropW, cropH, path, step, extX, extY, offX, offY, to, bars] =
            c;
        const PreviewPlan p = planPreview(style, rotation, cropW, cropH, 240, 320);
        EXPECT_EQ(
            std::tie(p.path, p.step, p.extX, p.extY, p.offX, p.offY, p.destination, p.clearBars),
            std::tie(path, step, extX, extY, offX, offY, to, bars))
            << style << " " << rotation << " " << cropW;
    }
    const PreviewPlan cif = planPreview(StyleKernelFull, kNone, 352, 288, 240, 320);
    EXPECT_EQ(cif.rX, 72089u);
    EXPECT_EQ(cif.rY, 78643u);
    // VGA turned a quarter the other way has a ratio of 2.67: the general path.
    EXPECT_EQ(planPreview(StyleKernelFull, k90L, 640, 480, 240, 320).path, General);
    EXPECT_EQ(planPreview(StyleGraySmall, kNone, 320, 240, 240, 320).path, PortableGray);
}

TEST(PreviewGeometry, NullAndUnknownStylesDrawNoPicture) {
    EXPECT_EQ(planPreview(StyleNull, kNone, 320, 240, 240, 320).path, Null);
    EXPECT_EQ(planPreview(7, kNone, 320, 240, 240, 320).path, None);
    EXPECT_EQ(planPreview(StyleFull, kNone, 0, 240, 240, 320).path, None);
    EXPECT_EQ(planPreview(StyleFull, kNone, 320, 240, 0, 0).path, None);
}

}  // namespace
