// The text layer: font loading, layout per orientation, text and glyph drawing.
//
// A glyph row is the first 32-bit word of its bitmap row. Its bytes run left to right with the
// leftmost pixel in the top bit of the first byte, so the word is read big-endian (leftmost pixel
// in bit 31) and inverted (ink, stored as 0, becomes 1). The row is then drawn by shifting that
// word left until no ink remains, writing `colour` where the top bit is set and stepping
// `pixelStep` per bit; the next glyph row starts `lineStep` further.
#include "preview/osd_text.h"

#include <atomic>
#include <cstring>

#include "core/app_state.h"
#include "core/resource_ids.h"
#include "platform/windows.h"

namespace {

// The resource data: a BITMAPINFOHEADER (40 bytes) and the two palette entries (8 bytes).
constexpr size_t kFontHeaderBytes = 48;
constexpr int32_t kFontGlyphs = 97;
constexpr int8_t kFontFirstCode = 32;
constexpr uint32_t kFontCellWidth = 8;
constexpr uint32_t kFontCellHeight = 16;  // text rows are this many pixels apart
constexpr uint32_t kLastDrawnCode = kOrientationIconCode;
static_assert(kFontFirstCode + kFontGlyphs - 1 == kLastDrawnCode);

constexpr uint32_t kPortrait = 1;
std::atomic<uint32_t> recordedOrientation{kPortrait};

int32_t readI32(const uint8_t* at) {
    int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Bytes per bitmap row: DIB rows are padded to whole 32-bit words.
uint32_t fontRowBytes(const OsdText& t) {
    return (t.fontWidth + 31) / 32 * 4;
}

// Draws the glyph with at most `widthLimit` pixels of each row (the rest of the layer's row).
void paintGlyph(const OsdText& t, uint32_t code, uint16_t* pixel, uint32_t widthLimit) {
    if (!t.fontBits || !pixel) return;
    const uint32_t first = static_cast<uint32_t>(t.firstCode);
    if (code < first || code > kLastDrawnCode || code - first >= t.glyphCount) return;
    const uint32_t clip = widthLimit >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> widthLimit);
    const uint32_t rowBytes = fontRowBytes(t);
    const uint32_t topRow = t.glyphHeight * (code - first);
    // A taller font still gets only one cell's height, so a glyph never leaves its text row.
    const uint32_t height = t.glyphHeight < kFontCellHeight ? t.glyphHeight : kFontCellHeight;
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* bytes = t.fontBits + size_t{t.fontHeight - 1 - (topRow + r)} * rowBytes;
        uint32_t bits = ~(uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 |
                          uint32_t{bytes[2]} << 8 | bytes[3]) &
                        clip;
        ptrdiff_t at = ptrdiff_t{t.lineStep} * r;
        for (; bits; bits <<= 1, at += t.pixelStep)
            if (bits & 0x80000000u) pixel[at] = t.colour;
    }
}

}  // namespace

int loadFont() {
    OsdText& t = gOsdText;
    t.fontBits = nullptr;
    t.fontWidth = 0;
    t.fontHeight = 0;
    t.firstCode = kFontFirstCode;
    t.glyphCount = kFontGlyphs;
    t.cellWidth = kFontCellWidth;
    t.glyphHeight = 0;
    HRSRC found = FindResourceW(gApp.instance, MAKEINTRESOURCEW(kBitmapFont), RT_BITMAP);
    HGLOBAL loaded = found ? LoadResource(gApp.instance, found) : nullptr;
    const auto* data = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = found ? SizeofResource(gApp.instance, found) : 0;
    if (!data || size < kFontHeaderBytes) return 1;
    const int32_t width = readI32(data + 4);   // biWidth
    const int32_t height = readI32(data + 8);  // biHeight, positive: rows stored bottom-up
    if (width < 32 || height < kFontGlyphs) return 1;
    t.fontWidth = static_cast<uint32_t>(width);
    t.fontHeight = static_cast<uint32_t>(height);
    // Every row the glyphs reach must lie inside the resource.
    if (kFontHeaderBytes + uint64_t{fontRowBytes(t)} * t.fontHeight > size) {
        t.fontWidth = t.fontHeight = 0;
        return 1;
    }
    t.fontBits = data + kFontHeaderBytes;
    t.glyphHeight = t.fontHeight / t.glyphCount;
    return 1;
}

void setTextOrientation(uint32_t orientation) {
    recordedOrientation.store(orientation & 3, std::memory_order_relaxed);
}

uint32_t textOrientation() {
    return recordedOrientation.load(std::memory_order_relaxed);
}

void layOutText(ImageBuffer& image) {
    OsdText& t = gOsdText;
    t.column = 0;
    t.row = 0;
    const int32_t w = image.header.biWidth;
    const int32_t h = image.header.biHeight;
    auto* first = reinterpret_cast<uint16_t*>(image.pixels);
    if (!first || w <= 0 || h <= 0) {
        t.target = nullptr;
        t.columns = t.rows = t.layerWidth = 0;
        return;
    }
    const uint32_t uw = static_cast<uint32_t>(w);
    const uint32_t uh = static_cast<uint32_t>(h);
    const ptrdiff_t pixels = ptrdiff_t{w} * h;
    switch (textOrientation()) {
        case 0:  // "Landscape L": text runs up the screen
            t.target = first + (pixels - w);
            t.pixelStep = -w;
            t.lineStep = 1;
            t.layerWidth = uh;
            break;
        case 1:  // "Portrait"
            t.target = first;
            t.pixelStep = 1;
            t.lineStep = w;
            t.layerWidth = uw;
            break;
        case 2:  // "Landscape R": text runs down the screen
            t.target = first + (w - 1);
            t.pixelStep = w;
            t.lineStep = -1;
            t.layerWidth = uh;
            break;
        default:  // "Portrait R": upside down
            t.target = first + (pixels - 1);
            t.pixelStep = -1;
            t.lineStep = -w;
            t.layerWidth = uw;
            break;
    }
    const uint32_t layerHeight = t.layerWidth == uw ? uh : uw;
    t.columns = t.layerWidth / kFontCellWidth;
    t.rows = layerHeight / kFontCellHeight;
}

uint32_t drawText(const char* text) {
    OsdText& t = gOsdText;
    if (!text) return 0;
    if (*text == '~') ++text;
    uint32_t drawn = 0;
    for (; *text; ++text) {
        if (t.row >= t.rows || t.column >= t.columns) break;
        const auto code = static_cast<uint8_t>(*text);
        if (code == '\r') {
            ++t.row;
            t.column = 0;
            continue;
        }
        uint16_t* pixel = t.target + ptrdiff_t{t.row} * kFontCellHeight * t.lineStep +
                          ptrdiff_t{t.column} * kFontCellWidth * t.pixelStep;
        paintGlyph(t, code, pixel, t.layerWidth - t.column * kFontCellWidth);
        ++t.column;
        ++drawn;
    }
    return drawn;
}

void drawGlyph(uint32_t code, uint16_t* pixel) {
    paintGlyph(gOsdText, code, pixel, 32);
}

void formatOsdLine(char (&out)[kOsdLineBytes], const char* text) {
    size_t n = 0;
    for (const char* s = text ? text : ""; *s && n + 1 < kOsdLineBytes; ++s) {
        if (s[0] == '%' && s[1] == '%') ++s;
        out[n++] = *s;
    }
    out[n] = 0;
}
