// The one narrow interface between the platform stand-in and the hardware behind it. The
// simulated handheld implements Device; the platform asks the installed Device whatever a real
// handheld's hardware or OEM layer would answer. Nothing here is visible to the application.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

// A stream driver instance ("LCM1:", "DSC1:") opened by CreateFileW; destroyed by CloseHandle.
class StreamDriver {
  public:
    virtual ~StreamDriver() = default;
    virtual BOOL ioControl(DWORD code, const void* input, DWORD inputSize, void* output,
                           DWORD outputSize, DWORD* bytesReturned) = 0;
};

// A sound input delivering 8 kHz 16-bit mono PCM in real time on its own thread.
class WaveSource {
  public:
    using Sink = std::function<void(const int16_t* samples, size_t count)>;
    virtual ~WaveSource() = default;
    // Starts delivering to `sink` from the source's own thread until stop() returns.
    virtual bool start(Sink sink) = 0;
    virtual void stop() = 0;
};

// What the handheld reports about itself.
struct DeviceIdentity {
    std::u16string oemInfo;        // SPI_GETOEMINFO; empty: the query fails
    std::u16string platformType;   // SPI_GETPLATFORMTYPE: "PocketPC" or "SmartPhone"; empty fails
    bool processorQuery = true;    // IOCTL_PROCESSOR_INFORMATION answers
    std::u16string processorCore;  // e.g. "ARM920T"
    std::u16string processorName;  // e.g. "PXA270"
    int displayWidth = 240;        // pixels; the display is 16 bits per pixel, RGB565
    int displayHeight = 320;
    bool rawFrameBufferEscape = true;  // GETRAWFRAMEBUFFER answers
    bool gxInfoEscape = false;         // GETGXINFO answers
    WORD normalKeys[8] = {};           // GAPI key lists: Up, Down, Left, Right, A, B, C, Start
    WORD landscapeKeys[8] = {};
    int taskBarHeight = 26;  // the work area is the screen below the task bar
};

// A registry value the device ships with; created at installation when the value is absent.
struct RegistrySeed {
    bool currentUser;      // HKEY_CURRENT_USER, else HKEY_LOCAL_MACHINE
    std::u16string key;    // e.g. u"ControlPanel\\Backlight"
    std::u16string value;  // value name
    DWORD type;            // REG_DWORD, REG_SZ, ...
    std::vector<BYTE> data;
};

// Faults a test or a device script can inject.
struct DeviceFaults {
    // Bytes that files opened for writing may still take before writes fail (a full card);
    // negative: unlimited.
    std::atomic<int64_t> writeBudget{-1};
    // The registry store stops between writing its temporary file and renaming it (a crash in
    // the middle of a save); used by a test in a child process.
    std::atomic<bool> crashInRegistrySave{false};
};

class Device {
  public:
    virtual ~Device() = default;

    // The host folder that holds the device's file system (UTF-8).
    virtual const std::string& root() const = 0;
    virtual const DeviceIdentity& identity() const = 0;

    // The display memory: identity().displayWidth x displayHeight x 2 bytes, RGB565; it lies in
    // physical memory, so the LCD controller and VirtualCopy see the same bytes.
    virtual uint8_t* displayMemory() = 0;
    virtual uint64_t displayPhysicalAddress() const = 0;

    // Physical memory: a file whose offsets are physical addresses, and the ranges that exist.
    virtual int physicalMemoryFd() const { return -1; }
    virtual bool physicalRangeValid(uint64_t /*address*/, uint64_t /*size*/) const { return false; }

    // Stream drivers by device name; null when the driver is missing or refuses the open.
    virtual std::unique_ptr<StreamDriver> openStreamDriver(const std::u16string& /*name*/,
                                                           DWORD /*access*/, DWORD /*share*/) {
        return nullptr;
    }
    // Kernel and OEM control codes other than the processor query.
    virtual BOOL kernelIoControl(DWORD /*code*/, const void* /*input*/, DWORD /*inputSize*/,
                                 void* /*output*/, DWORD /*outputSize*/, DWORD* /*returned*/) {
        return FALSE;
    }
    // Sound input; null when the device has none.
    virtual std::unique_ptr<WaveSource> openWaveInput() { return nullptr; }
    // Names of the storage cards (folders directly under the root).
    virtual std::vector<std::u16string> storageCards() const { return {}; }
    // Free bytes the device reports, when the profile fixes a figure.
    virtual std::optional<uint64_t> freeSpace() const { return std::nullopt; }
    // The device's local time; the host clock unless the device fixes one.
    virtual std::optional<SYSTEMTIME> localTime() const { return std::nullopt; }
    // Address or host name at which the device reaches the desktop peer of its link.
    virtual std::string pppPeer() const { return "127.0.0.1"; }

    // Told when the program's window gains or loses the foreground, so the device can show the
    // home screen behind it.
    virtual void foregroundChanged(bool /*programInFront*/) {}
    // Values the device's registry holds from the factory.
    virtual std::vector<RegistrySeed> registrySeeds() const { return {}; }
    // A file handed to the desktop by ShellExecuteEx (host path); true when it was opened.
    virtual bool openOnDesktop(const std::string& /*hostPath*/) { return false; }

    DeviceFaults faults;
};

// The device the platform runs on. Installed once by the Linux entry (or a test) before the
// program starts; never changed while the program runs. Installing creates the registry values
// the device ships with where they are missing.
void installDevice(Device* device);
Device& device();
bool deviceInstalled();
