// The camera controller: opening, starting, stopping and closing the camera through the chosen
// source's table, sending picture settings as numbered properties, restarting the stream when
// the geometry or the exposure changes, the status texts and the encoder's arguments.
//
// A source table may have empty slots (a camera library that did not load): an empty open or
// start counts as a failure, an empty stop, close or property call does nothing.
#include "settings/camera_controller.h"

#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/frame.h"
#include "core/preview_state.h"
#include "jpeg/jpeg_encoder.h"
#include "platform/kernel.h"
#include "settings/settings_model.h"
#include "settings/value_tables.h"

namespace {

// The words of CaptureParams that are not the geometry's (the sources' own business).
constexpr uint32_t kParamsConstants[6] = {128, 0, 0, 240, 320, 0};
// Camera type 5 is asked whether its "Brightness" takes this value (0 to 255 scale).
constexpr uint32_t kBrightnessProbeValue = 120;
// The other camera of type 5 takes brightness 0 to 8, default 4.
constexpr int32_t kNarrowBrightnessCount = 9;
constexpr int32_t kNarrowBrightnessDefault = 4;

uint32_t callOpen() {
    const CameraBackend* backend = gController.backend;
    if (!backend || !backend->open) return 0;
    alignas(8) uint8_t block[kOpenBlockBytes] = {};
    return backend->open(block);
}

uint32_t callStart(const CaptureParams& params) {
    const CameraBackend* backend = gController.backend;
    return backend && backend->start ? backend->start(&params) : 0;
}

void callStop() {
    const CameraBackend* backend = gController.backend;
    if (backend && backend->stop) backend->stop();
}

void callClose() {
    const CameraBackend* backend = gController.backend;
    if (backend && backend->close) backend->close();
}

uint32_t callSetProperty(uint32_t id, uint32_t value) {
    const CameraBackend* backend = gController.backend;
    return backend && backend->setProperty ? backend->setProperty(id, value) : 0;
}

void sendSetting(const ValueList& list) {
    callSetProperty(propertyId(list), static_cast<uint32_t>(valueOf(list)));
}

void stopStreaming() {
    if (gController.running.exchange(0)) callStop();
}

// The snapshot request goes to the preview: it takes `snapshotFrames` frames from now on.
void handOverSnapshot() {
    CameraController& c = gController;
    ResetEvent(c.frameEvent);
    previewMode.store(c.snapshotFrames.load());
    c.snapshotRequested.store(0);
    c.snapshotArmed.store(1);
}

// Camera type 5 comes with two cameras: one takes brightness 0 to 255, the other 0 to 8.
void probeBrightness() {
    ValueList& brightness = gController.brightness;
    const bool wide = callSetProperty(propertyId(brightness), kBrightnessProbeValue) != 0;
    brightness.count = wide ? kWideBrightnessCount : kNarrowBrightnessCount;
    brightness.step = wide ? kWideBrightnessStep : 1;
    brightness.base = 0;
    brightness.defaultIndex = wide ? kWideBrightnessDefault : kNarrowBrightnessDefault;
    const int32_t current = brightness.current.load();
    if (current >= brightness.count || current == brightness.defaultIndex)
        brightness.current.store(-1);
}

// After opening: every picture setting the user chose; a setting at its default is not sent,
// whatever the camera's own default is. "Gamma" is sent only when changed.
void applyAllSettings() {
    CameraController& c = gController;
    if (modelCameraType() == kCameraTypeProbed) probeBrightness();
    const ValueList* lists[] = {&c.brightness, &c.contrast, &c.saturation, &c.hue,   &c.sharpness,
                                &c.flicker,    &c.ambience, &c.nightMode,  &c.effect};
    for (const ValueList* list : lists)
        if (list->current.load() >= 0) sendSetting(*list);
}

bool sensorOrCropDiffer(const CaptureGeometry& a, const CaptureGeometry& b) {
    return a.sensorWidth != b.sensorWidth || a.sensorHeight != b.sensorHeight ||
           a.cropLeft != b.cropLeft || a.cropTop != b.cropTop || a.cropRight != b.cropRight ||
           a.cropBottom != b.cropBottom;
}

// The words the capture thread does not read while streaming.
void copyOutputWords(CaptureGeometry& to, const CaptureGeometry& from) {
    to.outLeft = from.outLeft;
    to.outTop = from.outTop;
    to.outRight = from.outRight;
    to.outBottom = from.outBottom;
    to.outWidth = from.outWidth;
    to.outHeight = from.outHeight;
    to.scale = from.scale;
}

// Quarter turns of the picture against the screen: "Orientation" less "Rotation", modulo 4.
uint32_t pictureTurn() {
    const int32_t turn = valueOf(setting(kSlotOrientation)) - valueOf(setting(kSlotRotation));
    return static_cast<uint32_t>(turn) & 3;
}

void writeStatusText(StatusText& text, const char* buffer, uint32_t length) {
    // Sequentially consistent throughout: the words cannot move across the sequence stores.
    const uint32_t sequence = text.sequence.load();
    text.sequence.store(sequence + 1);
    for (size_t i = 0; i < kStatusTextBytes / 8; ++i) {
        uint64_t word;
        std::memcpy(&word, buffer + i * 8, 8);
        text.words[i].store(word);
    }
    text.length.store(length);
    text.sequence.store(sequence + 2);
}

}  // namespace

