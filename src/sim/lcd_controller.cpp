// The simulated PXA27x LCD controller. An overlay switched on gets a still picture of the test
// scene (frame 0) in its own format: the scene's 4:2:2 picture is either stored as YCbCr at the
// plane's sampling, or turned into RGB (BT.601 studio levels, Q8 coefficients) and packed at the
// plane's depth: 16 bits as RGB555 with the transparency bit clear, 18 bits as RGB666 (blue in
// bits 0-5, green 6-11, red 12-17), 19 bits the same with bit 18 (transparency) clear.
#include "sim/lcd_controller.h"

#include <algorithm>
#include <cstring>

#include "sim/handheld.h"
#include "sim/scene/scene_generator.h"

namespace {

constexpr uint32_t kMaxPlaneSide = 1024;  // the 10-bit size fields
constexpr uint32_t kOverlayOn = 1u << 31;
constexpr uint32_t kDescriptorBytes = 16;
constexpr int kChannels = 5;

uint32_t roundToWord(uint64_t bytes) {
    return static_cast<uint32_t>((bytes + 3) & ~uint64_t{3});
}

struct Rgb {
    int r, g, b;
};

// Studio-level BT.601 to full-range RGB: 1.164 (298/256) for luma, 1.596 (409), 0.392 (100),
// 0.813 (208), 2.017 (516) for chroma.
Rgb rgbOf(int y, int cb, int cr) {
    const int c = 298 * (y - 16), d = cb - 128, e = cr - 128;
    return {std::clamp((c + 409 * e + 128) >> 8, 0, 255),
            std::clamp((c - 100 * d - 208 * e + 128) >> 8, 0, 255),
            std::clamp((c + 516 * d + 128) >> 8, 0, 255)};
}

uint32_t packRgb(const Rgb& p, uint32_t depth) {
    if (depth == kDepth16)
        return static_cast<uint32_t>(((p.r >> 3) << 10) | ((p.g >> 3) << 5) | (p.b >> 3));
    return static_cast<uint32_t>((p.b >> 2) | ((p.g >> 2) << 6) | ((p.r >> 2) << 12));
}

uint32_t bytesPerPixel(uint32_t depth) {
    switch (depth) {
        case kDepth16:
            return 2;
        case kDepth18Packed:
        case kDepth19Packed:
            return 3;
        default:
            return 4;
    }
}

// The overlays' pictures are memory the display hardware and the program's screen capture read
// while they are written; on the device such a picture may mix two updates. These writers stand
// for the hardware side and are kept out of the race detector's view.
__attribute__((no_sanitize("thread"))) void writeRgbPlane(uint8_t* plane,
                                                          const std::vector<uint8_t>& uyvy,
                                                          uint32_t sceneWidth,
                                                          const OverlaySetup& s) {
    const uint32_t bpp = bytesPerPixel(s.depth);
    for (uint32_t y = 0; y < s.height; ++y)
        for (uint32_t x = 0; x < s.width; ++x) {
            const uint8_t* pair = &uyvy[(size_t{y} * sceneWidth + (x & ~1u)) * 2];
            const uint32_t v = packRgb(rgbOf(pair[1 + 2 * (x & 1)], pair[0], pair[2]), s.depth);
            uint8_t* out = plane + (size_t{y} * s.width + x) * bpp;
            for (uint32_t k = 0; k < bpp; ++k) out[k] = static_cast<uint8_t>(v >> (8 * k));
        }
}

__attribute__((no_sanitize("thread"))) void writeYcbcrPlanes(uint8_t* luma, uint8_t* cb,
                                                             uint8_t* cr,
                                                             const std::vector<uint8_t>& uyvy,
                                                             uint32_t sceneWidth,
                                                             const OverlaySetup& s) {
    const uint32_t w = s.width, h = s.height;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* pair = &uyvy[(size_t{y} * sceneWidth + (x & ~1u)) * 2];
            const uint8_t Y = pair[1 + 2 * (x & 1)], U = pair[0], V = pair[2];
            const size_t i = size_t{y} * w + x;
            switch (s.format) {
                case kFormatYcbcr444Packed:
                    luma[i * 4] = Y, luma[i * 4 + 1] = U, luma[i * 4 + 2] = V, luma[i * 4 + 3] = 0;
                    break;
                case kFormatYcbcr444:
                    luma[i] = Y, cb[i] = U, cr[i] = V;
                    break;
                case kFormatYcbcr422:
                    luma[i] = Y;
                    if (x % 2 == 0) cb[i / 2] = U, cr[i / 2] = V;
                    break;
                default:  // 4:2:0: the chroma of the even rows
                    luma[i] = Y;
                    if (x % 2 == 0 && y % 2 == 0) {
                        const size_t c = size_t{y / 2} * (w / 2) + x / 2;
                        cb[c] = U, cr[c] = V;
                    }
                    break;
            }
        }
}

