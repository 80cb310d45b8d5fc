// The settings model: the device-dependent ranges and capable size rows, the camera source, the
// size lists and their labels, the "Screen" lists, the device defaults, the storage places of the
// "Save To" lists and the edition's restrictions. All of it runs at start-up on the window thread
// before the camera streams; "Reset All Menus" only clears the chosen indices.
#include "settings/settings_model.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "camera/camera_backend.h"
#include "camera/device_info.h"
#include "core/app_state.h"
#include "jpeg/jpeg_encoder.h"
#include "settings/camera_controller.h"
#include "settings/size_table.h"
#include "settings/value_tables.h"

namespace {

// The zoom lists: only the index is used.
constexpr int32_t kZoomSteps = 100;
// A screen height of 220 lines is captured as 224 (a multiple of 16).
constexpr uint32_t kOddScreenHeight = 220;
constexpr uint32_t kCapturedOddScreenHeight = 224;

// Sizes the size-list defaults look for (4:3).
constexpr PictureSize kPhotoDefaultSize = {640, 480};
constexpr PictureSize kVideoDefaultSize = {320, 240};
// The largest size most cameras stream continuously, and that of the fast ones.
constexpr PictureSize kStreamSize = {320, 240};
constexpr PictureSize kFastStreamSize = {640, 480};

uint32_t gCameraType = kCameraTypeNoCamera;

// Every size list entry in each of the four aspects, so that a change of aspect only switches
// tables: the overlay may be drawing the old labels meanwhile.
struct SizeListStore {
    ValueEntry entries[kSizeAspects][kSizeRows];
    char labels[kSizeAspects][kSizeRows][kSizeLabelBytes];
};
SizeListStore gPhotoSizeStore;
SizeListStore gVideoSizeStore;

bool isOneOf(uint32_t type, std::initializer_list<uint32_t> types) {
    for (uint32_t t : types)
        if (t == type) return true;
    return false;
}

void setNumeric(ValueList& list, int32_t count, int32_t base, int32_t defaultIndex) {
    list.current.store(-1, std::memory_order_relaxed);
    list.defaultIndex = defaultIndex;
    list.count = count;
    list.table.store(nullptr, std::memory_order_release);
    list.base = base;
    list.step = 1;
}

void setTable(ValueList& list, const ValueEntry* table, int32_t count, int32_t defaultIndex) {
    list.current.store(-1, std::memory_order_relaxed);
    list.defaultIndex = defaultIndex;
    list.count = count;
    list.table.store(table, std::memory_order_release);
    list.base = 0;
    list.step = 0;
}

ValueList& sizeList(bool isPhoto) {
    return isPhoto ? gController.photoSize : gController.videoSize;
}

// The index of the entry whose row's 4:3 size is `size`, or -1.
int32_t entryOfSize(const ValueList& list, PictureSize size) {
    for (int32_t i = 0; i < list.count; ++i) {
        PictureSize s = sizeOf(entryValue(list, i), 0);
        if (s.width == size.width && s.height == size.height) return i;
    }
    return -1;
}

void narrowCapableRows(uint32_t type, bool screenEdition, PictureSize screen) {
    std::memcpy(gSizeTable, kSizeTable, sizeof gSizeTable);
    for (int k = 0; k < kSizeRows; ++k) gPhotoCapableRows[k] = 1;
    gPhotoCapableRows[4] = isOneOf(type, {0, 1, 2, 11, 13});
    gPhotoCapableRows[5] = isOneOf(type, {3, 4, 5, 6, 8, 9, 10, 12});
    gPhotoCapableRows[6] = isOneOf(type, {4, 10});
    gPhotoCapableRows[7] = 0;
    if (isOneOf(type, {0, 1})) gPhotoCapableRows[0] = 0;

    if (screenEdition) {
        for (int a = 0; a < kSizeAspects; ++a) gSizeTable[0][a] = screen;
        for (int k = 0; k < kSizeRows; ++k) gPhotoCapableRows[k] = k == 0;
    }

    for (int k = 0; k < kSizeRows; ++k) gVideoCapableRows[k] = k <= 4 ? gPhotoCapableRows[k] : 0;
    if (isOneOf(type, {7, 8, 9})) gVideoCapableRows[3] = 0;
}

// x and y down to even numbers, width and height down to multiples of 16; usable when it has an
// extent, is not entirely off the top left, and fits the screen in at least one direction.
void alignCaptureWindow(PictureSize screen) {
    const int32_t* window = gApp.captureWindow;
    int32_t x = window[0] & ~1;
    int32_t y = window[1] & ~1;
    int32_t width = window[2] & ~15;
    int32_t height = window[3] & ~15;
    int32_t* aligned = gController.alignedCaptureWindow;
    aligned[0] = x;
    aligned[1] = y;
    aligned[2] = width;
    aligned[3] = height;
    const int64_t right = int64_t{x} + width;
    const int64_t bottom = int64_t{y} + height;
    const bool fits = right <= int64_t{screen.width} || bottom <= int64_t{screen.height};
    gController.captureWindowValid = (width > 0 || height > 0) && !(x < 0 && y < 0) && fits;
}

PictureSize screenSize(const DeviceInfo& device) {
    uint32_t width = device.display.cxPixels > 0 ? uint32_t(device.display.cxPixels) : 0;
    uint32_t height = device.display.cyPixels > 0 ? uint32_t(device.display.cyPixels) : 0;
    if (height == kOddScreenHeight) height = kCapturedOddScreenHeight;
    return {width, height};
}

}  // namespace

