// The program's entry, its single full-screen window, and the order in which everything is
// brought up and torn down.
#pragma once

#include "core/resource_ids.h"
#include "platform/windows.h"

int WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPWSTR commandLine, int showCommand);
bool initInstance(HINSTANCE instance, int showCommand);
bool prepareDevice(HINSTANCE instance);

// The path of `name` in the program's folder, built in place in the program-path buffer: the
// result stays valid only until the next call.
const WCHAR* siblingPath(const WCHAR* name);

bool setFullScreen(HWND window, bool on);
// reason: 0 for the "Minimize" key (the camera keeps running), 1 for "Sleep".
void minimizeWindow(uint32_t reason);
// Opens a file with its associated program, leaving full screen.
bool openDocument(const WCHAR* path);

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
