// The table of nine operations through which the program drives every camera source, and the
// per-frame callback through which every source delivers pictures.
#pragma once

#include <atomic>
#include <cstdint>

// Called on the source's capture thread once per picture: the pixels (valid until it returns),
// the byte count fixed at start (crop width x crop height x 2), and a scratch word the source
// sets to 0 before its loop.
using FrameHandler = void (*)(uint8_t* pixels, uint32_t byteLength, uint32_t* reserved);

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

// Every result is non-zero for success. Slots 5 to 8 are not called by the program.
struct CameraBackend {
    uint32_t (*open)(void* block400);  // a zero-filled 400-byte block
    uint32_t (*start)(const CaptureParams* params);
    uint32_t (*stop)();
    uint32_t (*close)();
    uint32_t (*setProperty)(uint32_t id, uint32_t value);
    uint32_t (*getProperty)(uint32_t id, uint32_t* value);
    uint32_t (*readRegister)(uint32_t reg, uint32_t* value);
    uint32_t (*writeRegister)(uint32_t reg, uint32_t value);
    uint32_t (*flashLight)(uint32_t on);
};

constexpr uint32_t kOpenBlockBytes = 400;

// The slots of operations a source does not have: they succeed and do nothing.
inline uint32_t ignoreSetProperty(uint32_t, uint32_t) {
    return 1;
}
inline uint32_t ignoreGetProperty(uint32_t, uint32_t*) {
    return 1;
}
inline uint32_t ignoreReadRegister(uint32_t, uint32_t*) {
    return 1;
}
inline uint32_t ignoreWriteRegister(uint32_t, uint32_t) {
    return 1;
}
inline uint32_t ignoreFlashLight(uint32_t) {
    return 1;
}

// The four tables; exactly one is used for the life of the process.
extern CameraBackend gCameraLibraryBackend;  // filled from the OEM camera library
extern const CameraBackend kDsc1Backend;
extern const CameraBackend kLcm1Backend;
extern const CameraBackend kScreenSourceBackend;

// The screen source's period between pictures in ms, asked before each one (capture thread): the
// "Max FPS" setting, which lies above the camera sources; buildSettingsModel installs it. Null,
// or an answer of 0 or less, gives the source's fallback period.
extern std::atomic<int32_t (*)()> screenFramePeriod;
