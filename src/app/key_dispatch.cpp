// The key handler: the bound keys first, then the translation of the "Snapshort" and "Menu Prev"
// keys, the menu toggle and back keys, the menu navigation and each page's handling, and with the
// menu hidden the mode and zoom keys. What remains goes to the command dispatcher.
#include "app/key_dispatch.h"

#include "app/backlight.h"
#include "app/commands.h"
#include "app/keys.h"
#include "app/startup.h"
#include "core/app_state.h"
#include "media/avi_writer.h"
#include "media/record_frame.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"

namespace {

constexpr uint32_t kExposureMessageMs = 2000;
// "Edit Config.txt" when the device has no program that opens the file: the program stays.
constexpr const char* kNoEditorMessage = "Cannot open Config.txt here";
constexpr uint32_t kNoEditorMessageMs = 2000;

// The active key list's codes, as the key messages carry them (sign-extended 16 bits).
struct Keys {
    int up, down, left, right, a, b, start;
};

Keys activeKeys() {
    const GXKeyList& k = gApp.activeKeys;
    return {k.vkUp, k.vkDown, k.vkLeft, k.vkRight, k.vkA, k.vkB, k.vkStart};
}

int boundKey(int slot) {
    return valueOf(setting(slot));
}

bool idleOrAbout() {
    const int32_t activity = gApp.activity.load();
    return activity == Idle || activity == About;
}

MenuPage* parentOf(MenuPage* page) {
    return page->parent ? page->parent : &gMenuPages[kPageMain];
}

bool selectable(const MenuItem& item) {
    const char* label = item.label.load(std::memory_order_relaxed);
    return label && label[0] != '~';
}

// Between the first two entries: to the second from the first, else to the first.
void toggle(ValueList& list) {
    list.current.store(effectiveIndex(list) == 0 ? 1 : 0);
}

// Leaves a choice page: back to its parent with the menu hidden.
void closeChoicePage(MenuPage* page) {
    gApp.currentPage.store(parentOf(page));
    gApp.menuVisible.store(0);
}

// Opens a page from the Main page; a selection left on the last item ("Back") starts over.
void openFromMain(MenuPage* page) {
    page->parent = &gMenuPages[kPageMain];
    if (page->itemCount && page->selected.load() == page->itemCount - 1) {
        page->selected.store(0);
        if (!selectable(page->items[0])) selectNext(*page);
    }
    gApp.currentPage.store(page);
}

void resetAllMenus() {
    resetAllSettings();
    refreshMainModeItem();
    closeCamera();
    relabelSizeList(true);
    relabelSizeList(false);
    applyOrientation();
    reconfigureForMode(false);
    applyBacklight(static_cast<uint32_t>(valueOf(setting(kSlotBacklight))));
    openCamera();
    applySetting(setting(kSlotNightMode));
    startCapture();
}

bool movieOpen() {
    return gAviWriter.file.ops != nullptr;
}

int handlePhotoChoice(MenuPage* page, uint32_t item) {
    if (item == 2) {  // "View in Album": the choice stays open
        openDocument(gApp.lastFilePath);
        return 1;
    }
    if (item == 1 && gApp.lastFilePath) DeleteFileW(gApp.lastFilePath);  // "Don't save photo"
    previewMode.store(Live);
    gApp.activity.store(Idle);
    closeChoicePage(page);
    return 1;
}

int handleMovieChoice(MenuPage* page, uint32_t item) {
    switch (item) {
        case 0:  // "Continue record"
            if (!movieOpen()) return 1;
            gAviWriter.ticksSinceResume.store(0);
            gApp.activity.store(Active);
            gApp.captureStartTick.store(GetTickCount());
            closeChoicePage(page);
            return 1;
        case 1:  // "Save movie"
        case 2:  // "Don't save movie"
            closeMovie(item == 1);
            if (item == 2 && gApp.lastFilePath) DeleteFileW(gApp.lastFilePath);
            gApp.activity.store(Idle);
            closeChoicePage(page);
            return 1;
        case 3:  // "View in Album"
            closeMovie(true);
            openDocument(gApp.lastFilePath);
            return 1;
        default:
            return 1;
    }
}

int handleSettingsPage(MenuPage* page, uint32_t item, const ValueList* changed, int key,
                       const Keys& keys) {
    if (changed) {
        if (changed == &setting(kSlotBacklight)) {
            applyBacklight(static_cast<uint32_t>(valueOf(setting(kSlotBacklight))));
        } else if (changed == &setting(kSlotOrientation)) {
            applyOrientation();
            refreshStatusTexts();
        } else if (changed == &setting(kSlotRotation)) {
            refreshStatusTexts();
        }
        return 1;
    }
    if (key != keys.start) return 1;
    switch (item) {
        case 4:  // "Edit Config.txt": the next start reads the edited file
            if (openDocument(siblingPath(u"Config.txt"))) return 0;
            setOsdMessage(kNoEditorMessage, kNoEditorMessageMs);
            return 1;
        case 5:  // "Define Keys"
            gMenuPages[kPageDefineKeys].parent = page;
            gApp.currentPage.store(&gMenuPages[kPageDefineKeys]);
            return 1;
        case 6:  // "Reset All Menus"
            resetAllMenus();
            return 1;
        default:
            return 1;
    }
}

int handleMainPage(uint32_t item, int key, const Keys& keys) {
    if (key != keys.start && key != keys.right) return 1;
    switch (item) {
        case 0:
            openFromMain(&gMenuPages[kPageSettings]);
            return 1;
        case 1:
            openFromMain(currentModePage());
            return 1;
        case 2:
            openFromMain(&gMenuPages[kPageAdjust]);
            return 1;
        case 3:
            openFromMain(&gMenuPages[kPageControl]);
            return 1;
        case 4:
            gApp.activity.store(About);
            return 1;
        case 5:
            return 0;  // "Exit"
        default:
            return 1;
    }
}

// The menu is shown: browse, edit, and let the page act on the key and the changed list.
int navigateMenu(int key, const Keys& keys) {
    MenuPage* page = gApp.currentPage.load();
    if (!page || !page->items || page->itemCount == 0) return 1;
    uint32_t item = page->selected.load();
    if (item >= page->itemCount) item = 0;
    ValueList* list = page->items[item].setting;
    ValueList* changed = nullptr;
    const bool browsing = page->editStartIndex.load() < 0;

    if (browsing) {
        if (key == keys.up) {
            selectPrevious(*page);
            return 1;
        }
        if (key == keys.down) {
            selectNext(*page);
            return 1;
        }
        if (key == keys.start && list) {
            // Editing starts; nothing is applied until it ends.
            page->editStartIndex.store(effectiveIndex(*list));
            return 1;
        }
        if (list && (key == keys.left || key == keys.right))
            if (stepValue(*list, key == keys.left ? -1 : 1)) changed = list;
    } else {
        if (!list) {  // nothing to edit: back to browsing
            page->editStartIndex.store(-1);
            return 1;
        }
        if (key == keys.up || key == keys.down) {
            stepValue(*list, key == keys.up ? -1 : 1);
            return 1;
        }
        if (key != keys.start) return 1;
        const int32_t startIndex = page->editStartIndex.exchange(-1);
        if (effectiveIndex(*list) != startIndex) changed = list;
    }

    const int index = static_cast<int>(page - gMenuPages);
    if (index == kPagePhotoChoice) return key == keys.start ? handlePhotoChoice(page, item) : 1;
    if (index == kPageMovieChoice) return key == keys.start ? handleMovieChoice(page, item) : 1;

    if (index != kPageMain && browsing && item == page->itemCount - 1 &&
        (key == keys.start || key == keys.left)) {
        gApp.currentPage.store(parentOf(page));  // "Back"
        return 1;
    }

    switch (index) {
        case kPagePhoto:
        case kPageInterval:
            if (changed == &gController.photoAspect) relabelSizeList(true);
            if (changed && isPhotoLikeMode()) reconfigureForMode(false);
            return 1;
        case kPageVideo:
        case kPageWebcam:
            if (changed == &gController.videoAspect) relabelSizeList(false);
            if (changed && !isPhotoLikeMode()) reconfigureForMode(false);
            return 1;
        case kPageAdjust:
        case kPageControl:
            if (changed == &gController.previewExposure)
                reconfigure(false, isPhotoLikeMode(), 0);
            else if (changed)
                applySetting(*changed);
            return 1;
        case kPageSettings:
            return handleSettingsPage(page, item, changed, key, keys);
        case kPageMain:
            return handleMainPage(item, key, keys);
        default:
            return 1;  // "Define Keys": a binding acts from the next key on
    }
}

// Returns -1 when the key is not bound to an action that acted, else the handler's result.
int handleBoundKey(int key) {
    if (key == boundKey(kSlotKeyMinimize)) {
        minimizeWindow(0);
        return 1;
    }
    if (key == boundKey(kSlotKeySleep)) {
        minimizeWindow(1);
        return 1;
    }
    if (key == boundKey(kSlotKeyExposure)) {
        ValueList& exposure = gController.previewExposure;
        toggle(exposure);
        reconfigure(false, isPhotoLikeMode(), kPreviewGeometry);
        setOsdMessage(effectiveIndex(exposure) == 0 ? "Exposure Auto" : "Exposure Locked",
                      kExposureMessageMs);
        return 1;
    }
    if (key == boundKey(kSlotKeyExit)) return 0;
    if (key == boundKey(kSlotKeyBrightnessUp) || key == boundKey(kSlotKeyBrightnessDown)) {
        stepValue(gController.brightness, key == boundKey(kSlotKeyBrightnessUp) ? 1 : -1);
        applySetting(gController.brightness);
        return 1;
    }
    if (key == boundKey(kSlotKeyWysiwyg) && idleOrAbout()) {
        toggle(setting(kSlotWysiwyg));
        if (isPhotoLikeMode()) reconfigureForMode(false);
        return 1;
    }
    if (key == boundKey(kSlotKeyNightMode)) {
        toggle(gController.nightMode);
        applySetting(gController.nightMode);
        return 1;
    }
    return -1;
}

}  // namespace

