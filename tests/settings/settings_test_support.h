// A settings model built for a chosen camera type and edition, and a camera source table that
// records what the controller asks of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/process_objects.h"
#include "camera/camera_backend.h"
#include "camera/device_info.h"
#include "core/app_state.h"
#include "jpeg/jpeg_encoder.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"

// The fake source: every call is recorded as a short text ("open", "start 640x480",
// "set 5=120", ...), and the results of open, start and set property are chosen by the test.
struct FakeCamera {
    std::vector<std::string> calls;
    uint32_t openResult = 1;
    uint32_t startResult = 1;
    uint32_t setPropertyResult = 1;
    CaptureParams lastParams{};

    std::vector<std::string> properties() const {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (c.rfind("set ", 0) == 0) out.push_back(c);
        return out;
    }
};

inline FakeCamera gFakeCamera;

// Records a call and answers `result`.
inline uint32_t record(std::string call, uint32_t result = 1) {
    gFakeCamera.calls.push_back(std::move(call));
    return result;
}

inline const CameraBackend kFakeBackend = {
    .open = [](void*) { return record("open", gFakeCamera.openResult); },
    .start =
        [](const CaptureParams* p) {
            gFakeCamera.lastParams = *p;
            return record(
                "start " + std::to_string(p->sensorWidth) + "x" + std::to_string(p->sensorHeight),
                gFakeCamera.startResult);
        },
    .stop = []() { return record("stop"); },
    .close = []() { return record("close"); },
    .setProperty =
        [](uint32_t id, uint32_t value) {
            return record("set " + std::to_string(id) + "=" + std::to_string(value),
                          gFakeCamera.setPropertyResult);
        },
    .getProperty = nullptr,
    .readRegister = nullptr,
    .writeRegister = nullptr,
    .flashLight = nullptr,
};

struct ModelOptions {
    uint32_t cameraType = 1;
    bool screenCapture = false;
    bool fast = true;
    bool smartphone = false;
    bool encoder = true;
    int32_t screenWidth = 240;
    int32_t screenHeight = 320;
};

// Builds the whole model the way start-up does, with every setting at its default, the menu
// hidden on the Main page, the camera closed and the fake source installed.
inline void buildModel(const ModelOptions& o = {}) {
    resetProcessState();
    gApp.screenCaptureEdition = o.screenCapture;
    gDeviceInfo.cameraType = o.cameraType;
    gDeviceInfo.isPxa27x = o.fast;
    gDeviceInfo.isSmartphone = o.smartphone;
    gDeviceInfo.display.cxPixels = o.screenWidth;
    gDeviceInfo.display.cyPixels = o.screenHeight;
    gEncoderSetup.available = o.encoder;
    buildSettingsModel(gDeviceInfo);
    completeDeviceLists(gDeviceInfo);
    setSaveToEntries(nullptr, 0);
    applyEditionRestrictions();
    buildMenuPages(gDeviceInfo);
    resetAllSettings();
    relabelSizeList(true);
    relabelSizeList(false);
    refreshMainModeItem();
    gApp.currentPage.store(&gMenuPages[kPageMain]);
    gApp.menuVisible.store(0);
    gApp.activity.store(Idle);
    gApp.fullScreen.store(1);
    gController.backend = &kFakeBackend;
    gFakeCamera = FakeCamera{};
}

// The labels of a list's entries, in order.
inline std::vector<std::string> labelsOf(const ValueList& list) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list.count; ++i) {
        const char* label = entryLabel(list, i);
        out.push_back(label ? label : std::to_string(entryValue(list, i)));
    }
    return out;
}
