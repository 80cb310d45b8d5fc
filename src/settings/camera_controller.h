// The one place where settings meet the camera: the chosen source, the picture and geometry
// settings, the capture geometry derived from them, and the open/running state.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "camera/camera_backend.h"
#include "platform/windows.h"
#include "settings/value_list.h"

// Thirteen words describing what the sensor streams and which part of it is used.
struct CaptureGeometry {
    uint32_t sensorWidth, sensorHeight;                 // sensor resolution to stream
    uint32_t cropLeft, cropTop, cropRight, cropBottom;  // inclusive window of the sensor image
    uint32_t outLeft, outTop, outRight, outBottom;      // inclusive window of the output
    uint32_t outWidth, outHeight;                       // output picture size
    uint32_t scale;                                     // sensor size over crop size, 16.16
};

struct CameraController {
    const CameraBackend* backend = nullptr;
    // Settings that the controller applies to the camera.
    ValueList gamma, brightness, contrast, saturation, hue, sharpness, flicker, ambience, effect,
        nightMode, previewExposure, snapshotExposure, videoSize, photoSize, videoAspect,
        photoAspect, videoZoom, photoZoom;
    uint32_t maxPhotoWidth = 0, maxPhotoHeight = 0;
    uint32_t maxStreamWidth = 0, maxStreamHeight = 0;
    CaptureGeometry streamGeometry = {};
    CaptureGeometry publishedGeometry = {};
    uint32_t appliedExposure = 0;
    FrameHandler frameHandler = nullptr;
    std::atomic<uint8_t> running{0};
    std::atomic<uint8_t> opened{0};
    std::atomic<uint32_t> snapshotArmed{0};
    std::atomic<uint32_t> snapshotRequested{0};
    std::atomic<uint32_t> snapshotFrames{0};
    HANDLE frameEvent = nullptr;  // manual reset, signalled when a requested frame was taken
    uint8_t captureWindowValid = 0;
    int32_t alignedCaptureWindow[4] = {};  // x, y, width, height

    CameraController();
    CameraController(const CameraController&) = delete;
    CameraController& operator=(const CameraController&) = delete;
    ~CameraController();
};

extern CameraController gController;

// Shows the wait cursor, opens the camera with a zeroed block, hides the cursor; on success sends
// every setting that is not at its default. Returns the open result (1 when already open).
uint32_t openCamera();
void closeCamera();
// Starts streaming `streamGeometry` (hands a waiting snapshot request over first). Returns the
// start result; 1 when already running, 0 when the camera is not open.
uint32_t startCapture();
// Geometry kinds of reconfigure.
enum GeometryKind : uint32_t {
    kPreviewGeometry = 0,   // the ordinary preview
    kSnapshotGeometry = 1,  // the snapshot of a photo or an interval shot
    kWysiwygGeometry = 2,   // a photo preview in "WYSIWYG" mode
};
// Recomputes the geometry (when asked) and restarts streaming when the geometry or the exposure
// changed. Returns 1 when something had to be applied.
uint32_t reconfigure(bool recompute, bool isPhoto, uint32_t kind);
void reconfigureForMode(bool forSnapshot);
// Sends one changed setting to the camera, restarting or reopening it where the setting needs it.
void applySetting(ValueList& list);
bool isPhotoLikeMode();
bool isWysiwygPhoto();
void refreshStatusTexts();
// Configures the JPEG encoder for the current mode from `publishedGeometry`; its result.
uint32_t prepareEncoderArguments();

// The capture geometry for the chosen size, aspect and zoom of photo or video: `stream` is what
// the camera is started with, `published` the same before the preview reduction. Steps the zoom
// list back when it asks for more than the rows offer. False when no row can deliver the size.
bool computeCaptureGeometry(bool isPhoto, uint32_t kind, CaptureGeometry& stream,
                            CaptureGeometry& published);
// The property id a list is sent with (0 for lists that are not camera properties).
uint32_t propertyId(const ValueList& list);

// The two status texts of the overlay: the picture size ("640x480") and the zoom ("200%%", or
// "100%%h" at half sampling; the overlay formats it once more, which leaves one percent sign).
// Written on the window thread and read on the capture thread: a writer bumps the sequence to
// odd, stores the words and bumps it to even again; a reader copies until it sees the same even
// sequence before and after.
constexpr size_t kStatusTextBytes = 32;
struct StatusText {
    std::atomic<uint32_t> sequence{0};
    std::atomic<uint32_t> length{0};
    std::atomic<uint64_t> words[kStatusTextBytes / 8]{};
};
extern StatusText gSizeText;
extern StatusText gZoomText;
// Copies the text with its terminator into `out` (kStatusTextBytes) and returns its length.
uint32_t readStatusText(const StatusText& text, char* out);
