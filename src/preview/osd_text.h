// The text layer: fixed-cell 8 x 16 bitmap-font text drawn straight into a 16-bit picture,
// turned with the "Orientation" setting. Positions are character cells, not pixels.
//
// The font is resource bitmap 139: a one-bit bottom-up DIB, 32 pixels wide, holding 97 glyphs
// one below the other from the top of the image (glyph g stands for code 32 + g). A 0 bit is ink;
// only ink is written, so text is transparent. Codes 127 and 128 are the exit and orientation
// icons, which reach beyond their 8-pixel cell.
#pragma once

#include <cstddef>
#include <cstdint>

struct ImageBuffer;

// RGB565 colours of the screen texts.
constexpr uint16_t kOsdWhite = 0xFFFF;
constexpr uint16_t kOsdYellow = 0xFFE0;
constexpr uint16_t kOsdGreen = 0x07E0;
constexpr uint16_t kOsdBlue = 0x001F;
constexpr uint16_t kOsdRed = 0xF800;
constexpr uint16_t kOsdHighlight = 0xF99F;  // the highlighted menu line
constexpr uint16_t kOsdValue = 0xFFF0;      // menu values

// Codes of the two icons in the font.
constexpr uint8_t kExitIconCode = 127;
constexpr uint8_t kOrientationIconCode = 128;

// Bytes of every formatted screen line, terminator included.
constexpr size_t kOsdLineBytes = 100;

struct OsdText {
    uint32_t columns = 0;  // text cells across the layer
    uint32_t rows = 0;     // text cells down the layer
    uint16_t colour = kOsdWhite;
    uint32_t column = 0;  // cell of the next character
    uint32_t row = 0;
    uint32_t glyphHeight = 16;  // font height / glyph count
    uint32_t cellWidth = 8;
    int32_t pixelStep = 0;              // pixels between horizontally adjacent text pixels
    int32_t lineStep = 0;               // pixels between vertically adjacent text pixels
    uint16_t* target = nullptr;         // the layer's top-left pixel
    uint32_t layerWidth = 0;            // pixels along pixelStep: text never runs past them
    const uint8_t* fontBits = nullptr;  // the font's rows (resource data + 48), bottom row first
    uint32_t fontWidth = 0;
    uint32_t fontHeight = 0;
    int8_t firstCode = 32;
    uint32_t glyphCount = 97;
};

// The one text layer. Used by the thread that draws: the capture thread inside the preview, and
// the window thread at start-up before the camera runs.
extern OsdText gOsdText;

// Takes bitmap 139 from the program's resources (gApp.instance). A missing or malformed bitmap
// leaves no font, and text then draws nothing. Returns 1.
int loadFont();

// Records the "Orientation" (0 "Landscape L", 1 "Portrait", 2 "Landscape R", 3 "Portrait R") the
// text layer follows. The window thread calls it while the capture thread may be drawing, so it
// only publishes the value: the layer is laid out again from it by layOutText at the start of
// the next overlay.
void setTextOrientation(uint32_t orientation);
uint32_t textOrientation();

// Lays gOsdText out over `image` for the recorded orientation (W x H = the image's size):
//   "Landscape L": target first pixel of the last row, pixelStep -W, lineStep +1, H/8 x W/16
//   "Portrait":    target first pixel,                 pixelStep +1, lineStep +W, W/8 x H/16
//   "Landscape R": target last pixel of the first row, pixelStep +W, lineStep -1, H/8 x W/16
//   "Portrait R":  target last pixel,                  pixelStep -1, lineStep -W, W/8 x H/16
// (columns x rows); the cursor goes to cell (0, 0). An image without pixels gets no cells.
void layOutText(ImageBuffer& image);

// Draws `text` from (column, row) in `colour`: a leading "~" is skipped, a carriage return goes
// to the start of the next row, and the text stops at the last column or row (no wrapping).
// Returns the number of characters given to drawGlyph.
uint32_t drawText(const char* text);

// Draws glyph `code` (32 to 128; others draw nothing) with its top-left pixel at `pixel`.
void drawGlyph(uint32_t code, uint16_t* pixel);

// What the C library's snprintf(out, kOsdLineBytes, text) makes of a text used as its own format
// with no arguments: "%%" becomes "%", and the result is cut to fit with its terminator. A "%"
// that would start a conversion (which would read an argument that is not there) is copied as it
// is instead, so a text from outside (a device model) can never make the formatting misbehave.
void formatOsdLine(char (&out)[kOsdLineBytes], const char* text);
