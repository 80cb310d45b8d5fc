// The eleven menu pages: their items in order, the items each edition and platform hides, and
// the first selection.
#include <cstring>

#include "camera/device_info.h"
#include "core/app_state.h"
#include "settings/settings_model.h"

namespace {

constexpr int kNoSetting = -1;  // an action or a sub-page

struct ItemSpec {
    const char* label;
    int slot;
};

constexpr ItemSpec kSettingsItems[] = {
    {"Backlight", kSlotBacklight},   {"Orientation", kSlotOrientation},
    {"Rotation", kSlotRotation},     {"Pixel Order", kSlotPixelOrder},
    {"Edit Config.txt", kNoSetting}, {"Define Keys", kNoSetting},
    {"Reset All Menus", kNoSetting}, {"Back", kNoSetting}};
// Item 1 is the current mode's page; its label is that page's title, set at run time.
constexpr ItemSpec kMainItems[] = {{"Settings", kNoSetting}, {"Photo", kNoSetting},
                                   {"Adjust", kNoSetting},   {"Control", kNoSetting},
                                   {"About", kNoSetting},    {"Exit", kNoSetting}};
constexpr ItemSpec kAdjustItems[] = {{"Brightness", kSlotBrightness}, {"Contrast", kSlotContrast},
                                     {"Saturation", kSlotSaturation}, {"Hue", kSlotHue},
                                     {"Sharpness", kSlotSharpness},   {"Back", kNoSetting}};
// Camera types 8 and 9 have "Gamma" in place of "Contrast" and no "Sharpness".
constexpr ItemSpec kGammaAdjustItems[] = {{"Brightness", kSlotBrightness},
                                          {"Gamma", kSlotGamma},
                                          {"Saturation", kSlotSaturation},
                                          {"Hue", kSlotHue},
                                          {"Back", kNoSetting}};
constexpr ItemSpec kControlItems[] = {{"Flicker", kSlotFlicker},
                                      {"Ambience", kSlotAmbience},
                                      {"Effect", kSlotEffect},
                                      {"Night Mode", kSlotNightMode},
                                      {"~Exposure", kNoSetting},
                                      {"Preview", kSlotPreviewExposure},
                                      {"Snapshort", kSlotSnapshotExposure},
                                      {"Back", kNoSetting}};
constexpr ItemSpec kMovieChoiceItems[] = {{"Continue record", kNoSetting},
                                          {"Save movie", kNoSetting},
                                          {"Don't save movie", kNoSetting},
                                          {"View in Album", kNoSetting}};
constexpr ItemSpec kPhotoChoiceItems[] = {
    {"Save Photo", kNoSetting}, {"Don't save photo", kNoSetting}, {"View in Album", kNoSetting}};
constexpr ItemSpec kPhotoItems[] = {
    {"Size", kSlotPhotoSize},       {"Aspect", kSlotPhotoAspect}, {"Format", kSlotPhotoFormat},
    {"Quality", kSlotPhotoQuality}, {"Screen", kSlotPhotoScreen}, {"Save To", kSlotPhotoSaveTo},
    {"Shutter", kSlotShutter},      {"WYSIWYG", kSlotWysiwyg},    {"Back", kNoSetting}};
constexpr ItemSpec kVideoItems[] = {
    {"Size", kSlotVideoSize},       {"Aspect", kSlotVideoAspect}, {"Format", kSlotVideoFormat},
    {"Quality", kSlotVideoQuality}, {"Screen", kSlotVideoScreen}, {"Save To", kSlotVideoSaveTo},
    {"Sound", kSlotSound},          {"Max FPS", kSlotMaxFps},     {"Back", kNoSetting}};
constexpr ItemSpec kWebcamItems[] = {{"Size", kSlotVideoSize},     {"Aspect", kSlotVideoAspect},
                                     {"Format", kSlotVideoFormat}, {"Quality", kSlotVideoQuality},
                                     {"Screen", kSlotVideoScreen}, {"Server", kSlotServer},
                                     {"Max FPS", kSlotMaxFps},     {"Back", kNoSetting}};
constexpr ItemSpec kIntervalItems[] = {{"Size", kSlotPhotoSize},     {"Aspect", kSlotPhotoAspect},
                                       {"Format", kSlotPhotoFormat}, {"Quality", kSlotPhotoQuality},
                                       {"Screen", kSlotPhotoScreen}, {"Save To", kSlotPhotoSaveTo},
                                       {"Shutter", kSlotShutter},    {"Delay", kSlotDelay},
                                       {"Average", kSlotAverage},    {"Back", kNoSetting}};
constexpr ItemSpec kDefineKeysItems[] = {{"Minimize", kSlotKeyMinimize},
                                         {"Sleep", kSlotKeySleep},
                                         {"Exit", kSlotKeyExit},
                                         {"Snapshort", kSlotKeySnapshot},
                                         {"Menu Prev", kSlotKeyMenuPrev},
                                         {"Brightness+", kSlotKeyBrightnessUp},
                                         {"Brightness-", kSlotKeyBrightnessDown},
                                         {"Exposre", kSlotKeyExposure},
                                         {"Night Mode", kSlotKeyNightMode},
                                         {"Wysiwyg", kSlotKeyWysiwyg},
                                         {"TouchScreen", kSlotTouchScreen},
                                         {"Back", kNoSetting}};

constexpr size_t kMostItems = 12;

template <size_t N>
constexpr size_t itemCountOf(const ItemSpec (&)[N]) {
    static_assert(N <= kMostItems);
    return N;
}

MenuItem gItems[kPageCount][kMostItems];

void fill(int page, const ItemSpec* specs, size_t count) {
    MenuPage& p = gMenuPages[page];
    p.items = gItems[page];
    p.itemCount = static_cast<uint32_t>(count);
    for (size_t i = 0; i < kMostItems; ++i) {
        MenuItem& item = p.items[i];
        const bool present = i < count;
        item.label.store(present ? specs[i].label : nullptr, std::memory_order_relaxed);
        item.setting = present && specs[i].slot != kNoSetting ? &setting(specs[i].slot) : nullptr;
    }
}

template <size_t N>
void fill(int page, const ItemSpec (&specs)[N]) {
    fill(page, specs, itemCountOf(specs));
}

void hide(int page, const char* label) {
    MenuPage& p = gMenuPages[page];
    for (uint32_t i = 0; i < p.itemCount; ++i) {
        const char* text = p.items[i].label.load(std::memory_order_relaxed);
        if (text && std::strcmp(text, label) == 0)
            p.items[i].label.store(nullptr, std::memory_order_relaxed);
    }
}

bool selectable(const MenuItem& item) {
    const char* label = item.label.load(std::memory_order_relaxed);
    return label && label[0] != '~';
}

}  // namespace

