// The command dispatcher: the action key by capture mode, the end of an interval run, and taps.
//
// Everything here runs on the window thread except pauseRecordingFromCapture. The dispatcher
// owns the transitions of gApp.activity that start and stop captures: a photo blocks this thread
// until the capture thread has saved the frame (frameEvent, at most 8192 ms); a recording is
// opened here and written by the capture thread; an interval run has its own thread, stopped
// here through intervalStop, frameEvent and intervalDoneEvent.
#include "app/commands.h"

#include <algorithm>

#include "app/key_dispatch.h"
#include "app/keys.h"
#include "app/startup.h"
#include "core/app_state.h"
#include "jpeg/jpeg_encoder.h"
#include "media/audio_capture.h"
#include "media/avi_writer.h"
#include "media/record_frame.h"
#include "media/storage.h"
#include "net/webcam.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"

namespace {

// How long this thread waits for a photo's frame, and for an interval run to end, in ms.
constexpr DWORD kPhotoWaitMs = 8192;
constexpr DWORD kIntervalStopWaitMs = 1000;
constexpr const char* kNoRoomMessage = "Not enough memory(<3mb)";
constexpr uint32_t kNoRoomMessageMs = 2000;
constexpr const char* kNoMemoryMessage = "Not enough memory";
constexpr uint32_t kNoMemoryMessageMs = 1024;
constexpr int32_t kSoundOn = 1;
constexpr int32_t kMaxAverageLog2 = 8;                // 256 frames
constexpr uint32_t kSnapshotOneFrame = Live;          // snapshotFrames: the preview goes on
constexpr uint32_t kSnapshotAveraging = OverlayOnly;  // snapshotFrames: black behind the overlay
constexpr int kCornerPixels = 32;
constexpr int32_t kOrientations = 4;

enum Orientation : int32_t { LandscapeL = 0, Portrait = 1, LandscapeR = 2, PortraitR = 3 };
enum TouchAction : int32_t { TouchDisable = 0, TouchSwitchMenu = 1, TouchMakePhoto = 2 };

int actionKey() {
    return gApp.activeKeys.vkStart;
}

void openChoicePage(int index) {
    showChoicePage(index);
    gApp.activity.store(Choosing);
}

// ---- Photo ------------------------------------------------------------------------------------

int takePhoto(uint32_t tick) {
    CameraController& c = gController;
    if (!prepareEncoderArguments()) return 1;
    // The display goes black until the photo's frame is shown. The capture thread clears it at
    // its next frame (the Blank preview mode): clearing it from this thread would write the
    // display memory while that thread copies a picture into it.
    if (!isWysiwygPhoto()) previewMode.store(Blank);
    gApp.activity.store(Active);
    c.snapshotArmed.store(0);
    c.snapshotFrames.store(kSnapshotOneFrame);
    gApp.captureStartTick.store(tick);
    if (gApp.screenCaptureEdition) {
        // The screen is captured while another program is in front; the photo is completed
        // when the program comes back.
        minimizeWindow(0);
        return 1;
    }
    c.snapshotRequested.store(1);
    c.snapshotArmed.store(0);
    reconfigureForMode(true);
    // A request the controller did not hand over (the camera is not streaming) arms nothing and
    // would leave a stale frameEvent to be taken for a photo: it counts as no photo.
    const bool handedOver = c.snapshotRequested.exchange(0) == 0;
    if (handedOver) WaitForSingleObject(c.frameEvent, kPhotoWaitMs);
    reconfigureForMode(false);
    if (!handedOver || c.snapshotArmed.load() == 1) {
        // No photo to decide on: back to the live preview.
        c.snapshotArmed.store(0);
        previewMode.store(Live);
        gApp.activity.store(Idle);
        return 1;
    }
    openChoicePage(kPagePhotoChoice);
    return 1;
}

// ---- Movie ------------------------------------------------------------------------------------

int startMovie() {
    if (!prepareEncoderArguments() || !gApp.lastFilePath) return 1;
    makeFileName(gApp.lastFilePath);
    const uint32_t free = queryFreeSpace();
    if (free < kMinMovieFreeBytes) {
        setOsdMessage(kNoRoomMessage, kNoRoomMessageMs);
        return 1;
    }
    gApp.freeSpaceMargin = free - kMinMovieFreeBytes;

    // "Max FPS" is a frame period in ms; the sound buffers hold one period each.
    const uint32_t period = static_cast<uint32_t>(std::max(valueOf(setting(kSlotMaxFps)), 1));
    AviWriter& w = gAviWriter;
    if (w.frameMs.load() != period) w.frameMs.store(period);
    if (gAudioCapture.periodMs != period) configure(gAudioCapture, kSoundBufferMs / period, period);

    // The movie's frame size is the size of the encoded pictures: turned by a quarter turn, the
    // encoder's width and height exchange.
    const EncoderSetup& e = gEncoderSetup;
    const bool turned = e.rotation == 1 || e.rotation == 3;
    const bool withSound = valueOf(setting(kSlotSound)) == kSoundOn;
    if (!openMovie(gApp.lastFilePath, turned ? e.height : e.width, turned ? e.width : e.height,
                   withSound))
        return 1;
    if (w.soundOn.load()) synchronizeSoundStart(gAudioCapture);
    if (gApp.screenCaptureEdition) minimizeWindow(0);
    gApp.activity.store(Active);
    gApp.captureStartTick.store(GetTickCount());
    return 1;
}

// ---- Interval run -----------------------------------------------------------------------------

int startIntervalRun() {
    CameraController& c = gController;
    gApp.intervalShots.store(0);
    if (!prepareEncoderArguments()) return 1;
    const int32_t log2Frames = std::clamp(valueOf(setting(kSlotAverage)), 0, kMaxAverageLog2);
    if (log2Frames > 0) {
        // The sums' high bytes, one per byte of the cropped frame.
        const CaptureGeometry& g = c.publishedGeometry;
        const uint64_t bytes =
            uint64_t{g.cropRight - g.cropLeft + 1} * (g.cropBottom - g.cropTop + 1) * 2;
        if (bytes > UINT32_MAX || !allocateAverageBuffer(static_cast<uint32_t>(bytes))) {
            setOsdMessage(kNoMemoryMessage, kNoMemoryMessageMs);
            return 1;
        }
        previewMode.store(OverlayOnly);
        c.snapshotFrames.store(kSnapshotAveraging);
    } else {
        c.snapshotFrames.store(kSnapshotOneFrame);
    }
    c.snapshotArmed.store(0);
    gApp.intervalStop.store(0);
    gApp.intervalDoneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = gApp.intervalDoneEvent
                        ? CreateThread(nullptr, 0, intervalThreadMain, nullptr, 0, nullptr)
                        : nullptr;
    if (!thread) {  // nothing runs: leave everything as it was
        if (gApp.intervalDoneEvent) CloseHandle(gApp.intervalDoneEvent);
        gApp.intervalDoneEvent = nullptr;
        releaseAverageBuffer();
        previewMode.store(Live);
        return 1;
    }
    gApp.intervalThreadHandle = thread;
    gApp.intervalThread.store(thread);
    if (gApp.screenCaptureEdition) minimizeWindow(0);
    gApp.activity.store(Active);
    gApp.captureStartTick.store(GetTickCount());
    return 1;
}

// Asks the interval thread to end and waits for it; a thread that does not end in time is
// abandoned, and with it the averaging buffer it may still write to.
void stopIntervalRun() {
    bool ended = true;
    if (HANDLE running = gApp.intervalThread.load()) {
        gApp.intervalStop.store(1);
        SetEvent(gController.frameEvent);  // the thread may be waiting for a frame
        if (WaitForSingleObject(gApp.intervalDoneEvent, kIntervalStopWaitMs) != WAIT_OBJECT_0) {
            TerminateThread(running, 0);
            ended = false;
        }
    }
    // The thread signals its end before it clears gApp.intervalThread: it has finished only when
    // its handle is signalled. Until then a new run's handle could be cleared by the old thread.
    if (ended && gApp.intervalThreadHandle &&
        WaitForSingleObject(gApp.intervalThreadHandle, kIntervalStopWaitMs) != WAIT_OBJECT_0) {
        TerminateThread(gApp.intervalThreadHandle, 0);
        ended = false;
    }
    if (gApp.intervalDoneEvent) CloseHandle(gApp.intervalDoneEvent);
    gApp.intervalDoneEvent = nullptr;
    gApp.intervalThread.store(nullptr);
    if (gApp.intervalThreadHandle) CloseHandle(gApp.intervalThreadHandle);
    gApp.intervalThreadHandle = nullptr;
    if (ended)
        releaseAverageBuffer();
    else
        abandonAverageBuffer();
}

// ---- Webcam -----------------------------------------------------------------------------------

int startWebcamRun() {
    if (!prepareEncoderArguments()) return 1;
    if (!startWebcam()) return 1;
    if (gApp.screenCaptureEdition) minimizeWindow(0);
    gApp.activity.store(Active);
    gApp.captureStartTick.store(GetTickCount());
    return 1;
}

void stopWebcamRun() {
    gApp.activity.store(Choosing);  // while the link is being stopped
    stopWebcam();
    gApp.activity.store(Idle);
}

}  // namespace

