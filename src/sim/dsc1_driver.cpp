// The simulated "DSC1:" camera driver. It is configured by 8- and 24-byte parameter requests
// whose first byte names the parameter: 24-byte requests 1 and 2 set the sensor mode and the
// frame size (width and height modulo 256, as the request has one byte for each); 8-byte
// requests 13, 14 and 16 are settings with a one-byte value; any other 8-byte request is a
// picture property as two words (property id, value), with Brightness and Contrast exchanged
// against the program's usual numbering (4 is Brightness here, 5 Contrast). A frame read fills
// the caller's buffer, whose size names the frame: the driver takes the frame size of the mode
// that has the byte count asked for, and blocks until the frame's exposure time has come. It
// reads only while the sensor runs (request 5 starts it, 6 stops it).
//
// Every request is logged with its bytes; frame reads when the size they ask for changes.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "sim/camera_sensor.h"
#include "sim/host/host_camera.h"
#include "sim/stream_drivers.h"

namespace {

constexpr size_t kShortRequest = 8, kLongRequest = 24;
constexpr uint8_t kParameterPreviewSize = 1, kParameterCaptureSize = 2;
constexpr uint32_t kDriverBrightness = 4, kDriverContrast = 5;
constexpr uint32_t kLargestWidth = 1280, kLargestHeight = 960;

// Sensor modes and the picture each streams.
struct SensorMode {
    uint8_t mode;
    uint32_t width, height;
};
constexpr SensorMode kModes[] = {{5, 88, 72},   {1, 160, 120}, {7, 176, 144}, {2, 320, 240},
                                 {8, 352, 288}, {3, 640, 480}, {4, 1280, 960}};

// The scale of this camera's settings: Brightness 0..8 and Contrast 0..6, both neutral at 4.
constexpr SensorNeutral kDsc1Neutral{4, 4, 4, 5};

uint32_t wordAt(const void* data, size_t index) {
    uint32_t w;
    memcpy(&w, static_cast<const uint8_t*>(data) + index * 4, 4);
    return w;
}

class Dsc1Driver final : public StreamDriver {
  public:
    explicit Dsc1Driver(std::shared_ptr<SimulatedComponents> components)
        : components_(std::move(components)), sensor_(kDsc1Neutral) {}
    ~Dsc1Driver() override { components_->record("DSC1 close"); }

    BOOL ioControl(DWORD code, const void* input, DWORD inputSize, void*, DWORD,
                   DWORD* returned) override {
        *returned = 0;
        if (code == kDsc1ReadFrame) return readFrame(input, inputSize);
        std::lock_guard lock(mutex_);
        switch (code) {
            case kDsc1GetProperty: {
                if (!input || inputSize != kShortRequest) return refuse(code, "needs 8 bytes");
                components_->record("DSC1 1 " + hexBytes(input, inputSize));
                // The value goes into the request's second word, as this driver answers.
                const uint32_t value = sensor_.property(sensorProperty(wordAt(input, 0)));
                memcpy(static_cast<uint8_t*>(const_cast<void*>(input)) + 4, &value, 4);
                return TRUE;
            }
            case kDsc1SetParameter:
                return setParameter(input, inputSize);
            case kDsc1StartSensor:
                components_->record("DSC1 5");
                running_ = true;
                nextDueMs_ = hardwareTickMs();
                return TRUE;
            case kDsc1StopSensor:
                components_->record("DSC1 6");
                running_ = false;
                return TRUE;
            default:
                return refuse(code, "unknown request");
        }
    }

  private:
    BOOL refuse(DWORD code, const std::string& why) {
        components_->record("DSC1 " + std::to_string(code) + " refused: " + why);
        return FALSE;
    }

    static uint32_t sensorProperty(uint32_t id) {
        if (id == kDriverBrightness) return kPropertyBrightness;
        if (id == kDriverContrast) return kPropertyContrast;
        return id;
    }

    BOOL setParameter(const void* input, DWORD inputSize) {
        if (!input || (inputSize != kShortRequest && inputSize != kLongRequest))
            return refuse(kDsc1SetParameter, "needs 8 or 24 bytes");
        components_->record("DSC1 2 " + hexBytes(input, inputSize));
        const auto* b = static_cast<const uint8_t*>(input);
        if (inputSize == kLongRequest) {
            if (b[0] != kParameterPreviewSize && b[0] != kParameterCaptureSize) return FALSE;
            mode_ = b[2];
            widthLow_ = b[4];
            heightLow_ = b[5];
            sizeKnown_ = true;
            return TRUE;
        }
        switch (b[0]) {
            case 13:
            case 14:
            case 16:
                settings_[b[0]] = b[1];
                return TRUE;
            default:
                return sensor_.setProperty(sensorProperty(wordAt(input, 0)), wordAt(input, 1));
        }
    }

