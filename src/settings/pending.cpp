// The settings model, camera controller and key handler until they land: the camera counts as
// opened and started, so the program runs its message loop.
#include "settings/camera_controller.h"
#include "settings/key_dispatch.h"
#include "settings/settings_model.h"

namespace {
ValueList placeholders[kSettingsCount];
}

ValueList* const gSettingsTable[kSettingsCount] = {
    &placeholders[0],  &placeholders[1],  &placeholders[2],  &placeholders[3],  &placeholders[4],
    &placeholders[5],  &placeholders[6],  &placeholders[7],  &placeholders[8],  &placeholders[9],
    &placeholders[10], &placeholders[11], &placeholders[12], &placeholders[13], &placeholders[14],
    &placeholders[15], &placeholders[16], &placeholders[17], &placeholders[18], &placeholders[19],
    &placeholders[20], &placeholders[21], &placeholders[22], &placeholders[23], &placeholders[24],
    &placeholders[25], &placeholders[26], &placeholders[27], &placeholders[28], &placeholders[29],
    &placeholders[30], &placeholders[31], &placeholders[32], &placeholders[33], &placeholders[34],
    &placeholders[35], &placeholders[36], &placeholders[37], &placeholders[38], &placeholders[39],
    &placeholders[40], &placeholders[41], &placeholders[42], &placeholders[43], &placeholders[44],
    &placeholders[45], &placeholders[46], &placeholders[47], &placeholders[48]};

MenuPage gMenuPages[kPageCount] = {};

CameraController::CameraController() { frameEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
CameraController::~CameraController() { CloseHandle(frameEvent); }

uint32_t openCamera() {
    gController.opened.store(1);
    return 1;
}
void closeCamera() {
    gController.running.store(0);
    gController.opened.store(0);
}
uint32_t startCapture() {
    gController.running.store(1);
    return 1;
}
uint32_t reconfigure(bool, bool, uint32_t) { return 0; }
void reconfigureForMode(bool) {}
void applySetting(ValueList&) {}
bool isPhotoLikeMode() { return true; }
bool isWysiwygPhoto() { return false; }
void refreshStatusTexts() {}
uint32_t prepareEncoderArguments() { return 0; }

int handleKey(int) { return 1; }
void toggleMenu() {}
void selectNext(MenuPage&) {}
void selectPrevious(MenuPage&) {}

bool buildSettingsModel(const DeviceInfo&) { return true; }
void completeDeviceLists(const DeviceInfo&) {}
void applyEditionRestrictions() {}
void buildSizeList(bool) {}
void relabelSizeList(bool) {}
void buildMenuPages(const DeviceInfo&) {}
MenuPage* currentModePage() { return &gMenuPages[kPagePhoto]; }
void refreshMainModeItem() {}
void resetAllSettings() {}
