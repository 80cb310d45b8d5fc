// Device detection: the model's camera type from the device table, the processor and platform
// flags, the setting defaults, the display's frame buffer; and the external encoder library.
#include <cstddef>
#include <cstring>
#include <string_view>

#include "camera/camera_backend.h"
#include "camera/device_info.h"
#include "camera/lcd_plane_reader.h"
#include "jpeg/jpeg_encoder.h"

HMODULE gEncoderLibrary = nullptr;

namespace {

constexpr uint32_t kTypeLibraryLoaded = 12;  // no rule matched, the OEM camera library loaded
constexpr uint32_t kTypeNoCamera = 14;       // no rule matched, no OEM camera library
constexpr UINT kModelQueryBytes = 256;
constexpr size_t kProcessorNameChars = 40;

// One line of the device table: the camera type a model gets when it contains `contains` (and
// `andContains`, when given). Lines are tried from the top; the first match decides.
struct ModelRule {
    uint32_t cameraType;
    const char* contains;
    const char* andContains;
};
constexpr ModelRule kDeviceTable[] = {
    {0, "PM10A", nullptr},   {0, "PM10B", nullptr}, {0, "PM10C", nullptr}, {5, "WIZA100", nullptr},
    {5, "WIZA200", nullptr}, {1, "PH10C", nullptr}, {1, "PH10D", nullptr}, {3, "PU10", nullptr},
    {4, "PM300", nullptr},   {2, "PM200", nullptr}, {6, "PA10A", nullptr}, {11, "LOOX", "720"},
    {13, "MPX", "220"},      {7, "ST20", nullptr},  {7, "I-MATE", "SP3"},  {7, "SPV", "500"},
    {7, "QTEK", "80"},       {7, "QTEK", "81"},     {8, "I-MATE", "SP4"},  {8, "SPV", "550"},
    {8, "QTEK", "82"},       {9, "I-MATE", "SP5"},  {9, "SPV", "600"},     {9, "QTEK", "83"},
    {10, "HERM", nullptr},
};

// What each camera type implies: a processor known to be a PXA27x, and the default indexes of
// "Pixel Order", "Rotation" and "Orientation".
struct TypeDefaults {
    uint32_t cameraType;
    uint8_t knownPxa27x;
    uint32_t pixelOrder, rotation, orientation;
};
constexpr TypeDefaults kTypeDefaults[] = {
    {0, 1, 0, 0, 0},  {1, 1, 0, 0, 0},  {2, 0, 1, 0, 0},  {3, 1, 0, 2, 2},  {4, 0, 1, 0, 0},
    {5, 0, 1, 2, 2},  {6, 1, 0, 0, 2},  {7, 0, 1, 1, 1},  {8, 0, 1, 1, 1},  {9, 0, 1, 1, 1},
    {10, 0, 1, 2, 2}, {11, 1, 0, 0, 0}, {12, 0, 0, 0, 0}, {13, 0, 0, 0, 0}, {14, 0, 0, 0, 0},
};
static_assert(sizeof kTypeDefaults / sizeof kTypeDefaults[0] == kTypeNoCamera + 1);

const TypeDefaults& defaultsOf(uint32_t cameraType) {
    for (const TypeDefaults& d : kTypeDefaults)
        if (d.cameraType == cameraType) return d;
    return kTypeDefaults[kTypeNoCamera];
}

bool modelMatches(const char* model, const ModelRule& rule) {
    return strstr(model, rule.contains) && (!rule.andContains || strstr(model, rule.andContains));
}

// The low byte of each character, upper-cased.
void narrowUpper(const WCHAR* wide, size_t capacity, char* out) {
    size_t n = 0;
    while (n + 1 < capacity && wide[n]) {
        out[n] = static_cast<char>(wide[n] & 0xFF);
        ++n;
    }
    out[n] = 0;
    _strupr(out);
}

// The processor is a PXA27x when "PXA" and "27" each occur in its core name or its processor
// name (upper-cased).
uint8_t askForPxa27x() {
    PROCESSOR_INFO info;
    memset(&info, 0, sizeof info);
    DWORD returned = 0;
    if (!KernelIoControl(IOCTL_PROCESSOR_INFORMATION, nullptr, 0, &info, sizeof info, &returned))
        return 0;
    char core[kProcessorNameChars + 1], name[kProcessorNameChars + 1];
    narrowUpper(info.szProcessCore, sizeof core, core);
    narrowUpper(info.szProcessorName, sizeof name, name);
    const bool pxa = strstr(core, "PXA") || strstr(name, "PXA");
    const bool series27 = strstr(core, "27") || strstr(name, "27");
    return pxa && series27 ? 1 : 0;
}

static_assert(sizeof(DisplayDescription) == sizeof(RawFrameBufferInfo) &&
                  offsetof(DisplayDescription, pFramePointer) ==
                      offsetof(RawFrameBufferInfo, pFramePointer) &&
                  offsetof(DisplayDescription, cyPixels) == offsetof(RawFrameBufferInfo, cyPixels),
              "the display description has the layout of the raw frame-buffer answer");

// The raw frame-buffer escape writes straight into the description; when it gives no frame
// buffer, the GAPI information escape is asked instead.
void describeDisplay(DisplayDescription& display) {
    display = DisplayDescription{};
    HDC dc = GetDC(nullptr);
    if (ExtEscape(dc, GETRAWFRAMEBUFFER, 0, nullptr, sizeof(RawFrameBufferInfo),
                  reinterpret_cast<char*>(&display)) < 0)
        display.pFramePointer = nullptr;
    if (!display.pFramePointer) {
        // On the handheld the block is 132 bytes; here its pointer word makes it larger, and its
        // first word says how large.
        GXDeviceInfo gx;
        memset(&gx, 0, sizeof gx);
        gx.idVersion = sizeof gx;
        if (ExtEscape(dc, GETGXINFO, 0, nullptr, sizeof gx, reinterpret_cast<char*>(&gx)) > 0 &&
            gx.pvFrameBuffer) {
            display.cxStride = static_cast<int32_t>(gx.cBPP / 8);
            display.cyStride = static_cast<int32_t>(gx.cbStride);
            display.cxPixels = static_cast<int32_t>(gx.cxWidth);
            display.cyPixels = static_cast<int32_t>(gx.cyHeight);
            display.wFormat = static_cast<uint16_t>(gx.ffFormat);
            display.pFramePointer = gx.pvFrameBuffer;
            display.wBPP = static_cast<uint16_t>(gx.cBPP);
        }
    }
    ReleaseDC(nullptr, dc);
}

}  // namespace