    // The frame size of the configured mode whose byte count is `bytes`: the width and height
    // that agree with the low bytes the driver was given and fit the sensor picture.
    bool frameSize(uint32_t bytes, uint32_t& sensorWidth, uint32_t& sensorHeight, uint32_t& width,
                   uint32_t& height) const {
        if (!sizeKnown_) return false;
        sensorWidth = kLargestWidth;
        sensorHeight = kLargestHeight;
        for (const SensorMode& m : kModes)
            if (m.mode == mode_) sensorWidth = m.width, sensorHeight = m.height;
        for (uint32_t w = widthLow_; w <= sensorWidth; w += 256)
            for (uint32_t h = heightLow_; h <= sensorHeight; h += 256)
                if (w && h && w % 2 == 0 && w * h * 2 == bytes) {
                    width = w;
                    height = h;
                    return true;
                }
        return false;
    }

    BOOL readFrame(const void* input, DWORD inputSize) {
        uint32_t waitMs = 0;
        uint64_t seen = 0;  // the host frame the last read exposed
        {
            std::lock_guard lock(mutex_);
            if (inputSize != lastReadBytes_) {
                lastReadBytes_ = inputSize;
                components_->record("DSC1 3 " + std::to_string(inputSize));
            }
            uint32_t sensorWidth, sensorHeight, width, height;
            if (!input || !running_ || !components_->camera.framesOn.load()) return FALSE;
            if (!frameSize(inputSize, sensorWidth, sensorHeight, width, height)) return FALSE;
            if (width != sensor_.width() || height != sensor_.height() ||
                sensor_.hostFeed() != hostCameraFeed()) {
                sensor_.setHostFeed(hostCameraFeed());
                // The window is the centre of the sensor picture, on a pixel pair.
                if (!sensor_.configure(sensorWidth, sensorHeight, (sensorWidth - width) / 2,
                                       (sensorHeight - height) / 2, width, height))
                    return FALSE;
            }
            const uint32_t now = hardwareTickMs();
            const auto ahead = static_cast<int32_t>(nextDueMs_ - now);
            if (ahead > 0) waitMs = static_cast<uint32_t>(ahead);
            seen = sensor_.hostFrame();
        }
        // A read blocks until the exposure is done; requests from other threads go on meanwhile.
        if (waitMs) std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        // With a host camera the exposure also waits for the host's next frame; none in time
        // fails the read, as a stalled camera's would.
        if (const HostCameraFeed* feed = hostCameraFeed()) {
            if (feed->waitNewer(feed->context, seen, kHostFrameWaitMs) == seen) return FALSE;
        }
        std::lock_guard lock(mutex_);
        if (!running_ || inputSize != sensor_.frameBytes()) return FALSE;
        const uint32_t now = hardwareTickMs();
        const uint32_t period = 1000 / std::max(1u, components_->camera.fps.load());
        nextDueMs_ += period;
        if (static_cast<int32_t>(now - nextDueMs_) > static_cast<int32_t>(period))
            nextDueMs_ = now + period;
        // The driver fills the caller's buffer, which this request passes as its input.
        sensor_.capture(static_cast<uint8_t*>(const_cast<void*>(input)), now);
        return TRUE;
    }

    std::shared_ptr<SimulatedComponents> components_;
    std::mutex mutex_;
    SimulatedSensor sensor_;
    bool running_ = false;
    bool sizeKnown_ = false;
    uint8_t mode_ = 0, widthLow_ = 0, heightLow_ = 0;
    uint8_t settings_[256] = {};
    uint32_t nextDueMs_ = 0;
    DWORD lastReadBytes_ = 0;
};

}  // namespace

std::unique_ptr<StreamDriver> openDsc1Driver(std::shared_ptr<SimulatedComponents> components,
                                             DWORD access, DWORD) {
    if ((access & (kAccessRead | kAccessWrite)) != (kAccessRead | kAccessWrite)) {
        components->record("DSC1 open refused");
        return nullptr;
    }
    components->record("DSC1 open");
    return std::make_unique<Dsc1Driver>(std::move(components));
}
