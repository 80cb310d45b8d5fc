// The camera of the "PM10" models through the "LCM1:" stream driver. The driver hands out the
// address of each captured frame; the capture thread passes it to the frame handler and then
// releases the frame, which also arms the next one. The frames lie in the driver's memory, so
// the capture thread and the opening call run with kernel-mode access on. Two hardware-layer
// codes power the camera module up before the driver is opened and down after it is closed.
//
// On the handheld the frame address is a 32-bit word; here it is pointer-sized. The frame request
// passes the frame's byte count as its output size (what the driver expects), while the output
// itself is the one address word.
#include <atomic>
#include <cstring>

#include "camera/camera_backend.h"
#include "camera/capture_thread.h"
#include "core/frame.h"

namespace {

// Driver control codes: device type 0x9000, functions 0x801 to 0x80A, buffered, any access.
constexpr DWORD lcm1Code(DWORD function) {
    return 0x9000u << 16 | function << 2;
}
constexpr DWORD kInitialise = lcm1Code(0x801);  // out: 4 bytes, into the open block
constexpr DWORD kShutdown = lcm1Code(0x802);
constexpr DWORD kStartStreaming = lcm1Code(0x803);  // in: the CaptureParams block
constexpr DWORD kStopStreaming = lcm1Code(0x804);
constexpr DWORD kSetProperty = lcm1Code(0x805);     // in: property id, value
constexpr DWORD kGetProperty = lcm1Code(0x806);     // in: property id; out: value
constexpr DWORD kNextFrame = lcm1Code(0x807);       // out: the frame's address
constexpr DWORD kRegisterAccess = lcm1Code(0x808);  // in: operation, register (and value)
constexpr DWORD kFlashLight = lcm1Code(0x809);      // in: on
constexpr DWORD kReleaseFrame = lcm1Code(0x80A);    // releases the frame, arms the next
static_assert(kInitialise == 0x90002004 && kReleaseFrame == 0x90002028);

// Hardware-layer codes around the driver's life.
constexpr DWORD kHalCameraPowerOn = 0x01013C40;
constexpr DWORD kHalCameraPowerOff = 0x01013C44;

constexpr uint32_t kRegisterRead = 0, kRegisterWrite = 1;
constexpr DWORD kRegisterRequestBytes = 8, kRegisterValueBytes = 2;
constexpr DWORD kRetryMs = 10;  // after a frame request that gave no frame

struct Lcm1Backend {
    std::atomic<uint32_t> frameBytes{0};
    std::atomic<CaptureThread*> control{nullptr};  // quit, pause and the three events
    std::atomic<HANDLE> driver{nullptr};
    std::atomic<FrameHandler> frameHandler{nullptr};
};
Lcm1Backend lcm1;

bool validHandle(HANDLE h) {
    return h && h != INVALID_HANDLE_VALUE;
}

BOOL request(HANDLE driver, DWORD code, void* input = nullptr, DWORD inputSize = 0,
             void* output = nullptr, DWORD outputSize = 0) {
    DWORD returned = 0;
    return DeviceIoControl(driver, code, input, inputSize, output, outputSize, &returned, nullptr);
}

DWORD captureThreadMain(LPVOID parameter) {
    auto* thread = static_cast<CaptureThread*>(parameter);
    SetKMode(TRUE);
    uint32_t reserved = 0;
    while (waitForRun(*thread)) {
        request(thread->driver, kReleaseFrame);  // arms the first frame
        while (keepCapturing(*thread)) {
            uint8_t* frame = nullptr;
            const FrameHandler handler = lcm1.frameHandler.load();
            const uint32_t bytes = lcm1.frameBytes.load();
            if (request(thread->driver, kNextFrame, nullptr, 0, &frame, bytes) && frame &&
                handler) {
                handler(frame, bytes, &reserved);
                request(thread->driver, kReleaseFrame);
            } else {
                Sleep(kRetryMs);
            }
        }
        leaveFrameLoop(*thread);
    }
    captureThreadEnded(thread);
    SetKMode(FALSE);
    return 0;
}

uint32_t openLcm1(void* block) {
    if (lcm1.driver.load()) return 0;
    KernelIoControl(kHalCameraPowerOn, nullptr, 0, nullptr, 0, nullptr);
    SetKMode(TRUE);
    HANDLE driver = CreateFileW(u"LCM1:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CaptureThread* control = validHandle(driver) ? createCaptureThread() : nullptr;
    HANDLE thread = nullptr;
    if (control) {
        control->driver = driver;
        thread = launchCaptureThread(control, captureThreadMain);
    }
    uint32_t result = 0;
    if (thread) result = request(driver, kInitialise, nullptr, 0, block, 4);
    if (result) {
        SetThreadPriority(thread, THREAD_PRIORITY_NORMAL);
        CloseHandle(thread);
        lcm1.driver.store(driver);
        lcm1.control.store(control);
        SetKMode(FALSE);
        return result;
    }
    // Failure: the thread, if there is one, is told to end and waited for before its events and
    // the driver are released.
    bool driverOurs = true;
    if (thread) {
        CloseHandle(thread);
        driverOurs = endCaptureThread(control);
    } else {
        discardCaptureThread(control);
    }
    if (driverOurs && validHandle(driver)) CloseHandle(driver);
    SetKMode(FALSE);
    return 0;
}

uint32_t startLcm1(const CaptureParams* params) {
    HANDLE driver = lcm1.driver.load();
    if (!driver || !params) return 0;
    lcm1.frameHandler.store(params->frameHandler);
    lcm1.frameBytes.store(bytesPerPixel(gFrame.frameFormat) * gFrame.frameHeight *
                          gFrame.frameWidth);
    // The driver receives the block as this host lays it out: sizeof(CaptureParams) bytes.
    const uint32_t result =
        request(driver, kStartStreaming, const_cast<CaptureParams*>(params), sizeof(CaptureParams));
    if (result) runCaptureThread(lcm1.control.load());
    return result;
}

uint32_t stopLcm1() {
    HANDLE driver = lcm1.driver.load();
    if (!driver) return 0;
    pauseCaptureThread(lcm1.control.load());
    return request(driver, kStopStreaming);
}

uint32_t closeLcm1() {
    HANDLE driver = lcm1.driver.load();
    if (!driver) return 0;
    CaptureThread* control = lcm1.control.exchange(nullptr);
    const bool ended = endCaptureThread(control);
    const uint32_t result = request(driver, kShutdown);
    if (ended) CloseHandle(driver);  // otherwise the late thread closes it when it ends
    lcm1.driver.store(nullptr);
    KernelIoControl(kHalCameraPowerOff, nullptr, 0, nullptr, 0, nullptr);
    return result;
}

uint32_t setLcm1Property(uint32_t id, uint32_t value) {
    HANDLE driver = lcm1.driver.load();
    if (!driver) return 0;
    uint32_t words[2] = {id, value};
    return request(driver, kSetProperty, words, sizeof words);
}

uint32_t getLcm1Property(uint32_t id, uint32_t* value) {
    HANDLE driver = lcm1.driver.load();
    if (!driver || !value) return 0;
    *value = 0;
    return request(driver, kGetProperty, &id, sizeof id, value, sizeof *value);
}

uint32_t readLcm1Register(uint32_t reg, uint32_t* value) {
    HANDLE driver = lcm1.driver.load();
    if (!driver || !value) return 0;
    *value = 0;
    uint32_t words[2] = {kRegisterRead, reg};
    return request(driver, kRegisterAccess, words, kRegisterRequestBytes, value,
                   kRegisterValueBytes);
}

uint32_t writeLcm1Register(uint32_t reg, uint32_t value) {
    // Operation word, then the register and the value as two bytes and two zero bytes.
    uint8_t bytes[kRegisterRequestBytes] = {};
    memcpy(bytes, &kRegisterWrite, sizeof kRegisterWrite);
    bytes[4] = static_cast<uint8_t>(reg);
    bytes[5] = static_cast<uint8_t>(value);
    return request(lcm1.driver.load(), kRegisterAccess, bytes, sizeof bytes);
}

uint32_t lcm1FlashLight(uint32_t on) {
    HANDLE driver = lcm1.driver.load();
    if (!driver) return 0;
    return request(driver, kFlashLight, &on, sizeof on);
}

}  // namespace

const CameraBackend kLcm1Backend = {
    .open = openLcm1,
    .start = startLcm1,
    .stop = stopLcm1,
    .close = closeLcm1,
    .setProperty = setLcm1Property,
    .getProperty = getLcm1Property,
    .readRegister = readLcm1Register,
    .writeRegister = writeLcm1Register,
    .flashLight = lcm1FlashLight,
};
