// The 49 settings: the value tables, the process-wide lists that are not the controller's, the
// table of pointers in persisted order, and the picture-size table.
#include "settings/settings_table.h"

#include "core/app_state.h"
#include "settings/camera_controller.h"
#include "settings/size_table.h"
#include "settings/value_tables.h"

// --- Tables the settings model installs ---------------------------------------------------------

const ValueEntry kFlickerTable[kFlickerCount] = {{"Auto", 1}, {"50hz", 2}, {"60hz", 4}};
const ValueEntry kAmbienceTable[kAmbienceCount] = {
    {"Auto", 1}, {"Daylight", 2}, {"Incandescen", 4}, {"Fluorescent", 8}};
ValueEntry gEffectTable[kEffectCount] = {
    {"Normal", kEffectNormal}, {"Grayscale", 2}, {"Sepia", 4}, {"Cool", 8}, {"Negative", 16}};
const ValueEntry kNightModeTable[kNightModeCount] = {{"Off", 1}, {"On", 128}};
const ValueEntry kExposureTable[kExposureCount] = {{"Auto", 2}, {"Locked", 4}, {"Auto(Night)", 6}};
const ValueEntry kAspectTable[kAspectCount] = {{"4:3", 0}, {"3:4", 1}, {"16:9", 2}, {"9:16", 3}};
const ValueEntry kPhotoFormatTable[kPhotoFormatCount] = {
    {"BMP", 0}, {"JPG 422", 2}, {"JPG 420", 1}, {"JPG Gray", 4}};
const ValueEntry kFastScreenTable[kFastScreenCount] = {{"Full", 5}, {"Small", 6}, {"Null", 0}};
const ValueEntry kMainMemoryPlace[1] = {{"\\My Documents\\My..", 0}};
const ValueEntry kSlowScreenTable[kSlowScreenCount] = {
    {"Full", 3}, {"Small", 4}, {"Gray", 1}, {"Gray Small", 2}, {"Null", 0}};

// The hardware keys an action can be bound to; the value is the key code of the key message.
const ValueEntry kNamedKeyTable[kNamedKeyCount] = {
    {"None", 0},       {"Green", 114},  {"Red", 115},    {"VolUp", 117},  {"VolDown", 118},
    {"Prog1", 193},    {"Prog2", 194},  {"Prog3", 195},  {"Prog4", 196},  {"Star(*)", 119},
    {"Sharp(#)", 120}, {"Back", 27},    {"Digit 0", 48}, {"Digit 1", 49}, {"Digit 2", 50},
    {"Digit 3", 51},   {"Digit 4", 52}, {"Digit 5", 53}, {"Digit 6", 54}, {"Digit 7", 55},
    {"Digit 8", 56},   {"Digit 9", 57},
};

