// The PXA27x LCD controller's planes, read through physical memory mappings.
//
// A plane's frame buffer is found through the frame descriptor its DMA channel points at: the
// descriptor's second word is the buffer's physical address, its fourth word the command whose
// length bits (AND 0x7FFFC) give the buffer's size. VirtualCopy takes the address divided by
// 256 but maps whole pages, so a mapping starts at the address rounded down to a page and the
// object lies at its offset in the page; this holds for descriptors as well as for buffers.
// (Rounding down to 256 only finds objects within 256 bytes of a page's start.)
//
// Conversions (the output is a Frame at framePixels, two bytes per pixel):
// - 16-bit RGB is copied: the base plane is RGB565, the overlays RGB555;
// - 18- and 19-bit RGB (one 32-bit word or three bytes per pixel, little-endian) become RGB565
//   from the top bits of each channel: blue bits 1-5, green 6-11, red 13-17; two pixels per
//   output word, the first in the low half;
// - YCbCr becomes packed 4:2:2 (Cb, Y0, Cr, Y1 per pixel pair): from the packed 4:4:4 word the
//   pair's chroma is the mean of its two pixels (sum shifted right by 1) and each pixel keeps its
//   luma; from the planar layouts both lumas are the pair's first sample and the chroma is the
//   next sample of each chroma plane, which advances by 2 per pair (4:4:4), by 1 (4:2:2), or by
//   1 with every chroma row serving two luma rows (4:2:0).
#include "camera/lcd_plane_reader.h"

#include <cstring>
#include <new>

#include "core/frame.h"
#include "platform/windows.h"

namespace {

// Register window and offsets.
constexpr uint32_t kLcdRegistersPhysical = 0x44000000;
constexpr DWORD kLcdRegistersBytes = 4096;
constexpr uint32_t kLccr1 = 0x004, kLccr2 = 0x008, kLccr3 = 0x00C;
constexpr uint32_t kOvl1C1 = 0x050, kOvl1C2 = 0x060, kOvl2C1 = 0x070, kOvl2C2 = 0x080;
constexpr uint32_t kFdadr0 = 0x200, kFdadr1 = 0x210, kFdadr2 = 0x220, kFdadr3 = 0x230,
                   kFdadr4 = 0x240;

constexpr uint32_t kOverlayEnabled = 1u << 31;
constexpr uint32_t kSizeMask = 0x3FF;  // 10-bit sizes and positions
constexpr uint32_t kDescriptorBytes = 16;
constexpr uint32_t kDescriptorAddressMask = ~0xFu;
constexpr uint32_t kDmaLengthMask = 0x7FFFC;
constexpr DWORD kUncachedReadWrite = PAGE_READWRITE | PAGE_NOCACHE | PAGE_PHYSICAL;  // 0x604
static_assert(kUncachedReadWrite == 0x604);
constexpr uint32_t kPhysicalUnit = 256;  // VirtualCopy's physical addresses are in these units
static_assert(kDevicePageBytes % kPhysicalUnit == 0);

constexpr uint32_t kBpp16 = 4, kBpp18 = 5, kBpp18Packed = 6, kBpp19 = 7, kBpp19Packed = 8;
constexpr uint32_t kRgb = 0, kYcbcrPacked = 1, kYcbcr444 = 2, kYcbcr422 = 3, kYcbcr420 = 4;

// Maps `bytes` of physical memory at `physical`; the object's address, or null.
uint8_t* mapPhysical(uint32_t physical, uint32_t bytes) {
    const uint32_t offset = physical % kDevicePageBytes;
    void* window = VirtualAlloc(nullptr, offset + bytes, MEM_RESERVE, PAGE_NOACCESS);
    if (!window) return nullptr;
    if (!VirtualCopy(window,
                     reinterpret_cast<LPVOID>(uintptr_t{(physical - offset) / kPhysicalUnit}),
                     offset + bytes, kUncachedReadWrite)) {
        VirtualFree(window, 0, MEM_RELEASE);
        return nullptr;
    }
    return static_cast<uint8_t*>(window) + offset;
}

void unmapPhysical(uint8_t* object) {
    if (object)
        VirtualFree(object - reinterpret_cast<uintptr_t>(object) % kDevicePageBytes, 0,
                    MEM_RELEASE);
}

uint32_t readWord(const uint8_t* at) {
    uint32_t w;
    memcpy(&w, at, sizeof w);
    return w;
}

// The frame buffer a DMA channel's descriptor register points at.
uint8_t* mapPlane(uint32_t descriptorRegister, uint32_t& bytes) {
    bytes = 0;
    uint8_t* descriptor =
        mapPhysical(descriptorRegister & kDescriptorAddressMask, kDescriptorBytes);
    if (!descriptor) return nullptr;
    const uint32_t source = readWord(descriptor + 4);
    const uint32_t length = readWord(descriptor + 12) & kDmaLengthMask;
    unmapPhysical(descriptor);
    if (!source || !length) return nullptr;
    uint8_t* plane = mapPhysical(source, length);
    if (plane) bytes = length;
    return plane;
}

// An 18-bit value (the low bits of a 19-bit one) as RGB565.
constexpr uint32_t rgb565Of(uint32_t v) {
    return ((v >> 13) & 0x1F) << 11 | ((v >> 6) & 0x3F) << 5 | ((v >> 1) & 0x1F);
}
static_assert(rgb565Of(0x3FFFF) == 0xFFFF && rgb565Of(0x40000) == 0);
static_assert(rgb565Of(0x3F000) == 0xF800 && rgb565Of(0x00FC0) == 0x07E0 && rgb565Of(0x3F) == 0x1F);

void storeWord(uint8_t* at, uint32_t value) {
    memcpy(at, &value, sizeof value);
}

}  // namespace

