// The committed overlay font, bitmap resource 139: exact header fields, palette, size and where
// the glyphs put their ink.
#include "preview_test_support.h"

namespace {

using preview_test::FontFile;

TEST(FontBitmap, FileAndResourceHeaders) {
    const FontFile font;
    ASSERT_TRUE(font.loaded()) << "14 + 48 header bytes and 1552 rows of 4 bytes";
    const std::vector<uint8_t>& b = font.bytes;
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

// Every printable glyph inks only its own 8 columns, the icons only theirs, the space nothing, and
// "_" and "^" only the bottom and the top of their rows, which a glyph stored upside down would
// reverse.
TEST(FontBitmap, GlyphsStayInTheirBoxesAndStandUpright) {
    const FontFile font;
    ASSERT_TRUE(font.loaded());
    struct Box {
        int code, left, right, top, bottom;
    };
    std::vector<Box> boxes = {{'_', 0, 7, 12, 15},
                              {'^', 0, 7, 0, 7},
                              {127, 7, 20, 0, 15},
                              {128, 1, 20, 0, 15},
                              {' ', 0, -1, 0, -1}};
    for (int code = 33; code <= 126; ++code) boxes.push_back({code, 0, 7, 0, 15});
    for (const Box& box : boxes) {
        int inked = 0;
        for (int r = 0; r < 16; ++r)
            for (int x = 0; x < 32; ++x)
                if (font.ink(box.code, x, r)) {
                    ++inked;
                    EXPECT_TRUE(x >= box.left && x <= box.right && r >= box.top && r <= box.bottom)
                        << box.code << " at " << x << "," << r;
                }
        EXPECT_EQ(inked > 0, box.right >= 0) << "code " << box.code;
    }
}

}  // namespace