int runAction(int key) {
    if (key != actionKey()) return 1;
    const uint32_t tick = GetTickCount();
    const int32_t activity = gApp.activity.load();
    switch (valueOf(setting(kSlotCaptureMode))) {
        case kModePhoto:
            return activity == Idle ? takePhoto(tick) : 1;
        case kModeVideo:
            if (activity == Idle) return startMovie();
            if (activity == Active) pauseRecording();
            return 1;
        case kModeInterval:
            if (activity == Idle) return startIntervalRun();
            if (activity == Active) {
                // The run is ended before the camera goes back to the preview, so that the
                // interval thread and this thread never drive the controller at once.
                runEnded(0);
                startCapture();
            }
            return 1;
        case kModeWebcam:
            if (activity == Idle) return startWebcamRun();
            if (activity == Active) stopWebcamRun();
            return 1;
        default:
            return 1;
    }
}

int runEnded(uint32_t failed) {
    const int32_t mode = valueOf(setting(kSlotCaptureMode));
    if (mode == kModePhoto) {
        if (failed == 0)
            openChoicePage(kPagePhotoChoice);
        else
            gApp.activity.store(Idle);
    } else if (mode == kModeInterval) {
        stopIntervalRun();
        gApp.activity.store(Idle);
    }
    reconfigureForMode(false);
    previewMode.store(Live);
    // A run that failed after a snapshot at a size the camera cannot stream has left the camera
    // stopped: the preview must come back.
    if (mode == kModeInterval) startCapture();
    return 1;
}

