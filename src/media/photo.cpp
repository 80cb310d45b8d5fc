// Photo files: the shutter sound, the dated name, the encoding, and the file itself, either the
// JPEG bytes in one block or a 24-bit BMP made from the raw I420 planes.
//
// BMP colour: integer BT.601 from studio-range YCbCr, 8 fractional bits, arithmetic shifts,
// every result clamped to 0..255:
//   B = Y + (((U - 128) * 453) >> 8)                      453 = 1.770 in Q8
//   G = Y + ((-(V - 128) * 183 - (U - 128) * 88) >> 8)    183 = 0.714, 88 = 0.344 in Q8
//   R = Y + (((V - 128) * 359) >> 8)                      359 = 1.402 in Q8
// Chroma is sampled at (x / 2, row / 2): one chroma pair per 2 x 2 pixels.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "core/app_state.h"
#include "core/frame.h"
#include "jpeg/jpeg_encoder.h"
#include "media/storage.h"
#include "settings/settings_table.h"

namespace {

constexpr const WCHAR* kShutterSound = u"MenuPop.wav";
constexpr const char* kPhotoNotSavedMessage = "Photo not saved";
constexpr uint32_t kPhotoNotSavedMessageMs = 2000;
constexpr int32_t kShutterOn = 1;
constexpr int32_t kPhotoFormatBmp = 0;
constexpr uint32_t kBmpHeaderBytes = 54;  // file header 14 + info header 40
constexpr uint32_t kBmpInfoBytes = 40;
constexpr int32_t kPixelsPerMetre = 3780;  // 96 dots per inch

constexpr int32_t kBlueFromU = 453;   // 1.770 in Q8
constexpr int32_t kGreenFromV = 183;  // 0.714 in Q8
constexpr int32_t kGreenFromU = 88;   // 0.344 in Q8
constexpr int32_t kRedFromV = 359;    // 1.402 in Q8
static_assert((-256 >> 8) == -1, "the colour equations rely on arithmetic right shifts");

uint8_t clampByte(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool writeAll(std::FILE* file, const void* data, size_t bytes) {
    return std::fwrite(data, 1, bytes, file) == bytes;
}

}  // namespace

bool frameFitsEncoder(const EncoderSetup& setup) {
    const uint64_t wanted = uint64_t{setup.width} * setup.scaleX * setup.height * setup.scaleY;
    const uint64_t have = uint64_t{gFrame.frameWidth} * gFrame.frameHeight;
    return wanted != 0 && wanted <= have;
}

uint32_t writeBmp(const WCHAR* path, const uint8_t* planes, uint32_t width, uint32_t height) {
    std::unique_ptr<std::FILE, FileCloser> file(_wfopen(path, u"wb"));
    if (!file) return 0;
    const uint32_t rowBytes = (width * 3 + 3) & ~3u;
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[rowBytes ? rowBytes : 1]());
    if (!row) return 0;

    uint8_t size[4], reserved[4], offset[4], info[kBmpInfoBytes] = {};
    put32(size, rowBytes * height + kBmpHeaderBytes);
    put32(reserved, 0);
    put32(offset, kBmpHeaderBytes);
    put32(info + 0, kBmpInfoBytes);
    put32(info + 4, width);
    put32(info + 8, height);  // positive: rows stored bottom-up
    put16(info + 12, 1);      // planes
    put16(info + 14, 24);     // bits per pixel
    put32(info + 16, 0);      // no compression
    put32(info + 20, rowBytes * height);
    put32(info + 24, kPixelsPerMetre);
    put32(info + 28, kPixelsPerMetre);
    // 32 colours used, 36 important colours: 0
    if (!writeAll(file.get(), "BM", 2) || !writeAll(file.get(), size, 4) ||
        !writeAll(file.get(), reserved, 4) || !writeAll(file.get(), offset, 4) ||
        !writeAll(file.get(), info, sizeof info))
        return 0;
    if (height < 1) return 1;

    // The chroma planes follow the luma plane as the frame conversion lays them out; indices
    // are kept inside them for odd sizes.
    const uint32_t chromaWidth = width / 2, chromaHeight = height / 2;
    const uint8_t* yPlane = planes;
    const uint8_t* uPlane = planes + ((width * height) & ~3u);
    const uint8_t* vPlane = uPlane + width * height / 4;
    for (uint32_t r = height; r-- > 0;) {
        const uint8_t* y = yPlane + size_t{r} * width;
        const uint32_t cy = chromaHeight ? std::min(r / 2, chromaHeight - 1) : 0;
        uint8_t* out = row.get();
        for (uint32_t x = 0; x < width; ++x) {
            int32_t u = 0, v = 0;
            if (chromaWidth) {
                const size_t c = size_t{cy} * chromaWidth + std::min(x / 2, chromaWidth - 1);
                u = uPlane[c] - 128;
                v = vPlane[c] - 128;
            }
            const int32_t luma = y[x];
            out[0] = clampByte(luma + ((u * kBlueFromU) >> 8));
            out[1] = clampByte(luma + ((-v * kGreenFromV - u * kGreenFromU) >> 8));
            out[2] = clampByte(luma + ((v * kRedFromV) >> 8));
            out += 3;
        }
        if (!writeAll(file.get(), row.get(), rowBytes)) return 0;
    }
    return std::fclose(file.release()) == 0;
}

namespace {

// A photo that could not be saved is never reported by the shutter sound alone.
uint32_t photoNotSaved() {
    setOsdMessage(kPhotoNotSavedMessage, kPhotoNotSavedMessageMs);
    return 0;
}

}  // namespace

uint32_t savePhoto(uint8_t* buffer, uint8_t* frame) {
    WCHAR* path = gApp.lastFilePath;
    EncoderSetup& setup = gEncoderSetup;
    // A frame smaller than the photo (the screen edition's overlay plane, smaller than the
    // screen) cannot be encoded at the photo's size: no shutter, a message.
    if (!path || !buffer || !frame || !frameFitsEncoder(setup)) return photoNotSaved();
    if (valueOf(setting(kSlotShutter)) == kShutterOn)
        PlaySoundW(kShutterSound, nullptr, SND_FILENAME | SND_ASYNC);
    makeFileName(path);

    const uint32_t length = encodeFrame(setup, buffer, frame, 1);
    if (length == 0) return photoNotSaved();

    const int32_t mode = valueOf(setting(kSlotCaptureMode));
    const bool photoLike = mode == kModePhoto || mode == kModeInterval;
    if (photoLike && valueOf(setting(kSlotPhotoFormat)) == kPhotoFormatBmp) {
        const bool turned = setup.rotation == 1 || setup.rotation == 3;
        return writeBmp(path, buffer, turned ? setup.height : setup.width,
                        turned ? setup.width : setup.height)
                   ? 1
                   : photoNotSaved();
    }
    std::FILE* file = _wfopen(path, u"wb");
    if (!file) return photoNotSaved();
    const bool written = writeAll(file, buffer, length);
    // A flush that fails at close loses bytes too.
    const bool closed = std::fclose(file) == 0;
    return written && closed ? 1 : photoNotSaved();
}
