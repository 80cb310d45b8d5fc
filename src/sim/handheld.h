// The simulated handheld: a device profile brought to life behind the platform stand-in. It owns
// the device root on the host, the physical memory (display memory, LCD controller, overlay
// buffers), the home screen shown while the program is in the background, and the simulated
// components the profile installs.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "sim/device_profile.h"

struct SimulatedComponents;

// Physical address map of the simulated device (PXA27x-like).
constexpr uint64_t kLcdRegistersPhysical = 0x44000000;  // the LCD controller's registers
constexpr uint64_t kLcdRegistersBytes = 4096;
constexpr uint64_t kRamPhysical = 0xA0000000;  // SDRAM
constexpr uint64_t kRamBytes = 64ull << 20;
constexpr uint64_t kDisplayPhysical = 0xA1000000;  // the display memory (base plane)

class SimulatedHandheld final : public Device {
  public:
    SimulatedHandheld(DeviceProfile profile, std::string root);
    ~SimulatedHandheld() override;
    SimulatedHandheld(const SimulatedHandheld&) = delete;
    SimulatedHandheld& operator=(const SimulatedHandheld&) = delete;

    // Prepares the device root and the hardware; false with `error` set when it cannot.
    bool mount(std::string& error);

    const DeviceProfile& profile() const { return profile_; }
    // The device's physical memory as the simulated hardware sees it; null outside the map.
    uint8_t* physical(uint64_t address, uint64_t size);

    // Device
    const std::string& root() const override { return root_; }
    const DeviceIdentity& identity() const override { return identity_; }
    uint8_t* displayMemory() override { return display_; }
    uint64_t displayPhysicalAddress() const override { return kDisplayPhysical; }
    int physicalMemoryFd() const override { return memoryFd_; }
    bool physicalRangeValid(uint64_t address, uint64_t size) const override;
    std::unique_ptr<StreamDriver> openStreamDriver(const std::u16string& name, DWORD access,
                                                   DWORD share) override;
    BOOL kernelIoControl(DWORD code, const void* input, DWORD inputSize, void* output,
                         DWORD outputSize, DWORD* returned) override;
    std::unique_ptr<WaveSource> openWaveInput() override;
    std::vector<std::u16string> storageCards() const override;
    std::optional<uint64_t> freeSpace() const override { return profile_.freeSpace; }
    std::optional<SYSTEMTIME> localTime() const override;
    std::string pppPeer() const override { return profile_.pppPeer; }
    std::vector<RegistrySeed> registrySeeds() const override;
    void foregroundChanged(bool programInFront) override;
    bool openOnDesktop(const std::string& hostPath) override;

    // Opening files on the desktop (xdg-open) is off unless asked for.
    void allowDesktopOpen(bool allow) { desktopOpen_ = allow; }

    // Requests the simulated hardware received ("HAL 0x01013C40", ...), for tests.
    void record(std::string entry);
    std::vector<std::string> records();

    // Changes the simulated hardware while the program runs, as a device script's "device ..."
    // line asks ("overlay2 yuv420 176x144 at 10 20", "overlay2 off", "camera fps 5"; the list is
    // in sim/components.h). Returns an error text or "".
    std::string command(const std::vector<std::string>& words);
    // Checks a command's words without a device; returns an error text or "".
    static std::string checkCommand(const std::vector<std::string>& words);

    // The simulated components' shared state, made when the device is mounted.
    std::shared_ptr<SimulatedComponents>& components() { return components_; }

  private:
    void installLibraries(std::string& error);
    void homeScreenLoop();
    void stopHomeScreen();

    DeviceProfile profile_;
    std::string root_;
    DeviceIdentity identity_;
    int memoryFd_ = -1;
    uint8_t* display_ = nullptr;
    size_t displayBytes_ = 0;
    std::mutex mappingsMutex_;
    std::vector<std::pair<uint8_t*, size_t>> mappings_;  // the hardware's own views
    std::atomic<bool> homeScreenRunning_{false};
    std::thread homeScreen_;
    std::mutex homeScreenMutex_;
    bool desktopOpen_ = false;
    std::mutex recordsMutex_;
    std::vector<std::string> records_;
    std::shared_ptr<SimulatedComponents> components_;
};

// Where the simulated components' shared objects are found: the folder the environment's
// LUMO_DEVICE_LIBDIR names, else PREFIX/lib/lumovatrix beside the program's PREFIX/bin, else the
// build tree's devicelibs/ above the program; "" when there is none.
std::string deviceLibraryFolder();
