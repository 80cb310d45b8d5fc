// The menu pages and the start-up building of the settings for the device.
#pragma once

#include <cstdint>

#include "settings/settings_table.h"

struct DeviceInfo;

struct MenuItem {
    const char* label;   // null hides the item; a leading "~" makes it a heading
    ValueList* setting;  // null: an action or a sub-page
};

struct MenuPage {
    const char* title;
    MenuItem* items;
    uint32_t itemCount;
    uint32_t selected;
    uint32_t labelWidth;  // the longest label among items with a setting
    MenuPage* parent;
    int32_t editStartIndex;  // -1 while browsing
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

bool buildSettingsModel(const DeviceInfo& device);
// Completes the lists that need the window: the "Screen" lists and the device defaults.
void completeDeviceLists(const DeviceInfo& device);
// The photo "Format" cut to "BMP" without an encoder; "Max FPS" "10" in the screen-capture edition.
void applyEditionRestrictions();
void buildSizeList(bool isPhoto);
void relabelSizeList(bool isPhoto);
void buildMenuPages(const DeviceInfo& device);
MenuPage* currentModePage();
void refreshMainModeItem();
void resetAllSettings();
