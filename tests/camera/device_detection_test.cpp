// Device detection on simulated handhelds: the device table, the processor and platform flags,
// the LCD plane reader, and the camera library loader.
#include <gtest/gtest.h>

#include <tuple>

#include "camera/camera_test_support.h"
#include "camera/device_info.h"
#include "camera/lcd_plane_reader.h"

namespace {

DeviceProfile deviceWith(const std::string& model, bool cameraLibrary,
                         const std::string& processor = "OMAP850") {
    DeviceProfile p = *findBuiltinProfile("ph10c");
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
// OEM library installed, and not): matched anywhere in the model, after upper-casing. The library
// is loaded also where the model picks another source; a model that needs it on a device without
// it keeps an empty table (its open fails cleanly).
struct TableRow {
    uint32_t type;
    uint8_t knownPxa27x;  // the processor (OMAP850) is no PXA27x
    uint32_t pixelOrder, rotation, orientation;
    std::vector<const char*> withLibrary, withoutLibrary;
};

const TableRow kTable[] = {
    {0, 1, 0, 0, 0, {"xxPM10Bxx"}, {"pm10a", "HTC PM10C"}},
    {5, 0, 1, 2, 2, {"WizA100", "WIZA200"}, {}},
    {1, 1, 0, 0, 0, {"HTC PH10C", "PH10D"}, {"HTC PH10C"}},
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
                EXPECT_EQ(gCameraLibraryBackend.open != nullptr, library) << "loaded when there";
            }
        }
    }
}

// PXA27x from the processor strings (types 0, 1, 3, 6 and 11 without asking); a smartphone only
// for the exact platform name.
TEST(DeviceFlags, Pxa27xFromTheProcessorStringsSmartphoneFromThePlatform) {
    struct Case {
        const char *core, *name;
        bool query;
        const char* platform;
        uint8_t pxa27x, smartphone;
    };
    const Case cases[] = {
        {"ARM920T", "PXA270", true, "SmartPhone", 1, 1},
        {"XScale", "pxa272", true, "Smartphone", 1, 0},  // upper-cased
        {"ARM920T", "PXA255", true, "PocketPC", 0, 0},   // "PXA" without "27"
        {"PXA CORE", "REV 27", true, "", 1, 0},          // each in either string
        {"ARM920T", "PXA270", false, "PocketPC", 0, 0},  // the query fails
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.core) + " " + c.name + " " + c.platform);
        DeviceProfile p = deviceWith("ACME CAMPHONE", true, c.name);
        p.processorCore = c.core;
        p.processorQuery = c.query;
        p.platform = c.platform;
        Detected d(p);
        EXPECT_EQ(d.info.isPxa27x, c.pxa27x);
        EXPECT_EQ(d.info.lcdPlanes != nullptr, c.pxa27x == 1) << "plane reader on PXA27x only";
        EXPECT_EQ(d.info.isSmartphone, c.smartphone);
    }
}

TEST(CameraLibrary, RequiredAndOptionalEntryPoints) {
    const std::tuple<const char*, bool, bool> cases[] = {
        {"HTCcamera.dll/noflash", true, false},  // Camera_FlashLight is optional
        {"HTCcamera.dll/noget", false, false},   // Camera_GetProperty is required
        {"HTCcamera1.dll", true, true},          // the second name is tried
    };
    for (const auto& [install, loads, flashLight] : cases) {
        SCOPED_TRACE(install);
        DeviceProfile p = deviceWith("ACME", false);
        p.install = {install};
        TempDevice device(p);
        EXPECT_EQ(loadCameraLibrary(), loads);
        EXPECT_EQ(gCameraLibraryBackend.open != nullptr, loads) << "a rejected one is not driven";
        EXPECT_EQ(gCameraLibraryBackend.flashLight != nullptr, flashLight);
    }
}

}  // namespace
