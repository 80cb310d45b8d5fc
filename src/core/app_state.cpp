#include "core/app_state.h"

#include <cstdlib>

#include "core/preview_state.h"

void ensureImage(ImageBuffer& image, int32_t width, int32_t height) {
    uint64_t pixels = width > 0 && height > 0 ? uint64_t(uint32_t(width)) * uint32_t(height) : 0;
    uint64_t size64 = pixels * 2;
    uint32_t size = size64 > 0xFFFFFFE0u ? 0 : static_cast<uint32_t>(size64);
    if (size != image.header.biSizeImage || image.borrowed) {
        if (!image.borrowed) std::free(image.raw);
        image.raw = nullptr;
        image.pixels = nullptr;
        if (size) {
            image.raw = static_cast<uint8_t*>(std::malloc(size + 31));
            if (image.raw)
                image.pixels = reinterpret_cast<uint8_t*>(
                    (reinterpret_cast<uintptr_t>(image.raw) + 31) & ~uintptr_t{31});
        }
    }
    image.header.biSizeImage = size;
    image.borrowed = 0;
    image.header.biWidth = width;
    image.header.biHeight = height;
}

void releaseImage(ImageBuffer& image) {
    if (!image.borrowed) std::free(image.raw);
    image.raw = nullptr;
    image.pixels = nullptr;
    image.header.biSizeImage = 0;
    image.header.biWidth = 0;
    image.header.biHeight = 0;
    image.borrowed = 0;
}

ImageBuffer::~ImageBuffer() {
    releaseImage(*this);
}

void setOsdMessage(const char* text, uint32_t duration) {
    // Start and duration are written before the text, which the overlay reads first.
    gApp.osdMessageStart.store(frameStartTick.load(std::memory_order_relaxed),
                               std::memory_order_relaxed);
    gApp.osdMessageDuration.store(duration, std::memory_order_relaxed);
    gApp.osdMessage.store(text, std::memory_order_release);
}