int handleKey(int key) {
    const Keys keys = activeKeys();
    if (key == 0) return 1;
    if (key == keys.start && !gApp.fullScreen.load()) return 1;

    const int bound = handleBoundKey(key);
    if (bound >= 0) return bound;

    if (key == boundKey(kSlotKeySnapshot))
        key = keys.start;
    else if (key == boundKey(kSlotKeyMenuPrev))
        key = keys.b;

    if (idleOrAbout() && (key == keys.a || key == keys.b)) {
        MenuPage* page = gApp.currentPage.load();
        if (!page) return 1;
        bool editing = false;
        const int32_t startIndex = page->editStartIndex.load();
        if (startIndex >= 0 && page->items && page->selected.load() < page->itemCount) {
            ValueList* list = page->items[page->selected.load()].setting;
            if (list && startIndex < list->count) {
                list->current.store(startIndex);  // the edit is cancelled
                editing = true;
            }
        }
        if (key == keys.a || page == &gMenuPages[kPageMain]) {
            page->editStartIndex.store(-1);
            toggleMenu();
        } else {
            if (!editing) gApp.currentPage.store(parentOf(page));
            gApp.menuVisible.store(0);
            toggleMenu();
            page->editStartIndex.store(-1);
        }
        gApp.activity.store(Idle);
        return 1;
    }

    if (gApp.menuVisible.load()) return navigateMenu(key, keys);

    if (gApp.activity.load() == Idle && key != keys.start) {
        bool changed = false;
        if (key == keys.left || key == keys.right) {
            changed = stepValue(setting(kSlotCaptureMode), key == keys.left ? -1 : 1);
        } else if (key == keys.up || key == keys.down) {
            ValueList& zoom = isPhotoLikeMode() ? gController.photoZoom : gController.videoZoom;
            changed = stepValue(zoom, key == keys.up ? 1 : -1);
        }
        if (changed) {
            reconfigureForMode(false);
            refreshMainModeItem();
        }
        return 1;
    }
    return runAction(key);
}

