// "JPEGENC.dll": the simulated handheld's external JPEG encoder library, over libjpeg-turbo's
// TurboJPEG API. It exports gCreateJpegImageEncoder and makes objects with the slots of
// jpeg/image_encoder.h. It encodes the planar pictures the application's convertFrameToPlanes
// makes: I420 for 4:2:0, planar 4:2:2, or the luma plane alone for grey.
//
// The sixteen parameter words (at creation, and as parameter 10 behind a leading 0 word):
//   0  output width in pixels (after rotation; the planes are already turned)
//   1  output height in lines
//   2  bits per sample: must be 8
//   3  chroma format of the planes: 1 = 4:2:0 (I420), 2 = planar 4:2:2, 4 = grey (Y only)
//   4  quality 1..100 (the IJG scale libjpeg-turbo uses)
//   5  input is planar: must be 1
//   6  crop origin x, 7 crop origin y: must be 0 (no cropping)
//   8  pictures per encode call: must be 1
//   9  thumbnail width, 10 thumbnail height: accepted; no thumbnail is written
//   11..14 reserved (ignored)
//   15 write complete JFIF headers: must be 1
// Planes are packed: Y is width x height bytes; Cb starts after it (the Y length rounded down
// to a multiple of 4) and Cr after Cb. 4:2:0 and 4:2:2 need an even width (4:2:0 also an even
// height).
//
// Results: 0 success; 1 a parameter the library cannot honour; 2 out of memory; 3 encoding
// failed; 4 the picture does not fit the destination. encode's destination must hold
// width x height x 2 bytes (the packed frame the planes came from); a larger result is refused.
#include <turbojpeg.h>

#include <cstring>
#include <new>

#include "jpeg/image_encoder.h"

namespace {

constexpr uint32_t kOk = 0, kBadParameter = 1, kNoMemory = 2, kEncodeFailed = 3, kTooLarge = 4;

struct Parameters {
    uint32_t width, height, format, quality;
};

struct JpegEncObject {
    ImageEncoder base;  // first: the application sees only this
    Parameters parameters;
    tjhandle compressor;
    unsigned char* buffer;  // TurboJPEG's worst-case output for the size, made once per setup
    unsigned long bufferSize;
};

bool readParameters(const uint32_t* words, Parameters& out) {
    const uint32_t width = words[0], height = words[1], format = words[3], quality = words[4];
    if (width == 0 || height == 0 || width > 65500 || height > 65500) return false;
    if (words[2] != 8 || words[5] != 1 || words[6] != 0 || words[7] != 0 || words[8] != 1 ||
        words[15] != 1) {
        return false;
    }
    if (quality < 1 || quality > 100) return false;
    if (format == 1 && (width % 2 != 0 || height % 2 != 0)) return false;
    if (format == 2 && width % 2 != 0) return false;
    if (format != 1 && format != 2 && format != 4) return false;
    out = {width, height, format, quality};
    return true;
}

int subsamplingOf(uint32_t format) {
    return format == 1 ? TJSAMP_420 : (format == 2 ? TJSAMP_422 : TJSAMP_GRAY);
}

// Makes the output buffer fit the parameters; false when memory is short.
bool prepare(JpegEncObject& o, const Parameters& p) {
    const unsigned long size =
        tjBufSize(static_cast<int>(p.width), static_cast<int>(p.height), subsamplingOf(p.format));
    if (size == static_cast<unsigned long>(-1)) return false;
    if (o.buffer == nullptr || o.bufferSize < size) {
        unsigned char* bigger = tjAlloc(static_cast<int>(size));
        if (bigger == nullptr) return false;
        tjFree(o.buffer);
        o.buffer = bigger;
        o.bufferSize = size;
    }
    o.parameters = p;
    return true;
}

uint32_t encode(ImageEncoder* self, const uint8_t* source, uint8_t* destination, uint32_t* length) {
    auto& o = *reinterpret_cast<JpegEncObject*>(self);
    const Parameters& p = o.parameters;
    const size_t lumaSize = (size_t{p.width} * p.height) & ~size_t{3};
    const size_t chromaSize =
        p.format == 1 ? size_t{p.width / 2} * (p.height / 2) : size_t{p.width / 2} * p.height;
    const unsigned char* planes[3] = {source, source + lumaSize, source + lumaSize + chromaSize};
    unsigned char* out = o.buffer;
    unsigned long size = o.bufferSize;
    if (tjCompressFromYUVPlanes(o.compressor, planes, static_cast<int>(p.width), nullptr,
                                static_cast<int>(p.height), subsamplingOf(p.format), &out, &size,
                                static_cast<int>(p.quality), TJFLAG_NOREALLOC) != 0) {
        *length = 0;
        return kEncodeFailed;
    }
    if (size > size_t{p.width} * p.height * 2) {
        *length = 0;
        return kTooLarge;
    }
    std::memcpy(destination, out, size);
    *length = static_cast<uint32_t>(size);
    return kOk;
}

uint32_t setParameter(ImageEncoder* self, uint32_t id, const void* data, uint32_t) {
    auto& o = *reinterpret_cast<JpegEncObject*>(self);
    if (id != kEncoderParameterId || data == nullptr) return kBadParameter;
    const uint32_t* words = static_cast<const uint32_t*>(data);
    if (words[0] != 0) return kBadParameter;
    Parameters p;
    if (!readParameters(words + 1, p)) return kBadParameter;
    return prepare(o, p) ? kOk : kNoMemory;
}

uint32_t release(ImageEncoder* self) {
    auto* o = reinterpret_cast<JpegEncObject*>(self);
    tjFree(o->buffer);
    tjDestroy(o->compressor);
    delete o;
    return kOk;
}

const ImageEncoderOps kOps = {
    .encode = encode,
    .unused = nullptr,
    .setParameter = setParameter,
    .release = release,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t gCreateJpegImageEncoder(
    ImageEncoder** object, const uint32_t* block, uint32_t one) {
    if (object == nullptr) return kBadParameter;
    *object = nullptr;
    Parameters p;
    if (block == nullptr || one != 1 || !readParameters(block, p)) return kBadParameter;
    auto* o = new (std::nothrow) JpegEncObject{{&kOps}, p, tjInitCompress(), nullptr, 0};
    if (o == nullptr) return kNoMemory;
    if (o->compressor == nullptr || !prepare(*o, p)) {
        release(&o->base);
        return kNoMemory;
    }
    *object = &o->base;
    return kOk;
}
