// Where the camera picture goes on the screen: the crop window fitted inside the screen picture
// with its aspect kept, halved for the "Small" styles, centred, turned by "Rotation", and the
// drawing path that serves the style. A pure function of its arguments.
#pragma once

#include <cstdint>

#include "preview/kernel_types.h"

// Values of the photo and video "Screen" settings.
enum PreviewStyle : uint32_t {
    StyleNull = 0,  // no picture
    StyleGray = 1,  // portable, luma only
    StyleGraySmall = 2,
    StyleFull = 3,  // portable, colour
    StyleSmall = 4,
    StyleKernelFull = 5,  // the fast devices' kernels
    StyleKernelSmall = 6,
};

enum class PreviewPath : uint8_t {
    None,            // nothing can be drawn (a style outside the list, or no picture to fit)
    Null,            // style "Null": the screen picture is cleared
    PortableColour,  // drawFullColour
    PortableGray,    // drawGray
    IntegerFactor,   // scaleDownByFactor: the step is exactly 2, 4 or 8
    General,         // convertToPlanar then resizeRotate
};

struct PreviewPlan {
    PreviewPath path = PreviewPath::None;
    uint32_t style = StyleNull;  // after the "Small" styles became their full ones
    KernelTurn turn = TurnNone;
    int32_t cropW = 0, cropH = 0;  // camera pixels used
    int32_t dimX = 0, dimY = 0;    // screen pixels along the camera's x and y axes
    uint32_t rX = 0, rY = 0;       // crop over screen per axis, 16.16
    uint32_t step = 0;             // camera pixels per screen pixel, 16.16
    int32_t extX = 0, extY = 0;    // the picture's extent along the camera's x and y axes
    int32_t offX = 0, offY = 0;    // its offset from the screen's edges along those axes
    uint32_t destination = 0;      // screen pixel number of the picture's first pixel
    bool clearBars = false;        // the picture does not fill the screen exactly
};

// "Rotation" values ("None", "90L", "180", "90R") as turns: 1, 0, 2, 3. With "None" the camera
// picture's x axis runs down the display.
KernelTurn turnForRotation(int32_t rotation);

// The plan for a cropW x cropH camera window on a screenW x screenH picture.
PreviewPlan planPreview(uint32_t style, int32_t rotation, int32_t cropW, int32_t cropH,
                        int32_t screenW, int32_t screenH);
