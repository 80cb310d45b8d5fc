// The camera of the "MPX220" models through the "DSC1:" stream driver. The driver reads each
// frame into a buffer the backend owns (one buffer of the largest frame, reused for every size);
// the capture thread passes that buffer to the frame handler. The driver is configured by small
// numbered requests and a persistent 24-byte command block whose first bytes name a parameter
// and its values; each request writes only the bytes it names, so the others keep what earlier
// requests left there.
#include <atomic>
#include <cstring>
#include <new>

#include "camera/camera_backend.h"
#include "camera/capture_thread.h"

namespace {

// Driver control codes.
constexpr DWORD kGetProperty = 1;   // in: property id, and a word the driver overwrites
constexpr DWORD kSetParameter = 2;  // in: 8 bytes (two words, or the command block's first 8)
                                    //     or 24 bytes (the command block)
constexpr DWORD kReadFrame = 3;     // in: the frame buffer, which the driver fills
constexpr DWORD kStartSensor = 5;
constexpr DWORD kStopSensor = 6;

constexpr DWORD kShortRequest = 8, kLongRequest = 24;
constexpr uint32_t kFrameBufferBytes = 1280 * 960 * 2;  // the largest frame, 2,457,600 bytes
static_assert(kFrameBufferBytes == 2457600);
constexpr DWORD kRetryMs = 10;  // after a failed frame read

// The sensor mode byte for a sensor width; 0 for widths the driver has no mode for.
uint8_t sensorMode(uint32_t sensorWidth) {
    switch (sensorWidth) {
        case 88:
            return 5;
        case 160:
            return 1;
        case 176:
            return 7;
        case 320:
            return 2;
        case 352:
            return 8;
        case 640:
            return 3;
        case 1280:
            return 4;
        default:
            return 0;
    }
}

struct Dsc1Backend {
    std::atomic<CaptureThread*> control{nullptr};  // quit, pause and the three events
    uint8_t commandBlock[kLongRequest] = {};       // zero at process start
    std::atomic<FrameHandler> frameHandler{nullptr};
    std::atomic<uint32_t> frameBytes{0};
    std::atomic<uint8_t*> frameBuffer{nullptr};
    std::atomic<uint8_t> streaming{0};
    std::atomic<uint8_t> opened{0};
    std::atomic<HANDLE> driver{nullptr};
};
Dsc1Backend dsc1;

bool validHandle(HANDLE h) {
    return h && h != INVALID_HANDLE_VALUE;
}

BOOL sendRequest(DWORD code, void* input, DWORD inputSize) {
    DWORD returned = 0;
    return DeviceIoControl(dsc1.driver.load(), code, input, inputSize, nullptr, 0, &returned,
                           nullptr);
}

// Writes the named leading bytes of the command block and sends `size` bytes of it.
void sendCommand(std::initializer_list<uint8_t> leading, DWORD size) {
    std::copy(leading.begin(), leading.end(), dsc1.commandBlock);
    sendRequest(kSetParameter, dsc1.commandBlock, size);
}

DWORD captureThreadMain(LPVOID parameter) {
    auto* thread = static_cast<CaptureThread*>(parameter);
    uint32_t reserved = 0;
    while (waitForRun(*thread)) {
        while (keepCapturing(*thread)) {
            // start sets the handler and the byte count before it sets runEvent.
            const FrameHandler handler = dsc1.frameHandler.load();
            const uint32_t bytes = dsc1.frameBytes.load();
            DWORD returned = 0;
            if (thread->frameBuffer && handler &&
                DeviceIoControl(thread->driver, kReadFrame, thread->frameBuffer, bytes, nullptr, 0,
                                &returned, nullptr)) {
                handler(thread->frameBuffer, bytes, &reserved);
            } else {
                Sleep(kRetryMs);
            }
        }
        leaveFrameLoop(*thread);
    }
    captureThreadEnded(thread);
    return 0;
}

uint32_t openDsc1(void*) {
    if (dsc1.opened.load()) return 1;
    HANDLE driver =
        CreateFileW(u"DSC1:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    CaptureThread* control = validHandle(driver) ? createCaptureThread() : nullptr;
    // The buffer stays from one open to the next close; without it there is nothing to read
    // frames into, so the open fails.
    if (control && !dsc1.frameBuffer.load())
        dsc1.frameBuffer.store(new (std::nothrow) uint8_t[kFrameBufferBytes]);
    HANDLE thread = nullptr;
    if (control && dsc1.frameBuffer.load()) {
        control->driver = driver;
        control->frameBuffer = dsc1.frameBuffer.load();
        thread = launchCaptureThread(control, captureThreadMain);
    }
    if (!thread) {
        discardCaptureThread(control);
        if (validHandle(driver)) CloseHandle(driver);
        return 0;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
    CloseHandle(thread);
    dsc1.driver.store(driver);
    dsc1.control.store(control);
    dsc1.opened.store(1);
    return 1;
}

uint32_t startDsc1(const CaptureParams* params) {
    if (!dsc1.driver.load() || !params) return 0;
    if (dsc1.streaming.load()) return 1;
    const uint32_t w = params->cropRight - params->cropLeft + 1;
    const uint32_t h = params->cropBottom - params->cropTop + 1;
    // A crop beyond the largest frame would have the driver write past the buffer.
    if (uint64_t{w} * h * 2 > kFrameBufferBytes) return 0;
    dsc1.frameBytes.store(w * h * 2);
    dsc1.frameHandler.store(params->frameHandler);
    const uint8_t mode = sensorMode(params->sensorWidth);
    const auto wLow = static_cast<uint8_t>(w % 256), hLow = static_cast<uint8_t>(h % 256);
    // The results of the configuration requests are not checked.
    sendCommand({13, 4}, kShortRequest);
    sendCommand({14, 0}, kShortRequest);
    sendRequest(kStopSensor, nullptr, 0);
    sendCommand({1, 1, mode, 2, wLow, hLow}, kLongRequest);
    sendCommand({16, 100}, kShortRequest);
    sendRequest(kStartSensor, nullptr, 0);
    sendCommand({2, 1, mode, 2, wLow, hLow}, kLongRequest);
    runCaptureThread(dsc1.control.load());
    dsc1.streaming.store(1);
    return 1;
}

uint32_t stopDsc1() {
    pauseCaptureThread(dsc1.control.load());
    sendRequest(kStopSensor, nullptr, 0);
    dsc1.streaming.store(0);
    return 1;
}

uint32_t closeDsc1() {
    HANDLE driver = dsc1.driver.load();
    if (!driver) return 0;
    CaptureThread* control = dsc1.control.exchange(nullptr);
    // No stop request is sent here: the controller always stops before it closes.
    const bool ended = endCaptureThread(control);
    if (ended) {
        CloseHandle(driver);
        delete[] dsc1.frameBuffer.load();
    }  // otherwise the late thread releases the driver and the buffer when it ends
    dsc1.driver.store(nullptr);
    dsc1.frameBuffer.store(nullptr);
    dsc1.opened.store(0);
    return 1;
}

uint32_t setDsc1Property(uint32_t id, uint32_t value) {
    uint32_t words[2] = {id, value};
    return sendRequest(kSetParameter, words, sizeof words) ? 1 : 0;
}

uint32_t getDsc1Property(uint32_t id, uint32_t* value) {
    uint32_t words[2] = {id, 0};
    sendRequest(kGetProperty, words, sizeof words);
    if (value) *value = words[1];
    return 1;
}

}  // namespace

const CameraBackend kDsc1Backend = {
    .open = openDsc1,
    .start = startDsc1,
    .stop = stopDsc1,
    .close = closeDsc1,
    .setProperty = setDsc1Property,
    .getProperty = getDsc1Property,
    // This driver has no register access and no flash light.
    .readRegister = ignoreReadRegister,
    .writeRegister = ignoreWriteRegister,
    .flashLight = ignoreFlashLight,
};
