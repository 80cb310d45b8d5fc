// Start-up and shutdown, in the order the program depends on.
#include "app/startup.h"

#include <cstdlib>
#include <cstring>

#include "app/backlight.h"
#include "app/commands.h"
#include "app/keys.h"
#include "app/persistence.h"
#include "camera/device_info.h"
#include "core/app_state.h"
#include "jpeg/jpeg_encoder.h"
#include "media/avi_writer.h"
#include "media/record_frame.h"
#include "media/storage.h"
#include "net/webcam.h"
#include "preview/overlay.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"

namespace {

constexpr int kResourceTextMax = 100;  // characters of the title and class-name buffers
// The program's resources leave the class name empty; this one serves both the registration
// and the single-instance lookup.
constexpr const WCHAR* kFallbackClassName = u"LumovatrixMain";

// SHFullScreen states.
constexpr DWORD kHideShellParts = SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON | SHFS_HIDESTARTICON;
constexpr DWORD kShowShellParts = SHFS_SHOWTASKBAR | SHFS_SHOWSIPBUTTON | SHFS_SHOWSTARTICON;
static_assert(kHideShellParts == 0x2A && kShowShellParts == 0x15);

// Rows the photo buffer holds beyond the largest photo, for the webcam message's header. A row
// of a picture at least 16 pixels wide (every display and size-table entry) holds 32 bytes.
constexpr int32_t kPhotoBufferExtraRows = 1;
constexpr uint32_t kNarrowestPictureBytesPerRow = 16 * 2;
static_assert(kPhotoBufferExtraRows * kNarrowestPictureBytesPerRow >= kWebcamPictureOffset);

WCHAR gTitle[kResourceTextMax];
WCHAR gClassName[kResourceTextMax];

void moveToWorkArea(HWND window) {
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    MoveWindow(window, area.left, area.top, area.right - area.left, area.bottom - area.top, TRUE);
}

void moveToFullScreen(HWND window) {
    MoveWindow(window, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), TRUE);
}

// A capture still running when the program ends is ended as the user's stop would end it: an
// interval run and webcam streaming are stopped, and a movie is closed with its index and
// header, so that nothing recorded is lost and no thread of ours outlives the program.
void endRunningCapture() {
    gApp.activity.store(Idle);
    if (gApp.intervalThread.load()) runEnded(0);
    if (gWebcamLink.thread.load()) stopWebcam();
}

void shutdownSteps() {
    endRunningCapture();
    restoreBacklight();
    closeCamera();
    closeMovie(true);  // after the camera: no frame is being recorded any more
    saveSettings();
    std::free(gApp.lastFilePath);
    gApp.lastFilePath = nullptr;
    ChangeDisplaySettingsEx(nullptr, &gApp.savedDisplayMode, nullptr, CDS_RESET, nullptr);
}

}  // namespace

const WCHAR* siblingPath(const WCHAR* name) {
    WCHAR* path = gApp.programPath;
    size_t slash = 0;
    for (size_t i = 0; path[i]; ++i)
        if (path[i] == u'\\') slash = i + 1;
    // Bounded to the buffer: a name too long for it is cut, never written past the end.
    size_t n = 0;
    while (name && name[n] && slash + n < MAX_PATH - 1) {
        path[slash + n] = name[n];
        ++n;
    }
    path[slash + n] = 0;
    return path;
}

bool setFullScreen(HWND window, bool on) {
    if (!SHFullScreen(window, on ? kHideShellParts : kShowShellParts)) return false;
    if (on)
        moveToFullScreen(window);
    else
        moveToWorkArea(window);
    gApp.fullScreen.store(on ? 1 : 0);
    return true;
}

void minimizeWindow(uint32_t reason) {
    gApp.minimizeReason = reason;
    if (SHFullScreen(gApp.mainWindow, kShowShellParts)) {
        moveToWorkArea(gApp.mainWindow);
        gApp.fullScreen.store(0);
    }
    ShowWindow(gApp.mainWindow, SW_MINIMIZE);
}

bool openDocument(const WCHAR* path) {
    SHFullScreen(gApp.mainWindow, kShowShellParts);
    moveToWorkArea(gApp.mainWindow);
    gApp.fullScreen.store(0);
    SHELLEXECUTEINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = path;
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteEx(&info)) return true;
    SHFullScreen(gApp.mainWindow, kHideShellParts);
    moveToFullScreen(gApp.mainWindow);
    gApp.fullScreen.store(1);
    return false;
}

