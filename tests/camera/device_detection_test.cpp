// Device detection on simulated handhelds: the device table and its defaults, the processor and
// platform flags, the display description, the LCD plane reader, and the two library loaders.
#include <gtest/gtest.h>

#include <filesystem>

#include "camera/camera_test_support.h"
#include "camera/device_info.h"
#include "camera/lcd_plane_reader.h"
#include "jpeg/jpeg_encoder.h"
#include "platform/hooks.h"

namespace {

DeviceProfile profileOf(const std::string& builtin) {
    return *findBuiltinProfile(builtin);
}

DeviceProfile deviceWith(const std::string& model, bool cameraLibrary,
                         const std::string& processor = "OMAP850") {
    DeviceProfile p = profileOf("ph10c");
    p.model = model;
    p.processorName = processor;
    p.install =
        cameraLibrary ? std::vector<std::string>{"HTCcamera.dll"} : std::vector<std::string>{};
    return p;
}

// A device of that profile, and what detectDevice made of it.
struct Detected {
    TempDevice device;
    DeviceInfo info;
    explicit Detected(const DeviceProfile& profile) : device(profile) { detectDevice(info); }
};

// One row per rule of the device table, with its defaults and the models that must give it (the
// OEM library installed, and not): matched anywhere in the model, after upper-casing.
struct TableRow {
    uint32_t type;
    uint8_t knownPxa27x;  // the processor (OMAP850) is no PXA27x
    uint32_t pixelOrder, rotation, orientation;
    std::vector<const char*> withLibrary, withoutLibrary;
};

const TableRow kTable[] = {
    {0, 1, 0, 0, 0, {"xxPM10Bxx"}, {"pm10a", "HTC PM10C"}},
    {5, 0, 1, 2, 2, {"WizA100", "WIZA200"}, {}},
    {1, 1, 0, 0, 0, {"HTC PH10C", "PH10D"}, {}},
    {3, 1, 0, 2, 2, {"HTC PU10"}, {}},
    {4, 0, 1, 0, 0, {"PM300"}, {}},
    {2, 0, 1, 0, 0, {"PM200"}, {}},
    {6, 1, 0, 0, 2, {"HTC PA10A"}, {}},
    {11, 1, 0, 0, 0, {"FSC LOOX 720"}, {}},
    {13, 0, 0, 0, 0, {"MPX220 SPV600"}, {"MOTOROLA MPX220"}},
    {7, 0, 1, 1, 1, {"ST20", "I-MATE SP3", "SPV C500", "QTEK 8010", "QTEK 8100"}, {}},
    {7, 0, 1, 1, 1, {"SPV 500 QTEK 83"}, {}},  // the first rule that matches decides
    {8, 0, 1, 1, 1, {"I-MATE SP4", "SPV C550", "QTEK 8200"}, {}},
    {9, 0, 1, 1, 1, {"I-MATE SP5", "SPV C600", "QTEK 8310"}, {}},  // no rule names 8310
    {10, 0, 1, 2, 2, {"HTC HERMES"}, {}},
    // "LOOX" without "720" falls through; no model (the query fails) keeps the library's choice.
    {12, 0, 0, 0, 0, {"FSC LOOX 800", "ACME CAMPHONE", ""}, {}},
    {14, 0, 0, 0, 0, {}, {"FSC LOOX 800", "ACME PDA", ""}},
};

TEST(DeviceTable, EveryRuleWithItsDefaults) {
    for (const TableRow& row : kTable) {
        for (bool library : {true, false}) {
            for (const char* model : library ? row.withLibrary : row.withoutLibrary) {
                SCOPED_TRACE(std::string(model) + (library ? " with" : " without") + " library");
                Detected d(deviceWith(model, library));
                EXPECT_EQ(d.info.cameraType, row.type);
                EXPECT_EQ(d.info.isPxa27x, row.knownPxa27x);
                EXPECT_EQ(d.info.pixelOrderDefault, row.pixelOrder);
                EXPECT_EQ(d.info.rotationDefault, row.rotation);
                EXPECT_EQ(d.info.orientationDefault, row.orientation);
                std::string upper = model;
                for (char& ch : upper) ch = static_cast<char>(toupper(ch));
                EXPECT_STREQ(d.info.model, upper.c_str());
            }
        }
    }
}

// The library is loaded also where the model picks another source; a model that needs it on a
// device without it keeps an empty table (its open fails cleanly).
TEST(DeviceTable, TheLibraryIsLoadedWheneverItIsThere) {
    EXPECT_EQ(Detected(profileOf("pm10a")).info.cameraType, 0u);  // "LCM1:" and the library
    EXPECT_NE(gCameraLibraryBackend.open, nullptr);
    EXPECT_EQ(Detected(deviceWith("HTC PH10C", false)).info.cameraType, 1u);
    const CameraBackend empty = {};
    EXPECT_EQ(memcmp(&gCameraLibraryBackend, &empty, sizeof empty), 0);
}

// PXA27x from the processor strings (types 0, 1, 3, 6 and 11 without asking); a smartphone only
// for the exact platform name.
TEST(DeviceFlags, Pxa27xFromTheProcessorStringsSmartphoneFromThePlatform) {
    struct Case {
        const char *model, *core, *name;
        bool query;
        const char* platform;
        uint8_t pxa27x, smartphone;
    };
    const Case cases[] = {
        {"ACME CAMPHONE", "ARM920T", "PXA270", true, "SmartPhone", 1, 1},
        {"ACME CAMPHONE", "XScale", "pxa272", true, "Smartphone", 1, 0},  // upper-cased
        {"ACME CAMPHONE", "ARM920T", "PXA255", true, "PocketPC", 0, 0},   // "PXA" without "27"
        {"ACME CAMPHONE", "PXA CORE", "REV 27", true, "", 1, 0},          // each in either string
        {"ACME CAMPHONE", "ARM920T", "PXA270", false, "PocketPC", 0, 0},  // the query fails
        {"pm10a", "ARM926EJ-S", "OMAP850", true, "PocketPC", 1, 0},       // type 0: whatever
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.core + " " + c.name + " " + c.platform);
        DeviceProfile p = deviceWith(c.model, true, c.name);
        p.processorCore = c.core;
        p.processorQuery = c.query;
        p.platform = c.platform;
        Detected d(p);
        EXPECT_EQ(d.info.isPxa27x, c.pxa27x);
        EXPECT_EQ(d.info.lcdPlanes != nullptr, c.pxa27x == 1) << "plane reader on PXA27x only";
        EXPECT_EQ(d.info.isSmartphone, c.smartphone);
    }
}

