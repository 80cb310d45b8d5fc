// The simulated PXA27x LCD controller: its register window at kLcdRegistersPhysical, the DMA
// frame descriptors of channels 0 to 4 in RAM, the base plane (the display memory) and the two
// overlays, which device scripts and tests switch on and off in every depth and colour format
// the controller offers. Only the registers a reader of the planes looks at are kept; they are
// plain memory, written here and read by whoever maps the window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class SimulatedHandheld;

// Register offsets in the window.
constexpr uint32_t kLccr1 = 0x004;   // base plane: bits 0-9 width - 1
constexpr uint32_t kLccr2 = 0x008;   // bits 0-9 height - 1
constexpr uint32_t kLccr3 = 0x00C;   // bits 24-26 depth (+8 with bit 29), bits 30-31 pixel format
constexpr uint32_t kOvl1C1 = 0x050;  // bit 31 on, bits 0-9 width - 1, 10-19 height - 1, 20-23 depth
constexpr uint32_t kOvl1C2 = 0x060;  // bits 0-9 x, 10-19 y
constexpr uint32_t kOvl2C1 = 0x070;  // as kOvl1C1
constexpr uint32_t kOvl2C2 = 0x080;  // as kOvl1C2, bits 20-22 colour format
constexpr uint32_t kFdadr0 = 0x200;  // frame descriptor address of DMA channel n at 0x200 + 16 n

// Depth codes.
constexpr uint32_t kDepth16 = 4;
constexpr uint32_t kDepth18 = 5;        // one 32-bit word per pixel
constexpr uint32_t kDepth18Packed = 6;  // three bytes per pixel
constexpr uint32_t kDepth19 = 7;
constexpr uint32_t kDepth19Packed = 8;

// Overlay 2 colour formats.
constexpr uint32_t kFormatRgb = 0;
constexpr uint32_t kFormatYcbcr444Packed = 1;  // one 32-bit word per pixel: Y, Cb, Cr, 0
constexpr uint32_t kFormatYcbcr444 = 2;        // planar
constexpr uint32_t kFormatYcbcr422 = 3;
constexpr uint32_t kFormatYcbcr420 = 4;

// Where the controller's descriptors and the overlays' frame buffers lie in RAM. The descriptors
// are packed 16 bytes apart and the buffers start anywhere a driver's may (on a page, on 256
// bytes inside a page, on 16 bytes far into a page), so a reader's offset arithmetic matters:
// physical mappings are made of whole pages.
constexpr uint64_t kLcdDescriptorsPhysical = 0xA0F00B00;  // 16 bytes per channel
constexpr uint64_t kOverlay1Physical = 0xA1400360;
constexpr uint64_t kOverlay2Physical = 0xA1900000;  // RGB or Y
constexpr uint64_t kOverlay2CbPhysical = 0xA1D00040;
constexpr uint64_t kOverlay2CrPhysical = 0xA1E00F00;  // its planes cross pages
constexpr uint64_t kOverlayPlaneBytes = 4u << 20;   // room for 1024 x 1024 x 4
constexpr uint64_t kOverlayChromaBytes = 1u << 20;  // room for 1024 x 1024 x 1

// What an overlay shows: depth and format codes, size and position in pixels.
struct OverlaySetup {
    bool on = false;
    uint32_t depth = kDepth16;
    uint32_t format = kFormatRgb;
    uint32_t width = 0, height = 0, x = 0, y = 0;
};

// Bytes of each plane of an overlay set-up (0 for planes it does not use), rounded up to whole
// words as the DMA moves them.
struct OverlayPlaneBytes {
    uint32_t plane0, plane1, plane2;
};
OverlayPlaneBytes overlayPlaneBytes(const OverlaySetup& setup);

class LcdController {
  public:
    // Maps the register window and the controller's RAM and describes the base plane (the
    // display memory). `present` is false on devices without a PXA27x: the window then stays
    // zero, as on hardware where nothing answers there.
    LcdController(SimulatedHandheld& device, bool present);

    bool present() const { return present_; }
    // Switches overlay 1 or 2 on (with a picture of the test scene in its format) or off.
    // Returns an error text or "".
    std::string setOverlay(int overlay, const OverlaySetup& setup);
    const OverlaySetup& overlay(int overlay) const { return overlays_[overlay == 2 ? 1 : 0]; }

  private:
    void writeRegister(uint32_t offset, uint32_t value);
    void writeDescriptor(int channel, uint64_t source, uint32_t bytes);

    SimulatedHandheld& device_;
    bool present_;
    uint8_t* registers_ = nullptr;
    uint8_t* descriptors_ = nullptr;
    uint8_t* overlay1_ = nullptr;
    uint8_t* overlay2_ = nullptr;
    uint8_t* overlay2Cb_ = nullptr;
    uint8_t* overlay2Cr_ = nullptr;
    OverlaySetup overlays_[2];
};

// Parses "overlayN FORMAT WxH at X Y" or "overlayN off" (N 1 or 2). FORMAT: rgb16, rgb18,
// rgb18p, rgb19, rgb19p, and for overlay 2 also yuv444 (packed), yuv444p, yuv422, yuv420. Returns
// an error text or "".
std::string parseOverlayCommand(const std::vector<std::string>& words, int& overlay,
                                OverlaySetup& setup);
