// The simulated "LCM1:" camera driver. The camera module must be powered through the hardware
// layer (0x01013C40) before it initialises. Started with the program's start block, it exposes
// frames of the block's crop window into two frame buffers of its own and hands out their
// addresses: a frame request gets the next finished frame when its exposure time has come (else
// the address 0, "not yet"), and the frame stays the program's until it is released; releasing
// also arms the next exposure. Every request except the per-frame ones is logged as it arrives;
// a frame request is logged when the size it passes changes.
//
// On the handheld a frame address is a 32-bit word. On this 64-bit host it is pointer-sized: the
// driver writes a whole pointer at the output address, whatever output size the request passes
// (the program passes the frame's byte count there), and refuses an output too small for one.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "sim/camera_sensor.h"
#include "sim/capture_block.h"
#include "sim/host/host_camera.h"
#include "sim/stream_drivers.h"

namespace {

constexpr uint32_t kSensorId = 0x7670;  // what initialisation reports
constexpr uint32_t kRegisterCount = 256;
constexpr DWORD kRegisterRead = 0, kRegisterWrite = 1;

std::string codeText(DWORD code) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

uint32_t wordAt(const void* data, size_t index) {
    uint32_t w;
    memcpy(&w, static_cast<const uint8_t*>(data) + index * 4, 4);
    return w;
}

class Lcm1Driver final : public StreamDriver {
  public:
    explicit Lcm1Driver(std::shared_ptr<SimulatedComponents> components)
        : components_(std::move(components)) {}

    ~Lcm1Driver() override {
        {
            std::lock_guard lock(components_->mutex);
            components_->lcm1Open = false;
        }
        components_->record("LCM1 close");
    }

    BOOL ioControl(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                   DWORD* returned) override {
        std::lock_guard lock(mutex_);
        *returned = 0;
        switch (code) {
            case kLcm1Initialise:
                return initialise(output, outputSize, returned);
            case kLcm1Shutdown:
                log(code);
                streaming_ = initialised_ = false;
                return TRUE;
            case kLcm1Start:
                return start(input, inputSize);
            case kLcm1Stop:
                log(code);
                if (!streaming_) return FALSE;
                streaming_ = false;
                return TRUE;
            case kLcm1SetProperty:
                if (!input || inputSize != 8) return refuse(code, "needs two words");
                log(code, " " + std::to_string(wordAt(input, 0)) + " " +
                              std::to_string(wordAt(input, 1)));
                return initialised_ && sensor_.setProperty(wordAt(input, 0), wordAt(input, 1));
            case kLcm1GetProperty: {
                if (!input || inputSize != 4 || !output || outputSize < 4)
                    return refuse(code, "needs a word in and a word out");
                log(code, " " + std::to_string(wordAt(input, 0)));
                if (!initialised_ || wordAt(input, 0) >= kSensorPropertyCount) return FALSE;
                const uint32_t value = sensor_.property(wordAt(input, 0));
                memcpy(output, &value, 4);
                *returned = 4;
                return TRUE;
            }
            case kLcm1NextFrame:
                return nextFrame(output, outputSize, returned);
            case kLcm1Register:
                return registerAccess(input, inputSize, output, outputSize, returned);
            case kLcm1FlashLight:
                if (!input || inputSize != 4) return refuse(code, "needs a word");
                log(code, " " + std::to_string(wordAt(input, 0)));
                return initialised_;
            case kLcm1ReleaseFrame:
                if (!streaming_) return FALSE;
                handedOut_ = -1;
                armed_ = true;
                return TRUE;
            default:
                return refuse(code, "unknown request");
        }
    }

  private:
    void log(DWORD code, const std::string& detail = "") {
        components_->record("LCM1 " + codeText(code) + detail);
    }
    BOOL refuse(DWORD code, const std::string& why) {
        log(code, " refused: " + why);
        return FALSE;
    }

    BOOL initialise(void* output, DWORD outputSize, DWORD* returned) {
        log(kLcm1Initialise);
        {
            std::lock_guard lock(components_->mutex);
            if (!components_->cameraPowered)
                return refuse(kLcm1Initialise, "the camera module is not powered");
        }
        if (!output || outputSize < 4) return refuse(kLcm1Initialise, "needs a word out");
        if (!components_->camera.initAccepted.load()) return FALSE;
        memcpy(output, &kSensorId, 4);
        *returned = 4;
        initialised_ = true;
        return TRUE;
    }

