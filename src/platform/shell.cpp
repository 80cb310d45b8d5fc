// The shell library and ShellExecuteEx.
#include "platform/shell.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/device.h"
#include "platform/hooks.h"
#include "platform/window.h"

void recordShellExecute(const std::string& devicePath);  // window.cpp

BOOL SHFullScreen(HWND window, DWORD state) {
    char text[40];
    snprintf(text, sizeof text, "SHFullScreen 0x%X", state);
    trace(text);
    RECT rect;
    return window && GetWindowRect(window, &rect) ? TRUE : FALSE;
}

BOOL SHHandleWMActivate(HWND, WPARAM wParam, LPARAM, SHACTIVATEINFO* info, DWORD) {
    trace("SHHandleWMActivate " + std::to_string(LOWORD(wParam)));
    if (!info || info->cbSize != sizeof(SHACTIVATEINFO)) return FALSE;
    info->fActive = LOWORD(wParam) != WA_INACTIVE;
    return TRUE;
}

BOOL SHHandleWMSettingChange(HWND, WPARAM, LPARAM, SHACTIVATEINFO* info) {
    trace("SHHandleWMSettingChange");
    return info && info->cbSize == sizeof(SHACTIVATEINFO) ? TRUE : FALSE;
}

BOOL SHInitOrdinal9() {
    trace("aygshell ordinal 9");
    return TRUE;
}

BOOL ShellExecuteEx(SHELLEXECUTEINFO* info) {
    if (!info || info->cbSize != sizeof(SHELLEXECUTEINFO) || !info->lpFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string devicePath = toUtf8(std::u16string(info->lpFile));
    trace("ShellExecuteEx " + devicePath);
    std::string host = hostPathOf(info->lpFile);
    struct stat st;
    if (host.empty() || stat(host.c_str(), &st) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    recordShellExecute(devicePath);
    info->hProcess = nullptr;
    if (!device().openOnDesktop(host)) {
        SetLastError(ERROR_NO_ASSOCIATION);
        return FALSE;
    }
    // The associated program comes to the front, over the program that asked.
    sendToBackground();
    return TRUE;
}
