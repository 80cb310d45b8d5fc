// The simulated camera hardware on its own: the image sensor's window and looks, the OEM camera
// library as a shared object (its exports, its states, its pace and its settings file), the LCD
// controller's registers and descriptors, the device commands, and the profile keys.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/camera_sensor.h"
#include "sim/capture_block.h"
#include "sim/components.h"
#include "sim/handheld.h"
#include "sim/lcd_controller.h"
#include "sim/scene/scene_generator.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;

double meanLuma(const std::vector<uint8_t>& uyvy) {
    double sum = 0;
    for (size_t i = 1; i < uyvy.size(); i += 2) sum += uyvy[i];
    return sum / static_cast<double>(uyvy.size() / 2);
}

TEST(Sensor, AWindowIsThatPartOfTheWholePicture) {
    SimulatedSensor whole, window;
    ASSERT_TRUE(whole.configure(640, 480, 0, 0, 640, 480));
    ASSERT_TRUE(window.configure(640, 480, 160, 120, 320, 240));
    EXPECT_EQ(window.frameBytes(), 320u * 240 * 2);
    std::vector<uint8_t> a(whole.frameBytes()), b(window.frameBytes());
    whole.capture(a.data(), 1234);
    window.capture(b.data(), 1234);
    for (uint32_t y = 0; y < 240; ++y)
        ASSERT_EQ(memcmp(&b[y * 640], &a[(120 + y) * 1280 + 160 * 2], 640), 0) << "row " << y;
    EXPECT_FALSE(window.configure(640, 480, 400, 0, 320, 240)) << "beyond the sensor";
    EXPECT_FALSE(window.configure(640, 480, 0, 0, 321, 240)) << "whole pixel pairs";
}

TEST(Sensor, PropertiesChangeThePicture) {
    SimulatedSensor sensor;
    ASSERT_TRUE(sensor.configure(160, 120, 0, 0, 160, 120));
    std::vector<uint8_t> neutral(sensor.frameBytes()), bright(sensor.frameBytes());
    sensor.capture(neutral.data(), 0);
    EXPECT_TRUE(sensor.setProperty(kPropertyBrightness, 9));
    sensor.capture(bright.data(), 0);
    EXPECT_GT(meanLuma(bright), meanLuma(neutral) + 20);
    EXPECT_TRUE(sensor.setProperty(kPropertyBrightness, 120)) << "the wide scale's neutral value";
    EXPECT_EQ(sensor.look().brightness, 0);
    EXPECT_TRUE(sensor.setProperty(kPropertyEffect, 2 | kNightModeBit));
    EXPECT_EQ(sensor.look().effect, 2u);
    EXPECT_TRUE(sensor.look().night);
    EXPECT_EQ(sensor.property(kPropertyEffect), 2u | kNightModeBit);
    EXPECT_FALSE(sensor.setProperty(kSensorPropertyCount, 1));
}

// --- The OEM camera library ----------------------------------------------------------------------

