// The preview loop and the overlay until they land: frames are not drawn.
#include "app/app_state.h"
#include "preview/overlay.h"
#include "preview/preview_loop.h"

void onFrame(uint8_t*, uint32_t, uint32_t*) {}
DWORD intervalThreadMain(LPVOID) {
    return 0;
}
int loadFont() {
    return 1;
}
void setTextOrientation(uint32_t) {}
int drawOverlay(ImageBuffer&) {
    return 1;
}