namespace {

// --- Tables of the static lists -----------------------------------------------------------------

const ValueEntry kCaptureModeTable[] = {{" Photo >", kModePhoto},
                                        {"< Video >", kModeVideo},
                                        {"< Interval >", kModeInterval},
                                        {"< Webcam", kModeWebcam}};
const ValueEntry kVideoFormatTable[] = {
    {"AVI (MJPG 422)", 2}, {"AVI (MJPG 420)", 1}, {"AVI (MJPG Gray)", 4}};
const ValueEntry kOnOffTable[] = {{"On", 1}, {"Off", 0}};
const ValueEntry kBacklightTable[] = {{"Normal", 0}, {"Always On", 1}};
const ValueEntry kShutterTable[] = {{"Sound On", 1}, {"Sound Off", 0}};
// Frame periods in ms.
const ValueEntry kMaxFpsTable[] = {{"1", 1000}, {"2", 500}, {"3", 332}, {"4", 250}, {"5", 200},
                                   {"10", 100}, {"12", 80}, {"15", 66}, {"20", 50}, {"25", 40}};
const ValueEntry kOffOnTable[] = {{"Off", 0}, {"On", 1}};
const ValueEntry kOrientationTable[] = {
    {"Landscape L", 0}, {"Portrait", 1}, {"Landscape R", 2}, {"Portrait R", 3}};
const ValueEntry kQualityTable[] = {{"100%", 100}, {"90%", 90}, {"85%", 85}, {"80%", 80},
                                    {"75%", 75},   {"65%", 65}, {"55%", 55}, {"45%", 45},
                                    {"30%", 30},   {"25%", 25}};
const ValueEntry kPixelOrderTable[] = {{"Normal", 0}, {"Reversed", 1}};
const ValueEntry kRotationTable[] = {{"None", 0}, {"90L", 1}, {"180", 2}, {"90R", 3}};
// Delays in ms; "0 sec" is 1 ms, not 0.
const ValueEntry kDelayTable[] = {
    {"0 sec", 1},      {"1 sec", 1000},   {"2 sec", 2000},   {"3 sec", 3000},   {"4 sec", 4000},
    {"5 sec", 5000},   {"10 sec", 10000}, {"20 sec", 20000}, {"30 sec", 30000}, {"1 min", 60000},
    {"2 min", 120000}, {"3 min", 180000}, {"5 min", 300000}, {"10 min", 600000}};
// The configured server's label is the server text itself.
const ValueEntry kServerTable[] = {{"Auto", 0}, {gApp.webcamServer, 1}};
// log2 of the number of frames averaged.
const ValueEntry kAverageTable[] = {{"1", 0},  {"2", 1},  {"4", 2},   {"8", 3},  {"16", 4},
                                    {"32", 5}, {"64", 6}, {"128", 7}, {"256", 8}};
const ValueEntry kTouchScreenTable[] = {{"Disable", 0}, {"Switch Menu", 1}, {"Make Photo", 2}};

template <size_t N>
constexpr int32_t countOf(const ValueEntry (&)[N]) {
    return static_cast<int32_t>(N);
}

// Indices into kNamedKeyTable of the bindings' defaults.
constexpr int32_t kKeyNone = 0;
constexpr int32_t kKeyProg3 = 7;
constexpr int32_t kKeyBack = 11;

// --- The static lists ---------------------------------------------------------------------------

ValueList gCaptureMode{.count = countOf(kCaptureModeTable), .table = kCaptureModeTable};
ValueList gPhotoFormat{
    .defaultIndex = kPhotoFormatDefault, .count = kPhotoFormatCount, .table = kPhotoFormatTable};
ValueList gPhotoSaveTo{.count = 1, .table = kMainMemoryPlace};
ValueList gVideoFormat{
    .defaultIndex = 1, .count = countOf(kVideoFormatTable), .table = kVideoFormatTable};
ValueList gVideoSaveTo{.count = 1, .table = kMainMemoryPlace};
ValueList gSound{.count = countOf(kOnOffTable), .table = kOnOffTable};
ValueList gBacklight{
    .defaultIndex = 1, .count = countOf(kBacklightTable), .table = kBacklightTable};
ValueList gShutter{.count = countOf(kShutterTable), .table = kShutterTable};
ValueList gMaxFps{
    .defaultIndex = kMaxFpsDefault, .count = countOf(kMaxFpsTable), .table = kMaxFpsTable};
ValueList gWysiwyg{.count = countOf(kOffOnTable), .table = kOffOnTable};
ValueList gOrientation{.count = countOf(kOrientationTable), .table = kOrientationTable};
ValueList gPhotoScreen{.count = kSlowScreenCount, .table = kSlowScreenTable};
ValueList gVideoScreen{.defaultIndex = 1, .count = kSlowScreenCount, .table = kSlowScreenTable};
ValueList gPhotoQuality{.defaultIndex = 2, .count = countOf(kQualityTable), .table = kQualityTable};
ValueList gVideoQuality{.defaultIndex = 4, .count = countOf(kQualityTable), .table = kQualityTable};
ValueList gPixelOrder{.count = countOf(kPixelOrderTable), .table = kPixelOrderTable};
ValueList gRotation{.count = countOf(kRotationTable), .table = kRotationTable};
ValueList gDelay{.defaultIndex = 4, .count = countOf(kDelayTable), .table = kDelayTable};
ValueList gServer{.count = countOf(kServerTable), .table = kServerTable};
ValueList gAverage{.count = countOf(kAverageTable), .table = kAverageTable};
ValueList gKeyMinimize{.defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeySleep{.defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeyExit{.defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeySnapshot{.defaultIndex = kKeyProg3, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeyMenuPrev{.defaultIndex = kKeyBack, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeyBrightnessUp{
    .defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeyBrightnessDown{
    .defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeyExposure{.defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeyNightMode{.defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gKeyWysiwyg{.defaultIndex = kKeyNone, .count = kNamedKeyCount, .table = kNamedKeyTable};
ValueList gTouchScreen{
    .defaultIndex = 1, .count = countOf(kTouchScreenTable), .table = kTouchScreenTable};

}  // namespace

ValueList* const gSettingsTable[kSettingsCount] = {
    &gController.gamma,
    &gController.brightness,
    &gController.contrast,
    &gController.saturation,
    &gController.hue,
    &gController.sharpness,
    &gController.flicker,
    &gController.ambience,
    &gController.nightMode,
    &gController.effect,
    &gController.previewExposure,
    &gController.snapshotExposure,
    &gCaptureMode,
    &gPhotoFormat,
    &gController.photoSize,
    &gPhotoSaveTo,
    &gVideoFormat,
    &gController.videoSize,
    &gVideoSaveTo,
    &gSound,
    &gBacklight,
    &gShutter,
    &gMaxFps,
    &gWysiwyg,
    &gOrientation,
    &gPhotoScreen,
    &gVideoScreen,
    &gPhotoQuality,
    &gVideoQuality,
    &gPixelOrder,
    &gRotation,
    &gDelay,
    &gServer,
    &gController.videoAspect,
    &gController.photoAspect,
    &gController.videoZoom,
    &gController.photoZoom,
    &gAverage,
    &gKeyMinimize,
    &gKeySleep,
    &gKeyExit,
    &gKeySnapshot,
    &gKeyMenuPrev,
    &gKeyBrightnessUp,
    &gKeyBrightnessDown,
    &gKeyExposure,
    &gKeyNightMode,
    &gKeyWysiwyg,
    &gTouchScreen,
};

// --- Picture sizes ------------------------------------------------------------------------------

const PictureSize kSizeTable[kSizeRows][kSizeAspects] = {
    {{176, 144}, {112, 144}, {176, 96}, {80, 144}},
    {{320, 240}, {176, 240}, {320, 176}, {128, 240}},
    {{352, 288}, {224, 288}, {352, 192}, {160, 288}},
    {{640, 480}, {352, 480}, {640, 352}, {256, 480}},
    {{1280, 960}, {720, 960}, {1280, 720}, {544, 960}},
    {{1280, 1024}, {768, 1024}, {1280, 720}, {576, 1024}},
    {{1600, 1200}, {896, 1200}, {1600, 896}, {672, 1200}},
    {{1600, 1280}, {960, 1280}, {1600, 896}, {720, 1280}},
};
PictureSize gSizeTable[kSizeRows][kSizeAspects];
uint8_t gPhotoCapableRows[kSizeRows] = {1, 1, 1, 1, 1, 1, 1, 1};
uint8_t gVideoCapableRows[kSizeRows] = {1, 1, 1, 1, 1, 1, 1, 1};
