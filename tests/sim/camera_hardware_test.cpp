// The simulated camera hardware on its own: the image sensor's window and looks, the OEM camera
// library as a shared object (its exports, its states, its pace and its settings file), the LCD
// controller's registers and descriptors, the device commands, and the profile keys.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "sim/camera_sensor.h"
#include "sim/capture_block.h"
#include "sim/components.h"
#include "sim/handheld.h"
#include "sim/lcd_controller.h"
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
    EXPECT_FALSE(sensor.setProperty(kSensorPropertyCount, 1));
}

// --- The OEM camera library ----------------------------------------------------------------------

// A private copy of the built library (a copy is loaded as a library of its own, and stays loaded
// as the program never frees its camera library either) with a settings file beside it.
struct LibraryCopy {
    explicit LibraryCopy(const std::string& config) {
        char pattern[] = "/tmp/lumo-library-XXXXXX";
        folder = mkdtemp(pattern);
        fs::copy_file(deviceLibraryFolder() + "/HTCcamera.dll", folder + "/HTCcamera.dll");
        std::ofstream(folder + "/" + kCameraLibraryConfigName) << config;
        void* handle = dlopen((folder + "/HTCcamera.dll").c_str(), RTLD_NOW | RTLD_LOCAL);
        init = reinterpret_cast<decltype(init)>(dlsym(handle, "Camera_Init"));
        begin = reinterpret_cast<decltype(begin)>(dlsym(handle, "Camera_Begin"));
        end = reinterpret_cast<decltype(end)>(dlsym(handle, "Camera_End"));
        deinit = reinterpret_cast<decltype(deinit)>(dlsym(handle, "Camera_Deinit"));
    }
    ~LibraryCopy() { fs::remove_all(folder); }
    std::string folder;
    uint32_t (*init)(void*);
    uint32_t (*begin)(const void*);  // the export's own type: the block as plain memory
    uint32_t (*end)();
    uint32_t (*deinit)();
};

// What the library's capture thread delivers; the test waits on `frameArrived`.
std::mutex frameMutex;
std::condition_variable frameArrived;
int libraryFrames = 0;
uint32_t libraryBytes = 0;
void countFrame(uint8_t*, uint32_t bytes, uint32_t*) {
    {
        std::lock_guard lock(frameMutex);
        libraryBytes = bytes;
        ++libraryFrames;
    }
    frameArrived.notify_all();
}

// Waits until at least `frames` frames have come, for at most `limitMs`; the count then.
int awaitFrames(int frames, int limitMs) {
    std::unique_lock lock(frameMutex);
    frameArrived.wait_for(lock, std::chrono::milliseconds(limitMs),
                          [frames] { return libraryFrames >= frames; });
    return libraryFrames;
}

TEST(CameraLibrary, StatesAndFrames) {
    LibraryCopy camera("fps=30\n");
    CaptureBlock block{};  // the 320 x 240 at the top left of 640 x 480
    block.sensorWidth = 640;
    block.sensorHeight = 480;
    block.cropRight = 319;
    block.cropBottom = 239;
    block.frameCallback = countFrame;
    EXPECT_EQ(camera.begin(&block), 0u) << "not initialised";
    uint8_t open[400] = {};
    ASSERT_EQ(camera.init(open), 1u);
    EXPECT_EQ(camera.init(open), 0u) << "already initialised";
    CaptureBlock outside = block;
    outside.sensorWidth = 160;
    EXPECT_EQ(camera.begin(&outside), 0u);
    CaptureBlock noCallback = block;
    noCallback.frameCallback = nullptr;
    EXPECT_EQ(camera.begin(&noCallback), 0u);

    libraryFrames = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(camera.begin(&block), 1u);
    EXPECT_EQ(camera.begin(&block), 0u) << "already streaming";
    // Its pace: ten frames at 30 fps take at least nine frame periods, however loaded the
    // machine (a load only slows them).
    ASSERT_GE(awaitFrames(10, 10000), 10) << "frames stopped coming";
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9 * (1000 / 30)));
    camera.end();
    const int frames = awaitFrames(0, 0);
    {
        std::lock_guard lock(frameMutex);
        EXPECT_EQ(libraryBytes, 320u * 240 * 2);
    }
    // Camera_End returned: another frame in three frame periods would be one too many.
    EXPECT_EQ(awaitFrames(frames + 1, 3 * 1000 / 30), frames) << "a frame after Camera_End";
    EXPECT_EQ(camera.deinit(), 1u);
    EXPECT_EQ(camera.init(open), 1u) << "initialised again after Camera_Deinit";
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
    // Channels 2 to 4 (descriptor addresses 0x10 apart) carry the Y, Cb and Cr planes.
    const uint64_t sources[3] = {kOverlay2Physical, kOverlay2CbPhysical, kOverlay2CrPhysical};
    for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t descriptor = word(h, kLcdRegistersPhysical + kFdadr0 + 0x20 + 0x10 * i);
        EXPECT_EQ(word(h, descriptor + 4), sources[i]) << i;
        EXPECT_EQ(word(h, descriptor + 12), i == 0 ? 176u * 144 : 88u * 72) << i;
    }
    ASSERT_EQ(h.command({"overlay2", "off"}), "");
    EXPECT_EQ(word(h, kLcdRegistersPhysical + kOvl2C1) >> 31, 0u);
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

    // The devices of a reversed-order camera type send it; a profile can say otherwise.
    ASSERT_TRUE(parseProfile("based-on = wiza100\n", "t", p, error));
    EXPECT_TRUE(p.cameraSwapsHalves);
    ASSERT_TRUE(parseProfile("based-on = wiza100\ncamera-pixel-order = normal\n", "t", p, error));
    EXPECT_FALSE(p.cameraSwapsHalves);
    ASSERT_TRUE(parseProfile("based-on = ph10c\n", "t", p, error));
    EXPECT_FALSE(p.cameraSwapsHalves);
    EXPECT_FALSE(parseProfile("camera-pixel-order = swapped\n", "test", p, error));
    EXPECT_EQ(error, "test:1: expected normal or reversed");
}

}  // namespace
