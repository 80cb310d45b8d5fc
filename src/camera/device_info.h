// The device record filled once at start-up: model, camera type, processor and platform flags,
// the display's frame buffer; and the detection that fills it.
#pragma once

#include <cstdint>

#include "platform/windows.h"

struct LcdPlaneReader;

// The display's raw frame buffer (the layout of RawFrameBufferInfo).
struct DisplayDescription {
    uint16_t wFormat = 0;
    uint16_t wBPP = 0;  // bits per pixel
    void* pFramePointer = nullptr;
    int32_t cxStride = 0;  // bytes from one pixel to the next
    int32_t cyStride = 0;  // bytes from one row to the next
    int32_t cxPixels = 0;
    int32_t cyPixels = 0;
};

struct DeviceInfo {
    LcdPlaneReader* lcdPlanes = nullptr;  // only on PXA27x devices
    char model[128] = {};                 // the OEM information string, upper-cased
    uint32_t cameraType = 14;             // 0 to 14
    uint8_t isPxa27x = 0;                 // the fast devices
    uint8_t isSmartphone = 0;
    uint32_t pixelOrderDefault = 0;   // default index of "Pixel Order"
    uint32_t rotationDefault = 0;     // default index of "Rotation"
    uint32_t orientationDefault = 0;  // default index of "Orientation"
    DisplayDescription display;

    DeviceInfo() = default;
    DeviceInfo(const DeviceInfo&) = delete;
    DeviceInfo& operator=(const DeviceInfo&) = delete;
    ~DeviceInfo();
};

extern DeviceInfo gDeviceInfo;

// Fills `info` once at start-up: loads the OEM camera library (loadCameraLibrary), reads the model
// and picks the camera type from the device table, asks for the platform and the processor, sets
// the device's setting defaults, describes the display and, on PXA27x devices, creates the LCD
// plane reader.
void detectDevice(DeviceInfo& info);
// Loads "HTCcamera.dll" (or "HTCcamera1.dll") and fills gCameraLibraryBackend; true when the six
// required entry points are there. A library without them is not used at all.
bool loadCameraLibrary();
// Finds an external JPEG encoder ("JPEGENC.dll", else "scr_cap.dll" beside the program) and keeps
// its creation function in gCreateJpegImageEncoder and the library in gEncoderLibrary; true when
// an entry point is available.
bool loadEncoderLibrary();
extern HMODULE gEncoderLibrary;
