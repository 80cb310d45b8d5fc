// The key handler: bound keys, key translation, the menu toggle and back keys, browsing and
// editing, each page's handling, and the mode and zoom keys with the menu hidden.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/key_dispatch.h"
#include "app/startup.h"
#include "core/app_state.h"
#include "platform/hooks.h"
#include "preview/preview_loop.h"
#include "settings/settings_test_support.h"
#include "support/temp_device.h"

namespace {

using Calls = std::vector<std::string>;

// The active key list of these tests.
constexpr int kUp = 38, kDown = 40, kLeft = 37, kRight = 39, kA = 193, kB = 194, kStart = 13;

// The model at its defaults on camera type 1, with the key list above in every orientation.
class KeyDispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        buildModel({.cameraType = 1});
        GXKeyList& keys = gApp.activeKeys;
        keys = GXKeyList{};
        keys.vkUp = kUp, keys.vkDown = kDown, keys.vkLeft = kLeft, keys.vkRight = kRight;
        keys.vkA = kA, keys.vkB = kB, keys.vkC = 0x86, keys.vkStart = kStart;
        gApp.normalKeys = keys;
        gApp.landscapeKeys = keys;
        previewMode.store(Live);
    }
    void TearDown() override {
        closeCamera();
        gApp.menuVisible.store(0);
    }

    static MenuPage* page() { return gApp.currentPage.load(); }
    static std::string selected() { return page()->items[page()->selected.load()].label.load(); }
    // Opens the menu on the Main page and then the page of Main's item `item`.
    static void openPage(uint32_t item) {
        ASSERT_EQ(handleKey(kA), 1);
        ASSERT_EQ(page(), &gMenuPages[kPageMain]);
        gMenuPages[kPageMain].selected.store(item);
        ASSERT_EQ(handleKey(kStart), 1);
    }
    static void select(const char* label) {
        MenuPage* p = page();
        for (uint32_t i = 0; i < p->itemCount; ++i)
            if (const char* l = p->items[i].label.load(); l && std::strcmp(l, label) == 0)
                return p->selected.store(i);
        FAIL() << label;
    }
};

}  // namespace

TEST_F(KeyDispatchTest, ControlPageSkipsTheHeadingAndWraps) {
    openPage(3);
    ASSERT_EQ(page(), &gMenuPages[kPageControl]);
    EXPECT_EQ(selected(), "Flicker");
    handleKey(kUp);
    EXPECT_EQ(selected(), "Back");
    handleKey(kDown);
    EXPECT_EQ(selected(), "Flicker");
    select("Night Mode");
    handleKey(kDown);
    EXPECT_EQ(selected(), "Preview");
    handleKey(kUp);
    EXPECT_EQ(selected(), "Night Mode");
}

TEST_F(KeyDispatchTest, EditingIsCancelledByKeyBAndAppliedOnlyWhenChangedAspectRelabels) {
    openPage(1);
    ASSERT_EQ(page(), &gMenuPages[kPagePhoto]);
    select("Quality");
    ValueList& quality = setting(kSlotPhotoQuality);
    quality.current.store(3);  // "80%"
    handleKey(kStart);
    EXPECT_EQ(page()->editStartIndex.load(), 3);
    handleKey(kUp);
    handleKey(kUp);
    EXPECT_EQ(valueOf(quality), 90);
    handleKey(kLeft);  // ignored while editing
    EXPECT_EQ(valueOf(quality), 90);
    handleKey(kB);
    EXPECT_EQ(quality.current.load(), 3);
    EXPECT_EQ(page()->editStartIndex.load(), -1);
    EXPECT_EQ(page(), &gMenuPages[kPagePhoto]);  // an edit cancelled stays on the page
    EXPECT_EQ(gApp.menuVisible.load(), 1);
    // A changed "Aspect" relabels the size list and reconfigures the preview.
    select("Aspect");
    handleKey(kRight);  // "3:4"
    EXPECT_STREQ(entryLabel(gController.photoSize, effectiveIndex(gController.photoSize)),
                 "352 x 480");
    EXPECT_EQ(gController.publishedGeometry.outWidth, 352u);

    // Editing a default value starts from the default index; action without a step applies
    // nothing.
    openCamera();
    gFakeCamera.calls.clear();
    gApp.currentPage.store(&gMenuPages[kPageAdjust]);  // on "Brightness"
    handleKey(kStart);
    EXPECT_EQ(page()->editStartIndex.load(), 4);
    handleKey(kStart);
    EXPECT_EQ(page()->editStartIndex.load(), -1);
    EXPECT_TRUE(gFakeCamera.properties().empty());
    // With a step it is applied when editing ends.
    handleKey(kStart);
    handleKey(kDown);
    EXPECT_TRUE(gFakeCamera.properties().empty());
    handleKey(kStart);
    EXPECT_EQ(gFakeCamera.properties(), Calls{"set 5=6"});
    // Left and right while browsing step and apply at once.
    handleKey(kLeft);
    EXPECT_EQ(gFakeCamera.properties(), (Calls{"set 5=6", "set 5=5"}));
}