__attribute__((no_sanitize("thread"))) void storeWord(uint8_t* at, uint32_t value) {
    memcpy(at, &value, sizeof value);
}

struct FormatName {
    const char* name;
    uint32_t depth;
    uint32_t format;
};
const FormatName kFormats[] = {
    {"rgb16", kDepth16, kFormatRgb},        {"rgb18", kDepth18, kFormatRgb},
    {"rgb18p", kDepth18Packed, kFormatRgb}, {"rgb19", kDepth19, kFormatRgb},
    {"rgb19p", kDepth19Packed, kFormatRgb}, {"yuv444", kDepth16, kFormatYcbcr444Packed},
    {"yuv444p", kDepth16, kFormatYcbcr444}, {"yuv422", kDepth16, kFormatYcbcr422},
    {"yuv420", kDepth16, kFormatYcbcr420},
};

bool parseNumber(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = static_cast<uint32_t>(std::stoul(text));
    return true;
}

}  // namespace

OverlayPlaneBytes overlayPlaneBytes(const OverlaySetup& s) {
    const uint64_t pixels = uint64_t{s.width} * s.height;
    switch (s.format) {
        case kFormatRgb:
            return {roundToWord(pixels * bytesPerPixel(s.depth)), 0, 0};
        case kFormatYcbcr444Packed:
            return {roundToWord(pixels * 4), 0, 0};
        case kFormatYcbcr444:
            return {roundToWord(pixels), roundToWord(pixels), roundToWord(pixels)};
        case kFormatYcbcr422: {
            const uint32_t chroma = roundToWord(uint64_t{s.width / 2} * s.height);
            return {roundToWord(pixels), chroma, chroma};
        }
        default: {
            const uint32_t chroma = roundToWord(uint64_t{s.width / 2} * (s.height / 2));
            return {roundToWord(pixels), chroma, chroma};
        }
    }
}

LcdController::LcdController(SimulatedHandheld& device, bool present)
    : device_(device), present_(present) {
    if (!present_) return;
    registers_ = device_.physical(kLcdRegistersPhysical, kLcdRegistersBytes);
    descriptors_ = device_.physical(kLcdDescriptorsPhysical, kDescriptorBytes * kChannels);
    overlay1_ = device_.physical(kOverlay1Physical, kOverlayPlaneBytes);
    overlay2_ = device_.physical(kOverlay2Physical, kOverlayPlaneBytes);
    overlay2Cb_ = device_.physical(kOverlay2CbPhysical, kOverlayChromaBytes);
    overlay2Cr_ = device_.physical(kOverlay2CrPhysical, kOverlayChromaBytes);
    if (!registers_ || !descriptors_ || !overlay1_ || !overlay2_ || !overlay2Cb_ || !overlay2Cr_) {
        present_ = false;
        return;
    }
    // The base plane: the display memory, 16 bits per pixel, described by channel 0.
    const DeviceIdentity& id = device_.identity();
    const auto w = static_cast<uint32_t>(id.displayWidth);
    const auto h = static_cast<uint32_t>(id.displayHeight);
    writeRegister(kLccr1, (w - 1) & 0x3FF);
    writeRegister(kLccr2, (h - 1) & 0x3FF);
    writeRegister(kLccr3, kDepth16 << 24);
    writeDescriptor(0, device_.displayPhysicalAddress(), roundToWord(uint64_t{w} * h * 2));
}

