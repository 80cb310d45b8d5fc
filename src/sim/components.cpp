// The table of simulated components: which stream drivers a profile installs, the hardware
// layer's camera power codes, the LCD controller of PXA27x devices, the OEM camera library's
// configuration file, and the commands that change them while the program runs.
#include "sim/components.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "sim/camera_sensor.h"
#include "sim/component_state.h"
#include "sim/handheld.h"
#include "sim/host/host_camera.h"
#include "sim/host/host_microphone.h"
#include "sim/microphone.h"
#include "sim/stream_drivers.h"

namespace {

constexpr uint32_t kMaxCameraFps = 60;

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

bool hasPxa27xLcd(const DeviceProfile& profile) {
    return upper(profile.processorName).find("PXA27") != std::string::npos;
}

bool installsCameraLibrary(const DeviceProfile& profile) {
    return profile.installs("HTCcamera.dll") || profile.installs("HTCcamera1.dll");
}

// The camera library is a shared object of its own; it reads its settings from a file beside it
// whenever the camera is initialised or started. Written whole, then renamed into place.
void writeCameraLibraryConfig(SimulatedHandheld& device, const CameraSettings& camera) {
    if (!installsCameraLibrary(device.profile())) return;
    const std::filesystem::path path =
        std::filesystem::path(device.root()) / "Windows" / kCameraLibraryConfigName;
    const std::filesystem::path temporary = path.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << "fps=" << camera.fps.load() << "\n"
            << "frames=" << (camera.framesOn.load() ? "on" : "off") << "\n"
            << "init=" << (camera.initAccepted.load() ? "accept" : "refuse") << "\n"
            << "brightness-max=" << camera.brightnessMax.load() << "\n"
            << "pixel-order=" << (camera.swapsHalves.load() ? "reversed" : "normal") << "\n";
        if (!out) return;
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
}

bool parseCount(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<uint32_t>(std::stoul(text));
    return true;
}

// Parses a "camera ..." command into the settings it changes.
std::string parseCameraCommand(const std::vector<std::string>& words, CameraSettings* camera) {
    const std::string usage =
        "expected 'camera fps N', 'camera frames on|off' or 'camera init accept|refuse'";
    if (words.size() != 3) return usage;
    if (words[1] == "fps") {
        uint32_t fps;
        if (!parseCount(words[2], fps) || fps == 0 || fps > kMaxCameraFps)
            return "camera fps must be 1 to " + std::to_string(kMaxCameraFps);
        if (camera) camera->fps.store(fps);
        return "";
    }
    if (words[1] == "frames" && (words[2] == "on" || words[2] == "off")) {
        if (camera) camera->framesOn.store(words[2] == "on");
        return "";
    }
    if (words[1] == "init" && (words[2] == "accept" || words[2] == "refuse")) {
        if (camera) camera->initAccepted.store(words[2] == "accept");
        return "";
    }
    return usage;
}

std::string parseCommand(const std::vector<std::string>& words, CameraSettings* camera,
                         int& overlay, OverlaySetup& setup) {
    if (words.empty()) return "expected a device command (overlay1, overlay2, camera)";
    if (words[0] == "overlay1" || words[0] == "overlay2")
        return parseOverlayCommand(words, overlay, setup);
    if (words[0] == "camera") return parseCameraCommand(words, camera);
    return "unknown device command '" + words[0] + "' (overlay1, overlay2, camera)";
}

// "full-card BYTES": files opened for writing from now on may take BYTES more bytes in all,
// then their writes fail as on a full card; "full-card off": no limit.
constexpr const char* kFullCardCommand = "full-card";
std::string parseFullCardCommand(const std::vector<std::string>& words, int64_t& budget) {
    const std::string usage = "expected 'full-card BYTES' or 'full-card off'";
    if (words.size() != 2) return usage;
    if (words[1] == "off") {
        budget = -1;
        return "";
    }
    if (words[1].empty() || words[1].size() > 12 ||
        words[1].find_first_not_of("0123456789") != std::string::npos)
        return usage;
    budget = std::stoll(words[1]);
    return "";
}

}  // namespace

SimulatedComponents::SimulatedComponents(SimulatedHandheld& device) : owner_(&device) {}

void SimulatedComponents::record(std::string entry) {
    std::lock_guard lock(ownerMutex_);
    if (owner_) owner_->record(std::move(entry));
}

void SimulatedComponents::detach() {
    std::lock_guard lock(ownerMutex_);
    owner_ = nullptr;
}