// Key A toggling the menu and key B returning to the parent page are used all through the tours;
// key B on the Main page toggles it as A does.
TEST_F(KeyDispatchTest, MainPageExitAndAbout) {
    EXPECT_EQ(handleKey(kB), 1);
    EXPECT_EQ(gApp.menuVisible.load(), 1);
    select("Exit");
    EXPECT_EQ(handleKey(kLeft), 1);  // left does nothing on Main
    EXPECT_EQ(page(), &gMenuPages[kPageMain]);
    EXPECT_EQ(handleKey(kRight), 0);
    EXPECT_EQ(handleKey(kStart), 0);
    select("About");
    EXPECT_EQ(handleKey(kStart), 1);
    EXPECT_EQ(gApp.activity.load(), About);
    handleKey(kA);  // closing the menu ends the About screen
    EXPECT_EQ(gApp.activity.load(), Idle);
}

TEST_F(KeyDispatchTest, ModeAndZoomKeysWithTheMenuHidden) {
    openCamera();
    reconfigureForMode(false);
    startCapture();
    gFakeCamera.calls.clear();
    EXPECT_EQ(handleKey(kLeft), 1);  // already " Photo >": nothing
    EXPECT_EQ(effectiveIndex(setting(kSlotCaptureMode)), 0);
    EXPECT_TRUE(gFakeCamera.calls.empty());

    handleKey(kRight);  // "< Video >": 320x240 at zoom 1 is 640x480 at half sampling
    EXPECT_EQ(effectiveIndex(setting(kSlotCaptureMode)), 1);
    EXPECT_EQ(gFakeCamera.calls, Calls{});
    handleKey(kDown);  // zoom 0: the 320x240 field
    EXPECT_EQ(gController.videoZoom.current.load(), 0);
    EXPECT_EQ(gFakeCamera.calls, (Calls{"stop", "start 320x240"}));
    for (int i = 0; i < 4; ++i) handleKey(kRight);
    EXPECT_EQ(effectiveIndex(setting(kSlotCaptureMode)), 3);  // clamped at "< Webcam"
    EXPECT_STREQ(gMenuPages[kPageMain].items[1].label.load(), "Webcam");
    handleKey(0x86);  // any other key: ignored
    EXPECT_EQ(handleKey(0), 1);
}

TEST_F(KeyDispatchTest, BoundKeys) {
    openCamera();
    gFakeCamera.calls.clear();
    setting(kSlotKeyBrightnessUp).current.store(1);    // "Green"
    setting(kSlotKeyBrightnessDown).current.store(2);  // "Red"
    setting(kSlotKeyExposure).current.store(3);        // "VolUp"
    setting(kSlotKeyNightMode).current.store(4);       // "VolDown"
    setting(kSlotKeyWysiwyg).current.store(9);         // "Star(*)"
    handleKey(114);
    handleKey(114);
    handleKey(115);
    EXPECT_EQ(gFakeCamera.properties(), (Calls{"set 5=6", "set 5=7", "set 5=6"}));

    handleKey(117);
    EXPECT_EQ(effectiveIndex(gController.previewExposure), 1);
    EXPECT_STREQ(gApp.osdMessage.load(), "Exposure Locked");
    EXPECT_EQ(gApp.osdMessageDuration.load(), 2000u);
    handleKey(117);
    EXPECT_STREQ(gApp.osdMessage.load(), "Exposure Auto");

    handleKey(118);
    EXPECT_EQ(gFakeCamera.properties().back(), "set 10=128");  // "Night Mode" on

    handleKey(119);
    EXPECT_EQ(valueOf(setting(kSlotWysiwyg)), 1);
    gApp.activity.store(Active);  // the Wysiwyg key acts only while idle
    handleKey(119);
    EXPECT_EQ(valueOf(setting(kSlotWysiwyg)), 1);
    gApp.activity.store(Idle);

    // Minimize and Sleep leave full screen, with their reasons.
    setting(kSlotKeyMinimize).current.store(5);  // "Prog1"
    setting(kSlotKeySleep).current.store(6);     // "Prog2"
    traceClear();
    handleKey(194 - 1);  // Prog1 is 193, as key A here: the binding wins
    EXPECT_EQ(traceCount("SHFullScreen 0x15"), 1u);
    EXPECT_EQ(gApp.minimizeReason, 0u);
    EXPECT_EQ(gApp.menuVisible.load(), 0);
    handleKey(194);
    EXPECT_EQ(gApp.minimizeReason, 1u);
    gApp.minimizeReason = 0;
}

