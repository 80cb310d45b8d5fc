// The per-frame preview and the copy to the display.
//
// onFrame runs on the camera source's capture thread, once per frame, in a fixed order: latch
// the frame's mode and activity, keep the device awake during a capture, crop the screen
// source's capture window, draw the camera picture (black-border fix, pixel order, the style's
// path), freeze the photo, draw the overlay, copy to the display, and hand the frame to the
// frame consumer. Fields the window thread writes are read once per frame; a change takes
// effect on the next frame.
//
// The frame's bytes are trusted only as far as byteLength reaches: a frame too small for the
// crop the controller asked for (the geometry changed while it was on its way) gets no picture,
// and the capture-window crop moves only rows that lie inside the frame.
#include "preview/preview_loop.h"

#include <algorithm>
#include <cstring>

#include "camera/device_info.h"
#include "core/app_state.h"
#include "core/frame.h"
#include "media/storage.h"
#include "preview/overlay.h"
#include "preview/preview_geometry.h"
#include "preview/preview_kernels.h"
#include "preview/resize_rotate.h"
#include "settings/camera_controller.h"
#include "settings/settings_table.h"

uint32_t lastIdleReset = 0;
FrameConsumer frameConsumer = consumeFrame;

namespace {

// While a capture runs, the idle timer is reset when more than this many ms have passed.
constexpr uint32_t kIdleResetMs = 8192;
// Frames of fewer pixels than this are turned while converting to planar, larger ones while
// resizing.
constexpr uint32_t kTurnWhileConvertingPixels = 131072;
// The OEM driver's 320 x 240 stream has 4 bad pixels at the right of each row (camera type 0).
constexpr uint32_t kBorderFixCameraType = 0;
constexpr uint32_t kBorderFixWidth = 320;
constexpr uint32_t kBorderFixHeight = 240;
constexpr uint32_t kBorderFixFirstByte = 632;     // the last 4 pixels of a 640-byte row
constexpr uint32_t kBlackPixelPair = 0x00800080;  // Cb 128, Y 0, Cr 128, Y 0
constexpr uint32_t kPixelOrderReversed = 1;

// Set when a frame sees Active begin, cleared when a picture has been frozen. The frame in which
// Active is first seen may draw nothing (the photo command blanks the preview, and a frame of
// the stream being stopped for the snapshot geometry can still arrive), so the picture frozen is
// the first one drawn from then on. Capture thread only; atomic because the capture thread
// changes when the camera restarts.
std::atomic<uint8_t> freezePending{0};

void clearImage(ImageBuffer& image) {
    if (image.pixels) std::memset(image.pixels, 0, image.header.biSizeImage);
}

// Screen-capture edition: moves the capture window to the start of the frame, row by row in
// ascending order. A row whose source or destination would leave the frame is not moved.
void cropToCaptureWindow(uint8_t* pixels, uint32_t byteLength) {
    const int32_t* window = gController.alignedCaptureWindow;
    const int64_t x = window[0], y = window[1], width = window[2], height = window[3];
    if (width <= 0 || height <= 0) return;
    const int64_t b = bytesPerPixel(gFrame.frameFormat);
    const int64_t rowBytes = width * b;
    for (int64_t r = 0; r < height; ++r) {
        const int64_t from = ((y + r) * int64_t{gFrame.frameWidth} + x) * b;
        const int64_t to = r * rowBytes;
        if (from < 0 || from + rowBytes > byteLength || to + rowBytes > byteLength) continue;
        // The destination never lies after the source, so this is the forward copy the
        // overlapping rows need.
        std::memmove(pixels + to, pixels + from, static_cast<size_t>(rowBytes));
    }
    gFrame.frameWidth = static_cast<uint32_t>(width);
    gFrame.frameHeight = static_cast<uint32_t>(height);
}

void fixBlackBorder(uint8_t* pixels, uint32_t byteLength, const CaptureGeometry& g, int32_t cropW,
                    int32_t cropH) {
    if (gDeviceInfo.cameraType != kBorderFixCameraType || g.sensorWidth != kBorderFixWidth ||
        g.sensorHeight != kBorderFixHeight || cropW != int32_t{kBorderFixWidth})
        return;
    constexpr uint32_t rowBytes = kBorderFixWidth * 2;
    for (uint32_t r = 0; r < uint32_t(cropH) && (r + 1) * rowBytes <= byteLength; ++r) {
        uint8_t* end = pixels + r * rowBytes + kBorderFixFirstByte;
        std::memcpy(end, &kBlackPixelPair, 4);
        std::memcpy(end + 4, &kBlackPixelPair, 4);
    }
}

// Exchanges the 16-bit halves of every 32-bit word of the frame but the last.
void reversePixelOrder(uint8_t* pixels, uint32_t byteLength) {
    const uint32_t words = byteLength / 4;
    for (uint32_t i = 0; i + 1 < words; ++i) {
        uint32_t word;
        std::memcpy(&word, pixels + 4 * i, 4);
        word = word << 16 | word >> 16;
        std::memcpy(pixels + 4 * i, &word, 4);
    }
}

// The general path: packed 4:2:2 to a planar 4:2:0 scratch borrowed from photoImage (Y at a
// quarter of its size, Cb byteLength / 2 after Y, Cr byteLength / 8 after Cb), then scaled,
// turned and converted. A photoImage too small for the scratch gets no picture.
void drawGeneral(const uint8_t* pixels, uint32_t byteLength, const PreviewPlan& plan,
                 uint16_t* destination, int32_t pitch) {
    ImageBuffer& photo = gApp.photoImage;
    const uint64_t scratchEnd = photo.header.biSizeImage / 4 + uint64_t{byteLength} / 2 +
                                uint64_t{byteLength} / 8 + uint64_t{byteLength} / 8;
    if (!photo.pixels || scratchEnd > photo.header.biSizeImage) return;

    const bool small = uint32_t(plan.cropW) * uint32_t(plan.cropH) < kTurnWhileConvertingPixels;
    const KernelTurn convertTurn = small ? plan.turn : TurnNone;
    const KernelTurn resizeTurn = small ? TurnNone : plan.turn;
    const bool scratchTurned = small && turnSwapsAxes(plan.turn);
    const int32_t sw = scratchTurned ? plan.cropH : plan.cropW;
    const int32_t sh = scratchTurned ? plan.cropW : plan.cropH;
    const int32_t ow = scratchTurned ? plan.extY : plan.extX;
    const int32_t oh = scratchTurned ? plan.extX : plan.extY;
    if (ow < 2 || oh < 2) return;  // no whole 2 x 2 block to draw

    PlanarYuv planes;
    planes.y = photo.pixels + photo.header.biSizeImage / 4;
    planes.cb = planes.y + byteLength / 2;
    planes.cr = planes.cb + byteLength / 8;
    planes.yStride = sw;
    planes.cbStride = planes.crStride = sw >> 1;
    // First and last samples fall on the first and last even-rounded source samples.
    const int32_t stepV = (((sh & ~1) - 1) << 16) / ((oh & ~1) - 1);
    const int32_t stepH = (((sw & ~1) - 1) << 16) / ((ow & ~1) - 1);
    // Unturned, only the rows the resizer samples are converted; they get the very bytes a whole
    // conversion gives, and nothing else it reads is written by either (the remainder outside
    // whole blocks keeps what the photo buffer held), so the picture is the same.
    if (convertTurn == TurnNone)
        convertSampledRows(pixels, plan.cropW * 2, planes, plan.cropW, plan.cropH, oh, stepV);
    else
        convertToPlanar(pixels, plan.cropW * 2, planes, plan.cropW, plan.cropH, convertTurn);
    resizeRotate(planes, sw, sh, destination, pitch, ow, oh, resizeTurn, stepH, stepV);
}

// The portable kernels walk the crop from the pixel that lands top-left, by the rotation.
void drawPortable(const uint8_t* pixels, const PreviewPlan& plan, uint16_t* destination,
                  int32_t pitch) {
    const int32_t w = plan.cropW, h = plan.cropH;
    const uint8_t* start = pixels;
    int32_t stepC = 1, stepR = w;
    switch (plan.turn) {
        case TurnRightEdgeUp:  // "None": last pixel of the first row
            start = pixels + (w - 1) * 2;
            stepC = w;
            stepR = -1;
            break;
        case TurnLeftEdgeUp:  // "180": first pixel of the last row
            start = pixels + ptrdiff_t{h - 1} * w * 2;
            stepC = -w;
            stepR = 1;
            break;
        case TurnUpsideDown:  // "90R": last pixel
            start = pixels + (ptrdiff_t{h} * w - 1) * 2;
            stepC = -1;
            stepR = -w;
            break;
        default:  // "90L": first pixel
            break;
    }
    const bool swapped = turnSwapsAxes(plan.turn);
    const int32_t outW = swapped ? plan.extY : plan.extX;
    const int32_t outH = swapped ? plan.extX : plan.extY;
    const auto kernel = plan.path == PreviewPath::PortableGray ? drawGray : drawFullColour;
    kernel(destination, pitch, outW, outH, start, stepC, stepR, static_cast<int32_t>(plan.step));
}

// Exact 2x, 4x and 8x reductions. The kernel draws (crop / factor) pixels along each axis,
// which can be up to 3 more than the rounded extent; the source is cut so that they never reach
// past the screen picture's edge.
void drawIntegerFactor(const uint8_t* pixels, const PreviewPlan& plan, uint16_t* destination,
                       int32_t pitch) {
    const int32_t factor = static_cast<int32_t>(plan.step >> 16);
    const int32_t srcW = std::min(plan.cropW, (plan.dimX - plan.offX) * factor);
    const int32_t srcH = std::min(plan.cropH, (plan.dimY - plan.offY) * factor);
    scaleDownByFactor(pixels, plan.cropW * 2, destination, pitch, srcW, srcH, factor, plan.turn);
}

// Step 5 of the frame: the camera picture into the screen picture. False when the frame did not
// hold the crop and the picture was only cleared.
bool drawPicture(uint8_t* pixels, uint32_t byteLength, uint32_t captureMode) {
    ImageBuffer& screen = gApp.screenImage;
    const CaptureGeometry g = gController.streamGeometry;
    const int32_t cropW = static_cast<int32_t>(g.cropRight - g.cropLeft + 1);
    const int32_t cropH = static_cast<int32_t>(g.cropBottom - g.cropTop + 1);
    // A crop the frame does not hold (the geometry is changing) is not drawn.
    const bool frameHoldsCrop =
        cropW > 0 && cropH > 0 && uint64_t(uint32_t(cropW)) * uint32_t(cropH) * 2 <= byteLength;

    if (frameHoldsCrop) fixBlackBorder(pixels, byteLength, g, cropW, cropH);
    if (uint32_t(valueOf(setting(kSlotPixelOrder))) == kPixelOrderReversed)
        reversePixelOrder(pixels, byteLength);

    const bool photoLike = captureMode == kModePhoto || captureMode == kModeInterval;
    const uint32_t style =
        static_cast<uint32_t>(valueOf(setting(photoLike ? kSlotPhotoScreen : kSlotVideoScreen)));
    const PreviewPlan plan = planPreview(style, valueOf(setting(kSlotRotation)), cropW, cropH,
                                         screen.header.biWidth, screen.header.biHeight);
    if (plan.path == PreviewPath::Null || plan.path == PreviewPath::None || !frameHoldsCrop) {
        clearImage(screen);
        return frameHoldsCrop;
    }
    if (plan.clearBars) clearImage(screen);
    uint16_t* destination = reinterpret_cast<uint16_t*>(screen.pixels) + plan.destination;
    const int32_t pitch = screen.header.biWidth * 2;
    switch (plan.path) {
        case PreviewPath::IntegerFactor:
            drawIntegerFactor(pixels, plan, destination, pitch);
            break;
        case PreviewPath::General:
            drawGeneral(pixels, byteLength, plan, destination, pitch);
            break;
        default:
            drawPortable(pixels, plan, destination, pitch);
            break;
    }
    return true;
}

// In photo mode the first picture drawn once Active was seen stays on the screen while the photo
// is taken and its choice page is open. Until one was drawn, each frame shows its own picture.
void freezePhoto(uint32_t seen, bool drawn) {
    ImageBuffer& screen = gApp.screenImage;
    ImageBuffer& aux = gApp.auxScreenImage;
    if (!aux.pixels || aux.header.biSizeImage < screen.header.biSizeImage) return;
    if (seen != Active && seen != Choosing) return;
    if (freezePending.load()) {
        if (seen == Active && drawn) {
            std::memcpy(aux.pixels, screen.pixels, screen.header.biSizeImage);
            freezePending.store(0);
        }
        return;
    }
    std::memcpy(screen.pixels, aux.pixels, screen.header.biSizeImage);
}

}  // namespace

