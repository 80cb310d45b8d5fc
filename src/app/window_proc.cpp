// The window procedure, and what losing and regaining the foreground does.
#include "app/backlight.h"
#include "app/commands.h"
#include "app/key_dispatch.h"
#include "app/startup.h"
#include "core/app_state.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_table.h"

namespace {

// The longest the program waits for a photo frame, in ms.
constexpr DWORD kPhotoWaitMs = 8192;

void deactivate(HWND window) {
    GXSuspend();
    previewMode.store(Blank);
    setFullScreen(window, false);
    gApp.resumeCamera = false;
    if (gApp.minimizeReason == 1 && gController.running.load()) {
        gApp.resumeCamera = true;
        closeCamera();
    }
    restoreBacklight();
    gApp.minimizeReason = 1;
    ChangeDisplaySettingsEx(nullptr, &gApp.savedDisplayMode, nullptr, CDS_RESET, nullptr);
}

void activate(HWND window) {
    const bool photoMode = valueOf(setting(kSlotCaptureMode)) == kModePhoto;
    if (gApp.screenCaptureEdition && gApp.activity.load() == Active && photoMode) {
        // The screen is captured now that the program is back. The event may still be
        // signalled by an earlier frame; reset it so the wait is for this photo's frame.
        ResetEvent(gController.frameEvent);
        gController.snapshotArmed.store(1);
        WaitForSingleObject(gController.frameEvent, kPhotoWaitMs);
        gController.snapshotArmed.store(0);
        gApp.activity.store(Idle);
    }
    GXResume();
    SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(gApp.mainWindow) | 1));
    setFullScreen(window, true);
    if (gApp.screenCaptureEdition && gApp.activity.load() == Active)
        handleKey(gApp.activeKeys.vkStart);
    applyBacklight(static_cast<uint32_t>(valueOf(setting(kSlotBacklight))));
    if (gApp.resumeCamera) {
        gApp.resumeCamera = false;
        if (openCamera()) startCapture();
    }
    previewMode.store(Live);
}

// The low 16 bits of a message word, sign-extended.
int signedLow(uintptr_t word) {
    return static_cast<int16_t>(word & 0xFFFF);
}
int signedHigh(uintptr_t word) {
    return static_cast<int16_t>((word >> 16) & 0xFFFF);
}

}  // namespace

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            gApp.shellActivateInfo = SHACTIVATEINFO{};
            gApp.shellActivateInfo.cbSize = sizeof(SHACTIVATEINFO);
            return 0;
        case WM_DESTROY:
            GXCloseInput();
            GXCloseDisplay();
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATE:
            SHHandleWMActivate(window, wParam, lParam, &gApp.shellActivateInfo, 0);
            if (LOWORD(wParam) == WA_INACTIVE)
                deactivate(window);
            else if (LOWORD(wParam) == WA_ACTIVE || LOWORD(wParam) == WA_CLICKACTIVE)
                activate(window);
            return 0;
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_ERASEBKGND:
            return 0;
        case WM_SETTINGCHANGE:
            SHHandleWMSettingChange(window, wParam, lParam, &gApp.shellActivateInfo);
            return 0;
        case WM_KEYDOWN:
            if (!handleKey(signedLow(wParam))) PostQuitMessage(0);
            return 0;
        case WM_LBUTTONDOWN:
            if (!dispatchTap(wParam, signedLow(static_cast<uintptr_t>(lParam)),
                             signedHigh(static_cast<uintptr_t>(lParam)),
                             gApp.screenImage.header.biWidth, gApp.screenImage.header.biHeight))
                PostQuitMessage(0);
            return 0;
        case WM_APP:
            if (gApp.activity.load() != Idle) runEnded(static_cast<uint32_t>(wParam));
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