// The raw frame buffer escape, else the GAPI information (mpx220), else no frame buffer.
TEST(Display, RawFrameBufferThenGapiInformationThenNone) {
    DeviceProfile raw = deviceWith("ACME", false);
    raw.displayWidth = 176;
    raw.displayHeight = 220;
    for (const DeviceProfile& p : {raw, profileOf("mpx220")}) {
        Detected d(p);
        const DisplayDescription& shown = d.info.display;
        EXPECT_EQ(shown.pFramePointer, d.device.handheld().displayMemory()) << p.model;
        EXPECT_EQ(std::vector<int>({shown.wBPP, shown.cxStride, shown.cyStride, shown.cxPixels,
                                    shown.cyPixels, p.rawFrameBuffer ? 0xA0 : shown.wFormat}),
                  std::vector<int>({16, 2, 176 * 2, 176, 220, 0xA0}));
    }
    raw.rawFrameBuffer = false;
    raw.gxInfo = false;
    EXPECT_EQ(Detected(raw).info.display.pFramePointer, nullptr);
}

TEST(CameraLibrary, RequiredAndOptionalEntryPoints) {
    struct Case {
        const char* install;
        bool loads, flashLight;
    };
    const Case cases[] = {
        {"", false, false},
        {"HTCcamera.dll/noflash", true, false},  // Camera_FlashLight is optional
        {"HTCcamera.dll/noget", false, false},   // Camera_GetProperty is required
        {"HTCcamera1.dll", true, true},          // the second name is tried
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.install);
        DeviceProfile p = deviceWith("ACME", false);
        if (*c.install) p.install = {c.install};
        TempDevice device(p);
        EXPECT_EQ(loadCameraLibrary(), c.loads);
        EXPECT_EQ(gCameraLibraryBackend.open != nullptr, c.loads) << "a rejected one is not driven";
        EXPECT_EQ(gCameraLibraryBackend.flashLight != nullptr, c.flashLight);
        DeviceInfo info;
        detectDevice(info);
        EXPECT_EQ(info.cameraType, c.loads ? 12u : 14u);
    }
}

// "JPEGENC.dll" wherever the loader finds it, else "scr_cap.dll" from the program's own folder
// only; each test library answers with its own number. A known entry point is kept.
TEST(EncoderLibrary, JpegencFirstThenTheScreenCaptureLibraryOfTheProgramsFolder) {
    static HINSTANCE program =
        createProgramModule(u"\\Program Files\\Lumovatrix\\Lumovatrix.exe", nullptr);
    (void)program;
    struct Case {
        const char *jpegenc, *scrcapFolder;
        uint32_t answer;
    };
    const Case cases[] = {
        {nullptr, "Windows", 0},  // not the program's folder
        {"fake-jpegenc.so", "Program Files/Lumovatrix", 0x11},
        {"fake-noentry.so", "Program Files/Lumovatrix", 0x22},  // no creation function
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        TempDevice device(deviceWith("ACME", false));
        auto install = [&](const char* built, const std::string& devicePath) {
            std::filesystem::copy_file(std::string(LUMO_FAKE_LIBDIR) + "/" + built,
                                       device.root() + "/" + devicePath);
        };
        if (c.jpegenc) install(c.jpegenc, "Windows/JPEGENC.dll");
        install("fake-scrcap.so", std::string(c.scrcapFolder) + "/scr_cap.dll");
        EXPECT_EQ(loadEncoderLibrary(), c.answer != 0);
        EXPECT_EQ(gCreateJpegImageEncoder ? gCreateJpegImageEncoder(nullptr, nullptr, 1) : 0u,
                  c.answer);
        traceClear();
        EXPECT_EQ(loadEncoderLibrary(), c.answer != 0);
        if (c.answer) {
            EXPECT_EQ(traceCount("LoadLibraryW"), 0u) << "a known entry point is kept";
        }
        gCreateJpegImageEncoder = nullptr;
        if (gEncoderLibrary) FreeLibrary(gEncoderLibrary);
        gEncoderLibrary = nullptr;
    }
}

}  // namespace
