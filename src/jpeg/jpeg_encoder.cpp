// The encoder's driver: configuration and the three paths of encodeFrame.
#include "jpeg/jpeg_encoder.h"

#include <cstddef>
#include <cstring>

#include "core/frame.h"
#include "jpeg/frame_convert.h"

CreateJpegImageEncoderFn gCreateJpegImageEncoder = nullptr;

namespace {

// The external library's parameter block words that are not the picture's own.
constexpr uint32_t kBitsPerSample = 8;
constexpr uint32_t kThumbnailWidth = 160;
constexpr uint32_t kThumbnailHeight = 120;

size_t framePixels(const EncoderSetup& setup) {
    return size_t{setup.width} * setup.scaleX * setup.height * setup.scaleY;
}

// Screen-capture layouts become Uyvy in place, as the raw and external paths need.
void convertToUyvy(uint8_t* frame, SourcePixelFormat layout, size_t pixels) {
    if (layout == Uyvy) return;
    const uint32_t bits = layout == Bgr24 ? 24 : (layout == Rgb565 ? 16 : 15);
    convertRgbToUyvy(frame, frame, static_cast<uint32_t>(pixels * 2), bits);
}

}  // namespace

uint32_t configureEncoder(EncoderSetup& setup, uint32_t width, uint32_t height, uint32_t quality,
                          uint32_t format, uint32_t scaleX, uint32_t scaleY, uint32_t rotation) {
    const bool turned = rotation == 1 || rotation == 3;
    if (format == Chroma422 && turned) format = Chroma420;
    setup.scaleX = scaleX;
    setup.scaleY = scaleY;

    if (setup.encoder != nullptr && quality >= 1) {
        setup.width = width;
        setup.height = height;
        setup.format = format;
        setup.quality = quality;
        setup.rotation = rotation;
        configureJpegEncoder(*setup.encoder, width, height, quality, format, scaleX, scaleY,
                             rotation);
        return 1;
    }

    const uint32_t effective = quality != 0 ? format : static_cast<uint32_t>(Chroma420);
    const bool unchanged = width == setup.width && height == setup.height &&
                           effective == setup.format && quality == setup.quality &&
                           rotation == setup.rotation;
    // Unchanged settings keep the external object; without one (an earlier creation failed) the
    // creation is tried again rather than reporting a success that encodeFrame cannot honour.
    if (unchanged && (quality == 0 || setup.externalEncoder != nullptr)) return 1;
    setup.width = width;
    setup.height = height;
    setup.format = effective;
    setup.quality = quality;
    setup.rotation = rotation;
    if (quality == 0) return 1;

    if (gCreateJpegImageEncoder == nullptr) return 0;
    releaseExternalEncoder(setup);
    uint32_t parameters[1 + kEncoderParameterWords] = {
        0,  // parameter 10 is the block behind a leading 0 word
        turned ? height : width,
        turned ? width : height,
        kBitsPerSample,
        effective,
        quality,
        1,
        0,
        0,
        1,
        kThumbnailWidth,
        kThumbnailHeight,
        0,
        0,
        0,
        0,
        1,
    };
    const uint32_t* block = parameters + 1;
    ImageEncoder* object = nullptr;
    if (gCreateJpegImageEncoder(&object, block, 1) != 0 || object == nullptr ||
        object->ops == nullptr) {
        return 0;
    }
    setup.externalEncoder = object;
    object->ops->setParameter(object, kEncoderParameterId, parameters, 0);
    return 1;
}

uint32_t encodeFrame(EncoderSetup& setup, uint8_t* output, uint8_t* source, uint32_t forceHeaders) {
    if (gFrame.frameFormat > Uyvy) return 0;
    const auto layout = static_cast<SourcePixelFormat>(gFrame.frameFormat);
    const size_t pixels = framePixels(setup);
    const size_t frameBytes = pixels * bytesPerPixel(layout);

    if (setup.quality == 0) {
        convertToUyvy(source, layout, pixels);
        return convertFrameToPlanes(output, source, setup.width, setup.height, setup.scaleX,
                                    setup.format, setup.rotation);
    }
    if (setup.encoder != nullptr) {
        return encodeImage(*setup.encoder, output, source, forceHeaders, layout, frameBytes);
    }
    ImageEncoder* object = setup.externalEncoder;
    if (object == nullptr) return 0;

    convertToUyvy(source, layout, pixels);
    if (convertFrameToPlanes(output, source, setup.width, setup.height, setup.scaleX, setup.format,
                             setup.rotation) == 0) {
        return 0;
    }
    uint32_t length = 0;
    if (object->ops->encode(object, output, source, &length) != 0 || length == 0) return 0;
    // The library writes into the source frame; more than the frame holds is a failure, and the
    // output is only known to hold as much as the frame.
    if (length > frameBytes) return 0;
    std::memcpy(output, source, length);
    return length;
}

void releaseExternalEncoder(EncoderSetup& setup) {
    if (setup.externalEncoder == nullptr) return;
    setup.externalEncoder->ops->release(setup.externalEncoder);
    setup.externalEncoder = nullptr;
}
