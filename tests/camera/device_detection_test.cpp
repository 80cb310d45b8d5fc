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

using camtest::profileOf;

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

struct TableCase {
    const char* model;
    bool library;
    uint32_t type;
    uint8_t knownPxa27x;
    uint32_t pixelOrder, rotation, orientation;
};

const TableCase kTableCases[] = {
    {"pm10a", false, 0, 1, 0, 0, 0},  // upper-cased before matching
    {"xxPM10Bxx", true, 0, 1, 0, 0, 0},
    {"HTC PM10C", false, 0, 1, 0, 0, 0},
    {"WizA100", true, 5, 0, 1, 2, 2},
    {"WIZA200", true, 5, 0, 1, 2, 2},
    {"HTC PH10C", true, 1, 1, 0, 0, 0},
    {"PH10D", true, 1, 1, 0, 0, 0},
    {"HTC PU10", true, 3, 1, 0, 2, 2},
    {"PM300", true, 4, 0, 1, 0, 0},
    {"PM200", true, 2, 0, 1, 0, 0},
    {"HTC PA10A", true, 6, 1, 0, 0, 2},
    {"FSC LOOX 720", true, 11, 1, 0, 0, 0},
    {"FSC LOOX 800", true, 12, 0, 0, 0, 0},  // "LOOX" without "720" falls through
    {"FSC LOOX 800", false, 14, 0, 0, 0, 0},
    {"MOTOROLA MPX220", false, 13, 0, 0, 0, 0},
    {"ST20", true, 7, 0, 1, 1, 1},
    {"I-MATE SP3", true, 7, 0, 1, 1, 1},
    {"SPV C500", true, 7, 0, 1, 1, 1},
    {"QTEK 8010", true, 7, 0, 1, 1, 1},
    {"QTEK 8100", true, 7, 0, 1, 1, 1},
    {"I-MATE SP4", true, 8, 0, 1, 1, 1},
    {"SPV C550", true, 8, 0, 1, 1, 1},
    {"QTEK 8200", true, 8, 0, 1, 1, 1},
    {"I-MATE SP5", true, 9, 0, 1, 1, 1},
    {"SPV C600", true, 9, 0, 1, 1, 1},
    {"QTEK 8310", true, 9, 0, 1, 1, 1},  // "83" anywhere, although no rule names the model
    {"HTC HERMES", true, 10, 0, 1, 2, 2},
    {"SPV 500 QTEK 83", true, 7, 0, 1, 1, 1},  // the first rule that matches decides
    {"MPX220 SPV600", true, 13, 0, 0, 0, 0},
    {"ACME CAMPHONE", true, 12, 0, 0, 0, 0},
    {"ACME PDA", false, 14, 0, 0, 0, 0},
};

TEST(DeviceTable, EveryRuleWithItsDefaults) {
    for (const TableCase& c : kTableCases) {
        SCOPED_TRACE(std::string(c.model) + (c.library ? " with" : " without") + " library");
        Detected d(deviceWith(c.model, c.library));
        const DeviceInfo& info = d.info;
        EXPECT_EQ(info.cameraType, c.type);
        EXPECT_EQ(info.isPxa27x, c.knownPxa27x) << "the processor (OMAP850) is no PXA27x";
        EXPECT_EQ(info.pixelOrderDefault, c.pixelOrder);
        EXPECT_EQ(info.rotationDefault, c.rotation);
        EXPECT_EQ(info.orientationDefault, c.orientation);
        std::string upper = c.model;
        for (char& ch : upper) ch = static_cast<char>(toupper(ch));
        EXPECT_STREQ(info.model, upper.c_str());
    }
}