TEST_F(KeyDispatchTest, BindingsComeBeforeTheMenuAndTheActionKeyNeedsFullScreen) {
    handleKey(kA);
    setting(kSlotKeyExit).current.store(12);  // "Digit 0"
    EXPECT_EQ(handleKey(48), 0);
    setting(kSlotKeyExit).current.store(11);  // "Back", also the "Menu Prev" key
    EXPECT_EQ(handleKey(27), 0);
    setting(kSlotKeyExit).current.store(0);  // "None" never matches
    EXPECT_EQ(handleKey(27), 1);
    EXPECT_EQ(gApp.menuVisible.load(), 0) << "27 was key B";

    // "Snapshort" and "Menu Prev" on one key make it the action key.
    setting(kSlotKeySnapshot).current.store(12);
    setting(kSlotKeyMenuPrev).current.store(12);
    handleKey(kA);
    select("Exit");
    gApp.fullScreen.store(0);
    EXPECT_EQ(handleKey(kStart), 1) << "the action key is ignored outside full screen";
    gApp.fullScreen.store(1);
    EXPECT_EQ(handleKey(48), 0);
}

TEST_F(KeyDispatchTest, SettingsPageActions) {
    TempDevice device;
    gApp.registryKeyPath = u"Software\\Quorvale\\Lumovatrix";
    std::swap(gApp.normalKeys.vkUp, gApp.normalKeys.vkLeft);
    gApp.savedBatteryTimeout = 60;
    gApp.savedACTimeout = 300;

    handleKey(kA);
    handleKey(kStart);  // "Settings", on "Backlight"
    traceClear();
    handleKey(kLeft);  // "Always On" to "Normal": the saved time-outs, and the event
    EXPECT_EQ(traceCount("RegSetValueExW HKCU\\ControlPanel\\Backlight\\BatteryTimeout"), 1u);
    EXPECT_EQ(traceCount("EventModify BackLightChangeEvent SET"), 1u);

    gMenuPages[kPageSettings].selected.store(1);  // "Orientation"
    handleKey(kRight);                            // "Portrait": the normal key list
    EXPECT_EQ(gApp.activeKeys.vkUp, kLeft);

    // "Reset All Menus": every setting back, the camera closed, reopened and started.
    gController.brightness.current.store(2);
    gFakeCamera.calls.clear();
    openCamera();
    gFakeCamera.calls.clear();
    gMenuPages[kPageSettings].selected.store(6);
    handleKey(gApp.activeKeys.vkStart);
    for (ValueList* list : gSettingsTable) EXPECT_EQ(list->current.load(), -1);
    EXPECT_EQ(gFakeCamera.calls, (Calls{"close", "open", "set 10=1", "start 640x480"}));
    EXPECT_EQ(gApp.activeKeys.vkUp, kUp);  // "Landscape L" again

    // "Edit Config.txt" opens the file next to the program and ends the program; where nothing
    // can open it (a device without an editor: the desktop's is not lent), the message line
    // says so and the program stays.
    std::filesystem::create_directories(device.root() + "/Program Files/Lumovatrix");
    std::ofstream(device.root() + "/Program Files/Lumovatrix/Config.txt") << "WebcamIP: x\n";
    std::u16string program = u"\\Program Files\\Lumovatrix\\lumovatrix.exe";
    std::copy(program.begin(), program.end(), gApp.programPath);
    gApp.programPath[program.size()] = 0;
    gMenuPages[kPageSettings].selected.store(4);
    EXPECT_EQ(handleKey(kStart), 1);
    EXPECT_STREQ(gApp.osdMessage.load(), "Cannot open Config.txt here");
    EXPECT_EQ(gApp.fullScreen.load(), 1) << "back to full screen";
    // Lent, on a desktop whose opener is missing: the file went to the desktop, the program ends.
    const size_t requests = shellExecuteRequests().size();
    const std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    const char* display = getenv("DISPLAY");
    const std::string savedDisplay = display ? display : "";
    setenv("DISPLAY", ":lumo-test", 1);
    setenv("PATH", "/nonexistent", 1);
    device.handheld().allowDesktopOpen(true);
    EXPECT_EQ(handleKey(kStart), 0);
    setenv("PATH", savedPath.c_str(), 1);
    display ? setenv("DISPLAY", savedDisplay.c_str(), 1) : unsetenv("DISPLAY");
    ASSERT_EQ(shellExecuteRequests().size(), requests + 1);
    EXPECT_EQ(shellExecuteRequests().back(), "\\Program Files\\Lumovatrix\\Config.txt");
}

// The choice pages' outcomes (files kept, deleted or shown, a movie continued) are checked end
// to end; here what only the key handler decides.
TEST_F(KeyDispatchTest, ChoicePagesKeepTheMenuAndContinueOnlyAnOpenMovie) {
    MenuPage& choice = gMenuPages[kPageMovieChoice];
    choice.selected.store(0);  // "Continue record"
    gApp.currentPage.store(&choice);
    gApp.menuVisible.store(1);
    gApp.activity.store(Choosing);
    EXPECT_EQ(handleKey(kA), 1);  // no menu toggle while choosing
    EXPECT_EQ(gApp.menuVisible.load(), 1);
    handleKey(kStart);  // no movie open: nothing to continue
    EXPECT_EQ(gApp.activity.load(), Choosing);
    EXPECT_EQ(gApp.menuVisible.load(), 1);
}