MenuPage gMenuPages[kPageCount] = {
    {.title = "Settings"}, {.title = "Main"},          {.title = "Adjust"},
    {.title = "Control"},  {.title = "Choose action"}, {.title = "Choose action"},
    {.title = "Photo"},    {.title = "Video"},         {.title = "Webcam"},
    {.title = "Interval"}, {.title = "Define Keys"}};

void buildMenuPages(const DeviceInfo& device) {
    fill(kPageSettings, kSettingsItems);
    fill(kPageMain, kMainItems);
    if (modelCameraType() == 8 || modelCameraType() == 9)
        fill(kPageAdjust, kGammaAdjustItems);
    else
        fill(kPageAdjust, kAdjustItems);
    fill(kPageControl, kControlItems);
    fill(kPageMovieChoice, kMovieChoiceItems);
    fill(kPagePhotoChoice, kPhotoChoiceItems);
    fill(kPagePhoto, kPhotoItems);
    fill(kPageVideo, kVideoItems);
    fill(kPageWebcam, kWebcamItems);
    fill(kPageInterval, kIntervalItems);
    fill(kPageDefineKeys, kDefineKeysItems);
    gMenuPages[kPageMain].items[1].label.store(currentModePage()->title, std::memory_order_relaxed);

    if (gApp.screenCaptureEdition) {
        for (int page : {kPagePhoto, kPageVideo, kPageWebcam, kPageInterval}) {
            hide(page, "Size");
            hide(page, "Aspect");
            hide(page, "Screen");
        }
        hide(kPagePhoto, "WYSIWYG");
        hide(kPageInterval, "Average");
        hide(kPageMain, "Adjust");
        hide(kPageMain, "Control");
        hide(kPageSettings, "Pixel Order");
    } else {
        hide(kPageWebcam, "Max FPS");
    }
    if (device.isSmartphone) hide(kPageDefineKeys, "TouchScreen");

    for (MenuPage& page : gMenuPages) {
        page.labelWidth = 0;
        page.parent = nullptr;
        page.editStartIndex.store(-1, std::memory_order_relaxed);
        page.selected.store(0, std::memory_order_relaxed);
        bool chosen = false;
        for (uint32_t i = 0; i < page.itemCount; ++i) {
            const MenuItem& item = page.items[i];
            const char* label = item.label.load(std::memory_order_relaxed);
            if (label && item.setting) {
                const uint32_t length = static_cast<uint32_t>(std::strlen(label));
                if (length > page.labelWidth) page.labelWidth = length;
            }
            if (!chosen && selectable(item)) {
                page.selected.store(i, std::memory_order_relaxed);
                chosen = true;
            }
        }
    }
}
