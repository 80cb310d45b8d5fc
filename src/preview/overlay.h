// What is drawn over the preview: the bitmap-font text layer and the per-frame overlay.
#pragma once

#include <cstdint>

struct ImageBuffer;
struct MenuPage;

// Takes bitmap 139 from the program's resources as the text font. Returns 1.
int loadFont();
// Places the text layer for an "Orientation" value (0 to 3) and resets the text cursor.
void setTextOrientation(uint32_t orientation);
// The per-frame overlay: status line, icons, About screen, indicators and the menu. Returns 1.
int drawOverlay(ImageBuffer& image);
