// What is drawn over the preview: the status line, the touch icons, the About screen, the
// recording, interval and webcam indicators, and the menu page while the menu is shown. The text
// layer itself (font, orientation, drawText) is osd_text.h.
#pragma once

#include <cstdint>

#include "preview/osd_text.h"

struct ImageBuffer;
struct MenuPage;

// The texts of the About screen.
constexpr const char* kProductTitle = "Quorvale Lumovatrix";
constexpr const char* kSnapperTitle = "Quorvale Lumosnapper";
constexpr const char* kProductVersion = "Version 1.13";
constexpr const char* kSnapperVersion = "Version 1.0";
constexpr const char* kMakerAddress = "www.quorvale.com/lumovatrix";

// Blinking texts alternate when more than this many ms have passed since the last toggle.
constexpr uint32_t kBlinkMs = 500;

// The blink state, touched only by the thread that draws the overlay.
struct OverlayState {
    uint8_t blinkOn = 0;
    uint32_t lastBlinkToggle = 0;  // ms of the tick counter
};
extern OverlayState gOverlayState;

// The per-frame overlay over `image` (the screen picture), with "now" = frameStartTick. Lays the
// text layer out for the current orientation first. Clears an expired on-screen message.
// Returns 1.
int drawOverlay(ImageBuffer& image);

// Draws the menu page: while a value is edited, the item's label and its value list (scrolled so
// that the current value is on screen); otherwise the title and the items with their values.
// `image` is not otherwise used: the text goes where the text layer was laid out.
void drawMenuPage(MenuPage& page, ImageBuffer& image);
