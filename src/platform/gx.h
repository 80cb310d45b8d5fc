// GAPI (gx.dll): direct access to the display memory and the hardware keys.
#pragma once

#include "platform/types.h"

constexpr DWORD GX_FULLSCREEN = 0x01;
constexpr int GX_NORMALKEYS = 0x02;
constexpr int GX_LANDSCAPEKEYS = 0x03;

constexpr DWORD kfLandscape = 0x8;
constexpr DWORD kfPalette = 0x10;
constexpr DWORD kfDirect = 0x20;
constexpr DWORD kfDirect555 = 0x40;
constexpr DWORD kfDirect565 = 0x80;

struct GXDisplayProperties {
    DWORD cxWidth;
    DWORD cyHeight;
    long cbxPitch;  // bytes from one pixel to the next
    long cbyPitch;  // bytes from one row to the next
    long cBPP;
    DWORD ffFormat;
};

// Eight entries, each a 16-bit key code padded to 32 bits and a screen point: 96 bytes.
struct GXKeyList {
    short vkUp;
    POINT ptUp;
    short vkDown;
    POINT ptDown;
    short vkLeft;
    POINT ptLeft;
    short vkRight;
    POINT ptRight;
    short vkA;
    POINT ptA;
    short vkB;
    POINT ptB;
    short vkC;
    POINT ptC;
    short vkStart;
    POINT ptStart;
};
static_assert(sizeof(GXKeyList) == 96);

int GXOpenDisplay(HWND window, DWORD flags);
int GXCloseDisplay();
// The display memory while drawing is allowed; null while suspended or closed.
void* GXBeginDraw();
int GXEndDraw();
int GXOpenInput();
int GXCloseInput();
GXDisplayProperties GXGetDisplayProperties();
GXKeyList GXGetDefaultKeys(int options);
int GXSuspend();
int GXResume();