    BOOL start(const void* input, DWORD inputSize) {
        if (!input || inputSize != kCaptureBlockBytes)
            return refuse(kLcm1Start, "the start block is " + std::to_string(kCaptureBlockBytes) +
                                          " bytes, not " + std::to_string(inputSize));
        CaptureBlock block;
        memcpy(&block, input, sizeof block);
        CropWindow crop{};
        const bool valid = cropOf(block, crop);
        log(kLcm1Start, " sensor " + std::to_string(block.sensorWidth) + "x" +
                            std::to_string(block.sensorHeight) + " crop " +
                            std::to_string(block.cropLeft) + "," + std::to_string(block.cropTop) +
                            "-" + std::to_string(block.cropRight) + "," +
                            std::to_string(block.cropBottom));
        if (!initialised_) return refuse(kLcm1Start, "not initialised");
        if (streaming_) return refuse(kLcm1Start, "already streaming");
        sensor_.setHostFeed(hostCameraFeed());
        if (!valid || !sensor_.configure(block.sensorWidth, block.sensorHeight, crop.left, crop.top,
                                         crop.width, crop.height))
            return refuse(kLcm1Start, "no such window");
        for (auto& frame : frames_) frame.assign(sensor_.frameBytes(), 0);
        streaming_ = true;
        armed_ = false;
        handedOut_ = -1;
        nextDueMs_ = hardwareTickMs();
        return TRUE;
    }

    BOOL nextFrame(void* output, DWORD outputSize, DWORD* returned) {
        if (outputSize != lastFrameRequestBytes_) {
            lastFrameRequestBytes_ = outputSize;
            log(kLcm1NextFrame, " " + std::to_string(outputSize));
        }
        if (!output || outputSize < sizeof(uint8_t*) || !streaming_ || handedOut_ >= 0 || !armed_)
            return FALSE;
        uint8_t* address = nullptr;
        const uint32_t now = hardwareTickMs();
        // With a host camera a frame is finished only when the host has a new one.
        const HostCameraFeed* feed = sensor_.hostFeed();
        const bool hostFrame = !feed || feed->newest(feed->context) != sensor_.hostFrame();
        if (components_->camera.framesOn.load() && hostFrame &&
            static_cast<int32_t>(now - nextDueMs_) >= 0) {
            const uint32_t period = 1000 / std::max(1u, components_->camera.fps.load());
            nextDueMs_ += period;
            if (static_cast<int32_t>(now - nextDueMs_) > static_cast<int32_t>(period))
                nextDueMs_ = now + period;  // fell behind: no burst of catch-up frames
            std::vector<uint8_t>& frame = frames_[nextBuffer_];
            sensor_.capture(frame.data(), now);
            address = frame.data();
            handedOut_ = nextBuffer_;
            nextBuffer_ ^= 1;
            armed_ = false;
        }
        memcpy(output, &address, sizeof address);
        *returned = sizeof address;
        return TRUE;
    }

    BOOL registerAccess(const void* input, DWORD inputSize, void* output, DWORD outputSize,
                        DWORD* returned) {
        if (!input || inputSize != 8) return refuse(kLcm1Register, "needs 8 bytes");
        log(kLcm1Register, " " + hexBytes(input, inputSize));
        if (!initialised_) return FALSE;
        const uint32_t operation = wordAt(input, 0);
        const auto* bytes = static_cast<const uint8_t*>(input);
        if (operation == kRegisterWrite) {
            registers_[bytes[4]] = bytes[5];
            return TRUE;
        }
        if (operation != kRegisterRead || wordAt(input, 1) >= kRegisterCount || !output ||
            outputSize < 2)
            return FALSE;
        memcpy(output, &registers_[wordAt(input, 1)], 2);
        *returned = 2;
        return TRUE;
    }

    std::shared_ptr<SimulatedComponents> components_;
    std::mutex mutex_;  // the window thread and the capture thread both call in
    SimulatedSensor sensor_;
    bool initialised_ = false;
    bool streaming_ = false;
    bool armed_ = false;
    int handedOut_ = -1;  // the buffer the program holds, or -1
    int nextBuffer_ = 0;
    std::vector<uint8_t> frames_[2];
    uint32_t nextDueMs_ = 0;
    DWORD lastFrameRequestBytes_ = 0;
    uint16_t registers_[kRegisterCount] = {};
};

}  // namespace

std::unique_ptr<StreamDriver> openLcm1Driver(std::shared_ptr<SimulatedComponents> components,
                                             DWORD access, DWORD share) {
    std::lock_guard lock(components->mutex);
    if (!(access & kAccessRead) || share != 0 || components->lcm1Open) {
        components->record("LCM1 open refused");
        return nullptr;
    }
    components->lcm1Open = true;
    components->record("LCM1 open");
    return std::make_unique<Lcm1Driver>(components);
}
