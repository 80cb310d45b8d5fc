// The preview geometry: fitting, halving, centring and the choice of path, on the worked
// examples of a 240 x 320 display.
#include <gtest/gtest.h>

#include "preview/preview_geometry.h"

namespace {

constexpr int32_t kNone = 0, k90L = 1, k90R = 3;

TEST(PreviewGeometry, WorkedExamplesOnAPortraitScreen) {
    struct Case {
        const char* what;
        uint32_t style;
        int32_t rotation, cropW, cropH;
        PreviewPath path;
        uint32_t step;
        int32_t extX, extY, offX, offY;
        uint32_t destination;
        bool clearBars;
    };
    const Case cases[] = {
        // QVGA fills the screen at step 1; the camera's x axis runs down the display.
        {"qvga kernel full", StyleKernelFull, kNone, 320, 240, PreviewPath::General, 0x10000, 320,
         240, 0, 0, 0, false},
        {"qvga full", StyleFull, kNone, 320, 240, PreviewPath::PortableColour, 0x10000, 320, 240, 0,
         0, 0, false},
        // "Small": halved and centred; (240 - 120) / 2 + 4 = 64 rounds to 64, not 60. The
        // destination is row offX, column offY.
        {"qvga kernel small", StyleKernelSmall, kNone, 320, 240, PreviewPath::IntegerFactor,
         0x20000, 160, 120, 80, 64, 80 * 240 + 64, true},
        {"qvga small", StyleSmall, kNone, 320, 240, PreviewPath::PortableColour, 0x20000, 160, 120,
         80, 64, 80 * 240 + 64, true},
        // CIF fits by its height; 293 rounded down to a multiple of 4.
        {"cif", StyleKernelFull, kNone, 352, 288, PreviewPath::General, 78643, 292, 240, 16, 0,
         16 * 240, true},
        {"vga", StyleKernelFull, kNone, 640, 480, PreviewPath::IntegerFactor, 0x20000, 320, 240, 0,
         0, 0, false},
        // "90L": the camera's x axis runs across the 240 columns; offY is (140 / 2 + 4) rounded
        // down to a multiple of 8, the destination row offY, column offX.
        {"qvga 90L", StyleFull, k90L, 320, 240, PreviewPath::PortableColour, 0x10000 * 4 / 3, 240,
         180, 0, 72, 72 * 240, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PreviewPlan p = planPreview(c.style, c.rotation, c.cropW, c.cropH, 240, 320);
        EXPECT_EQ(p.path, c.path);
        EXPECT_EQ(p.step, c.step);
        EXPECT_EQ(p.extX, c.extX);
        EXPECT_EQ(p.extY, c.extY);
        EXPECT_EQ(p.offX, c.offX);
        EXPECT_EQ(p.offY, c.offY);
        EXPECT_EQ(p.destination, c.destination);
        EXPECT_EQ(p.clearBars, c.clearBars);
    }
    const PreviewPlan cif = planPreview(StyleKernelFull, kNone, 352, 288, 240, 320);
    EXPECT_EQ(cif.rX, 72089u);
    EXPECT_EQ(cif.rY, 78643u);
    // VGA turned a quarter the other way has a ratio of 2.67: the general path.
    EXPECT_EQ(planPreview(StyleKernelFull, k90L, 640, 480, 240, 320).path, PreviewPath::General);
    EXPECT_EQ(planPreview(StyleGraySmall, kNone, 320, 240, 240, 320).path,
              PreviewPath::PortableGray);
    // "90R" on the same frame lands in the same rectangle as "90L".
    EXPECT_EQ(planPreview(StyleFull, k90R, 320, 240, 240, 320).destination, 72u * 240);
}

TEST(PreviewGeometry, NullAndUnknownStylesDrawNoPicture) {
    EXPECT_EQ(planPreview(StyleNull, kNone, 320, 240, 240, 320).path, PreviewPath::Null);
    EXPECT_EQ(planPreview(7, kNone, 320, 240, 240, 320).path, PreviewPath::None);
    EXPECT_EQ(planPreview(StyleFull, kNone, 0, 240, 240, 320).path, PreviewPath::None);
    EXPECT_EQ(planPreview(StyleFull, kNone, 320, 240, 0, 0).path, PreviewPath::None);
}

}  // namespace
