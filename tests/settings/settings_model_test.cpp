// The settings lists: stepping, the ranges and defaults per camera type and edition, the size
// lists and their labels, and the menu pages.
#include <gtest/gtest.h>

#include <cstring>

#include "settings/settings_test_support.h"
#include "settings/size_table.h"

namespace {

std::vector<std::string> visibleLabels(int page) {
    std::vector<std::string> out;
    const MenuPage& p = gMenuPages[page];
    for (uint32_t i = 0; i < p.itemCount; ++i)
        if (const char* label = p.items[i].label.load()) out.push_back(label);
    return out;
}

std::string selectedLabel(int page) {
    const MenuPage& p = gMenuPages[page];
    return p.items[p.selected.load()].label.load();
}

}  // namespace

TEST(ValueListTest, StepClampsAtBothEndsAndReportsOnlyRealChanges) {
    buildModel();
    ValueList& quality = setting(kSlotPhotoQuality);
    quality.current.store(0);  // "100%"
    EXPECT_FALSE(stepValue(quality, -1));
    EXPECT_EQ(quality.current.load(), 0);
    EXPECT_EQ(valueOf(quality), 100);
    quality.current.store(quality.count - 1);  // "25%"
    EXPECT_FALSE(stepValue(quality, +1));
    EXPECT_EQ(valueOf(quality), 25);
    EXPECT_TRUE(stepValue(quality, -3));
    EXPECT_EQ(valueOf(quality), 55);
}

TEST(ValueListTest, StepZeroResetsAndReportsAChangeOnlyAwayFromTheDefault) {
    buildModel();
    ValueList& quality = setting(kSlotPhotoQuality);  // default "85%", index 2
    quality.current.store(2);
    EXPECT_FALSE(stepValue(quality, 0));
    EXPECT_EQ(quality.current.load(), -1);
    quality.current.store(5);
    EXPECT_TRUE(stepValue(quality, 0));
    EXPECT_EQ(quality.current.load(), -1);
    EXPECT_EQ(valueOf(quality), 85);
    EXPECT_FALSE(stepValue(quality, 0));  // from -1: the default already
}

