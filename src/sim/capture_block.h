// The start block as the simulated camera hardware reads it: the block the program hands to the
// OEM camera library's "Camera_Begin" and to the "LCM1:" driver's start request. The hardware
// side keeps its own declaration of the layout, as an OEM driver would. Standard library only.
//
// On the handheld the block is nineteen 32-bit words (76 bytes). Word 13 is the frame callback,
// which on this 64-bit host is a pointer: the words keep their order, the pointer sits on its
// natural 8-byte boundary (four bytes of padding after word 12), and the block is 88 bytes. That
// is exactly what the drivers receive and what they check the request size against.
#pragma once

#include <cstddef>
#include <cstdint>

using HardwareFrameCallback = void (*)(uint8_t* pixels, uint32_t byteLength, uint32_t* reserved);

struct CaptureBlock {
    uint32_t exposure;
    uint32_t sensorWidth, sensorHeight;
    uint32_t cropLeft, cropTop, cropRight, cropBottom;  // inclusive window of the sensor image
    uint32_t constants[6];                              // 128, 0, 0, 240, 320, 0
    HardwareFrameCallback frameCallback;
    uint32_t exposureAgain;
    uint32_t cropLeftAgain, cropTopAgain, cropRightAgain, cropBottomAgain;
};

#if defined(__LP64__)
static_assert(offsetof(CaptureBlock, frameCallback) == 56 && sizeof(CaptureBlock) == 88,
              "the start block keeps the word order with a pointer-sized callback");
#endif
constexpr uint32_t kCaptureBlockBytes = sizeof(CaptureBlock);

// The crop window of a start block, when it lies inside the sensor picture and has an even,
// non-zero width (the sensors deliver whole pixel pairs).
struct CropWindow {
    uint32_t left, top, width, height;
};
inline bool cropOf(const CaptureBlock& block, CropWindow& crop) {
    if (block.cropRight < block.cropLeft || block.cropBottom < block.cropTop ||
        block.cropRight >= block.sensorWidth || block.cropBottom >= block.sensorHeight)
        return false;
    crop = {block.cropLeft, block.cropTop, block.cropRight - block.cropLeft + 1,
            block.cropBottom - block.cropTop + 1};
    return crop.width % 2 == 0;
}
