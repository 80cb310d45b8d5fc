// The simulated image sensor. The scene is rendered at the sensor size, so a smaller window of a
// larger sensor picture shows the scene magnified, as the program's zoom expects; when the window
// is the whole picture it is rendered straight into the frame.
//
// Property scales: small settings lists (1..9 and the like) step around the sensor's neutral
// value; a brightness above 15 is read on the 0..255 scale with 120 as neutral, which is how the
// wide brightness range of some devices reaches the sensor.
#include "sim/camera_sensor.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

constexpr uint32_t kSmallScaleMax = 15;
constexpr int kWideBrightnessNeutral = 120;
constexpr int kBrightnessPerStep = 16;    // luma levels per step of a small scale
constexpr int kContrastPerStepQ8 = 40;    // 0.156 gain per step
constexpr int kSaturationPerStepQ8 = 48;  // 0.1875 gain per step
constexpr int kHueDegreesPerStep = 15;
constexpr int kMaxGainQ8 = 1024;      // 4.0
constexpr uint32_t kEffectBits = 31;  // normal 1, grayscale 2, sepia 4, cool 8, negative 16

int steps(uint32_t value, int32_t neutral) {
    return static_cast<int>(value) - neutral;
}

}  // namespace

uint32_t hardwareTickMs() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

SimulatedSensor::SimulatedSensor(SensorNeutral neutral) : neutral_(neutral) {
    properties_[kPropertyFlicker] = 1;
    properties_[kPropertyAmbience] = 1;
    properties_[kPropertyContrast] = static_cast<uint32_t>(neutral.contrast);
    properties_[kPropertyBrightness] = static_cast<uint32_t>(neutral.brightness);
    properties_[kPropertySaturation] = static_cast<uint32_t>(neutral.saturation);
    properties_[kPropertyHue] = static_cast<uint32_t>(neutral.hue);
    properties_[kPropertyEffect] = 1;
}

bool SimulatedSensor::configure(uint32_t sensorWidth, uint32_t sensorHeight, uint32_t left,
                                uint32_t top, uint32_t width, uint32_t height) {
    if (width == 0 || height == 0 || width % 2 || left > sensorWidth ||
        width > sensorWidth - left || top > sensorHeight || height > sensorHeight - top)
        return false;
    if (sensorWidth != sensorWidth_ || sensorHeight != sensorHeight_ || scene_.width == 0) {
        if (!sceneInit(scene_, sensorWidth, sensorHeight)) return false;
        sensorWidth_ = sensorWidth;
        sensorHeight_ = sensorHeight;
    }
    const bool whole = width == sensorWidth && height == sensorHeight;
    hostFrame_ = 0;
    sensorPicture_.assign(whole ? 0 : size_t{sensorWidth} * sensorHeight * 2, 0);
    left_ = left & ~1u;  // a window starts on a pixel pair
    top_ = top;
    width_ = width;
    height_ = height;
    return true;
}

void SimulatedSensor::capture(uint8_t* out, uint32_t tickMs) {
    if (!out || width_ == 0) return;
    const SceneLook currentLook = look();
    uint8_t* picture = sensorPicture_.empty() ? out : sensorPicture_.data();
    if (feed_) {
        // The host's newest frame at the sensor size, through the same look as the scene; before
        // the first frame the sensor sees black.
        const size_t bytes = size_t{sensorWidth_} * sensorHeight_ * 2;
        hostFrame_ = feed_->read(feed_->context, picture, sensorWidth_, sensorHeight_);
        if (hostFrame_ == 0)
            for (size_t i = 0; i < bytes; i += 4)
                picture[i] = 128, picture[i + 1] = 16, picture[i + 2] = 128, picture[i + 3] = 16;
        sceneApplyLook(scene_, picture, bytes, frameNumber_++, currentLook);
    } else {
        sceneRender(scene_, picture, frameNumber_++, tickMs, currentLook);
    }
    if (picture == out) return;
    const size_t sensorRow = size_t{sensorWidth_} * 2, row = size_t{width_} * 2;
    for (uint32_t y = 0; y < height_; ++y)
        memcpy(out + y * row, sensorPicture_.data() + (top_ + y) * sensorRow + left_ * 2, row);
}

bool SimulatedSensor::setProperty(uint32_t id, uint32_t value) {
    if (id >= kSensorPropertyCount) return false;
    std::lock_guard lock(lookMutex_);
    properties_[id] = value;
    switch (id) {
        case kPropertyBrightness:
            look_.brightness = value > kSmallScaleMax
                                   ? (static_cast<int>(value) - kWideBrightnessNeutral) / 2
                                   : steps(value, neutral_.brightness) * kBrightnessPerStep;
            look_.brightness = std::clamp(look_.brightness, -128, 127);
            break;
        case kPropertyContrast:
            look_.contrastQ8 = std::clamp(
                256 + steps(value, neutral_.contrast) * kContrastPerStepQ8, 0, kMaxGainQ8);
            break;
        case kPropertySaturation:
            look_.saturationQ8 = std::clamp(
                256 + steps(value, neutral_.saturation) * kSaturationPerStepQ8, 0, kMaxGainQ8);
            break;
        case kPropertyHue:
            look_.hueDegrees = steps(value, neutral_.hue) * kHueDegreesPerStep;
            break;
        case kPropertyEffect: {
            // The lowest effect bit wins; no bit at all is the normal picture.
            const uint32_t effect = value & kEffectBits;
            look_.effect = effect ? effect & (~effect + 1) : 1;
            look_.night = (value & kNightModeBit) != 0;
            break;
        }
        default:
            break;  // flicker, white balance, gamma, sharpness: kept, not shown
    }
    return true;
}

uint32_t SimulatedSensor::property(uint32_t id) const {
    if (id >= kSensorPropertyCount) return 0;
    std::lock_guard lock(lookMutex_);
    return properties_[id];
}

SceneLook SimulatedSensor::look() const {
    std::lock_guard lock(lookMutex_);
    return look_;
}
