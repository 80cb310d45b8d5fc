// The simulated OEM camera library "HTCcamera.dll": a shared object exporting the nine camera
// entry points. Once begun, it exposes frames of the start block's crop window on a thread of its
// own and hands each to the program's frame callback, at the frame rate the device is set to.
//
// It is self-contained: it reads the device's camera settings from the file "HTCcamera.cfg"
// beside itself (written by the simulated handheld) whenever the camera is initialised or begun,
// takes time from the monotonic clock, and keeps its own log of the requests it receives, which
// tests read through the extra export "SimCamera_Records". Variants are built without
// "Camera_FlashLight" (LUMO_NO_FLASHLIGHT) and without "Camera_GetProperty"
// (LUMO_NO_GETPROPERTY), as some devices' libraries lack them.
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/camera_sensor.h"
#include "sim/capture_block.h"
#include "sim/host_feed.h"

#define CAMERA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr uint32_t kSensorId = 0x9650;  // what initialisation writes at the start of the block
constexpr uint32_t kRegisterCount = 256;
constexpr uint32_t kMaxFps = 60;

struct Config {
    uint32_t fps = 15;
    bool framesOn = true;
    bool initAccepted = true;
    uint32_t brightnessMax = 255;
    bool swapsHalves = false;  // the frame's 32-bit words go out with their halves exchanged
};

// The settings file beside this library: "key=value" lines; missing keys keep their defaults.
Config readConfig() {
    Config config;
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&readConfig), &info) || !info.dli_fname) return config;
    std::string path = info.dli_fname;
    path = path.substr(0, path.rfind('/') + 1) + "HTCcamera.cfg";
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        const unsigned long number = strtoul(value.c_str(), nullptr, 10);
        if (key == "fps" && number >= 1 && number <= kMaxFps)
            config.fps = static_cast<uint32_t>(number);
        if (key == "frames") config.framesOn = value != "off";
        if (key == "init") config.initAccepted = value != "refuse";
        if (key == "brightness-max" && number <= 255)
            config.brightnessMax = static_cast<uint32_t>(number);
        if (key == "pixel-order") config.swapsHalves = value == "reversed";
    }
    return config;
}

struct Camera {
    std::mutex mutex;  // one entry point at a time, as the program's threads call in
    bool initialised = false;
    Config config;
    SimulatedSensor sensor;
    std::vector<uint8_t> frame;
    HardwareFrameCallback callback = nullptr;
    uint32_t frameBytes = 0;
    uint16_t registers[kRegisterCount] = {};

    // The capture thread and its stop request.
    std::thread thread;
    std::mutex wakeMutex;
    std::condition_variable wake;
    bool stopRequested = false;  // guarded by wakeMutex

    std::mutex logMutex;
    std::vector<std::string> log;
};

// Never destroyed: a capture thread the program did not end must not outlive its state.
Camera& camera() {
    static Camera* instance = new Camera;
    return *instance;
}

void note(const std::string& entry) {
    Camera& c = camera();
    std::lock_guard lock(c.logMutex);
    c.log.push_back(entry);
}

// The host camera of the process that loaded this library, when it has one (see host_feed.h).
const HostCameraFeed* findHostFeed() {
    auto lookup =
        reinterpret_cast<HostCameraFeedLookup>(dlsym(RTLD_DEFAULT, kHostCameraFeedSymbol));
    return lookup ? lookup() : nullptr;
}

// The order these devices' camera sends: Y0 U Y1 V becomes Y1 V Y0 U in every 32-bit word.
void exchangeHalves(uint8_t* frame, uint32_t bytes) {
    for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
        uint8_t low[2] = {frame[i], frame[i + 1]};
        frame[i] = frame[i + 2], frame[i + 1] = frame[i + 3];
        frame[i + 2] = low[0], frame[i + 3] = low[1];
    }
}

void captureLoop(Camera* c, uint32_t fps, bool framesOn, bool swapsHalves) {
    uint32_t scratch = 0;
    const HostCameraFeed* feed = c->sensor.hostFeed();
    const auto period = std::chrono::milliseconds(1000 / fps);
    auto due = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::unique_lock lock(c->wakeMutex);
            if (c->wake.wait_until(lock, due, [c] { return c->stopRequested; })) return;
        }
        // With a host camera a frame is finished when the host has a new one.
        if (feed && framesOn) {
            const uint64_t seen = c->sensor.hostFrame();
            if (feed->waitNewer(feed->context, seen, kHostFrameWaitMs) == seen) continue;
        }
        if (framesOn) {
            c->sensor.capture(c->frame.data(), hardwareTickMs());
            if (swapsHalves) exchangeHalves(c->frame.data(), c->frameBytes);
            c->callback(c->frame.data(), c->frameBytes, &scratch);
        }
        due += period;
        const auto now = std::chrono::steady_clock::now();
        if (now - due > period) due = now + period;  // fell behind: no burst of catch-up frames
    }
}

