// The per-frame preview and the copy to the display.
#include "preview/preview_loop.h"

#include <cstring>

#include "app/app_state.h"
#include "camera/device_info.h"

std::atomic<uint32_t> previewMode{Live};
std::atomic<uint32_t> frameStartTick{0};
std::atomic<uint32_t> frameWorkMillis{0};
std::atomic<uint32_t> frameCaptureMode{0};

void presentScreen(const ImageBuffer* image) {
    if (!gApp.fullScreen.load()) return;
    if (image && !image->pixels) return;  // the screen picture could not be allocated
    DisplayDescription& display = gDeviceInfo.display;
    // On a 16-bit display the address kept from the first copy is written directly; only that
    // first copy is bracketed by GXBeginDraw and GXEndDraw.
    bool bracketed = false;
    void* target = display.pFramePointer;
    if (display.wBPP != 16 || !target) {
        target = GXBeginDraw();
        if (!target) return;
        bracketed = true;
        if (!display.pFramePointer) display.pFramePointer = target;
    }
    size_t bytes = static_cast<size_t>(display.cxPixels) * display.cyPixels * 2;
    if (image)
        std::memcpy(target, image->pixels, std::min<size_t>(bytes, image->header.biSizeImage));
    else
        std::memset(target, 0, bytes);
    if (bracketed) GXEndDraw();
}
