// The state the simulated components of one handheld share: the camera settings every simulated
// camera follows, the camera module's power and the "LCM1:" driver's single open, the LCD
// controller, and the way back to the handheld's request log. Drivers hold it by shared pointer,
// so a driver the program has not closed yet outlives the handheld safely.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "sim/lcd_controller.h"

class SimulatedHandheld;
class HostCamera;
class HostMicrophone;

// Changed by device scripts and tests ("device camera ..."); read by the cameras while they run.
struct CameraSettings {
    std::atomic<uint32_t> fps{15};             // frames per second the sensors deliver
    std::atomic<bool> framesOn{true};          // false: the sensor never finishes a frame
    std::atomic<bool> initAccepted{true};      // false: the camera refuses to initialise
    std::atomic<uint32_t> brightnessMax{255};  // highest brightness the OEM library accepts
    std::atomic<bool> swapsHalves{false};      // the OEM library sends word halves exchanged
};

struct SimulatedComponents {
    explicit SimulatedComponents(SimulatedHandheld& device);

    // Notes a request in the handheld's log while the handheld exists.
    void record(std::string entry);
    // The handheld is going away.
    void detach();

    CameraSettings camera;
    std::unique_ptr<LcdController> lcd;
    // The host's camera and microphone when the profile takes them (else null): opened when the
    // handheld is mounted, on one clock.
    std::shared_ptr<HostCamera> hostCamera;
    std::shared_ptr<HostMicrophone> hostMicrophone;
    std::mutex mutex;            // guards the two fields below
    bool cameraPowered = false;  // between the hardware-layer codes 0x01013C40 and 0x01013C44
    bool lcm1Open = false;       // "LCM1:" allows one open at a time

  private:
    std::mutex ownerMutex_;
    SimulatedHandheld* owner_;
};

// "01 00 12 80": bytes as the request logs show them.
std::string hexBytes(const void* data, size_t size);

// The hardware-layer codes that power the "LCM1:" camera module up and down.
constexpr uint32_t kHalCameraPowerOn = 0x01013C40;
constexpr uint32_t kHalCameraPowerOff = 0x01013C44;
