// The preview geometry: fitting, halving, centring and the choice of path, on the worked
// examples of a 240 x 320 display.
#include <gtest/gtest.h>

#include "preview/preview_geometry.h"

namespace {

constexpr int32_t kNone = 0, k90L = 1, k180 = 2, k90R = 3;

TEST(PreviewGeometry, RotationsMapToTurns) {
    EXPECT_EQ(turnForRotation(kNone), TurnRightEdgeUp);
    EXPECT_EQ(turnForRotation(k90L), TurnNone);
    EXPECT_EQ(turnForRotation(k180), TurnLeftEdgeUp);
    EXPECT_EQ(turnForRotation(k90R), TurnUpsideDown);
}

TEST(PreviewGeometry, QvgaFillsAPortraitScreenAtStepOne) {
    for (uint32_t style : {StyleKernelFull, StyleFull}) {
        const PreviewPlan p = planPreview(style, kNone, 320, 240, 240, 320);
        EXPECT_EQ(p.dimX, 320);  // the camera's x axis runs down the display
        EXPECT_EQ(p.dimY, 240);
        EXPECT_EQ(p.step, 0x10000u);
        EXPECT_EQ(p.extX, 320);
        EXPECT_EQ(p.extY, 240);
        EXPECT_EQ(p.offX, 0);
        EXPECT_EQ(p.offY, 0);
        EXPECT_EQ(p.destination, 0u);
        EXPECT_FALSE(p.clearBars);
    }
    EXPECT_EQ(planPreview(StyleKernelFull, kNone, 320, 240, 240, 320).path, PreviewPath::General);
    EXPECT_EQ(planPreview(StyleFull, kNone, 320, 240, 240, 320).path, PreviewPath::PortableColour);
}

TEST(PreviewGeometry, SmallHalvesAndCentresWithRoundedOffsets) {
    const PreviewPlan p = planPreview(StyleKernelSmall, kNone, 320, 240, 240, 320);
    EXPECT_EQ(p.style, StyleKernelFull);
    EXPECT_EQ(p.step, 0x20000u);
    EXPECT_EQ(p.extX, 160);
    EXPECT_EQ(p.extY, 120);
    EXPECT_EQ(p.offX, 80);
    EXPECT_EQ(p.offY, 64) << "(240 - 120) / 2 + 4 = 64 rounds to 64, not 60";
    EXPECT_EQ(p.destination, 80u * 240 + 64);  // row offX, column offY
    EXPECT_TRUE(p.clearBars);
    EXPECT_EQ(p.path, PreviewPath::IntegerFactor);
    // The portable "Small" keeps its own path at the same geometry.
    const PreviewPlan q = planPreview(StyleSmall, kNone, 320, 240, 240, 320);
    EXPECT_EQ(q.path, PreviewPath::PortableColour);
    EXPECT_EQ(q.step, 0x20000u);
    EXPECT_EQ(q.destination, p.destination);
    EXPECT_EQ(planPreview(StyleGraySmall, kNone, 320, 240, 240, 320).path,
              PreviewPath::PortableGray);
}

TEST(PreviewGeometry, CifFitsByItsHeight) {
    const PreviewPlan p = planPreview(StyleKernelFull, kNone, 352, 288, 240, 320);
    EXPECT_EQ(p.rX, 72089u);
    EXPECT_EQ(p.rY, 78643u);
    EXPECT_EQ(p.step, 78643u);
    EXPECT_EQ(p.extY, 240);
    EXPECT_EQ(p.extX, 292) << "293 rounded down to a multiple of 4";
    EXPECT_EQ(p.offX, 16);
    EXPECT_EQ(p.offY, 0);
    EXPECT_EQ(p.destination, 16u * 240);
    EXPECT_TRUE(p.clearBars);
    EXPECT_EQ(p.path, PreviewPath::General);
}

TEST(PreviewGeometry, VgaFullTakesTheIntegerFactorKernel) {
    const PreviewPlan p = planPreview(StyleKernelFull, kNone, 640, 480, 240, 320);
    EXPECT_EQ(p.step, 0x20000u);
    EXPECT_EQ(p.path, PreviewPath::IntegerFactor);
    EXPECT_FALSE(p.clearBars);
    // Turned a quarter the other way the ratio is 2.67: the general path.
    EXPECT_EQ(planPreview(StyleKernelFull, k90L, 640, 480, 240, 320).path, PreviewPath::General);
}

TEST(PreviewGeometry, UnturnedPicturesPlaceTheirRowsDownTheScreen) {
    // "90L": the camera's x axis runs across the 240 columns.
    const PreviewPlan p = planPreview(StyleFull, k90L, 320, 240, 240, 320);
    EXPECT_EQ(p.dimX, 240);
    EXPECT_EQ(p.dimY, 320);
    EXPECT_EQ(p.extX, 240);
    EXPECT_EQ(p.extY, 180);
    EXPECT_EQ(p.offX, 0);
    EXPECT_EQ(p.offY, 72);                // (140 / 2 + 4) rounded down to a multiple of 8
    EXPECT_EQ(p.destination, 72u * 240);  // row offY, column offX
    // "90R" on the same frame lands in the same rectangle.
    EXPECT_EQ(planPreview(StyleFull, k90R, 320, 240, 240, 320).destination, p.destination);
}

TEST(PreviewGeometry, NullAndUnknownStylesDrawNoPicture) {
    EXPECT_EQ(planPreview(StyleNull, kNone, 320, 240, 240, 320).path, PreviewPath::Null);
    EXPECT_EQ(planPreview(7, kNone, 320, 240, 240, 320).path, PreviewPath::None);
    EXPECT_EQ(planPreview(StyleFull, kNone, 0, 240, 240, 320).path, PreviewPath::None);
    EXPECT_EQ(planPreview(StyleFull, kNone, 320, 240, 0, 0).path, PreviewPath::None);
}

}  // namespace