// A private copy of a built library (each copy is loaded as a library of its own) with a settings
// file beside it.
class LibraryCopy {
  public:
    explicit LibraryCopy(const std::string& build, const std::string& config = "") {
        char pattern[] = "/tmp/lumo-library-XXXXXX";
        folder_ = mkdtemp(pattern);
        fs::copy_file(deviceLibraryFolder() + "/" + build, folder_ + "/HTCcamera.dll");
        if (!config.empty()) std::ofstream(folder_ + "/" + kCameraLibraryConfigName) << config;
        handle_ = dlopen((folder_ + "/HTCcamera.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    // The library stays loaded, as the program never frees its camera library either.
    ~LibraryCopy() { fs::remove_all(folder_); }
    template <typename F>
    F entry(const char* name) {
        return reinterpret_cast<F>(dlsym(handle_, name));
    }

  private:
    std::string folder_;
    void* handle_ = nullptr;
};

struct Camera {
    explicit Camera(LibraryCopy& lib)
        : init(lib.entry<uint32_t (*)(void*)>("Camera_Init")),
          begin(lib.entry<uint32_t (*)(const CaptureBlock*)>("Camera_Begin")),
          end(lib.entry<uint32_t (*)()>("Camera_End")),
          deinit(lib.entry<uint32_t (*)()>("Camera_Deinit")) {}
    uint32_t (*init)(void*);
    uint32_t (*begin)(const CaptureBlock*);
    uint32_t (*end)();
    uint32_t (*deinit)();
};

std::atomic<int> libraryFrames{0};
std::atomic<uint32_t> libraryBytes{0};
void countFrame(uint8_t*, uint32_t bytes, uint32_t*) {
    libraryBytes = bytes;
    ++libraryFrames;
}

CaptureBlock beginBlock(uint32_t sensorWidth, uint32_t sensorHeight, uint32_t left, uint32_t top,
                        uint32_t width, uint32_t height) {
    CaptureBlock b{};
    b.sensorWidth = sensorWidth;
    b.sensorHeight = sensorHeight;
    b.cropLeft = left;
    b.cropTop = top;
    b.cropRight = left + width - 1;
    b.cropBottom = top + height - 1;
    b.frameCallback = countFrame;
    return b;
}

TEST(CameraLibrary, StatesAndFrames) {
    LibraryCopy lib("HTCcamera.dll", "fps=30\n");
    Camera camera(lib);
    CaptureBlock block = beginBlock(640, 480, 160, 120, 320, 240);
    EXPECT_EQ(camera.begin(&block), 0u) << "not initialised";
    uint8_t open[400] = {};
    ASSERT_EQ(camera.init(open), 1u);
    EXPECT_EQ(camera.init(open), 0u) << "already initialised";
    CaptureBlock outside = beginBlock(320, 240, 0, 0, 640, 480);
    EXPECT_EQ(camera.begin(&outside), 0u);
    CaptureBlock noCallback = block;
    noCallback.frameCallback = nullptr;
    EXPECT_EQ(camera.begin(&noCallback), 0u);

    libraryFrames = 0;
    ASSERT_EQ(camera.begin(&block), 1u);
    EXPECT_EQ(camera.begin(&block), 0u) << "already streaming";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    camera.end();
    const int frames = libraryFrames;
    EXPECT_GE(frames, 8) << "about 15 frames in half a second at 30 fps";
    EXPECT_LE(frames, 20);
    EXPECT_EQ(libraryBytes, 320u * 240 * 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(libraryFrames, frames) << "nothing after Camera_End returned";
    EXPECT_EQ(camera.deinit(), 1u);
    EXPECT_EQ(camera.init(open), 1u) << "initialised again after Camera_Deinit";
    camera.deinit();
}

// The settings file written from the device's profile and commands (init=refuse and the
// brightness scale are checked through the camera backend); with frames=off it streams nothing.
TEST(CameraLibrary, FramesOffStreamsNothing) {
    LibraryCopy lib("HTCcamera.dll", "frames=off\n");
    Camera camera(lib);
    uint8_t open[400] = {};
    ASSERT_EQ(camera.init(open), 1u);
    CaptureBlock block = beginBlock(160, 120, 0, 0, 160, 120);
    libraryFrames = 0;
    ASSERT_EQ(camera.begin(&block), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    camera.end();
    EXPECT_EQ(libraryFrames, 0);
    camera.deinit();
}

// --- The LCD controller and the device commands --------------------------------------------------

uint32_t word(SimulatedHandheld& device, uint64_t physical) {
    uint32_t w;
    memcpy(&w, device.physical(physical, 4), 4);
    return w;
}

TEST(LcdController, BasePlaneAndOverlayRegisters) {
    TempDevice device("nocamera");  // PXA270, 240 x 320
    SimulatedHandheld& h = device.handheld();
    EXPECT_EQ(word(h, kLcdRegistersPhysical + kLccr1), 239u);
    EXPECT_EQ(word(h, kLcdRegistersPhysical + kLccr2), 319u);
    EXPECT_EQ(word(h, kLcdRegistersPhysical + kLccr3), kDepth16 << 24);
    const uint32_t base = word(h, kLcdRegistersPhysical + kFdadr0);
    EXPECT_EQ(word(h, base + 4), kDisplayPhysical) << "the base plane is the display memory";
    EXPECT_EQ(word(h, base + 12), 240u * 320 * 2);

    ASSERT_EQ(h.command({"overlay2", "yuv420", "176x144", "at", "10", "20"}), "");
    EXPECT_EQ(word(h, kLcdRegistersPhysical + kOvl2C1),
              1u << 31 | kDepth16 << 20 | 143 << 10 | 175);
    EXPECT_EQ(word(h, kLcdRegistersPhysical + kOvl2C2), kFormatYcbcr420 << 20 | 20 << 10 | 10);
    const uint32_t channels[3] = {word(h, kLcdRegistersPhysical + kFdadr0 + 0x20),
                                  word(h, kLcdRegistersPhysical + kFdadr0 + 0x30),
                                  word(h, kLcdRegistersPhysical + kFdadr0 + 0x40)};
    const uint64_t sources[3] = {kOverlay2Physical, kOverlay2CbPhysical, kOverlay2CrPhysical};
    const uint32_t lengths[3] = {176 * 144, 88 * 72, 88 * 72};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(word(h, channels[i] + 4), sources[i]) << i;
        EXPECT_EQ(word(h, channels[i] + 12), lengths[i]) << i;
    }
    ASSERT_EQ(h.command({"overlay2", "off"}), "");
    EXPECT_EQ(word(h, kLcdRegistersPhysical + kOvl2C1) >> 31, 0u);
}

TEST(LcdController, OverlayPictureIsTheScene) {
    TempDevice device("nocamera");
    ASSERT_EQ(device.handheld().command({"overlay2", "yuv444p", "64x48", "at", "0", "0"}), "");
    SceneGenerator scene;
    ASSERT_TRUE(sceneInit(scene, 64, 48));
    std::vector<uint8_t> uyvy(64 * 48 * 2);
    sceneRender(scene, uyvy.data(), 0, 0, SceneLook{});
    const uint8_t* luma = device.handheld().physical(kOverlay2Physical, 64 * 48);
    for (size_t i = 0; i < 64 * 48; ++i) ASSERT_EQ(luma[i], uyvy[i * 2 + 1]) << i;
}

TEST(DeviceCommands, CheckedWithoutADevice) {
    using W = std::vector<std::string>;
    EXPECT_EQ(SimulatedHandheld::checkCommand(W{"overlay2", "yuv422", "64x48", "at", "0", "0"}),
              "");
    EXPECT_EQ(SimulatedHandheld::checkCommand(W{"overlay1", "off"}), "");
    EXPECT_EQ(SimulatedHandheld::checkCommand(W{"camera", "fps", "30"}), "");
    EXPECT_NE(SimulatedHandheld::checkCommand(W{"overlay1", "yuv420", "64x48", "at", "0", "0"}), "")
        << "overlay 1 shows RGB only";
    EXPECT_NE(SimulatedHandheld::checkCommand(W{"overlay2", "rgb16", "64x48", "0", "0"}), "");
    EXPECT_NE(SimulatedHandheld::checkCommand(W{"overlay2", "rgb16", "0x48", "at", "0", "0"}), "");
    EXPECT_NE(SimulatedHandheld::checkCommand(W{"camera", "fps", "0"}), "");
    EXPECT_NE(SimulatedHandheld::checkCommand(W{"camera", "frames", "maybe"}), "");
    EXPECT_NE(SimulatedHandheld::checkCommand(W{"lcd", "on"}), "");
    EXPECT_NE(SimulatedHandheld::checkCommand(W{}), "");
}

TEST(DeviceCommands, RefusedByTheHardware) {
    {
        TempDevice device("nocamera");
        using W = std::vector<std::string>;
        EXPECT_NE(device.handheld().command(W{"overlay2", "rgb16", "200x100", "at", "100", "0"}),
                  "")
            << "does not fit the 240-pixel width";
        EXPECT_NE(device.handheld().command(W{"overlay2", "yuv420", "63x48", "at", "0", "0"}), "");
        EXPECT_NE(device.handheld().command(W{"overlay2", "yuv420", "64x47", "at", "0", "0"}), "");
    }
    TempDevice device("mpx220");
    EXPECT_EQ(device.handheld().command({"overlay1", "off"}),
              "this device has no PXA27x LCD controller");
}

TEST(Profiles, CameraKeys) {
    DeviceProfile p;
    std::string error;
    ASSERT_TRUE(parseProfile("based-on = wiza100\ncamera-fps = 25\ncamera-brightness-max = 8\n",
                             "test", p, error))
        << error;
    EXPECT_EQ(p.cameraFps, 25u);
    EXPECT_EQ(p.cameraBrightnessMax, 8u);
    EXPECT_FALSE(parseProfile("camera-fps = 0\n", "test", p, error));
    EXPECT_EQ(error, "test:1: camera-fps must be 1 to 60");
    EXPECT_FALSE(parseProfile("camera-brightness-max = 256\n", "test", p, error));
}

}  // namespace
