// The committed overlay font, bitmap resource 139: exact header fields, palette, size and where
// the glyphs put their ink.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

constexpr int kWidth = 32;
constexpr int kHeight = 1552;
constexpr int kRowBytes = 4;
constexpr int kFileHeader = 14;
constexpr int kResourceHeader = 48;  // BITMAPINFOHEADER + 2 palette entries

std::vector<uint8_t> readFont() {
    std::ifstream in(LUMO_FONT_BITMAP, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t u32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t u16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

// Ink (a 0 bit) at pixel (x, image row y counted from the top).
bool ink(const std::vector<uint8_t>& font, int x, int y) {
    const size_t row = kFileHeader + kResourceHeader + size_t{kRowBytes} * (kHeight - 1 - y);
    return (font[row + x / 8] & (0x80 >> (x % 8))) == 0;
}

// Columns with ink anywhere in the glyph of `code`.
std::vector<bool> inkColumns(const std::vector<uint8_t>& font, int code) {
    std::vector<bool> columns(kWidth, false);
    for (int r = 0; r < 16; ++r)
        for (int x = 0; x < kWidth; ++x)
            if (ink(font, x, 16 * (code - 32) + r)) columns[x] = true;
    return columns;
}

void expectInkOnlyWithin(const std::vector<uint8_t>& font, int code, int first, int last) {
    const std::vector<bool> columns = inkColumns(font, code);
    bool any = false;
    for (int x = 0; x < kWidth; ++x) {
        if (x < first || x > last) {
            EXPECT_FALSE(columns[x]) << "code " << code << " column " << x;
        }
        any = any || columns[x];
    }
    EXPECT_TRUE(any) << "code " << code << " has no ink";
}

}  // namespace

TEST(FontBitmap, FileAndResourceHeaders) {
    const std::vector<uint8_t> font = readFont();
    ASSERT_EQ(font.size(), size_t{kFileHeader + kResourceHeader + kHeight * kRowBytes});
    EXPECT_EQ(font[0], 'B');
    EXPECT_EQ(font[1], 'M');
    EXPECT_EQ(u32(font, 2), font.size());
    EXPECT_EQ(u32(font, 10), uint32_t{kFileHeader + kResourceHeader});  // offset of the rows
    const size_t info = kFileHeader;
    EXPECT_EQ(u32(font, info + 0), 40u);                             // biSize
    EXPECT_EQ(u32(font, info + 4), uint32_t{kWidth});                // biWidth
    EXPECT_EQ(u32(font, info + 8), uint32_t{kHeight});               // biHeight > 0: bottom-up
    EXPECT_EQ(u16(font, info + 12), 1);                              // biPlanes
    EXPECT_EQ(u16(font, info + 14), 1);                              // biBitCount
    EXPECT_EQ(u32(font, info + 16), 0u);                             // BI_RGB
    EXPECT_EQ(u32(font, info + 20), uint32_t{kHeight * kRowBytes});  // biSizeImage
    // Palette: entry 0 black, entry 1 white.
    const size_t palette = info + 40;
    EXPECT_EQ(u32(font, palette), 0x00000000u);
    EXPECT_EQ(u32(font, palette + 4), 0x00FFFFFFu);
}

TEST(FontBitmap, GlyphsStayInTheirColumns) {
    const std::vector<uint8_t> font = readFont();
    ASSERT_EQ(font.size(), size_t{kFileHeader + kResourceHeader + kHeight * kRowBytes});
    for (int code = 33; code <= 126; ++code) expectInkOnlyWithin(font, code, 0, 7);
    EXPECT_EQ(inkColumns(font, ' '), std::vector<bool>(kWidth, false));
    expectInkOnlyWithin(font, 127, 7, 20);  // exit icon
    expectInkOnlyWithin(font, 128, 1, 20);  // orientation icon
}

TEST(FontBitmap, GlyphAIsAnA) {
    const std::vector<uint8_t> font = readFont();
    ASSERT_EQ(font.size(), size_t{kFileHeader + kResourceHeader + kHeight * kRowBytes});
    // Upright: the apex (first ink row) is narrow, the legs (last ink row) spread wide, and a
    // bar of ink runs across in between. A glyph stored upside down shows the reverse.
    const int top = 16 * ('A' - 32);
    int first = -1, last = -1, widest = 0;
    auto span = [&](int r) {
        int left = 8, right = -1;
        for (int x = 0; x < 8; ++x)
            if (ink(font, x, top + r)) left = std::min(left, x), right = std::max(right, x);
        return right < 0 ? 0 : right - left + 1;
    };
    for (int r = 0; r < 16; ++r) {
        int count = 0;
        for (int x = 0; x < 8; ++x) count += ink(font, x, top + r);
        if (count == 0) continue;
        if (first < 0) first = r;
        last = r;
        widest = std::max(widest, count);
    }
    ASSERT_GE(first, 0);
    EXPECT_LT(span(first), span(last));
    EXPECT_GE(widest, 5);  // the bar
}
