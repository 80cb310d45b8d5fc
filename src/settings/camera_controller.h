// The one place where settings meet the camera: the chosen source, the picture and geometry
// settings, the capture geometry derived from them, and the open/running state.
#pragma once

#include <atomic>
#include <cstdint>

#include "camera/camera_backend.h"
#include "platform/windows.h"
#include "settings/value_list.h"

// Thirteen words describing what the sensor streams and which part of it is used.
struct CaptureGeometry {
    uint32_t sensorWidth, sensorHeight;  // sensor resolution to stream
    uint32_t cropLeft, cropTop, cropRight, cropBottom;  // inclusive window of the sensor image
    uint32_t outLeft, outTop, outRight, outBottom;      // inclusive window of the output
    uint32_t outWidth, outHeight;                       // output picture size
    uint32_t scale;  // sensor size over crop size, 16.16
};

// The block given to a source's start operation: nineteen 32-bit words on the handheld. Word 13
// is the frame handler, which on this host is a pointer: the record keeps the word order.
struct CaptureParams {
    uint32_t exposure;
    uint32_t sensorWidth, sensorHeight;
    uint32_t cropLeft, cropTop, cropRight, cropBottom;
    uint32_t constants[6];  // 128, 0, 0, 240, 320, 0
    FrameHandler frameHandler;
    uint32_t exposureAgain;
    uint32_t cropLeftAgain, cropTopAgain, cropRightAgain, cropBottomAgain;
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

uint32_t openCamera();
void closeCamera();
uint32_t startCapture();
uint32_t reconfigure(bool recompute, bool isPhoto, uint32_t kind);
void reconfigureForMode(bool forSnapshot);
void applySetting(ValueList& list);
bool isPhotoLikeMode();
bool isWysiwygPhoto();
void refreshStatusTexts();
uint32_t prepareEncoderArguments();
