// The OEM camera library's table: its nine entry points, looked up by name when the library is
// loaded at start-up. The library does all the capturing on its own threads and delivers frames
// through the frame handler given to "Camera_Begin".
#include "camera/camera_backend.h"
#include "camera/device_info.h"
#include "platform/windows.h"

CameraBackend gCameraLibraryBackend = {};

namespace {

// The loaded library: kept for the life of the process, never freed.
HMODULE cameraLibrary = nullptr;

template <typename Slot>
void lookUp(HMODULE library, Slot& slot, LPCWSTR name) {
    slot = reinterpret_cast<Slot>(GetProcAddressW(library, name));
}

// "Camera_Begin" takes the start block as plain memory (`const void*`). It is called through a
// pointer of exactly that type: calling it through the table's `const CaptureParams*` slot would
// call a function through a pointer of another type.
uint32_t (*libraryBegin)(const void* block) = nullptr;

uint32_t beginThroughLibrary(const CaptureParams* params) {
    return libraryBegin(params);
}

}  // namespace

bool loadCameraLibrary() {
    HMODULE library = LoadLibraryW(u"HTCcamera.dll");
    if (!library) library = LoadLibraryW(u"HTCcamera1.dll");
    if (!library) {
        gCameraLibraryBackend = {};
        return false;
    }
    CameraBackend table = {};
    lookUp(library, table.open, u"Camera_Init");
    lookUp(library, libraryBegin, u"Camera_Begin");
    table.start = libraryBegin ? beginThroughLibrary : nullptr;
    lookUp(library, table.stop, u"Camera_End");
    lookUp(library, table.close, u"Camera_Deinit");
    lookUp(library, table.setProperty, u"Camera_SetProperty");
    lookUp(library, table.getProperty, u"Camera_GetProperty");
    lookUp(library, table.writeRegister, u"Camera_WriteRegister");
    lookUp(library, table.readRegister, u"Camera_ReadRegister");
    lookUp(library, table.flashLight, u"Camera_FlashLight");
    // Register access and the flash light are optional; the six others are required.
    if (!table.open || !table.start || !table.stop || !table.close || !table.setProperty ||
        !table.getProperty) {
        // A library without them is not driven at all: the table stays empty, so a model that
        // selects this backend fails to open its camera instead of calling half a library.
        FreeLibrary(library);
        gCameraLibraryBackend = {};
        return false;
    }
    gCameraLibraryBackend = table;
    cameraLibrary = library;
    return true;
}