void onFrame(uint8_t* pixels, uint32_t byteLength, uint32_t*) {
    frameCaptureMode.store(static_cast<uint32_t>(effectiveIndex(setting(kSlotCaptureMode))));
    const uint32_t requested = static_cast<uint32_t>(gApp.activity.load());
    const bool changed = requested != seenActivity.load();
    activityChanged.store(changed ? 1 : 0);
    seenActivity.store(requested);
    if (changed && requested == Active) freezePending.store(1);
    if (changed && requested != Active && requested != Choosing) freezePending.store(0);
    const uint32_t start = GetTickCount();
    frameStartTick.store(start);
    gFrame.framePixels = pixels;

    if (requested == Active && (start < lastIdleReset || start - lastIdleReset > kIdleResetMs)) {
        SystemIdleTimerReset();
        lastIdleReset = start;
    }

    if (gController.captureWindowValid) cropToCaptureWindow(pixels, byteLength);
    if (gApp.screenCaptureEdition) previewMode.store(OverlayOnly);

    ImageBuffer& screen = gApp.screenImage;
    const uint32_t mode = previewMode.load();
    if (screen.pixels && gApp.fullScreen.load() && mode == Live) {
        const uint32_t captureMode = frameCaptureMode.load();
        const bool drawn = drawPicture(pixels, byteLength, captureMode);
        frameWorkMillis.store(GetTickCount() - start);
        if (captureMode == kModePhoto) freezePhoto(requested, drawn);
        drawOverlay(screen);
        presentScreen(&screen);
    } else if (screen.pixels && mode == OverlayOnly) {
        clearImage(screen);
        drawOverlay(screen);
        presentScreen(&screen);
    }

    frameConsumer(pixels);

    if (gApp.fullScreen.load() && previewMode.load() == Blank) presentScreen(nullptr);
}

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
