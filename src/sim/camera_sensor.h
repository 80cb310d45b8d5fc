// The image sensor behind every simulated camera (the OEM camera library, the "LCM1:" and "DSC1:"
// drivers): it renders the test scene (or takes the host camera's newest frame) at the streamed
// sensor size, keeps the requested window of
// it, and turns the numbered picture properties into the scene's look. Standard library only, so
// the camera library (a shared object of its own) compiles it in.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sim/host_feed.h"
#include "sim/scene/scene_generator.h"

// The hardware's clock: milliseconds of the monotonic clock, wrapping at 32 bits. It is the device
// tick counter without the offset tests may add to the program's view of it.
uint32_t hardwareTickMs();

// Property numbers the sensors understand (the program's numbering).
enum SensorProperty : uint32_t {
    kPropertyFlicker = 1,
    kPropertyAmbience = 2,
    kPropertyContrast = 4,
    kPropertyBrightness = 5,
    kPropertySaturation = 6,
    kPropertyHue = 7,
    kPropertyGamma = 8,
    kPropertySharpness = 9,
    kPropertyEffect = 10,  // effect bits 1..16, night mode bit 128
    kSensorPropertyCount = 11,
};
constexpr uint32_t kNightModeBit = 128;

// The property values at which a sensor leaves the picture as it is; the OEM library and the two
// drivers come with different scales.
struct SensorNeutral {
    int32_t brightness = 5;
    int32_t contrast = 5;
    int32_t saturation = 4;
    int32_t hue = 5;
};

class SimulatedSensor {
  public:
    // The properties start at the neutral values (effect normal, flicker and white balance auto).
    explicit SimulatedSensor(SensorNeutral neutral = {});

    // Takes the pictures from a host camera instead of the scene (null: the scene again). The
    // feed outlives the sensor's use of it. Set before configure.
    void setHostFeed(const HostCameraFeed* feed) { feed_ = feed; }
    const HostCameraFeed* hostFeed() const { return feed_; }
    // The number of the host frame the last capture exposed (0: none yet, or the scene).
    uint64_t hostFrame() const { return hostFrame_; }

    // Prepares streaming of the window (left, top, width x height) of a sensor picture of
    // sensorWidth x sensorHeight. Allocates; false when the window does not fit or is empty.
    bool configure(uint32_t sensorWidth, uint32_t sensorHeight, uint32_t left, uint32_t top,
                   uint32_t width, uint32_t height);
    uint32_t frameBytes() const { return width_ * height_ * 2; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }

    // Exposes one frame into `out` (frameBytes() bytes, packed 4:2:2). Called by one thread at a
    // time; the properties may change meanwhile.
    void capture(uint8_t* out, uint32_t tickMs);

    // Stores a property and updates the look; any id below kSensorPropertyCount is accepted.
    bool setProperty(uint32_t id, uint32_t value);
    uint32_t property(uint32_t id) const;
    SceneLook look() const;

  private:
    SensorNeutral neutral_;
    SceneGenerator scene_;
    std::vector<uint8_t> sensorPicture_;  // the whole sensor picture when a window is cut from it
    uint32_t sensorWidth_ = 0, sensorHeight_ = 0;
    uint32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    uint32_t frameNumber_ = 0;
    const HostCameraFeed* feed_ = nullptr;
    uint64_t hostFrame_ = 0;
    mutable std::mutex lookMutex_;
    SceneLook look_;
    uint32_t properties_[kSensorPropertyCount] = {};
};
