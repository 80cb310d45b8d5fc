#include "frontend/png.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/device.h"

bool writePng565(const std::string& path, const uint16_t* pixels, int width, int height,
                 std::string& error) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        error = path + ": cannot write: " + strerror(errno);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(file);
        error = path + ": PNG encoding failed";
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint16_t p = pixels[y * width + x];
            // Each field widened to 8 bits with its top bits repeated below, so white stays 255.
            int r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
            row[x * 3] = static_cast<png_byte>((r << 3) | (r >> 2));
            row[x * 3 + 1] = static_cast<png_byte>((g << 2) | (g >> 4));
            row[x * 3 + 2] = static_cast<png_byte>((b << 3) | (b >> 2));
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (fclose(file) != 0) {
        error = path + ": cannot write: " + strerror(errno);
        return false;
    }
    return true;
}

namespace {
// The display hardware reads the memory while the program writes it; a screenshot may mix two
// frames, as a camera pointed at the screen would see.
__attribute__((no_sanitize("thread"))) void copyDisplay(uint16_t* out, const uint8_t* display,
                                                        size_t bytes) {
    for (size_t i = 0; i < bytes / 2; ++i)
        out[i] = static_cast<uint16_t>(display[2 * i] | (display[2 * i + 1] << 8));
}
}  // namespace

std::vector<uint16_t> displayPixels() {
    const DeviceIdentity& id = device().identity();
    std::vector<uint16_t> copy(static_cast<size_t>(id.displayWidth) * id.displayHeight);
    copyDisplay(copy.data(), device().displayMemory(), copy.size() * 2);
    return copy;
}

bool writeDisplayPng(const std::string& path, std::string& error) {
    const DeviceIdentity& id = device().identity();
    const std::vector<uint16_t> copy = displayPixels();
    return writePng565(path, copy.data(), id.displayWidth, id.displayHeight, error);
}