bool prepareDevice(HINSTANCE) {
    gApp.registryKeyPath = gApp.screenCaptureEdition ? u"Software\\Quorvale\\Lumosnapper"
                                                     : u"Software\\Quorvale\\Lumovatrix";
    GetModuleFileNameW(nullptr, gApp.programPath, MAX_PATH);
    detectDevice(gDeviceInfo);
    // The built-in encoder runs only on the fast processors; elsewhere an external encoder
    // library may stand in. The photo "Format" list is cut to "BMP" when neither is usable.
    gEncoderSetup.available = 0;
    if (gDeviceInfo.isPxa27x) {
        gEncoderSetup.encoder = createJpegEncoder();
        // Only an encoder that was really made counts: a failed allocation leaves no encoder,
        // and photos must then not be offered as JPEG.
        gEncoderSetup.available = gEncoderSetup.encoder != nullptr;
    } else {
        gEncoderSetup.available = loadEncoderLibrary();
    }
    readUserBacklight();
    return true;
}

bool initInstance(HINSTANCE instance, int) {
    gApp.instance = instance;
    SHInitOrdinal9();
    LoadStringW(instance, kStringTitle, gTitle, kResourceTextMax);
    LoadStringW(instance, kStringClassName, gClassName, kResourceTextMax);
    const WCHAR* className = gClassName[0] ? gClassName : kFallbackClassName;
    if (HWND running = FindWindowW(className, gTitle)) {
        SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(running) | 1));
        return false;
    }
    prepareDevice(instance);

    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = className;
    if (!RegisterClassW(&windowClass)) return false;
    gApp.mainWindow =
        CreateWindowExW(0, className, gTitle, WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                        GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, nullptr);
    if (!gApp.mainWindow) return false;

    gApp.savedDisplayMode = DEVMODEW{};
    gApp.savedDisplayMode.dmSize = sizeof(DEVMODEW);
    gApp.savedDisplayMode.dmFields = DM_DISPLAYORIENTATION;
    ChangeDisplaySettingsEx(nullptr, &gApp.savedDisplayMode, nullptr, CDS_TEST, nullptr);

    if (!GXOpenDisplay(gApp.mainWindow, GX_FULLSCREEN) || !GXOpenInput()) return false;
    gApp.normalKeys = GXGetDefaultKeys(GX_NORMALKEYS);
    gApp.landscapeKeys = GXGetDefaultKeys(GX_LANDSCAPEKEYS);

    DisplayDescription& display = gDeviceInfo.display;
    if (!display.pFramePointer) {
        GXDisplayProperties p = GXGetDisplayProperties();
        display.cxPixels = static_cast<int32_t>(p.cxWidth);
        display.cyPixels = static_cast<int32_t>(p.cyHeight);
        display.cxStride = static_cast<int32_t>(p.cbxPitch);
        display.cyStride = static_cast<int32_t>(p.cbyPitch);
        display.wBPP = static_cast<uint16_t>(p.cBPP);
        display.wFormat = static_cast<uint16_t>(p.ffFormat);
    }

    readConfigFile(siblingPath(u"Config.txt"));
    setFullScreen(gApp.mainWindow, true);
    buildSettingsModel(gDeviceInfo);

    gApp.lastFilePath = static_cast<WCHAR*>(std::calloc(MAX_PATH, sizeof(WCHAR)));
    gController.frameHandler = onFrame;
    completeDeviceLists(gDeviceInfo);
    buildStoragePlaces();
    finishUnfinishedMovie(siblingPath(kMovieNoteName));
    applyEditionRestrictions();
    buildMenuPages(gDeviceInfo);
    loadSettings();
    relabelSizeList(true);
    relabelSizeList(false);
    refreshMainModeItem();
    gApp.currentPage.store(&gMenuPages[kPageMain]);
    gApp.activity.store(Idle);
    previewMode.store(Live);
    return true;
}

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
    gApp.screenCaptureEdition = commandLine && commandLine[0] == u'1';
    if (!initInstance(instance, showCommand)) return 0;
    loadFont();
    ensureImage(gApp.screenImage, gDeviceInfo.display.cxPixels, gDeviceInfo.display.cyPixels);
    applyOrientation();
    if (gApp.screenImage.pixels) {
        std::memset(gApp.screenImage.pixels, 0, gApp.screenImage.header.biSizeImage);
        drawOverlay(gApp.screenImage);
    }
    presentScreen(&gApp.screenImage);
    ensureImage(gApp.auxScreenImage, gApp.screenImage.header.biWidth,
                gApp.screenImage.header.biHeight);
    // One row more than the largest photo: a webcam message puts its 32 header bytes in front
    // of the picture in this buffer, and the encoder needs room for a whole frame behind them,
    // also when the webcam runs at the largest photo size (the screen-capture edition streams
    // the screen, its only photo size).
    ensureImage(gApp.photoImage, static_cast<int32_t>(gController.maxPhotoWidth),
                static_cast<int32_t>(gController.maxPhotoHeight) + kPhotoBufferExtraRows);
    reconfigureForMode(false);

    MSG message{};
    if (openCamera() && startCapture()) {
        while (GetMessageW(&message, nullptr, 0, 0)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    shutdownSteps();
    return static_cast<int>(message.wParam);
}