uint32_t modelCameraType() {
    return gCameraType;
}

bool buildSettingsModel(const DeviceInfo& device) {
    screenFramePeriod.store(maxFpsPeriod, std::memory_order_relaxed);
    const uint32_t type = device.cameraType;
    const bool screenEdition = gApp.screenCaptureEdition != 0;
    CameraController& c = gController;
    gCameraType = type;

    if (screenEdition || type == kCameraTypeNoCamera)
        c.backend = &kScreenSourceBackend;
    else if (type == kCameraTypeLcm1)
        c.backend = &kLcm1Backend;
    else if (type == kCameraTypeDsc1)
        c.backend = &kDsc1Backend;
    else
        c.backend = &gCameraLibraryBackend;

    // Picture adjustments: the common ranges, then the cameras that differ.
    setNumeric(c.gamma, 0, 0, 0);
    setNumeric(c.brightness, 9, 1, 4);
    setNumeric(c.contrast, 9, 1, 4);
    setNumeric(c.saturation, 9, 1, 3);
    setNumeric(c.hue, 8, 1, 4);
    setNumeric(c.sharpness, 15, 1, 0);
    if (isOneOf(type, {8, 9})) {
        setNumeric(c.gamma, 11, 0, 0);
        setNumeric(c.saturation, 10, 0, 4);
        setNumeric(c.hue, 10, 0, 4);
    }
    if (type == kCameraTypeDsc1) {
        setNumeric(c.brightness, 9, 0, 4);
        setNumeric(c.contrast, 7, 0, 4);
    } else if (isOneOf(type, {5, 6, 8, 9, 11})) {
        setNumeric(c.brightness, kWideBrightnessCount, 0, kWideBrightnessDefault);
        c.brightness.step = kWideBrightnessStep;
    }

    gEffectTable[0].value = kEffectNormal;
    setTable(c.flicker, kFlickerTable, kFlickerCount, 0);
    setTable(c.ambience, kAmbienceTable, kAmbienceCount, 0);
    setTable(c.effect, gEffectTable, kEffectCount, 0);
    setTable(c.nightMode, kNightModeTable, kNightModeCount, 0);
    setTable(c.previewExposure, kExposureTable, kExposureCount, 0);
    setTable(c.snapshotExposure, kExposureTable, kExposureCount, 1);
    const int32_t aspects = type == kCameraTypeDsc1 || screenEdition ? 1 : kAspectCount;
    setTable(c.videoAspect, kAspectTable, aspects, 0);
    setTable(c.photoAspect, kAspectTable, aspects, 0);

    const PictureSize screen = screenSize(device);
    narrowCapableRows(type, screenEdition, screen);
    if (screenEdition)
        alignCaptureWindow(screen);
    else
        c.captureWindowValid = 0;

    c.maxPhotoWidth = 0;
    c.maxPhotoHeight = 0;
    for (int k = 0; k <= 6; ++k) {
        if (!gPhotoCapableRows[k]) continue;
        c.maxPhotoWidth = gSizeTable[k][0].width;
        c.maxPhotoHeight = gSizeTable[k][0].height;
    }

    setNumeric(c.videoZoom, kZoomSteps, 0, 0);
    setNumeric(c.photoZoom, kZoomSteps, 0, 0);
    if (!screenEdition && isOneOf(type, {0, 1})) c.videoZoom.defaultIndex = 1;

    PictureSize stream = isOneOf(type, {0, 1, 3, 6, 11}) ? kFastStreamSize : kStreamSize;
    if (screenEdition) stream = gSizeTable[0][0];
    c.maxStreamWidth = stream.width;
    c.maxStreamHeight = stream.height;

    buildSizeList(true);
    buildSizeList(false);
    if (!screenEdition) {
        int32_t photo = entryOfSize(c.photoSize, kPhotoDefaultSize);
        if (photo >= 0) c.photoSize.defaultIndex = photo;
        int32_t video = entryOfSize(c.videoSize, kVideoDefaultSize);
        if (video >= 0) c.videoSize.defaultIndex = video;
    }
    return true;
}

