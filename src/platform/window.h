// Windows, the message queue, system metrics and parameters, display settings, module resources,
// the cursor and the display escapes of the device context.
#pragma once

#include "platform/types.h"

// --- Messages ----------------------------------------------------------------------------------
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_APP = 0x8000;

constexpr WORD WA_INACTIVE = 0;
constexpr WORD WA_ACTIVE = 1;
constexpr WORD WA_CLICKACTIVE = 2;

constexpr WPARAM MK_LBUTTON = 0x0001;

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// --- Window classes and windows ---------------------------------------------------------------
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr DWORD WS_VISIBLE = 0x10000000;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;

struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};

ATOM RegisterClassW(const WNDCLASSW* windowClass);
// Sends WM_CREATE before it returns; a visible window becomes the foreground window (it gets
// WM_ACTIVATE through the queue).
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID parameter);
BOOL DestroyWindow(HWND window);
// Finds a top-level window of any process on the same device root by class and title.
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
// Accepts the handle with its lowest bit set, as the handheld's programs pass it.
BOOL SetForegroundWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL GetWindowRect(HWND window, RECT* rect);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// --- The message queue -------------------------------------------------------------------------
// Returns 0 when the quit message is taken; otherwise blocks for the next message.
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// --- System metrics, parameters and display settings -------------------------------------------
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
int GetSystemMetrics(int index);

constexpr UINT SPI_GETWORKAREA = 48;
constexpr UINT SPI_GETPLATFORMTYPE = 257;
constexpr UINT SPI_GETOEMINFO = 258;
// For the two text queries, uiParam is the buffer size in bytes.
BOOL SystemParametersInfoW(UINT action, UINT uiParam, LPVOID pvParam, UINT winIni);

constexpr DWORD DM_DISPLAYORIENTATION = 0x00800000;
constexpr DWORD DMDO_0 = 0;
constexpr DWORD CDS_TEST = 0x00000002;
constexpr DWORD CDS_RESET = 0x40000000;
constexpr LONG DISP_CHANGE_SUCCESSFUL = 0;
constexpr LONG DISP_CHANGE_FAILED = -1;

// The display mode record (192 bytes on the handheld); only the fields the program uses are named.
struct DEVMODEW {
    WCHAR dmDeviceName[32];
    WORD dmSpecVersion;
    WORD dmDriverVersion;
    WORD dmSize;
    WORD dmDriverExtra;
    DWORD dmFields;
    BYTE dmOther[108];
    DWORD dmDisplayOrientation;
    DWORD dmDisplayQuery;
};
static_assert(sizeof(DEVMODEW) == 192);

LONG ChangeDisplaySettingsEx(LPCWSTR deviceName, DEVMODEW* mode, HWND window, DWORD flags,
                             LPVOID parameter);

// --- Resources of a module ---------------------------------------------------------------------
inline LPCWSTR const RT_BITMAP = MAKEINTRESOURCEW(2);

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL loaded);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// --- GDI: stock objects, device context and display escapes ------------------------------------
constexpr int WHITE_BRUSH = 0;
HGDIOBJ GetStockObject(int object);

HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int ExtEscape(HDC dc, int escape, int inputSize, const char* input, int outputSize, char* output);

constexpr int GETGXINFO = 0x00020000;
constexpr int GETRAWFRAMEBUFFER = 0x00020001;

// Answer of GETRAWFRAMEBUFFER.
struct RawFrameBufferInfo {
    WORD wFormat;
    WORD wBPP;
    void* pFramePointer;
    int cxStride;
    int cyStride;
    int cxPixels;
    int cyPixels;
};

// Answer of GETGXINFO; the caller sets idVersion to the block's size before asking.
struct GXDeviceInfo {
    DWORD idVersion;
    void* pvFrameBuffer;
    DWORD cbStride;
    DWORD cxWidth;
    DWORD cyHeight;
    DWORD cBPP;
    DWORD ffFormat;
    char reserved[104];
};

constexpr WORD FORMAT_565 = 1;  // wFormat of a 16-bit RGB565 frame buffer

// --- Cursor ------------------------------------------------------------------------------------
inline LPCWSTR const IDC_WAIT = MAKEINTRESOURCEW(32514);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
HCURSOR SetCursor(HCURSOR cursor);
