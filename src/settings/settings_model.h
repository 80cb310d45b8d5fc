// The menu pages and the start-up building of the settings for the device.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/settings_table.h"

struct DeviceInfo;

// The overlay draws the pages on the capture thread while the window thread moves through them:
// what changes after start-up (an item's label, the selection, the edit state) is atomic.
struct MenuItem {
    std::atomic<const char*> label{nullptr};  // null hides the item; "~" first: a heading
    ValueList* setting = nullptr;             // null: an action or a sub-page
};

struct MenuPage {
    const char* title = nullptr;
    MenuItem* items = nullptr;
    uint32_t itemCount = 0;
    std::atomic<uint32_t> selected{0};
    uint32_t labelWidth = 0;                  // the longest label among items with a setting
    MenuPage* parent = nullptr;               // the page to return to; null: the Main page
    std::atomic<int32_t> editStartIndex{-1};  // -1 while browsing; else the index editing began at
};

enum PageIndex : int {
    kPageSettings = 0,
    kPageMain = 1,
    kPageAdjust = 2,
    kPageControl = 3,
    kPageMovieChoice = 4,
    kPagePhotoChoice = 5,
    kPagePhoto = 6,
    kPageVideo = 7,
    kPageWebcam = 8,
    kPageInterval = 9,
    kPageDefineKeys = 10,
    kPageCount = 11,
};

extern MenuPage gMenuPages[kPageCount];

// Camera types of the device table that the settings and the controller tell apart by number.
constexpr uint32_t kCameraTypeLcm1 = 0;       // the "LCM1:" stream driver
constexpr uint32_t kCameraTypeProbed = 5;     // its "Brightness" range is asked at every open
constexpr uint32_t kCameraTypeDsc1 = 13;      // the "DSC1:" stream driver
constexpr uint32_t kCameraTypeNoCamera = 14;  // no camera known: the screen source

// Sets the device-dependent ranges, the size-table rows the camera can take, the camera source
// and both size lists. Run once at start-up, after device detection.
bool buildSettingsModel(const DeviceInfo& device);
// The camera type the model was built for (the controller's property ids depend on it).
uint32_t modelCameraType();
// Completes the lists that need the window: the "Screen" lists and the device defaults.
void completeDeviceLists(const DeviceInfo& device);
// The "Save To" lists (photo and video) take one entry per storage place, the value being the
// place number; the default is the second place when there are two or more. The entries must
// outlive the lists. Until this is called, the lists offer main memory alone.
void setSaveToEntries(const ValueEntry* entries, int32_t count);
// The photo "Format" cut to "BMP" without an encoder; "Max FPS" "10" in the screen-capture edition.
void applyEditionRestrictions();
void buildSizeList(bool isPhoto);
void relabelSizeList(bool isPhoto);
void buildMenuPages(const DeviceInfo& device);
MenuPage* currentModePage();
// The value of "Max FPS": the screen source's period between pictures, in ms (installed as
// screenFramePeriod by buildSettingsModel).
int32_t maxFpsPeriod();
// Shows a choice page over the preview with its first item selected; back from it goes to the
// page that was current.
void showChoicePage(int index);
void refreshMainModeItem();
void resetAllSettings();

// Bytes of one size label ("1600 x 1200" and its terminator fit).
constexpr int kSizeLabelBytes = 16;