LcdPlaneReader* LcdPlaneReader::create() {
    auto* reader = new (std::nothrow) LcdPlaneReader;
    if (!reader) return nullptr;
    reader->registers = reinterpret_cast<const volatile uint32_t*>(
        mapPhysical(kLcdRegistersPhysical, kLcdRegistersBytes));
    return reader;
}

void LcdPlaneReader::destroy(LcdPlaneReader* reader) {
    if (!reader) return;
    reader->release(reader->overlay2);
    reader->release(reader->overlay1);
    reader->release(reader->base);
    unmapPhysical(
        const_cast<uint8_t*>(reinterpret_cast<const volatile uint8_t*>(reader->registers)));
    delete reader;
}

void LcdPlaneReader::release(PlaneRecord& record) {
    unmapPhysical(record.plane0);
    unmapPhysical(record.plane1);
    unmapPhysical(record.plane2);
    record = PlaneRecord{};
}

void LcdPlaneReader::refresh() {
    if (!registers) return;
    auto reg = [this](uint32_t offset) { return registers[offset / 4]; };

    const uint32_t overlay2Control = reg(kOvl2C1);
    if (overlay2Control & kOverlayEnabled) {
        if (base.mapped) release(base);
        if (overlay1.mapped) release(overlay1);
        if (!overlay2.mapped) {
            const uint32_t control2 = reg(kOvl2C2);
            overlay2.width = (overlay2Control & kSizeMask) + 1;
            overlay2.height = ((overlay2Control >> 10) & kSizeMask) + 1;
            overlay2.bppCode = (overlay2Control >> 20) & 0xF;
            overlay2.colourFormat = (control2 >> 20) & 0x7;
            overlay2.x = control2 & kSizeMask;
            overlay2.y = (control2 >> 10) & kSizeMask;
            overlay2.plane0 = mapPlane(reg(kFdadr2), overlay2.plane0Bytes);
            if (overlay2.plane0 && overlay2.colourFormat > kYcbcrPacked) {
                overlay2.plane1 = mapPlane(reg(kFdadr3), overlay2.plane1Bytes);
                overlay2.plane2 = mapPlane(reg(kFdadr4), overlay2.plane2Bytes);
            }
            if (overlay2.plane0)
                overlay2.mapped = 1;
            else
                release(overlay2);
        }
    } else if (overlay2.mapped) {
        release(overlay2);
    }

    if (!overlay2.mapped) {
        const uint32_t overlay1Control = reg(kOvl1C1);
        if (overlay1Control & kOverlayEnabled) {
            if (base.mapped) release(base);
            if (!overlay1.mapped) {
                const uint32_t control2 = reg(kOvl1C2);
                overlay1.width = (overlay1Control & kSizeMask) + 1;
                overlay1.height = ((overlay1Control >> 10) & kSizeMask) + 1;
                overlay1.bppCode = (overlay1Control >> 20) & 0xF;
                overlay1.colourFormat = kRgb;
                overlay1.x = control2 & kSizeMask;
                overlay1.y = (control2 >> 10) & kSizeMask;
                overlay1.plane0 = mapPlane(reg(kFdadr1), overlay1.plane0Bytes);
                if (overlay1.plane0)
                    overlay1.mapped = 1;
                else
                    release(overlay1);
            }
        } else if (overlay1.mapped) {
            release(overlay1);
        }
    }

    if (!overlay2.mapped && !overlay1.mapped && !base.mapped) {
        const uint32_t lccr3 = reg(kLccr3);
        base.width = (reg(kLccr1) & kSizeMask) + 1;
        base.height = (reg(kLccr2) & kSizeMask) + 1;
        base.bppCode = ((lccr3 >> 24) & 0x7) + ((lccr3 >> 29) & 1 ? 8 : 0);
        base.colourFormat = (lccr3 >> 30) & 0x3;
        base.x = base.y = 0;
        base.plane0 = mapPlane(reg(kFdadr0), base.plane0Bytes);
        if (base.plane0 && base.width && base.height)
            base.mapped = 1;
        else
            release(base);
    }
}

