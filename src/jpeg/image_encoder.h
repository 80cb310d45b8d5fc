// The contract of an external JPEG encoder library ("JPEGENC.dll"): its creation function and the
// object it makes. The object is a table of function slots reached through its first word.
#pragma once

#include <cstdint>

struct ImageEncoder;

// Slot order is fixed by the library; slot 1 is never called.
struct ImageEncoderOps {
    // Encodes the planar picture at `source` into `destination`; 0 on success, `length` = bytes.
    uint32_t (*encode)(ImageEncoder* self, const uint8_t* source, uint8_t* destination,
                       uint32_t* length);
    void* unused;
    uint32_t (*setParameter)(ImageEncoder* self, uint32_t id, const void* data, uint32_t zero);
    uint32_t (*release)(ImageEncoder* self);
};

struct ImageEncoder {
    const ImageEncoderOps* ops;
};

// The library's export "gCreateJpegImageEncoder": fills `*object` from the sixteen-word parameter
// block; returns 0 on success.
using CreateJpegImageEncoderFn = uint32_t (*)(ImageEncoder** object, const uint32_t* block,
                                              uint32_t one);

// Sixteen 32-bit words passed at creation (and, after a leading 0 word, as parameter 10).
constexpr int kEncoderParameterWords = 16;
constexpr uint32_t kEncoderParameterId = 10;
