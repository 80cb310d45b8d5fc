// The screen as the PXA27x LCD controller shows it: the controller's register window and the
// frame buffers of its base plane and two overlays, mapped into the process, and the conversion
// of the topmost plane that is on into a Frame. Created at device detection on PXA27x devices;
// used by the screen source's capture thread only.
#pragma once

#include <cstdint>

// One plane of the controller, as its registers and frame descriptors describe it.
struct PlaneRecord {
    uint8_t mapped = 0;              // the description and the buffers are valid
    uint32_t width = 0, height = 0;  // pixels
    // Bits-per-pixel code: 4 16 bits; 5 and 7 18 and 19 bits in one 32-bit word per pixel; 6 and
    // 8 18 and 19 bits packed in three bytes.
    uint32_t bppCode = 0;
    // Overlay 2: 0 RGB, 1 YCbCr 4:4:4 packed, 2 4:4:4 planar, 3 4:2:2 planar, 4 4:2:0 planar.
    // Overlay 1: 0. Base: the pixel-data-format bits.
    uint32_t colourFormat = 0;
    uint32_t x = 0, y = 0;      // position on the screen
    uint8_t* plane0 = nullptr;  // RGB, or Y
    uint32_t plane0Bytes = 0;
    uint8_t* plane1 = nullptr;  // Cb of a planar overlay 2
    uint32_t plane1Bytes = 0;
    uint8_t* plane2 = nullptr;  // Cr of a planar overlay 2
    uint32_t plane2Bytes = 0;
};

struct LcdPlaneReader {
    const volatile uint32_t* registers = nullptr;  // 4096 bytes, uncached; null: not mapped
    PlaneRecord base, overlay1, overlay2;

    // Maps the register window; null only when the record cannot be allocated (a window that
    // cannot be mapped leaves `registers` null and the reader reads nothing).
    static LcdPlaneReader* create();
    // Releases the planes and the window, and the reader itself (null is fine).
    static void destroy(LcdPlaneReader* reader);

    // Brings the records up to date with the controller: the topmost plane that is on stays
    // mapped from one picture to the next; planes are mapped and released as overlays switch.
    void refresh();
    // Fills the Frame (size, format and the pixels at framePixels) from a mapped plane; planeIndex
    // is 0 for the base, 1 and 2 for the overlays. False when the plane is not mapped, its layout
    // is not one the reader converts, its buffers are shorter than its size needs, or the picture
    // would not fit the `capacity` bytes at framePixels.
    bool takePicture(PlaneRecord& record, uint32_t planeIndex, uint32_t capacity);
    // Frees the record's mappings and clears `mapped`.
    void release(PlaneRecord& record);
};
