// GAPI: the display memory of the device and its hardware keys.
#include "platform/gx.h"

#include <atomic>

#include "platform/device.h"
#include "platform/hooks.h"

namespace {
std::atomic<bool> displayOpen{false};
std::atomic<bool> inputOpen{false};
std::atomic<bool> suspended{false};

void fill(const WORD keys[8], GXKeyList& list) {
    short* codes[8] = {&list.vkUp, &list.vkDown, &list.vkLeft, &list.vkRight,
                       &list.vkA,  &list.vkB,    &list.vkC,    &list.vkStart};
    POINT* points[8] = {&list.ptUp, &list.ptDown, &list.ptLeft, &list.ptRight,
                        &list.ptA,  &list.ptB,    &list.ptC,    &list.ptStart};
    for (int i = 0; i < 8; ++i) {
        *codes[i] = static_cast<short>(keys[i]);
        *points[i] = {0, 0};
    }
}
}  // namespace

int GXOpenDisplay(HWND window, DWORD) {
    trace("GXOpenDisplay");
    if (!window || !deviceInstalled() || displayOpen.exchange(true)) return 0;
    return 1;
}

int GXCloseDisplay() {
    trace("GXCloseDisplay");
    return displayOpen.exchange(false) ? 1 : 0;
}

void* GXBeginDraw() {
    if (!displayOpen.load() || suspended.load()) return nullptr;
    trace("GXBeginDraw");
    return device().displayMemory();
}

int GXEndDraw() {
    trace("GXEndDraw");
    return displayOpen.load() ? 1 : 0;
}

int GXOpenInput() {
    trace("GXOpenInput");
    return inputOpen.exchange(true) ? 0 : 1;
}

int GXCloseInput() {
    trace("GXCloseInput");
    return inputOpen.exchange(false) ? 1 : 0;
}

GXDisplayProperties GXGetDisplayProperties() {
    GXDisplayProperties p{};
    if (!deviceInstalled()) return p;
    const DeviceIdentity& id = device().identity();
    p.cxWidth = static_cast<DWORD>(id.displayWidth);
    p.cyHeight = static_cast<DWORD>(id.displayHeight);
    p.cbxPitch = 2;
    p.cbyPitch = id.displayWidth * 2;
    p.cBPP = 16;
    p.ffFormat = kfDirect | kfDirect565;
    return p;
}

GXKeyList GXGetDefaultKeys(int options) {
    GXKeyList list{};
    if (!deviceInstalled()) return list;
    const DeviceIdentity& id = device().identity();
    fill(options == GX_LANDSCAPEKEYS ? id.landscapeKeys : id.normalKeys, list);
    return list;
}

int GXSuspend() {
    trace("GXSuspend");
    suspended.store(true);
    return 1;
}

int GXResume() {
    trace("GXResume");
    suspended.store(false);
    return 1;
}
