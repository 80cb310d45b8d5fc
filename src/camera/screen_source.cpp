// The source that needs no camera. In the screen-capture edition it captures the device's own
// screen: on PXA27x devices from the topmost plane of the LCD controller that is on, elsewhere
// (or when no plane can be read) from the display's frame buffer. In the camera edition, used
// when no camera is known, it produces colour bars. Its capture thread makes a picture at the
// pace of the "Max FPS" setting and hands it to the frame handler like any camera.
//
// The frame buffer holds 614,400 bytes (a 640 x 480 display at 16 bits per pixel), or the
// display's size when that is larger; a start whose crop needs more, or a plane that would not
// fit, is refused rather than copied past its end.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "camera/camera_backend.h"
#include "camera/capture_thread.h"
#include "camera/device_info.h"
#include "camera/lcd_plane_reader.h"
#include "core/app_state.h"
#include "core/frame.h"

namespace {

constexpr uint32_t kFrameBufferBytes = 614400;  // 640 x 480 x 2
constexpr int32_t kSleepHorizonMs = 2048;       // a due time further ahead is not waited for
constexpr DWORD kPauseCheckMs = 10;             // the pacing sleep looks for a stop this often
// The frame period while the "Max FPS" setting gives none (its list not built yet): its default,
// "25".
constexpr uint32_t kFallbackFramePeriodMs = 40;

// Colour bars in packed 4:2:2 levels (U, Y, V): white, yellow, cyan, green, magenta, red, blue,
// black.
struct BarColour {
    uint8_t u, y, v;
};
constexpr BarColour kColourBars[8] = {
    {128, 235, 128}, {16, 211, 146}, {166, 170, 16}, {54, 145, 34},
    {202, 106, 222}, {90, 81, 240},  {240, 41, 109}, {128, 16, 128},
};

struct ScreenSource {
    std::atomic<uint32_t> frameBytes{0};
    std::atomic<CaptureThread*> control{nullptr};  // quit, pause and the three events
    std::atomic<uint32_t> cropHeight{0}, cropWidth{0};
    std::atomic<FrameHandler> frameHandler{nullptr};
    std::atomic<uint8_t*> frameBuffer{nullptr};
    std::atomic<uint32_t> frameBufferBytes{0};
    std::atomic<uint32_t> nextDueMs{0};
    std::atomic<uint8_t> streaming{0};
    std::atomic<uint8_t> opened{0};
};
ScreenSource screen;

// Waits until the next picture is due, looking for a stop meanwhile; false when the thread is to
// leave its frame loop.
bool pace(const CaptureThread& thread) {
    int32_t (*const framePeriod)() = screenFramePeriod.load(std::memory_order_relaxed);
    int32_t period = framePeriod ? framePeriod() : 0;
    if (period <= 0) period = kFallbackFramePeriodMs;
    const uint32_t due = screen.nextDueMs.load() + static_cast<uint32_t>(period);
    int32_t ahead = static_cast<int32_t>(due - GetTickCount());
    if (ahead > 0 && ahead < kSleepHorizonMs) {
        while (ahead > 0) {
            if (!keepCapturing(thread)) return false;
            Sleep(std::min<DWORD>(static_cast<DWORD>(ahead), kPauseCheckMs));
            ahead = static_cast<int32_t>(due - GetTickCount());
        }
    }
    screen.nextDueMs.store(GetTickCount());
    return true;
}

// The display's frame buffer, at the crop size, as RGB565; a display smaller than the crop
// leaves the rest black.
void copyFrameBuffer(uint8_t* buffer, uint32_t capacity, uint32_t cropWidth, uint32_t cropHeight) {
    const DisplayDescription& display = gDeviceInfo.display;
    gFrame.frameFormat = Rgb565;
    gFrame.frameWidth = cropWidth;
    gFrame.frameHeight = cropHeight;
    uint64_t n = uint64_t{display.wBPP / 8u} *
                 static_cast<uint32_t>(std::max(display.cxPixels, 0)) *
                 static_cast<uint32_t>(std::max(display.cyPixels, 0));
    if (!display.pFramePointer) n = 0;  // no frame buffer known: a black picture
    n = std::min<uint64_t>(n, capacity);
    if (n) memcpy(buffer, display.pFramePointer, n);
    const uint64_t needed = uint64_t{bytesPerPixel(Rgb565)} * cropHeight * cropWidth;
    if (needed > n) memset(buffer + n, 0, std::min<uint64_t>(needed, capacity) - n);
}

void captureScreen(uint8_t* buffer, uint32_t capacity, uint32_t cropWidth, uint32_t cropHeight) {
    if (LcdPlaneReader* planes = gDeviceInfo.lcdPlanes) {
        planes->refresh();
        if (planes->takePicture(planes->overlay2, 2, capacity) ||
            planes->takePicture(planes->overlay1, 1, capacity) ||
            planes->takePicture(planes->base, 0, capacity))
            return;
    }
    copyFrameBuffer(buffer, capacity, cropWidth, cropHeight);
}

// Eight bars from black at the left to white at the right; a row is cropWidth / 2 pixel pairs
// (the last column of an odd width is black).
void drawColourBars(uint8_t* buffer, uint32_t cropWidth, uint32_t cropHeight) {
    gFrame.frameFormat = Uyvy;
    gFrame.frameWidth = cropWidth;
    gFrame.frameHeight = cropHeight;
    const uint32_t pairs = cropWidth / 2;
    for (uint32_t y = 0; y < cropHeight; ++y) {
        uint8_t* row = buffer + size_t{y} * cropWidth * 2;
        for (uint32_t i = 0; i < pairs; ++i) {
            const BarColour& c = kColourBars[7 - (8 * i) / pairs];
            row[4 * i] = c.u, row[4 * i + 1] = c.y, row[4 * i + 2] = c.v, row[4 * i + 3] = c.y;
        }
        if (cropWidth % 2) row[4 * pairs] = 128, row[4 * pairs + 1] = 16;
    }
}

DWORD captureThreadMain(LPVOID parameter) {
    auto* thread = static_cast<CaptureThread*>(parameter);
    uint32_t reserved = 0;
    while (waitForRun(*thread)) {
        while (keepCapturing(*thread)) {
            if (!pace(*thread)) break;
            const FrameHandler handler = screen.frameHandler.load();
            uint8_t* buffer = thread->frameBuffer;
            if (!buffer || !handler) continue;
            const uint32_t width = screen.cropWidth.load(), height = screen.cropHeight.load();
            gFrame.framePixels = buffer;
            if (gApp.screenCaptureEdition) {
                captureScreen(buffer, screen.frameBufferBytes.load(), width, height);
            } else {
                drawColourBars(buffer, width, height);
            }
            handler(buffer, screen.frameBytes.load(), &reserved);
        }
        leaveFrameLoop(*thread);
    }
    captureThreadEnded(thread);
    return 0;
}

uint32_t openScreenSource(void*) {
    if (screen.opened.load()) return 0;
    screen.frameHandler.store(nullptr);
    CaptureThread* control = createCaptureThread();
    if (control && !screen.frameBuffer.load()) {
        const DisplayDescription& display = gDeviceInfo.display;
        const uint64_t displayBytes = uint64_t{display.wBPP / 8u} *
                                      static_cast<uint32_t>(std::max(display.cxPixels, 0)) *
                                      static_cast<uint32_t>(std::max(display.cyPixels, 0));
        const auto bytes = static_cast<uint32_t>(
            std::min<uint64_t>(std::max<uint64_t>(kFrameBufferBytes, displayBytes), UINT32_MAX));
        screen.frameBuffer.store(new (std::nothrow) uint8_t[bytes]);
        screen.frameBufferBytes.store(bytes);
    }
    HANDLE thread = nullptr;
    if (control && screen.frameBuffer.load()) {
        control->frameBuffer = screen.frameBuffer.load();
        thread = launchCaptureThread(control, captureThreadMain);
    }
    if (!thread) {
        discardCaptureThread(control);
        return 0;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
    CloseHandle(thread);
    screen.control.store(control);
    screen.opened.store(1);
    return 1;
}

uint32_t startScreenSource(const CaptureParams* params) {
    if (screen.streaming.load() || !params || !params->frameHandler || !screen.opened.load())
        return 0;
    const uint32_t width = params->cropRight - params->cropLeft + 1;
    const uint32_t height = params->cropBottom - params->cropTop + 1;
    if (uint64_t{width} * height * 2 > screen.frameBufferBytes.load()) return 0;
    screen.cropWidth.store(width);
    screen.cropHeight.store(height);
    screen.frameBytes.store(width * height * 2);
    screen.frameHandler.store(params->frameHandler);
    runCaptureThread(screen.control.load());
    screen.streaming.store(1);
    return 1;
}

uint32_t stopScreenSource() {
    pauseCaptureThread(screen.control.load());
    screen.streaming.store(0);
    return 1;
}

uint32_t closeScreenSource() {
    CaptureThread* control = screen.control.exchange(nullptr);
    if (endCaptureThread(control)) delete[] screen.frameBuffer.load();
    // otherwise the late thread frees the buffer when it ends
    screen.frameBuffer.store(nullptr);
    screen.frameBufferBytes.store(0);
    screen.streaming.store(0);
    screen.opened.store(0);
    return 1;
}

}  // namespace

std::atomic<int32_t (*)()> screenFramePeriod{nullptr};

const CameraBackend kScreenSourceBackend = {
    .open = openScreenSource,
    .start = startScreenSource,
    .stop = stopScreenSource,
    .close = closeScreenSource,
    // A screen has no properties, registers or flash light.
    .setProperty = ignoreSetProperty,
    .getProperty = ignoreGetProperty,
    .readRegister = ignoreReadRegister,
    .writeRegister = ignoreWriteRegister,
    .flashLight = ignoreFlashLight,
};
