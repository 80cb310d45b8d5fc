// The settings lists: stepping, the device rules that shape the lists and pages per camera type
// and edition, and the size lists. (The source each camera type and edition opens is checked by
// the tours, on every device in both editions.)
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "settings/settings_test_support.h"
#include "settings/size_table.h"

namespace {

using Labels = std::vector<std::string>;

Labels visibleLabels(int page) {
    Labels out;
    const MenuPage& p = gMenuPages[page];
    for (uint32_t i = 0; i < p.itemCount; ++i)
        if (const char* label = p.items[i].label.load()) out.push_back(label);
    return out;
}

std::string currentLabel(const ValueList& list) {
    return entryLabel(list, effectiveIndex(list));
}

}  // namespace

TEST(ValueListTest, StepClampsWithoutWrappingAndStepZeroResets) {
    buildModel({.cameraType = 1});
    ValueList& quality = setting(kSlotPhotoQuality);  // "100%" to "25%", default "85%" (index 2)
    // From an index, a step: whether it reports a change, and the value then. A step of 0 resets,
    // reporting a change only when the old choice was not the default.
    const std::tuple<int32_t, int32_t, bool, int32_t> cases[] = {{0, -1, false, 100},
                                                                 {quality.count - 1, +1, false, 25},
                                                                 {quality.count - 1, -3, true, 55},
                                                                 {8, 0, true, 85},
                                                                 {-1, 0, false, 85},
                                                                 {2, 0, false, 85}};
    for (const auto& [from, step, changed, value] : cases) {
        SCOPED_TRACE(testing::Message() << from << " " << step);
        quality.current.store(from);
        EXPECT_EQ(stepValue(quality, step), changed);
        EXPECT_EQ(valueOf(quality), value);
        EXPECT_EQ(quality.current.load() == -1, step == 0);
    }
    // A list without entries ("Gamma" on type 1) reads nothing, whatever is asked.
    EXPECT_EQ(gController.gamma.count, 0);
    EXPECT_EQ(valueOf(gController.gamma), 0);
    EXPECT_EQ(entryLabel(gController.gamma, 0), nullptr);
    EXPECT_FALSE(stepValue(gController.gamma, 1));
    EXPECT_EQ(gController.gamma.current.load(), -1);
}

TEST(SettingsModelTest, PictureListsPerCameraType) {
    for (uint32_t type : {5u, 6u, 8u, 9u, 11u}) {
        SCOPED_TRACE(type);
        buildModel({.cameraType = type});
        EXPECT_EQ(gController.brightness.count, 18);
        EXPECT_EQ(entryValue(gController.brightness, 17), 255);
        EXPECT_EQ(valueOf(gController.brightness), 120);
    }
    // Gamma on types 8 and 9, in Contrast's place on the Adjust page.
    for (uint32_t type : {8u, 9u}) {
        SCOPED_TRACE(type);
        buildModel({.cameraType = type});
        EXPECT_EQ(gController.gamma.count, 11);
        EXPECT_EQ(visibleLabels(kPageAdjust),
                  (Labels{"Brightness", "Gamma", "Saturation", "Hue", "Back"}));
    }
    // Type 13: Brightness from 0, seven Contrast values still on the Adjust page, one aspect.
    buildModel({.cameraType = 13});
    EXPECT_EQ(gController.brightness.count, 9);
    EXPECT_EQ(entryValue(gController.brightness, 0), 0);
    EXPECT_EQ(labelsOf(gController.contrast), (Labels{"0", "1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(valueOf(gController.contrast), 4);
    EXPECT_EQ(visibleLabels(kPageAdjust)[1], "Contrast");
    EXPECT_EQ(labelsOf(gController.photoAspect), Labels{"4:3"});
    EXPECT_EQ(labelsOf(gController.videoAspect), Labels{"4:3"});
}

TEST(SettingsModelTest, EditionAndDeviceRestrictions) {
    buildModel({.cameraType = 1, .screenCapture = true, .screenWidth = 176, .screenHeight = 220});
    EXPECT_EQ(labelsOf(gController.photoAspect), Labels{"4:3"});
    EXPECT_EQ(currentLabel(setting(kSlotMaxFps)), "10");
    // The only size is the screen, its 220 lines taken as 224.
    EXPECT_EQ(labelsOf(gController.videoSize), Labels{"176 x 224"});
    EXPECT_EQ(gController.maxStreamHeight, 224u);
    // Camera items are hidden (a page's selection starting on its first item that shows is relied
    // on by the tours of this edition).
    EXPECT_EQ(visibleLabels(kPageWebcam),
              (Labels{"Format", "Quality", "Server", "Max FPS", "Back"}));
    EXPECT_EQ(visibleLabels(kPageMain), (Labels{"Settings", "Photo", "About", "Exit"}));

    // Without an encoder only "BMP"; no touch screen on a smartphone, so no "TouchScreen".
    buildModel({.encoder = false});
    EXPECT_EQ(labelsOf(setting(kSlotPhotoFormat)), Labels{"BMP"});
    EXPECT_EQ(valueOf(setting(kSlotPhotoFormat)), 0);
    buildModel({.smartphone = true});
    EXPECT_EQ(visibleLabels(kPageDefineKeys).size(), 11u);
    EXPECT_EQ(visibleLabels(kPageDefineKeys).back(), "Back");
}

TEST(SizeListTest, CapableRowsAspectLabelsAndDefaults) {
    buildModel({.cameraType = 1});
    // Row 0 is not capable on type 1, but 352x288 is twice 176x144.
    EXPECT_EQ(labelsOf(gController.photoSize),
              (Labels{"176 x 144", "320 x 240", "352 x 288", "640 x 480", "1280 x 960"}));
    EXPECT_EQ(currentLabel(gController.photoSize), "640 x 480");
    EXPECT_EQ(currentLabel(gController.videoSize), "320 x 240");

    gController.photoAspect.current.store(2);  // "16:9"
    relabelSizeList(true);
    ASSERT_EQ(entryValue(gController.photoSize, 3), 3);
    EXPECT_STREQ(entryLabel(gController.photoSize, 3), "640 x 352");
    EXPECT_STREQ(entryLabel(gController.videoSize, 1), "320 x 240") << "its own aspect";

    // Only exact divisors of capable rows enter: rows 0, 1 and 3 give rows 0, 1 and 3.
    const uint8_t capable[kSizeRows] = {1, 1, 0, 1, 0, 0, 0, 0};
    std::memcpy(gPhotoCapableRows, capable, sizeof capable);
    buildSizeList(true);
    EXPECT_EQ(gController.photoSize.count, 3);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(entryValue(gController.photoSize, i), i < 2 ? i : 3);
}