CameraController::CameraController() {
    frameEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}
CameraController::~CameraController() {
    CloseHandle(frameEvent);
}

uint32_t propertyId(const ValueList& list) {
    const CameraController& c = gController;
    // "Brightness" and "Contrast" exchange their ids on the "DSC1:" camera.
    const bool exchanged = modelCameraType() == kCameraTypeDsc1;
    if (&list == &c.flicker) return 1;
    if (&list == &c.ambience) return 2;
    if (&list == &c.contrast) return exchanged ? 5 : 4;
    if (&list == &c.brightness) return exchanged ? 4 : 5;
    if (&list == &c.saturation) return 6;
    if (&list == &c.hue) return 7;
    if (&list == &c.gamma) return 8;
    if (&list == &c.sharpness) return 9;
    if (&list == &c.effect || &list == &c.nightMode) return 10;
    return 0;
}

uint32_t openCamera() {
    CameraController& c = gController;
    if (c.opened.load()) return 1;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const uint32_t result = callOpen();
    SetCursor(nullptr);
    c.running.store(0);
    if (result) {
        c.opened.store(1);
        applyAllSettings();
    }
    return result;
}

void closeCamera() {
    CameraController& c = gController;
    stopStreaming();
    if (c.opened.exchange(0)) callClose();
}

uint32_t startCapture() {
    CameraController& c = gController;
    // While streaming, the frame record belongs to the capture thread: leave it alone. A closed
    // camera cannot be started.
    if (c.running.load()) return 1;
    if (!c.opened.load()) return 0;
    const CaptureGeometry& g = c.streamGeometry;
    gFrame.frameWidth = g.cropRight - g.cropLeft + 1;
    gFrame.frameHeight = g.cropBottom - g.cropTop + 1;
    gFrame.frameFormat = Uyvy;
    CaptureParams params{};
    params.exposure = c.appliedExposure;
    params.sensorWidth = g.sensorWidth;
    params.sensorHeight = g.sensorHeight;
    params.cropLeft = g.cropLeft;
    params.cropTop = g.cropTop;
    params.cropRight = g.cropRight;
    params.cropBottom = g.cropBottom;
    std::memcpy(params.constants, kParamsConstants, sizeof params.constants);
    params.frameHandler = c.frameHandler;
    params.exposureAgain = c.appliedExposure;
    params.cropLeftAgain = g.cropLeft;
    params.cropTopAgain = g.cropTop;
    params.cropRightAgain = g.cropRight;
    params.cropBottomAgain = g.cropBottom;
    if (c.snapshotRequested.load()) handOverSnapshot();
    const uint32_t result = callStart(params);
    if (result) c.running.store(1);
    return result;
}

uint32_t reconfigure(bool recompute, bool isPhoto, uint32_t kind) {
    CameraController& c = gController;
    CaptureGeometry stream{};
    CaptureGeometry published{};
    const bool computed = recompute && computeCaptureGeometry(isPhoto, kind, stream, published);
    const bool changed = computed && sensorOrCropDiffer(stream, c.streamGeometry);
    if (computed) c.publishedGeometry = published;

    const ValueList& exposureList =
        changed && isPhoto && kind == kSnapshotGeometry ? c.snapshotExposure : c.previewExposure;
    const uint32_t exposure = static_cast<uint32_t>(valueOf(exposureList));
    if (exposure == c.appliedExposure && !changed) {
        if (computed) copyOutputWords(c.streamGeometry, stream);
        if (!c.running.load()) return 0;
        if (c.snapshotRequested.load()) handOverSnapshot();
        return 0;
    }
    c.appliedExposure = exposure;
    // The capture thread reads the sensor and crop words while streaming: they change only
    // while the stream is stopped.
    const bool wasRunning = c.running.load() != 0;
    stopStreaming();
    if (computed) c.streamGeometry = stream;
    if (wasRunning) startCapture();
    return 1;
}

void reconfigureForMode(bool forSnapshot) {
    const bool photoLike = isPhotoLikeMode();
    uint32_t kind = kPreviewGeometry;
    if (forSnapshot)
        kind = kSnapshotGeometry;
    else if (photoLike && valueOf(setting(kSlotWysiwyg)) == 1)
        kind = kWysiwygGeometry;
    reconfigure(true, photoLike, kind);
    refreshStatusTexts();
}

