// The process-wide records, defined in one place so that they are constructed before the entry
// point in a fixed order and destroyed after it returns in the reverse order:
//   1. the movie writer (its first index block),
//   2. the device record (released: the LCD plane reader),
//   3. the program state with its three image buffers,
//   4. the camera controller (its frame event),
//   5. the JPEG encoder set-up (the built-in encoder or the external object),
//   6. the menu pages' links to their settings (static data in settings/menu_pages.cpp, nothing
//      to construct),
//   7. the storage-place table,
//   8. the frame record,
//   9. the sound capture (its buffers and the lock of its queue),
//  10. the webcam link (its lock),
//  11. the status texts of the picture size and zoom, the text layer and the overlay's blink
//      state (plain data).
// Each record's type lives in the lowest layer that uses it; only this file, on top of every
// layer, sees all of them. The settings' value lists (settings/settings_table.cpp) and the
// single-word fields of the frame path (core/preview_state.cpp) are constant-initialised data,
// defined beside their tables.
#include "app/process_objects.h"

#include "camera/device_info.h"
#include "core/app_state.h"
#include "core/frame.h"
#include "jpeg/jpeg_encoder.h"
#include "media/audio_capture.h"
#include "media/avi_writer.h"
#include "media/storage.h"
#include "net/webcam.h"
#include "preview/osd_text.h"
#include "preview/overlay.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"

AviWriter gAviWriter;
DeviceInfo gDeviceInfo;
AppState gApp;
CameraController gController;
EncoderSetup gEncoderSetup{};
StoragePlaceTable storagePlaces;
Frame gFrame;
AudioCapture gAudioCapture;
WebcamLink gWebcamLink;
StatusText gSizeText;
StatusText gZoomText;
OsdText gOsdText;
OverlayState gOverlayState;

void resetProcessState() {
    gApp.activity.store(Idle);
    gApp.menuVisible.store(0);
    gApp.currentPage.store(nullptr);
    gApp.osdMessage.store(nullptr);
    gApp.osdMessageStart.store(0);
    gApp.osdMessageDuration.store(0);
    gApp.screenCaptureEdition = 0;
    gApp.fullScreen.store(0);
    gApp.captureStartTick.store(0);
    gApp.freeSpaceMargin = 0;
    gApp.intervalStop.store(0);
    gApp.intervalShots.store(0);

    previewMode.store(Live);
    frameStartTick.store(0);
    frameWorkMillis.store(0);
    frameCaptureMode.store(0);
    seenActivity.store(About);
    activityChanged.store(0);
    intervalLastFrame.store(0);
    intervalFirstFrame.store(0);
    frameConsumer = consumeFrame;

    CameraController& c = gController;
    c.running.store(0);
    c.opened.store(0);
    c.snapshotRequested.store(0);
    c.snapshotArmed.store(0);
    c.streamGeometry = {};
    c.publishedGeometry = {};
    c.appliedExposure = 0;
    c.captureWindowValid = 0;
}
