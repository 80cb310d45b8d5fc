// The process-wide state of the program that no other subsystem's record owns: the window, the
// edition, the key lists, the requested activity, the menu state, the on-screen message, the
// last file named, the interval-run fields, the webcam server, the capture window, the saved
// backlight time-outs, and the three image buffers.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/windows.h"

// The requested activity: written on the window thread, copied once per frame by the preview.
enum ActivityState : int32_t {
    Idle = 0,      // live preview, nothing running
    Choosing = 1,  // a choice page after a photo or movie is open, or a stop is under way
    Active = 2,    // a photo is being taken, or a recording, interval run or webcam run is going
    About = 3,     // the About screen is shown
};

// Mirrors BITMAPINFOHEADER (40 bytes).
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;   // pixels
    int32_t biHeight = 0;  // pixels
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 24;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;  // bytes of the pixel area
    int32_t biXPelsPerMeter = 3780;
    int32_t biYPelsPerMeter = 3780;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// A picture of 2 bytes per pixel. `pixels` is `raw` rounded up to a multiple of 32 bytes.
struct ImageBuffer {
    BitmapInfoHeader header;
    uint8_t* raw = nullptr;     // the block as allocated, owned unless `borrowed`
    uint8_t* pixels = nullptr;  // aligned start of the picture
    uint8_t borrowed = 0;       // 1: `pixels` is memory the buffer does not own

    ImageBuffer() = default;
    ImageBuffer(const ImageBuffer&) = delete;
    ImageBuffer& operator=(const ImageBuffer&) = delete;
    ~ImageBuffer();
};

// Makes `image` hold width x height pixels of 2 bytes. Keeps the block when the size is
// unchanged and owned; a failed allocation leaves both pointers null (not reported).
void ensureImage(ImageBuffer& image, int32_t width, int32_t height);
// Frees an owned block and clears the buffer back to empty.
void releaseImage(ImageBuffer& image);

// Length of the texts the program keeps in fixed buffers.
constexpr size_t kServerTextBytes = 100;

struct AppState {
    // Process and window.
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    uint8_t screenCaptureEdition = 0;    // 1: the program runs as Lumosnapper
    std::atomic<uint8_t> fullScreen{0};  // read by the capture thread
    WCHAR programPath[MAX_PATH] = {};    // the program's path; also siblingPath's work buffer
    const WCHAR* registryKeyPath = nullptr;
    DEVMODEW savedDisplayMode = {};
    SHACTIVATEINFO shellActivateInfo = {};
    uint32_t minimizeReason = 0;  // 0 after "Minimize", 1 after "Sleep" and every deactivation
    bool resumeCamera = false;    // the deactivation closed the camera: activation reopens it

    // Keys (GAPI lists: Up, Down, Left, Right, A, B, C, Start).
    GXKeyList normalKeys = {};
    GXKeyList landscapeKeys = {};
    GXKeyList activeKeys = {};

    // Interaction. The capture thread reads these while the window thread writes them.
    std::atomic<int32_t> activity{Idle};
    std::atomic<uint8_t> menuVisible{0};
    std::atomic<struct MenuPage*> currentPage{nullptr};
    std::atomic<const char*> osdMessage{nullptr};  // one-line message over the preview
    std::atomic<uint32_t> osdMessageStart{0};      // ms of the tick counter
    std::atomic<uint32_t> osdMessageDuration{0};   // ms; 0 keeps the message until replaced
    WCHAR* lastFilePath = nullptr;  // 260-unit heap buffer: the last photo or movie named
    uint32_t freeSpaceMargin = 0;   // bytes free at the movie's destination minus 3,000,000
    std::atomic<uint32_t> captureStartTick{0};  // ms: start of the photo, recording or run

    // Interval runs.
    std::atomic<uint8_t> intervalStop{0};
    HANDLE intervalDoneEvent = nullptr;           // manual reset, one per run
    std::atomic<HANDLE> intervalThread{nullptr};  // cleared by the thread when it ends
    HANDLE intervalThreadHandle = nullptr;  // the handle as created: what the window thread closes
    std::atomic<uint32_t> intervalShots{0};
    uint8_t* averageBuffer = nullptr;  // high bytes of the 16-bit sums of an averaging run
    uint32_t averageBufferSize = 0;    // bytes

    char webcamServer[kServerTextBytes] = "webcam.quorvale.com";  // replaced from Config.txt
    int32_t captureWindow[4] = {0, 0, 0, 0};                      // x, y, width, height
    uint32_t savedBatteryTimeout = 0;                             // seconds
    uint32_t savedACTimeout = 0;                                  // seconds

    // screenImage: display-sized, drawn by the preview and the overlay; auxScreenImage: the same
    // size, the frozen picture of a photo; photoImage: the largest photo, the encoder's output.
    ImageBuffer screenImage;
    ImageBuffer auxScreenImage;
    ImageBuffer photoImage;
};

extern AppState gApp;

// Shows `text` over the preview for `duration` ms (0: until replaced). `text` must outlive it.
void setOsdMessage(const char* text, uint32_t duration);