std::string LcdController::setOverlay(int overlay, const OverlaySetup& setup) {
    if (!present_) return "this device has no PXA27x LCD controller";
    if (overlay != 1 && overlay != 2) return "no overlay " + std::to_string(overlay);
    const uint32_t control1 = overlay == 1 ? kOvl1C1 : kOvl2C1;
    const uint32_t control2 = overlay == 1 ? kOvl1C2 : kOvl2C2;
    OverlaySetup& current = overlays_[overlay - 1];
    if (!setup.on) {
        current.on = false;
        writeRegister(control1, 0);
        return "";
    }
    const DeviceIdentity& id = device_.identity();
    if (setup.width == 0 || setup.height == 0 || setup.width > kMaxPlaneSide ||
        setup.height > kMaxPlaneSide)
        return "overlay size must be 1 to 1024 pixels each way";
    if (setup.x + setup.width > static_cast<uint32_t>(id.displayWidth) ||
        setup.y + setup.height > static_cast<uint32_t>(id.displayHeight))
        return "the overlay does not fit the " + std::to_string(id.displayWidth) + "x" +
               std::to_string(id.displayHeight) + " display";
    if (overlay == 1 && setup.format != kFormatRgb) return "overlay 1 shows RGB only";
    if (setup.format >= kFormatYcbcr422 && setup.width % 2)
        return "YCbCr 4:2:2 and 4:2:0 need an even width";
    if (setup.format == kFormatYcbcr420 && setup.height % 2)
        return "YCbCr 4:2:0 needs an even height";

    // Switch the overlay off while its picture and descriptors change, as a driver does.
    writeRegister(control1, 0);
    SceneGenerator scene;
    const uint32_t sceneWidth = (setup.width + 1) & ~1u;
    std::vector<uint8_t> picture(size_t{sceneWidth} * setup.height * 2);
    if (!sceneInit(scene, sceneWidth, setup.height)) return "cannot render the overlay picture";
    sceneRender(scene, picture.data(), 0, 0, SceneLook{});

    const OverlayPlaneBytes bytes = overlayPlaneBytes(setup);
    if (overlay == 1) {
        writeRgbPlane(overlay1_, picture, sceneWidth, setup);
        writeDescriptor(1, kOverlay1Physical, bytes.plane0);
    } else {
        if (setup.format == kFormatRgb)
            writeRgbPlane(overlay2_, picture, sceneWidth, setup);
        else
            writeYcbcrPlanes(overlay2_, overlay2Cb_, overlay2Cr_, picture, sceneWidth, setup);
        writeDescriptor(2, kOverlay2Physical, bytes.plane0);
        writeDescriptor(3, kOverlay2CbPhysical, bytes.plane1);
        writeDescriptor(4, kOverlay2CrPhysical, bytes.plane2);
    }
    writeRegister(control2, setup.x | setup.y << 10 | (overlay == 2 ? setup.format << 20 : 0));
    writeRegister(control1,
                  kOverlayOn | setup.depth << 20 | (setup.height - 1) << 10 | (setup.width - 1));
    current = setup;
    return "";
}

void LcdController::writeRegister(uint32_t offset, uint32_t value) {
    storeWord(registers_ + offset, value);
}

// A frame descriptor: next descriptor (itself: the same frame over and over), source address,
// frame id, command word with the length in bytes.
void LcdController::writeDescriptor(int channel, uint64_t source, uint32_t bytes) {
    const uint64_t address = kLcdDescriptorsPhysical + kDescriptorBytes * channel;
    uint8_t* d = descriptors_ + kDescriptorBytes * channel;
    storeWord(d, static_cast<uint32_t>(address));
    storeWord(d + 4, static_cast<uint32_t>(source));
    storeWord(d + 8, 0);
    storeWord(d + 12, bytes);
    writeRegister(kFdadr0 + 0x10 * channel, static_cast<uint32_t>(address));
}

std::string parseOverlayCommand(const std::vector<std::string>& words, int& overlay,
                                OverlaySetup& setup) {
    const std::string usage = "expected '" + (words.empty() ? std::string("overlayN") : words[0]) +
                              " FORMAT WxH at X Y' or '" +
                              (words.empty() ? std::string("overlayN") : words[0]) + " off'";
    if (words.empty() || (words[0] != "overlay1" && words[0] != "overlay2")) return usage;
    overlay = words[0] == "overlay1" ? 1 : 2;
    setup = OverlaySetup{};
    if (words.size() == 2 && words[1] == "off") return "";
    if (words.size() != 6 || words[3] != "at") return usage;
    auto format = std::find_if(std::begin(kFormats), std::end(kFormats),
                               [&](const FormatName& f) { return words[1] == f.name; });
    if (format == std::end(kFormats) || (overlay == 1 && format->format != kFormatRgb))
        return "unknown format '" + words[1] + "' for overlay " + std::to_string(overlay) +
               " (rgb16, rgb18, rgb18p, rgb19, rgb19p" +
               (overlay == 2 ? ", yuv444, yuv444p, yuv422, yuv420)" : ")");
    const size_t x = words[2].find('x');
    if (x == std::string::npos || !parseNumber(words[2].substr(0, x), setup.width) ||
        !parseNumber(words[2].substr(x + 1), setup.height) || !parseNumber(words[4], setup.x) ||
        !parseNumber(words[5], setup.y))
        return usage;
    setup.on = true;
    setup.depth = format->depth;
    setup.format = format->format;
    if (setup.width == 0 || setup.height == 0 || setup.width > kMaxPlaneSide ||
        setup.height > kMaxPlaneSide)
        return "overlay size must be 1 to 1024 pixels each way";
    return "";
}