bool LcdPlaneReader::takePicture(PlaneRecord& record, uint32_t planeIndex, uint32_t capacity) {
    uint8_t* out = gFrame.framePixels;
    if (!record.mapped || !out) return false;
    const uint32_t w = record.width, h = record.height;
    const uint64_t pixels = uint64_t{w} * h;
    if (pixels * 2 > capacity) return false;
    const uint8_t* src = record.plane0;
    const uint64_t pairs = pixels / 2;

    if (record.colourFormat == kRgb) {
        if (record.bppCode == kBpp16) {
            if (record.plane0Bytes < pixels * 2) return false;
            memcpy(out, src, pixels * 2);
            gFrame.frameFormat = planeIndex ? Rgb555 : Rgb565;
        } else {
            uint32_t step;
            if (record.bppCode == kBpp18 || record.bppCode == kBpp19)
                step = 4;
            else if (record.bppCode == kBpp18Packed || record.bppCode == kBpp19Packed)
                step = 3;
            else
                return false;
            if (record.plane0Bytes < pairs * 2 * step) return false;
            for (uint64_t i = 0; i < pairs; ++i, src += 2 * step) {
                const uint32_t first = src[0] | src[1] << 8 | src[2] << 16;
                const uint32_t second = src[step] | src[step + 1] << 8 | src[step + 2] << 16;
                storeWord(out + i * 4, rgb565Of(first) | rgb565Of(second) << 16);
            }
            gFrame.frameFormat = Rgb565;
        }
    } else if (record.colourFormat == kYcbcrPacked) {
        if (record.plane0Bytes < pairs * 8) return false;
        for (uint64_t i = 0; i < pairs; ++i, src += 8) {
            uint8_t* o = out + i * 4;
            o[0] = static_cast<uint8_t>((src[1] + src[5]) >> 1);
            o[1] = src[0];
            o[2] = static_cast<uint8_t>((src[2] + src[6]) >> 1);
            o[3] = src[4];
        }
        gFrame.frameFormat = Uyvy;
    } else if (record.colourFormat >= kYcbcr444 && record.colourFormat <= kYcbcr420) {
        const uint8_t* cb = record.plane1;
        const uint8_t* cr = record.plane2;
        const uint64_t rowPairs = w / 2;
        const uint64_t chroma = record.colourFormat == kYcbcr444   ? h * rowPairs * 2
                                : record.colourFormat == kYcbcr422 ? h * rowPairs
                                                                   : (h + 1) / 2 * rowPairs;
        if (!cb || !cr || record.plane0Bytes < pixels || record.plane1Bytes < chroma ||
            record.plane2Bytes < chroma)
            return false;
        const uint32_t advance = record.colourFormat == kYcbcr444 ? 2 : 1;
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* luma = src + uint64_t{y} * w;
            uint8_t* o = out + uint64_t{y} * w * 2;
            for (uint64_t i = 0; i < rowPairs; ++i, o += 4, cb += advance, cr += advance) {
                o[0] = *cb;
                o[1] = luma[2 * i];
                o[2] = *cr;
                o[3] = luma[2 * i];
            }
            if (w % 2) o[0] = 128, o[1] = 16;  // the last column of an odd width: black
            if (record.colourFormat == kYcbcr420 && y % 2 == 0) cb -= rowPairs, cr -= rowPairs;
        }
        gFrame.frameFormat = Uyvy;
    } else {
        return false;
    }
    gFrame.frameWidth = w;
    gFrame.frameHeight = h;
    return true;
}
