// Device detection until the camera sources land: no camera is known, and the display comes
// from the raw frame-buffer escape.
#include <cstring>

#include "camera/camera_backend.h"
#include "camera/device_info.h"

DeviceInfo::~DeviceInfo() = default;

void detectDevice(DeviceInfo& info) {
    info.cameraType = 14;
    HDC dc = GetDC(nullptr);
    RawFrameBufferInfo raw{};
    if (ExtEscape(dc, GETRAWFRAMEBUFFER, 0, nullptr, sizeof raw, reinterpret_cast<char*>(&raw)) >=
        0) {
        info.display = {raw.wFormat, raw.wBPP,        raw.pFramePointer, raw.cxStride,
                        raw.cyStride, raw.cxPixels, raw.cyPixels};
    }
    ReleaseDC(nullptr, dc);
}

bool loadCameraLibrary() { return false; }
bool loadEncoderLibrary() { return false; }

// The sources' tables until the sources land: no operations, which the controller treats as a
// camera that fails to open.
CameraBackend gCameraLibraryBackend = {};
const CameraBackend kDsc1Backend = {};
const CameraBackend kLcm1Backend = {};
const CameraBackend kScreenSourceBackend = {};
