// The committed overlay font, bitmap resource 139: exact header fields, palette, size and where
// the glyphs put their ink.
#include "preview_test_support.h"

namespace {

using preview_test::FontFile;

// Glyph `code` has ink, and only in columns first to last.
void expectInkOnlyWithin(const FontFile& font, int code, int first, int last) {
    bool any = false;
    for (int r = 0; r < 16; ++r)
        for (int x = 0; x < 32; ++x) {
            EXPECT_TRUE(!font.ink(code, x, r) || (x >= first && x <= last)) << code << ": " << x;
            any = any || font.ink(code, x, r);
        }
    EXPECT_TRUE(any) << "code " << code << " has no ink";
}

TEST(FontBitmap, FileAndResourceHeaders) {
    const FontFile font;
    ASSERT_TRUE(font.loaded()) << "14 + 48 header bytes and 1552 rows of 4 bytes";
    const std::vector<uint8_t>& b = font.bytes();
    auto u32 = [&](size_t at) {
        return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
    };
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    const std::pair<size_t, uint32_t> fields[] = {
        {2, 14 + 48 + 1552 * 4},  // file size
        {10, 14 + 48},            // offset of the rows
        {14, 40},                 // biSize
        {18, 32},                 // biWidth
        {22, 1552},               // biHeight > 0: bottom-up
        {26, 1 | 1 << 16},        // biPlanes 1, biBitCount 1
        {30, 0},                  // BI_RGB
        {34, 1552 * 4},           // biSizeImage
        {54, 0x00000000},         // palette entry 0: black
        {58, 0x00FFFFFF},         // palette entry 1: white
    };
    for (const auto& [at, value] : fields) EXPECT_EQ(u32(at), value) << "offset " << at;
}

TEST(FontBitmap, GlyphsStayInTheirColumnsAndStandUpright) {
    const FontFile font;
    ASSERT_TRUE(font.loaded());
    for (int code = 33; code <= 126; ++code) expectInkOnlyWithin(font, code, 0, 7);
    for (int r = 0; r < 16; ++r)
        for (int x = 0; x < 32; ++x) EXPECT_FALSE(font.ink(' ', x, r));
    expectInkOnlyWithin(font, 127, 7, 20);  // exit icon
    expectInkOnlyWithin(font, 128, 1, 20);  // orientation icon
    // "A": the apex (first ink row) is narrower than the legs (last ink row), with a bar of ink
    // across in between. A glyph stored upside down shows the reverse.
    std::vector<int> spans, counts;
    for (int r = 0; r < 16; ++r) {
        int left = 8, right = -1, count = 0;
        for (int x = 0; x < 8; ++x)
            if (font.ink('A', x, r)) left = std::min(left, x), right = std::max(right, x), ++count;
        if (count) spans.push_back(right - left + 1), counts.push_back(count);
    }
    ASSERT_FALSE(spans.empty());
    EXPECT_LT(spans.front(), spans.back());
    EXPECT_GE(*std::max_element(counts.begin(), counts.end()), 5);  // the bar
}

}  // namespace
