// The Linux side of the platform stand-in: what the Linux entry, the front-ends and the tests use
// to wire the program to its device and to watch it. The application never includes this.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

// --- The program module ------------------------------------------------------------------------
struct StringResource {
    UINT id;
    const WCHAR* text;
};
struct DataResource {
    uintptr_t type;  // e.g. 2 for a bitmap
    uintptr_t id;
    const void* data;
    DWORD size;
};
struct ModuleResources {
    const StringResource* strings;
    size_t stringCount;
    const DataResource* data;
    size_t dataCount;
};

// The program's own module: its device path (what GetModuleFileNameW answers) and resources.
HINSTANCE createProgramModule(const WCHAR* devicePath, const ModuleResources* resources);

// --- Trace -------------------------------------------------------------------------------------
// The stand-in notes the calls whose order matters ("GXSuspend", "SHFullScreen 0x15", ...), so
// tests can check sequences. Bounded: the oldest entries are dropped beyond 100,000.
void trace(std::string entry);
std::vector<std::string> traceSnapshot();
void traceClear();
// Number of entries since the last clear that begin with `prefix`.
size_t traceCount(const std::string& prefix);

// --- The clock ---------------------------------------------------------------------------------
// Moves the device's tick counter (GetTickCount) forward or back, for tests that drive time.
void advanceTickCount(int64_t milliseconds);

// --- The window system -------------------------------------------------------------------------
// The program's top-level window, once created (null before and after).
HWND programWindow();
// Whether the program's window is the foreground window of the device.
bool programInForeground();
// A user or the system brings another program to the front (the program loses the foreground),
// or brings the program back.
void sendToBackground();
void bringToForeground();
// The end of the program's process: its window is destroyed (the window gets WM_DESTROY).
void destroyProgramWindow();
// Runs `task` on the window thread, in order with the messages posted before it (inside
// GetMessageW, before the next message is returned). Messages the task posts are handled next,
// before anything queued after the task.
void runOnWindowThread(std::function<void()> task);
// Runs `task` on the window thread once its queue is empty: every message and task queued before
// the call has been handled, and so has whatever handling them posted in turn. Front-ends use it
// to know that the program has handled the input they gave it.
void runWhenQueueHandled(std::function<void()> task);
// Waits until the program's window exists or `timeoutMs` passes; true when it exists.
bool waitForProgramWindow(DWORD timeoutMs);
// Requests sent by ShellExecuteEx, as device paths (UTF-8).
std::vector<std::string> shellExecuteRequests();

// --- Paths -------------------------------------------------------------------------------------
// The host path of a device path, or empty when the path would leave the device root.
std::string hostPathOf(const WCHAR* devicePath);
std::u16string toUtf16(const std::string& utf8);
std::string toUtf8(const std::u16string& utf16);
