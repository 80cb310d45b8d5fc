// The 49 settings, in the slot order in which they are persisted and reset.
#pragma once

#include "settings/value_list.h"

enum SettingSlot : int {
    kSlotGamma = 0,
    kSlotBrightness = 1,
    kSlotContrast = 2,
    kSlotSaturation = 3,
    kSlotHue = 4,
    kSlotSharpness = 5,
    kSlotFlicker = 6,
    kSlotAmbience = 7,
    kSlotNightMode = 8,
    kSlotEffect = 9,
    kSlotPreviewExposure = 10,
    kSlotSnapshotExposure = 11,
    kSlotCaptureMode = 12,
    kSlotPhotoFormat = 13,
    kSlotPhotoSize = 14,
    kSlotPhotoSaveTo = 15,
    kSlotVideoFormat = 16,
    kSlotVideoSize = 17,
    kSlotVideoSaveTo = 18,
    kSlotSound = 19,
    kSlotBacklight = 20,
    kSlotShutter = 21,
    kSlotMaxFps = 22,
    kSlotWysiwyg = 23,
    kSlotOrientation = 24,
    kSlotPhotoScreen = 25,
    kSlotVideoScreen = 26,
    kSlotPhotoQuality = 27,
    kSlotVideoQuality = 28,
    kSlotPixelOrder = 29,
    kSlotRotation = 30,
    kSlotDelay = 31,
    kSlotServer = 32,
    kSlotVideoAspect = 33,
    kSlotPhotoAspect = 34,
    kSlotVideoZoom = 35,
    kSlotPhotoZoom = 36,
    kSlotAverage = 37,
    kSlotKeyMinimize = 38,
    kSlotKeySleep = 39,
    kSlotKeyExit = 40,
    kSlotKeySnapshot = 41,
    kSlotKeyMenuPrev = 42,
    kSlotKeyBrightnessUp = 43,
    kSlotKeyBrightnessDown = 44,
    kSlotKeyExposure = 45,
    kSlotKeyNightMode = 46,
    kSlotKeyWysiwyg = 47,
    kSlotTouchScreen = 48,
    kSettingsCount = 49,
};

// Capture modes (values of kSlotCaptureMode).
enum CaptureMode : int32_t { kModePhoto = 0, kModeVideo = 1, kModeInterval = 2, kModeWebcam = 3 };

// Pointers to the 49 lists; fixed at build time.
extern ValueList* const gSettingsTable[kSettingsCount];

inline ValueList& setting(int slot) {
    return *gSettingsTable[slot];
}