void applySetting(ValueList& list) {
    CameraController& c = gController;
    const bool running = c.running.load() != 0;
    bool restart = false;
    bool reopen = false;
    if (&list == &c.nightMode) {
        // "Normal" carries the night bit from now on.
        gEffectTable[0].value = valueOf(c.nightMode);
        restart = running;
    }
    if ((&list == &c.ambience || &list == &c.flicker) && running) restart = true;
    if (&list == &c.effect && effectiveIndex(c.effect) == 0 && c.opened.load()) {
        reopen = true;
        restart = running;
    }
    if (restart) stopStreaming();
    if (reopen) {
        c.opened.store(0);
        callClose();
        openCamera();
    }
    if (c.opened.load()) sendSetting(list);
    if (restart) startCapture();
}

bool isPhotoLikeMode() {
    const int32_t mode = effectiveIndex(setting(kSlotCaptureMode));
    return mode == kModePhoto || mode == kModeInterval;
}

bool isWysiwygPhoto() {
    return isPhotoLikeMode() && valueOf(setting(kSlotWysiwyg)) == 1;
}

void refreshStatusTexts() {
    const CaptureGeometry& g = gController.publishedGeometry;
    char text[kStatusTextBytes] = {};
    const uint32_t turn = pictureTurn();
    int length = turn == 1 || turn == 3
                     ? snprintf(text, sizeof text, "%ux%u", g.outHeight, g.outWidth)
                     : snprintf(text, sizeof text, "%ux%u", g.outWidth, g.outHeight);
    writeStatusText(gSizeText, text, static_cast<uint32_t>(length));

    std::memset(text, 0, sizeof text);
    const uint32_t percent = static_cast<uint32_t>((uint64_t{g.scale} * 100) >> 16);
    const bool half = g.outRight - g.outLeft + 1 == 2 * g.outWidth &&
                      g.outBottom - g.outTop + 1 == 2 * g.outHeight;
    length = half ? snprintf(text, sizeof text, "%u%%%%h", percent)
                  : snprintf(text, sizeof text, "%u%%%%", percent);
    writeStatusText(gZoomText, text, static_cast<uint32_t>(length));
}

uint32_t readStatusText(const StatusText& text, char* out) {
    for (;;) {
        const uint32_t before = text.sequence.load();
        if (before & 1) continue;  // a write is under way
        uint64_t words[kStatusTextBytes / 8];
        for (size_t i = 0; i < kStatusTextBytes / 8; ++i) words[i] = text.words[i].load();
        uint32_t length = text.length.load();
        if (text.sequence.load() != before) continue;
        std::memcpy(out, words, kStatusTextBytes);
        out[kStatusTextBytes - 1] = 0;
        if (length >= kStatusTextBytes) length = kStatusTextBytes - 1;
        return length;
    }
}

namespace {

// How long a start waits for the capture thread to leave the capture before it, ms: several
// frame periods of the slowest camera.
constexpr uint32_t kCaptureLeaveWaitMs = 1000;
constexpr uint32_t kCaptureLeavePollMs = 5;

// The capture thread reads the encoder setup (and the movie writer's buffers) while it handles a
// frame of an active capture, and the window thread ends a capture without waiting for it. So a
// start waits until the capture thread has begun a frame that saw no capture: it stores
// seenActivity before it hands that frame on, after the last frame of the capture before, and
// this load acquires what that frame did. A camera that sends no frames uses nothing: the wait
// ends after kCaptureLeaveWaitMs.
void awaitCaptureThreadLeft() {
    for (uint32_t waited = 0; seenActivity.load() == Active && waited < kCaptureLeaveWaitMs;
         waited += kCaptureLeavePollMs)
        Sleep(kCaptureLeavePollMs);
}

}  // namespace

uint32_t prepareEncoderArguments() {
    awaitCaptureThreadLeft();
    const CaptureGeometry& g = gController.publishedGeometry;
    const bool photoLike = isPhotoLikeMode();
    const uint32_t format =
        static_cast<uint32_t>(valueOf(setting(photoLike ? kSlotPhotoFormat : kSlotVideoFormat)));
    constexpr uint32_t kBmpFormat = 0;  // "BMP": the raw path, quality 0
    uint32_t quality =
        static_cast<uint32_t>(valueOf(setting(photoLike ? kSlotPhotoQuality : kSlotVideoQuality)));
    if (photoLike && format == kBmpFormat) quality = 0;
    uint32_t factorX = g.outWidth ? (g.outRight - g.outLeft + 1) / g.outWidth : 0;
    uint32_t factorY = g.outHeight ? (g.outBottom - g.outTop + 1) / g.outHeight : 0;
    if (factorX == 0 || factorY == 0) factorX = factorY = 1;
    return configureEncoder(gEncoderSetup, g.outWidth, g.outHeight, quality, format, factorX,
                            factorY, pictureTurn());
}