int dispatchTap(WPARAM, int x, int y, int width, int height) {
    const int32_t activity = gApp.activity.load();
    if ((activity == Idle || activity == About) && gApp.currentPage.load()) {
        const bool top = y<kCornerPixels, bottom = y> height - kCornerPixels;
        const bool left = x<kCornerPixels, right = x> width - kCornerPixels;
        ValueList& orientation = setting(kSlotOrientation);
        bool exitCorner = false, rotateCorner = false;
        switch (valueOf(orientation)) {
            case LandscapeL:
                exitCorner = top && left;
                rotateCorner = bottom && right;
                break;
            case Portrait:
                exitCorner = top && right;
                rotateCorner = bottom && left;
                break;
            case LandscapeR:
                exitCorner = bottom && right;
                rotateCorner = top && left;
                break;
            case PortraitR:
                exitCorner = bottom && left;
                rotateCorner = top && right;
                break;
            default:
                break;
        }
        if (exitCorner) return 0;
        if (rotateCorner) {
            const int32_t next = (valueOf(orientation) + 1) % kOrientations;
            if (next < orientation.count) orientation.current.store(next);
            applyOrientation();
            refreshStatusTexts();
            return 1;
        }
    }
    if (activity == About) {
        gApp.activity.store(Idle);
        return 1;
    }
    switch (valueOf(setting(kSlotTouchScreen))) {
        case TouchSwitchMenu:
            toggleMenu();
            break;
        case TouchMakePhoto:
            return handleKey(actionKey());
        default:  // "Disable"
            break;
    }
    return 1;
}
