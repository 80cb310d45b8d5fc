// The process-wide records, defined in one place so that they are constructed before the entry
// point in a fixed order and destroyed after it returns in the reverse order:
//   1. the movie writer (its first index block),
//   2. the device record (released: the LCD plane reader),
//   3. the program state with its three image buffers,
//   4. the camera controller (its frame event),
//   5. the JPEG encoder set-up (the built-in encoder or the external object),
//   6. the menu pages' links to their settings (static data, nothing to construct),
//   7. the storage-place table.
#include "app/app_state.h"
#include "camera/device_info.h"
#include "media/avi_writer.h"
#include "settings/camera_controller.h"

AviWriter gAviWriter;
DeviceInfo gDeviceInfo;
AppState gApp;
CameraController gController;
