// The labelled value tables of the settings that the settings model installs at start-up (the
// static lists carry theirs from the start). Labels are the program's own texts, exactly.
#pragma once

#include "settings/value_list.h"

// "None" and the 21 named hardware keys, as the value table of the key-binding settings.
constexpr int kNamedKeyCount = 22;
extern const ValueEntry kNamedKeyTable[kNamedKeyCount];

constexpr int kFlickerCount = 3;
constexpr int kAmbienceCount = 4;
constexpr int kEffectCount = 5;
constexpr int kNightModeCount = 2;
constexpr int kExposureCount = 3;
constexpr int kAspectCount = 4;
constexpr int kPhotoFormatCount = 4;
constexpr int kFastScreenCount = 3;
constexpr int kSlowScreenCount = 5;

extern const ValueEntry kFlickerTable[kFlickerCount];
extern const ValueEntry kAmbienceTable[kAmbienceCount];
// Not const: "Night Mode" writes its value into the first entry ("Normal") so that the plain
// effect carries the night bit.
extern ValueEntry gEffectTable[kEffectCount];
extern const ValueEntry kNightModeTable[kNightModeCount];
// Shared by the preview and the snapshot exposure; the first two entries are "Auto", "Locked".
extern const ValueEntry kExposureTable[kExposureCount];
// "4:3", "3:4", "16:9", "9:16": the value is the column of the size table.
extern const ValueEntry kAspectTable[kAspectCount];
// "BMP" first, so that cutting the count to 1 leaves only "BMP".
extern const ValueEntry kPhotoFormatTable[kPhotoFormatCount];
// Preview styles: the fast devices have their own kernels, and no grey styles.
extern const ValueEntry kFastScreenTable[kFastScreenCount];
extern const ValueEntry kSlowScreenTable[kSlowScreenCount];

// The "Save To" lists until the storage places are known: main memory alone.
extern const ValueEntry kMainMemoryPlace[1];

// "Brightness" of the cameras that take 0 to 255: 0, 15 ... 255, default index 8 (120).
constexpr int32_t kWideBrightnessCount = 18;
constexpr int32_t kWideBrightnessStep = 15;
constexpr int32_t kWideBrightnessDefault = 8;

// Effect value of "Normal" without the night bit ("Off" of "Night Mode").
constexpr int32_t kEffectNormal = 1;
// The default index of "Format" (photo, "JPG 422") and of "Max FPS" ("25" and, in the
// screen-capture edition, "10").
constexpr int32_t kPhotoFormatDefault = 1;
constexpr int32_t kMaxFpsDefault = 9;
constexpr int32_t kMaxFpsScreenCaptureDefault = 5;