TEST(DeviceTable, FailedModelQueryKeepsTheLibraryChoice) {
    for (bool library : {true, false}) {
        Detected d(deviceWith("", library));
        const DeviceInfo& info = d.info;
        EXPECT_EQ(info.cameraType, library ? 12u : 14u);
        EXPECT_STREQ(info.model, "");
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

TEST(Processor, Pxa27xFromTheProcessorStrings) {
    struct Case {
        const char* model;
        const char* core;
        const char* name;
        bool query;
        uint8_t expected;
    };
    const Case cases[] = {
        {"ACME CAMPHONE", "ARM920T", "PXA270", true, 1},
        {"ACME CAMPHONE", "XScale", "pxa272", true, 1},    // upper-cased
        {"ACME CAMPHONE", "ARM920T", "PXA255", true, 0},   // "PXA" without "27"
        {"ACME CAMPHONE", "PXA CORE", "REV 27", true, 1},  // each in either string
        {"ACME CAMPHONE", "ARM920T", "PXA270", false, 0},  // the query fails
        {"pm10a", "ARM926EJ-S", "OMAP850", true, 1},       // type 0: whatever its processor
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.core + " " + c.name);
        DeviceProfile p = deviceWith(c.model, true, c.name);
        p.processorCore = c.core;
        p.processorQuery = c.query;
        Detected d(p);
        const DeviceInfo& info = d.info;
        EXPECT_EQ(info.isPxa27x, c.expected);
        EXPECT_EQ(info.lcdPlanes != nullptr, c.expected == 1) << "plane reader on PXA27x only";
    }
}

TEST(Platform, SmartphoneOnlyForTheExactPlatformName) {
    for (auto [platform, expected] : {std::pair<const char*, uint8_t>{"SmartPhone", 1},
                                      {"Smartphone", 0},
                                      {"PocketPC", 0},
                                      {"", 0}}) {
        DeviceProfile p = deviceWith("ACME", false);
        p.platform = platform;
        EXPECT_EQ(Detected(p).info.isSmartphone, expected) << platform;
    }
}

TEST(Display, RawFrameBufferThenGapiInformationThenNone) {
    DeviceProfile raw = deviceWith("ACME", false);
    raw.displayWidth = 176;
    raw.displayHeight = 220;
    // mpx220: no raw frame buffer escape, the GAPI information instead.
    for (const DeviceProfile& p : {raw, profileOf("mpx220")}) {
        SCOPED_TRACE(p.model);
        Detected d(p);
        const DisplayDescription& display = d.info.display;
        EXPECT_EQ(display.pFramePointer, d.device.handheld().displayMemory());
        EXPECT_EQ(display.wBPP, 16);
        EXPECT_EQ(display.cxStride, 2);
        EXPECT_EQ(display.cyStride, 176 * 2);
        EXPECT_EQ(display.cxPixels, 176);
        EXPECT_EQ(display.cyPixels, 220);
        if (!p.rawFrameBuffer) {
            EXPECT_EQ(display.wFormat, 0xA0);
        }
    }
    raw.rawFrameBuffer = false;
    raw.gxInfo = false;
    EXPECT_EQ(Detected(raw).info.display.pFramePointer, nullptr);
}

// --- The OEM camera library ----------------------------------------------------------------------

TEST(CameraLibrary, RequiredAndOptionalEntryPoints) {
    {
        TempDevice device(deviceWith("ACME", false));
        EXPECT_FALSE(loadCameraLibrary());
    }
    {
        DeviceProfile p = deviceWith("ACME", false);
        p.install = {"HTCcamera.dll/noflash"};
        TempDevice device(p);
        EXPECT_TRUE(loadCameraLibrary()) << "Camera_FlashLight is optional";
        EXPECT_EQ(gCameraLibraryBackend.flashLight, nullptr);
        EXPECT_NE(gCameraLibraryBackend.readRegister, nullptr);
        EXPECT_NE(gCameraLibraryBackend.getProperty, nullptr);
    }
    {
        DeviceProfile p = deviceWith("ACME", false);
        p.install = {"HTCcamera.dll/noget"};
        TempDevice device(p);
        EXPECT_FALSE(loadCameraLibrary()) << "Camera_GetProperty is required";
        EXPECT_EQ(gCameraLibraryBackend.open, nullptr) << "a rejected library is not driven";
        DeviceInfo info;
        detectDevice(info);
        EXPECT_EQ(info.cameraType, 14u);
    }
    {
        DeviceProfile p = deviceWith("ACME", false);
        p.install = {"HTCcamera1.dll"};
        TempDevice device(p);
        EXPECT_TRUE(loadCameraLibrary()) << "the second name is tried";
        EXPECT_NE(gCameraLibraryBackend.flashLight, nullptr);
    }
}

// --- The external encoder library ----------------------------------------------------------------

class EncoderLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        static HINSTANCE program =
            createProgramModule(u"\\Program Files\\Lumovatrix\\Lumovatrix.exe", nullptr);
        (void)program;
        forget();
    }
    void TearDown() override { forget(); }
    static void forget() {
        gCreateJpegImageEncoder = nullptr;
        if (gEncoderLibrary) FreeLibrary(gEncoderLibrary);
        gEncoderLibrary = nullptr;
    }
    // Puts a test library into the device under `devicePath` (relative to the root).
    static void install(const TempDevice& device, const char* built, const char* devicePath) {
        std::filesystem::copy_file(std::string(LUMO_FAKE_LIBDIR) + "/" + built,
                                   device.root() + "/" + devicePath,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    static uint32_t entryAnswer() { return gCreateJpegImageEncoder(nullptr, nullptr, 1); }
};

TEST_F(EncoderLibrary, JpegencFirstThenTheScreenCaptureLibraryOfTheProgramsFolder) {
    {
        TempDevice device(deviceWith("ACME", false));
        install(device, "fake-scrcap.so", "Windows/scr_cap.dll");  // not the program's folder
        EXPECT_FALSE(loadEncoderLibrary());
        EXPECT_EQ(gCreateJpegImageEncoder, nullptr);
    }
    {
        TempDevice device(deviceWith("ACME", false));
        install(device, "fake-jpegenc.so", "Windows/JPEGENC.dll");
        install(device, "fake-scrcap.so", "Program Files/Lumovatrix/scr_cap.dll");
        ASSERT_TRUE(loadEncoderLibrary());
        EXPECT_EQ(entryAnswer(), 0x11u);
        traceClear();
        EXPECT_TRUE(loadEncoderLibrary()) << "a known entry point is kept";
        EXPECT_EQ(traceCount("LoadLibraryW"), 0u);
    }
    forget();
    TempDevice device(deviceWith("ACME", false));
    install(device, "fake-noentry.so", "Windows/JPEGENC.dll");
    install(device, "fake-scrcap.so", "Program Files/Lumovatrix/scr_cap.dll");
    traceClear();
    ASSERT_TRUE(loadEncoderLibrary());
    EXPECT_EQ(entryAnswer(), 0x22u);
    EXPECT_EQ(traceCount("LoadLibraryW \\Program Files\\Lumovatrix\\scr_cap.dll"), 1u);
}

}  // namespace
