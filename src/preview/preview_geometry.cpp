// The preview geometry, in 16.16 fixed point:
//   rX = (cropW << 16) / dimX and rY = (cropH << 16) / dimY, unsigned and truncated;
//   the larger ratio is the step, so the picture fits inside the screen: along that axis the
//   extent is the screen's, along the other it keeps the aspect and is rounded down to a
//   multiple of 4; "Small" halves both extents and doubles the step;
//   offX = ((dimX - extX) / 2 + 2) rounded down to a multiple of 4 and
//   offY = ((dimY - extY) / 2 + 4) rounded down to a multiple of 8.
// Turns 1 and 2 lay the camera's x axis down the screen (dimX = screen height).
#include "preview/preview_geometry.h"

namespace {

constexpr uint32_t kOne = 0x10000;  // 1.0 in 16.16
constexpr uint32_t kIntegerSteps[] = {2 * kOne, 4 * kOne, 8 * kOne};

}  // namespace

KernelTurn turnForRotation(int32_t rotation) {
    switch (rotation) {
        case 1:
            return TurnNone;  // "90L"
        case 2:
            return TurnLeftEdgeUp;  // "180"
        case 3:
            return TurnUpsideDown;  // "90R"
        default:
            return TurnRightEdgeUp;  // "None"
    }
}

PreviewPlan planPreview(uint32_t style, int32_t rotation, int32_t cropW, int32_t cropH,
                        int32_t screenW, int32_t screenH) {
    PreviewPlan plan;
    plan.style = style;
    plan.turn = turnForRotation(rotation);
    plan.cropW = cropW;
    plan.cropH = cropH;
    if (style == StyleNull) {
        plan.path = PreviewPath::Null;
        return plan;
    }
    if (style > StyleKernelSmall || cropW <= 0 || cropH <= 0 || screenW <= 0 || screenH <= 0)
        return plan;

    const bool swapped = turnSwapsAxes(plan.turn);
    plan.dimX = swapped ? screenH : screenW;
    plan.dimY = swapped ? screenW : screenH;
    plan.rX = static_cast<uint32_t>((uint64_t{uint32_t(cropW)} << 16) / uint32_t(plan.dimX));
    plan.rY = static_cast<uint32_t>((uint64_t{uint32_t(cropH)} << 16) / uint32_t(plan.dimY));
    if (plan.rX >= plan.rY) {
        plan.step = plan.rX;
        plan.extX = plan.dimX;
        plan.extY = static_cast<int32_t>(int64_t{plan.dimX} * cropH / cropW) & ~3;
    } else {
        plan.step = plan.rY;
        plan.extY = plan.dimY;
        plan.extX = static_cast<int32_t>(int64_t{plan.dimY} * cropW / cropH) & ~3;
    }
    if (style == StyleKernelSmall || style == StyleSmall || style == StyleGraySmall) {
        --style;
        plan.extX /= 2;
        plan.extY /= 2;
        plan.step *= 2;
    }
    plan.style = style;
    plan.offX = ((plan.dimX - plan.extX) / 2 + 2) & ~3;
    plan.offY = ((plan.dimY - plan.extY) / 2 + 4) & ~7;
    plan.destination = static_cast<uint32_t>(swapped ? plan.offX * screenW + plan.offY
                                                     : plan.offY * screenW + plan.offX);
    plan.clearBars = plan.offX != 0 || plan.offY != 0 || plan.rX != plan.rY;

    switch (style) {
        case StyleKernelFull:
            plan.path = PreviewPath::General;
            for (uint32_t exact : kIntegerSteps)
                if (plan.step == exact) plan.path = PreviewPath::IntegerFactor;
            break;
        case StyleFull:
            plan.path = PreviewPath::PortableColour;
            break;
        case StyleGray:
            plan.path = PreviewPath::PortableGray;
            break;
        default:
            break;
    }
    return plan;
}