std::string hexBytes(const void* data, size_t size) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(byte, sizeof byte, i ? " %02x" : "%02x", static_cast<const uint8_t*>(data)[i]);
        text += byte;
    }
    return text;
}

std::unique_ptr<StreamDriver> openSimulatedDriver(SimulatedHandheld& device,
                                                  const std::u16string& name, DWORD access,
                                                  DWORD share) {
    const std::shared_ptr<SimulatedComponents>& components = device.components();
    if (!components) return nullptr;
    if (name == u"LCM1:" && device.profile().installs("LCM1:"))
        return openLcm1Driver(components, access, share);
    if (name == u"DSC1:" && device.profile().installs("DSC1:"))
        return openDsc1Driver(components, access, share);
    return nullptr;
}

BOOL simulatedKernelIoControl(SimulatedHandheld& device, DWORD code, const void*, DWORD, void*,
                              DWORD, DWORD*) {
    char text[32];
    snprintf(text, sizeof text, "HAL 0x%08X", code);
    device.record(text);
    const std::shared_ptr<SimulatedComponents>& components = device.components();
    if (!components || (code != kHalCameraPowerOn && code != kHalCameraPowerOff)) return FALSE;
    std::lock_guard lock(components->mutex);
    components->cameraPowered = code == kHalCameraPowerOn;
    return TRUE;
}

std::unique_ptr<WaveSource> openSimulatedMicrophone(SimulatedHandheld& device) {
    const std::shared_ptr<SimulatedComponents>& components = device.components();
    if (components && components->hostMicrophone)
        return openHostWaveSource(components->hostMicrophone);
    // The cameras render the scene's marker at hardwareTickMs; the microphone beeps by the same
    // clock, so sound and picture agree.
    return std::make_unique<SimulatedMicrophone>(hardwareTickMs);
}

bool startSimulatedHardware(SimulatedHandheld& device, std::string& error) {
    auto components = std::make_shared<SimulatedComponents>(device);
    const DeviceProfile& profile = device.profile();
    // The camera's and the microphone's paced inputs count their timestamps from one instant.
    const auto origin = std::chrono::steady_clock::now();
    if (profile.cameraInput != kSceneCameraInput &&
        !(components->hostCamera = HostCamera::open(profile.cameraInput, origin, error))) {
        error = "camera " + error;
        return false;
    }
    if (profile.waveInput && profile.microphoneInput != kToneMicrophoneInput &&
        !(components->hostMicrophone =
              HostMicrophone::open(profile.microphoneInput, origin, error))) {
        error = "microphone " + error;
        return false;
    }
    installHostCamera(components->hostCamera);
    components->camera.fps.store(profile.cameraFps);
    components->camera.brightnessMax.store(profile.cameraBrightnessMax);
    components->camera.swapsHalves.store(profile.cameraSwapsHalves);
    components->lcd = std::make_unique<LcdController>(device, hasPxa27xLcd(profile));
    writeCameraLibraryConfig(device, components->camera);
    device.components() = std::move(components);
    return true;
}

void stopSimulatedHardware(SimulatedHandheld& device) {
    if (std::shared_ptr<SimulatedComponents> components = std::move(device.components())) {
        components->lcd.reset();
        if (components->hostCamera) installHostCamera(nullptr);
        components->hostCamera.reset();
        components->hostMicrophone.reset();
        components->detach();
    }
}

std::string simulatedCommand(SimulatedHandheld& device, const std::vector<std::string>& words) {
    if (!words.empty() && words[0] == kFullCardCommand) {
        int64_t budget = 0;
        std::string error = parseFullCardCommand(words, budget);
        if (!error.empty()) return error;
        device.faults.writeBudget.store(budget);
        device.record("device " + words[0] + " " + words[1]);
        return "";
    }
    const std::shared_ptr<SimulatedComponents>& components = device.components();
    if (!components) return "the device is not mounted";
    int overlay = 0;
    OverlaySetup setup;
    std::string error = parseCommand(words, &components->camera, overlay, setup);
    if (!error.empty()) return error;
    if (overlay) return components->lcd->setOverlay(overlay, setup);
    writeCameraLibraryConfig(device, components->camera);
    device.record("device " + words[0] + " " + words[1] + " " + words[2]);
    return "";
}

std::string checkSimulatedCommand(const std::vector<std::string>& words) {
    if (!words.empty() && words[0] == kFullCardCommand) {
        int64_t budget = 0;
        return parseFullCardCommand(words, budget);
    }
    int overlay = 0;
    OverlaySetup setup;
    return parseCommand(words, nullptr, overlay, setup);
}