TEST(ValueListTest, NumericListsAndListsWithoutEntries) {
    buildModel({.cameraType = 1});
    EXPECT_EQ(valueOf(gController.brightness), 5);
    EXPECT_EQ(labelsOf(gController.hue),
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8"}));
    // "Gamma" is unavailable: no entry is read, whatever is asked.
    EXPECT_EQ(gController.gamma.count, 0);
    EXPECT_EQ(valueOf(gController.gamma), 0);
    EXPECT_EQ(entryLabel(gController.gamma, 0), nullptr);
    EXPECT_FALSE(stepValue(gController.gamma, 1));
    EXPECT_EQ(gController.gamma.current.load(), -1);
}

TEST(SettingsTableTest, StaticListsCarryTheirLabelsAndDefaults) {
    buildModel();
    EXPECT_EQ(labelsOf(setting(kSlotCaptureMode)),
              (std::vector<std::string>{" Photo >", "< Video >", "< Interval >", "< Webcam"}));
    EXPECT_EQ(labelsOf(gController.ambience),
              (std::vector<std::string>{"Auto", "Daylight", "Incandescen", "Fluorescent"}));
    EXPECT_EQ(labelsOf(gController.snapshotExposure),
              (std::vector<std::string>{"Auto", "Locked", "Auto(Night)"}));
    EXPECT_EQ(valueOf(gController.snapshotExposure), 4);  // "Locked"
    EXPECT_EQ(valueOf(gController.previewExposure), 2);   // "Auto"
    EXPECT_EQ(valueOf(setting(kSlotMaxFps)), 40);         // "25": 40 ms
    EXPECT_EQ(valueOf(setting(kSlotDelay)), 4000);
    EXPECT_EQ(entryValue(setting(kSlotDelay), 0), 1);  // "0 sec" is 1 ms
    EXPECT_EQ(valueOf(setting(kSlotPhotoQuality)), 85);
    EXPECT_EQ(valueOf(setting(kSlotVideoQuality)), 75);
    EXPECT_EQ(valueOf(setting(kSlotPhotoFormat)), 2);  // "JPG 422"
    EXPECT_EQ(valueOf(setting(kSlotVideoFormat)), 1);  // "AVI (MJPG 420)"
    EXPECT_EQ(valueOf(setting(kSlotBacklight)), 1);    // "Always On"
    EXPECT_EQ(std::string(entryLabel(setting(kSlotKeySnapshot), 7)), "Prog3");
    EXPECT_EQ(valueOf(setting(kSlotKeySnapshot)), 195);
    EXPECT_EQ(valueOf(setting(kSlotKeyMenuPrev)), 27);
    EXPECT_EQ(valueOf(setting(kSlotKeyExit)), 0);
    EXPECT_EQ(std::string(entryLabel(setting(kSlotTouchScreen), 1)), "Switch Menu");
    EXPECT_EQ(valueOf(setting(kSlotTouchScreen)), 1);
    // The configured server's label is the server text.
    std::strcpy(gApp.webcamServer, "cam.example");
    EXPECT_EQ(std::string(entryLabel(setting(kSlotServer), 1)), "cam.example");
}

TEST(SettingsModelTest, BrightnessRangesPerCameraType) {
    for (uint32_t type : {5u, 6u, 8u, 9u, 11u}) {
        buildModel({.cameraType = type});
        EXPECT_EQ(gController.brightness.count, 18) << type;
        EXPECT_EQ(entryValue(gController.brightness, 17), 255) << type;
        EXPECT_EQ(valueOf(gController.brightness), 120) << type;
    }
    buildModel({.cameraType = 1});
    EXPECT_EQ(gController.brightness.count, 9);
    EXPECT_EQ(entryValue(gController.brightness, 0), 1);
    buildModel({.cameraType = 13});
    EXPECT_EQ(gController.brightness.count, 9);
    EXPECT_EQ(entryValue(gController.brightness, 0), 0);
    EXPECT_EQ(valueOf(gController.brightness), 4);
}

TEST(SettingsModelTest, GammaOnTypes8And9ReplacesContrastOnTheAdjustPage) {
    for (uint32_t type : {8u, 9u}) {
        buildModel({.cameraType = type});
        EXPECT_EQ(gController.gamma.count, 11);
        EXPECT_EQ(valueOf(gController.gamma), 0);
        EXPECT_EQ(gController.saturation.count, 10);
        EXPECT_EQ(valueOf(gController.saturation), 4);
        EXPECT_EQ(gController.hue.count, 10);
        EXPECT_EQ(visibleLabels(kPageAdjust),
                  (std::vector<std::string>{"Brightness", "Gamma", "Saturation", "Hue", "Back"}));
    }
    buildModel({.cameraType = 1});
    EXPECT_EQ(visibleLabels(kPageAdjust),
              (std::vector<std::string>{"Brightness", "Contrast", "Saturation", "Hue", "Sharpness",
                                        "Back"}));
}

TEST(SettingsModelTest, Type13HasSevenContrastValuesAndOneAspect) {
    buildModel({.cameraType = 13});
    EXPECT_EQ(labelsOf(gController.contrast),
              (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(valueOf(gController.contrast), 4);
    EXPECT_EQ(visibleLabels(kPageAdjust)[1], "Contrast");
    EXPECT_EQ(labelsOf(gController.photoAspect), (std::vector<std::string>{"4:3"}));
    EXPECT_EQ(labelsOf(gController.videoAspect), (std::vector<std::string>{"4:3"}));
    buildModel({.cameraType = 1});
    EXPECT_EQ(labelsOf(gController.photoAspect),
              (std::vector<std::string>{"4:3", "3:4", "16:9", "9:16"}));
}

TEST(SettingsModelTest, ScreenCaptureEditionRestrictions) {
    buildModel({.cameraType = 1, .screenCapture = true, .screenWidth = 176, .screenHeight = 220});
    EXPECT_EQ(labelsOf(gController.photoAspect), (std::vector<std::string>{"4:3"}));
    EXPECT_EQ(std::string(entryLabel(setting(kSlotMaxFps), effectiveIndex(setting(kSlotMaxFps)))),
              "10");
    EXPECT_EQ(gController.backend, &kFakeBackend);  // (replaced by the test)
    // Row 0 is the screen, 220 lines taken as 224, and the only size.
    EXPECT_EQ(labelsOf(gController.photoSize), (std::vector<std::string>{"176 x 224"}));
    EXPECT_EQ(labelsOf(gController.videoSize), (std::vector<std::string>{"176 x 224"}));
    EXPECT_EQ(gController.maxStreamWidth, 176u);
    EXPECT_EQ(gController.maxStreamHeight, 224u);
    EXPECT_EQ(visibleLabels(kPagePhoto),
              (std::vector<std::string>{"Format", "Quality", "Save To", "Shutter", "Back"}));
    EXPECT_EQ(
        visibleLabels(kPageInterval),
        (std::vector<std::string>{"Format", "Quality", "Save To", "Shutter", "Delay", "Back"}));
    EXPECT_EQ(visibleLabels(kPageWebcam),
              (std::vector<std::string>{"Format", "Quality", "Server", "Max FPS", "Back"}));
    EXPECT_EQ(visibleLabels(kPageMain),
              (std::vector<std::string>{"Settings", "Photo", "About", "Exit"}));
    EXPECT_EQ(visibleLabels(kPageSettings),
              (std::vector<std::string>{"Backlight", "Orientation", "Rotation", "Edit Config.txt",
                                        "Define Keys", "Reset All Menus", "Back"}));
    // The first item that shows is the first selection.
    EXPECT_EQ(selectedLabel(kPagePhoto), "Format");

    buildModel({.cameraType = 1});
    EXPECT_EQ(std::string(entryLabel(setting(kSlotMaxFps), effectiveIndex(setting(kSlotMaxFps)))),
              "25");
    EXPECT_EQ(visibleLabels(kPageWebcam),
              (std::vector<std::string>{"Size", "Aspect", "Format", "Quality", "Screen", "Server",
                                        "Back"}));
    EXPECT_EQ(selectedLabel(kPagePhoto), "Size");
}

TEST(SettingsModelTest, CameraSourcePerTypeAndEdition) {
    struct Case {
        uint32_t type;
        bool screenCapture;
        const CameraBackend* expected;
    };
    const Case cases[] = {{0, false, &kLcm1Backend},          {13, false, &kDsc1Backend},
                          {14, false, &kScreenSourceBackend}, {1, true, &kScreenSourceBackend},
                          {0, true, &kScreenSourceBackend},   {5, false, &gCameraLibraryBackend},
                          {12, false, &gCameraLibraryBackend}};
    for (const Case& c : cases) {
        gApp.screenCaptureEdition = c.screenCapture;
        gDeviceInfo.cameraType = c.type;
        buildSettingsModel(gDeviceInfo);
        EXPECT_EQ(gController.backend, c.expected) << c.type << " " << c.screenCapture;
    }
    gApp.screenCaptureEdition = 0;
}

TEST(SettingsModelTest, FormatCutToBmpWithoutAnEncoder) {
    buildModel({.encoder = false});
    EXPECT_EQ(labelsOf(setting(kSlotPhotoFormat)), (std::vector<std::string>{"BMP"}));
    EXPECT_EQ(valueOf(setting(kSlotPhotoFormat)), 0);
    buildModel({.encoder = true});
    EXPECT_EQ(labelsOf(setting(kSlotPhotoFormat)),
              (std::vector<std::string>{"BMP", "JPG 422", "JPG 420", "JPG Gray"}));
}

TEST(SettingsModelTest, ScreenListsAndDeviceDefaults) {
    buildModel({.fast = true});
    EXPECT_EQ(labelsOf(setting(kSlotPhotoScreen)),
              (std::vector<std::string>{"Full", "Small", "Null"}));
    EXPECT_EQ(valueOf(setting(kSlotPhotoScreen)), 5);
    EXPECT_EQ(valueOf(setting(kSlotVideoScreen)), 5);
    buildModel({.fast = false});
    EXPECT_EQ(labelsOf(setting(kSlotVideoScreen)),
              (std::vector<std::string>{"Full", "Small", "Gray", "Gray Small", "Null"}));
    EXPECT_EQ(valueOf(setting(kSlotPhotoScreen)), 3);  // "Full"
    EXPECT_EQ(valueOf(setting(kSlotVideoScreen)), 4);  // "Small"

    gDeviceInfo.orientationDefault = 2;
    gDeviceInfo.pixelOrderDefault = 1;
    gDeviceInfo.rotationDefault = 3;
    completeDeviceLists(gDeviceInfo);
    EXPECT_EQ(valueOf(setting(kSlotOrientation)), 2);
    EXPECT_EQ(valueOf(setting(kSlotPixelOrder)), 1);
    EXPECT_EQ(valueOf(setting(kSlotRotation)), 3);
    gDeviceInfo.orientationDefault = gDeviceInfo.pixelOrderDefault = gDeviceInfo.rotationDefault =
        0;
}

TEST(SettingsModelTest, SaveToListsFollowTheStoragePlaces) {
    buildModel();
    EXPECT_EQ(labelsOf(setting(kSlotPhotoSaveTo)),
              (std::vector<std::string>{"\\My Documents\\My.."}));
    static const ValueEntry places[] = {{"\\My Documents\\My..", 0}, {"\\Storage Card\\My..", 1}};
    setSaveToEntries(places, 2);
    EXPECT_EQ(valueOf(setting(kSlotPhotoSaveTo)), 1);  // the card by default
    EXPECT_EQ(valueOf(setting(kSlotVideoSaveTo)), 1);
    EXPECT_EQ(setting(kSlotVideoSaveTo).count, 2);
    setSaveToEntries(places, 1);
    EXPECT_EQ(valueOf(setting(kSlotPhotoSaveTo)), 0);
}

TEST(SizeListTest, OnlyExactDivisorsOfCapableRowsEnter) {
    buildModel();
    const uint8_t capable[kSizeRows] = {1, 1, 0, 1, 0, 0, 0, 0};
    std::memcpy(gPhotoCapableRows, capable, sizeof capable);
    buildSizeList(true);
    relabelSizeList(true);
    EXPECT_EQ(labelsOf(gController.photoSize),
              (std::vector<std::string>{"176 x 144", "320 x 240", "640 x 480"}));
    EXPECT_EQ(entryValue(gController.photoSize, 2), 3);  // values are rows
}

TEST(SizeListTest, LabelsFollowTheAspect) {
    buildModel({.cameraType = 1});
    gController.photoAspect.current.store(2);  // "16:9"
    relabelSizeList(true);
    const ValueList& sizes = gController.photoSize;
    ASSERT_EQ(entryValue(sizes, 3), 3);
    EXPECT_STREQ(entryLabel(sizes, 3), "640 x 352");
    gController.photoAspect.current.store(1);  // "3:4"
    relabelSizeList(true);
    EXPECT_STREQ(entryLabel(sizes, 3), "352 x 480");
    // The video list keeps its own aspect.
    EXPECT_STREQ(entryLabel(gController.videoSize, 1), "320 x 240");
}

TEST(SizeListTest, CameraEditionDefaultsAndCapableRowsPerType) {
    buildModel({.cameraType = 1});
    // Row 0 is not capable on type 1, but 352x288 is twice 176x144.
    EXPECT_EQ(labelsOf(gController.photoSize),
              (std::vector<std::string>{"176 x 144", "320 x 240", "352 x 288", "640 x 480",
                                        "1280 x 960"}));
    EXPECT_STREQ(entryLabel(gController.photoSize, effectiveIndex(gController.photoSize)),
                 "640 x 480");
    EXPECT_STREQ(entryLabel(gController.videoSize, effectiveIndex(gController.videoSize)),
                 "320 x 240");
    EXPECT_EQ(gController.maxPhotoWidth, 1280u);
    EXPECT_EQ(gController.maxStreamWidth, 640u);
    EXPECT_EQ(gController.videoZoom.defaultIndex, 1);
    EXPECT_EQ(gController.photoZoom.count, 100);

    buildModel({.cameraType = 4});
    EXPECT_EQ(gController.maxPhotoWidth, 1600u);
    EXPECT_EQ(gController.maxPhotoHeight, 1200u);
    EXPECT_EQ(gController.maxStreamWidth, 320u);
    EXPECT_EQ(gController.videoZoom.defaultIndex, 0);
    EXPECT_EQ(gVideoCapableRows[5], 0);
    EXPECT_EQ(gVideoCapableRows[4], 0);

    buildModel({.cameraType = 8});
    EXPECT_EQ(gPhotoCapableRows[3], 1);
    EXPECT_EQ(gVideoCapableRows[3], 0);
}

TEST(MenuPagesTest, PagesItemsAndFirstSelection) {
    buildModel({.cameraType = 1});
    EXPECT_EQ(visibleLabels(kPageControl),
              (std::vector<std::string>{"Flicker", "Ambience", "Effect", "Night Mode", "~Exposure",
                                        "Preview", "Snapshort", "Back"}));
    EXPECT_EQ(gMenuPages[kPageControl].labelWidth, 10u);  // "Night Mode"
    EXPECT_EQ(gMenuPages[kPageDefineKeys].itemCount, 12u);
    EXPECT_EQ(visibleLabels(kPageDefineKeys)[7], "Exposre");
    EXPECT_EQ(visibleLabels(kPagePhotoChoice),
              (std::vector<std::string>{"Save Photo", "Don't save photo", "View in Album"}));
    EXPECT_EQ(gMenuPages[kPageMovieChoice].itemCount, 4u);
    EXPECT_STREQ(gMenuPages[kPageMovieChoice].title, "Choose action");
    EXPECT_EQ(gMenuPages[kPageDefineKeys].editStartIndex.load(), -1);

    buildModel({.smartphone = true});
    EXPECT_EQ(visibleLabels(kPageDefineKeys).size(), 11u);
    EXPECT_EQ(visibleLabels(kPageDefineKeys).back(), "Back");
}

TEST(MenuPagesTest, MainModeItemFollowsTheMode) {
    buildModel();
    EXPECT_EQ(visibleLabels(kPageMain)[1], "Photo");
    const char* expected[] = {"Photo", "Video", "Interval", "Webcam"};
    for (int32_t mode = 0; mode < 4; ++mode) {
        setting(kSlotCaptureMode).current.store(mode);
        refreshMainModeItem();
        EXPECT_EQ(visibleLabels(kPageMain)[1], expected[mode]);
        EXPECT_STREQ(currentModePage()->title, expected[mode]);
    }
    resetAllSettings();
    for (ValueList* list : gSettingsTable) EXPECT_EQ(list->current.load(), -1);
}