DeviceInfo::~DeviceInfo() {
    LcdPlaneReader::destroy(lcdPlanes);
}

void detectDevice(DeviceInfo& info) {
    // 1. Whether the OEM camera library is there decides the type of an unknown model. The
    //    library is loaded on every device, also where the model picks another source.
    info.cameraType = loadCameraLibrary() ? kTypeLibraryLoaded : kTypeNoCamera;

    // 2. The model, upper-cased, against the device table.
    WCHAR text[kModelQueryBytes / sizeof(WCHAR)] = {};
    if (SystemParametersInfoW(SPI_GETOEMINFO, sizeof text, text, 0)) {
        text[sizeof text / sizeof text[0] - 1] = 0;
        narrowUpper(text, sizeof info.model, info.model);
        for (const ModelRule& rule : kDeviceTable) {
            if (modelMatches(info.model, rule)) {
                info.cameraType = rule.cameraType;
                break;
            }
        }
    }

    // 3. The platform.
    info.isSmartphone = 0;
    if (SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof text, text, 0) &&
        std::u16string_view(text) == u"SmartPhone")
        info.isSmartphone = 1;

    // 4. The processor, unless the type says it.
    const TypeDefaults& defaults = defaultsOf(info.cameraType);
    info.isPxa27x = defaults.knownPxa27x ? 1 : askForPxa27x();

    // 5. The setting defaults of the type.
    info.pixelOrderDefault = defaults.pixelOrder;
    info.rotationDefault = defaults.rotation;
    info.orientationDefault = defaults.orientation;

    // 6. The display.
    describeDisplay(info.display);

    // 7. The LCD controller's planes, on PXA27x devices. Detection runs once per process; a
    //    reader from an earlier run is released first.
    LcdPlaneReader::destroy(info.lcdPlanes);
    info.lcdPlanes = info.isPxa27x ? LcdPlaneReader::create() : nullptr;
}

bool loadEncoderLibrary() {
    if (gCreateJpegImageEncoder) return true;
    if (gEncoderLibrary) FreeLibrary(gEncoderLibrary);
    gEncoderLibrary = LoadLibraryW(u"JPEGENC.dll");
    if (gEncoderLibrary) {
        if (FARPROC entry = GetProcAddressW(gEncoderLibrary, u"gCreateJpegImageEncoder")) {
            gCreateJpegImageEncoder = reinterpret_cast<CreateJpegImageEncoderFn>(entry);
            return true;
        }
        FreeLibrary(gEncoderLibrary);
    }
    // The screen-capture library, from the program's own folder.
    WCHAR path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::u16string_view program(path);
    const size_t folder = program.rfind(u'\\') + 1;  // 0 when there is no folder
    static constexpr std::u16string_view kScreenCaptureLibrary = u"scr_cap.dll";
    if (folder + kScreenCaptureLibrary.size() >= MAX_PATH) {
        gEncoderLibrary = nullptr;
        return false;
    }
    kScreenCaptureLibrary.copy(path + folder, kScreenCaptureLibrary.size());
    path[folder + kScreenCaptureLibrary.size()] = 0;
    gEncoderLibrary = LoadLibraryW(path);
    if (!gEncoderLibrary) return false;
    FARPROC entry = GetProcAddressW(gEncoderLibrary, u"scr_cap");
    if (!entry) return false;
    gCreateJpegImageEncoder = reinterpret_cast<CreateJpegImageEncoderFn>(entry);
    return true;
}
