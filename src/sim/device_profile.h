// A simulated handheld's description: what the device answers to the program, which components
// are installed, and its storage. Built-in profiles cover every camera type; a profile can also
// come from a small text file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct DeviceProfile {
    std::string name;                   // short id, e.g. "ph10c"
    std::string description;            // one line for --list-profiles
    std::string model;                  // the OEM information string; empty: the query fails
    std::string platform = "PocketPC";  // "PocketPC" or "SmartPhone"; empty: the query fails
    bool processorQuery = true;
    std::string processorCore = "ARM920T";
    std::string processorName = "PXA270";
    int displayWidth = 240;
    int displayHeight = 320;
    bool rawFrameBuffer = true;  // the GETRAWFRAMEBUFFER escape answers
    bool gxInfo = false;         // the GETGXINFO escape answers
    int taskBarHeight = 26;
    uint16_t normalKeys[8] = {38, 40, 37, 39, 193, 194, 195, 13};  // Up Down Left Right A B C Start
    uint16_t landscapeKeys[8] = {37, 39, 40, 38, 193, 194, 195, 13};
    // Components: "HTCcamera.dll", "HTCcamera1.dll", "LCM1:", "DSC1:", "JPEGENC.dll",
    // "scr_cap.dll"; a library may name a variant build after a slash ("HTCcamera.dll/noflash").
    std::vector<std::string> install;
    std::vector<std::string> cards;  // storage card names, e.g. "Storage Card"
    // The cameras: frames per second, and the highest brightness the OEM camera library accepts
    // (255: the wide range; a device with the narrow range refuses anything above 8).
    uint32_t cameraFps = 15;
    uint32_t cameraBrightnessMax = 255;
    // The OEM camera library of some devices sends each 32-bit word of 4:2:2 with its two 16-bit
    // halves exchanged (Y1 V Y0 U for Y0 U Y1 V); the program's "Pixel Order" default of those
    // device types ("Reversed") undoes it.
    bool cameraSwapsHalves = false;
    bool waveInput = true;
    // Where the camera sensor and the microphone take their input: "scene" and "tone" are the
    // simulated ones; "FORMAT:INPUT" is a host device or virtual input through FFmpeg
    // ("v4l2:/dev/video0", "alsa:default", "lavfi:testsrc2"), "file:PATH" a video file, looped.
    std::string cameraInput = "scene";
    std::string microphoneInput = "tone";
    // The user's backlight time-outs in seconds (battery, AC); absent: no backlight key.
    std::optional<std::pair<uint32_t, uint32_t>> backlight = std::make_pair(60u, 300u);
    std::optional<uint64_t> freeSpace;  // bytes; absent: the host's free space
    // Where "ppp_peer" leads: "HOST", or "HOST:PORT" when the link forwards every connection the
    // device opens to the peer to that port of the desktop (a receiver on a free port).
    std::string pppPeer = "127.0.0.1";
    std::optional<std::string> clock;  // fixed local time "YYYY-MM-DD HH:MM:SS"

    bool installs(const std::string& component) const;
};

const std::vector<DeviceProfile>& builtinProfiles();
const DeviceProfile* findBuiltinProfile(const std::string& name);
const char* defaultProfileName();

// Reads a profile file. On an error, returns false with `error` naming the file and line.
bool loadProfileFile(const std::string& path, DeviceProfile& profile, std::string& error);
// Parses profile text; `origin` names it in errors.
bool parseProfile(const std::string& text, const std::string& origin, DeviceProfile& profile,
                  std::string& error);