void toggleMenu() {
    const bool visible = gApp.menuVisible.load() == 0;
    gApp.menuVisible.store(visible ? 1 : 0);
    if (!visible) return;
    MenuPage* page = gApp.currentPage.load();
    const bool modePage = page == &gMenuPages[kPagePhoto] || page == &gMenuPages[kPageVideo] ||
                          page == &gMenuPages[kPageWebcam] || page == &gMenuPages[kPageInterval];
    if (!modePage) return;
    MenuPage* current = currentModePage();
    gApp.currentPage.store(current);
    if (!current->parent && current != &gMenuPages[kPageMain])
        current->parent = &gMenuPages[kPageMain];
}

void selectNext(MenuPage& page) {
    const uint32_t count = page.itemCount;
    if (!page.items || count == 0) return;
    uint32_t i = page.selected.load() % count;
    for (uint32_t n = 0; n < count; ++n) {
        i = (i + 1) % count;
        if (selectable(page.items[i])) {
            page.selected.store(i);
            return;
        }
    }
}

void selectPrevious(MenuPage& page) {
    const uint32_t count = page.itemCount;
    if (!page.items || count == 0) return;
    uint32_t i = page.selected.load() % count;
    for (uint32_t n = 0; n < count; ++n) {
        i = (i + count - 1) % count;
        if (selectable(page.items[i])) {
            page.selected.store(i);
            return;
        }
    }
}