void buildSizeList(bool isPhoto) {
    const uint8_t* capable = isPhoto ? gPhotoCapableRows : gVideoCapableRows;
    SizeListStore& store = isPhoto ? gPhotoSizeStore : gVideoSizeStore;
    int32_t count = 0;
    for (int k = 0; k < kSizeRows; ++k) {
        const PictureSize size = gSizeTable[k][0];
        if (size.width == 0 || size.height == 0) continue;
        // The row enters when a capable row is an exact integer multiple of it.
        bool divides = false;
        for (int j = 0; j < kSizeRows && !divides; ++j) {
            if (!capable[j]) continue;
            const PictureSize big = gSizeTable[j][0];
            const uint32_t q = big.width / size.width;
            divides = q > 0 && size.width * q == big.width && size.height * q == big.height;
        }
        if (!divides) continue;
        for (int a = 0; a < kSizeAspects; ++a) {
            const PictureSize labelled = gSizeTable[k][a];
            char* label = store.labels[a][count];
            snprintf(label, kSizeLabelBytes, "%u x %u", labelled.width, labelled.height);
            store.entries[a][count] = {label, k};
        }
        ++count;
    }
    setTable(sizeList(isPhoto), store.entries[0], count, 0);
}

void relabelSizeList(bool isPhoto) {
    const ValueList& aspect = isPhoto ? gController.photoAspect : gController.videoAspect;
    int32_t column = valueOf(aspect);
    if (column < 0 || column >= kSizeAspects) column = 0;
    const SizeListStore& store = isPhoto ? gPhotoSizeStore : gVideoSizeStore;
    sizeList(isPhoto).table.store(store.entries[column], std::memory_order_release);
}

void completeDeviceLists(const DeviceInfo& device) {
    const bool fast = device.isPxa27x != 0;
    const ValueEntry* screens = fast ? kFastScreenTable : kSlowScreenTable;
    const int32_t count = fast ? kFastScreenCount : kSlowScreenCount;
    setTable(setting(kSlotPhotoScreen), screens, count, 0);
    setTable(setting(kSlotVideoScreen), screens, count, fast ? 0 : 1);

    auto setDefault = [](int slot, uint32_t index) {
        ValueList& list = setting(slot);
        list.defaultIndex = index < uint32_t(list.count) ? int32_t(index) : 0;
    };
    setDefault(kSlotOrientation, device.orientationDefault);
    setDefault(kSlotPixelOrder, device.pixelOrderDefault);
    setDefault(kSlotRotation, device.rotationDefault);
}

void setSaveToEntries(const ValueEntry* entries, int32_t count) {
    if (!entries || count <= 0) {
        entries = kMainMemoryPlace;
        count = 1;
    }
    const int32_t defaultIndex = count >= 2 ? 1 : 0;
    setTable(setting(kSlotPhotoSaveTo), entries, count, defaultIndex);
    setTable(setting(kSlotVideoSaveTo), entries, count, defaultIndex);
}

void applyEditionRestrictions() {
    ValueList& format = setting(kSlotPhotoFormat);
    if (gEncoderSetup.available) {
        format.count = kPhotoFormatCount;
        format.defaultIndex = kPhotoFormatDefault;
    } else {
        format.count = 1;  // "BMP" alone
        format.defaultIndex = 0;
    }
    setting(kSlotMaxFps).defaultIndex =
        gApp.screenCaptureEdition ? kMaxFpsScreenCaptureDefault : kMaxFpsDefault;
}

void showChoicePage(int index) {
    MenuPage* page = &gMenuPages[index];
    MenuPage* current = gApp.currentPage.load();
    if (current != page) page->parent = current;
    page->selected.store(0);
    gApp.currentPage.store(page);
    gApp.menuVisible.store(1);
}

int32_t maxFpsPeriod() {
    return valueOf(setting(kSlotMaxFps));
}

MenuPage* currentModePage() {
    switch (valueOf(setting(kSlotCaptureMode))) {
        case kModeVideo:
            return &gMenuPages[kPageVideo];
        case kModeInterval:
            return &gMenuPages[kPageInterval];
        case kModeWebcam:
            return &gMenuPages[kPageWebcam];
        default:
            return &gMenuPages[kPagePhoto];
    }
}

void refreshMainModeItem() {
    MenuPage& main = gMenuPages[kPageMain];
    if (main.items && main.itemCount > 1)
        main.items[1].label.store(currentModePage()->title, std::memory_order_release);
}

void resetAllSettings() {
    for (ValueList* list : gSettingsTable) list->current.store(-1, std::memory_order_relaxed);
}