// Ends the capture thread; after it returns the callback is not called again. Called with the
// camera's mutex held.
void endCapture(Camera& c) {
    if (!c.thread.joinable()) return;
    {
        std::lock_guard lock(c.wakeMutex);
        c.stopRequested = true;
    }
    c.wake.notify_all();
    if (c.thread.get_id() == std::this_thread::get_id())
        c.thread.detach();  // from a callback
    else
        c.thread.join();
}

}  // namespace

CAMERA_EXPORT uint32_t Camera_Init(void* block) {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    c.config = readConfig();
    note("Camera_Init");
    if (c.initialised || !c.config.initAccepted) return 0;
    if (block) memcpy(block, &kSensorId, sizeof kSensorId);
    c.initialised = true;
    return 1;
}

// The start block arrives as plain memory, as an OEM library's C interface takes it: the caller's
// own declaration of the block is a different type, and a call through a pointer to this
// function's type must match it exactly.
CAMERA_EXPORT uint32_t Camera_Begin(const void* request) {
    const auto* block = static_cast<const CaptureBlock*>(request);
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    if (!block) {
        note("Camera_Begin without a block");
        return 0;
    }
    note("Camera_Begin sensor " + std::to_string(block->sensorWidth) + "x" +
         std::to_string(block->sensorHeight) + " crop " + std::to_string(block->cropLeft) + "," +
         std::to_string(block->cropTop) + "-" + std::to_string(block->cropRight) + "," +
         std::to_string(block->cropBottom) + " exposure " + std::to_string(block->exposure));
    // The sensor is the capture thread's while it runs: a refused Begin leaves it alone.
    if (!c.initialised || c.thread.joinable() || !block->frameCallback) return 0;
    CropWindow crop{};
    c.sensor.setHostFeed(findHostFeed());
    if (!cropOf(*block, crop) || !c.sensor.configure(block->sensorWidth, block->sensorHeight,
                                                     crop.left, crop.top, crop.width, crop.height))
        return 0;
    c.config = readConfig();
    c.frame.assign(c.sensor.frameBytes(), 0);
    c.frameBytes = c.sensor.frameBytes();
    c.callback = block->frameCallback;
    {
        std::lock_guard wakeLock(c.wakeMutex);
        c.stopRequested = false;
    }
    c.thread = std::thread(captureLoop, &c, c.config.fps, c.config.framesOn, c.config.swapsHalves);
    return 1;
}

CAMERA_EXPORT uint32_t Camera_End() {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    note("Camera_End");
    endCapture(c);
    return 1;
}

CAMERA_EXPORT uint32_t Camera_Deinit() {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    note("Camera_Deinit");
    endCapture(c);
    c.initialised = false;
    return 1;
}

CAMERA_EXPORT uint32_t Camera_SetProperty(uint32_t id, uint32_t value) {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    note("Camera_SetProperty " + std::to_string(id) + " " + std::to_string(value));
    if (!c.initialised) return 0;
    if (id == kPropertyBrightness && value > c.config.brightnessMax) return 0;
    return c.sensor.setProperty(id, value) ? 1 : 0;
}

#ifndef LUMO_NO_GETPROPERTY
CAMERA_EXPORT uint32_t Camera_GetProperty(uint32_t id, uint32_t* value) {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    note("Camera_GetProperty " + std::to_string(id));
    if (!c.initialised || !value || id >= kSensorPropertyCount) return 0;
    *value = c.sensor.property(id);
    return 1;
}
#endif

CAMERA_EXPORT uint32_t Camera_ReadRegister(uint32_t reg, uint32_t* value) {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    note("Camera_ReadRegister " + std::to_string(reg));
    if (!c.initialised || !value || reg >= kRegisterCount) return 0;
    *value = c.registers[reg];
    return 1;
}

CAMERA_EXPORT uint32_t Camera_WriteRegister(uint32_t reg, uint32_t value) {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    note("Camera_WriteRegister " + std::to_string(reg) + " " + std::to_string(value));
    if (!c.initialised || reg >= kRegisterCount) return 0;
    c.registers[reg] = static_cast<uint16_t>(value);
    return 1;
}

#ifndef LUMO_NO_FLASHLIGHT
CAMERA_EXPORT uint32_t Camera_FlashLight(uint32_t on) {
    Camera& c = camera();
    std::lock_guard lock(c.mutex);
    note("Camera_FlashLight " + std::to_string(on));
    return c.initialised ? 1 : 0;
}
#endif

// For tests: the requests received so far, one a line, into `out` (up to `capacity` bytes,
// terminated). Returns the length of the whole log.
CAMERA_EXPORT uint32_t SimCamera_Records(char* out, uint32_t capacity) {
    Camera& c = camera();
    std::lock_guard lock(c.logMutex);
    std::string text;
    for (const std::string& entry : c.log) text += entry + "\n";
    if (out && capacity) {
        const size_t n = std::min<size_t>(text.size(), capacity - 1);
        memcpy(out, text.data(), n);
        out[n] = 0;
    }
    return static_cast<uint32_t>(text.size());
}
