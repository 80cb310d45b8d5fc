#include "sim/device_profile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/host/host_input.h"

bool DeviceProfile::installs(const std::string& component) const {
    for (const std::string& c : install)
        if (c == component || c.rfind(component + "/", 0) == 0) return true;
    return false;
}

namespace {

// Smartphones: soft keys F1 and F2 as A and B, the action key is Enter.
DeviceProfile smartphone(DeviceProfile p) {
    p.platform = "SmartPhone";
    p.displayWidth = 176;
    p.displayHeight = 220;
    const uint16_t normal[8] = {38, 40, 37, 39, 112, 113, 0, 13};
    const uint16_t landscape[8] = {37, 39, 40, 38, 112, 113, 0, 13};
    std::copy(normal, normal + 8, p.normalKeys);
    std::copy(landscape, landscape + 8, p.landscapeKeys);
    return p;
}

// A device whose OEM camera library sends the halves of every word exchanged.
DeviceProfile swapsHalves(DeviceProfile p) {
    p.cameraSwapsHalves = true;
    return p;
}

DeviceProfile make(const char* name, const char* description, const char* model, const char* core,
                   const char* processor, std::vector<std::string> install) {
    DeviceProfile p;
    p.name = name;
    p.description = description;
    p.model = model;
    p.processorCore = core;
    p.processorName = processor;
    p.install = std::move(install);
    p.cards = {"Storage Card"};
    return p;
}

std::vector<DeviceProfile> makeBuiltins() {
    std::vector<DeviceProfile> all;
    // Fast devices (PXA27x): the built-in encoder and the fast preview.
    all.push_back(make("ph10c", "camera type 1: OEM camera library, PXA270, Pocket PC 240x320",
                       "HTC PH10C", "ARM920T", "PXA270", {"HTCcamera.dll"}));
    all.push_back(make("pm10a", "camera type 0: LCM1 driver, PXA270, Pocket PC 240x320", "pm10a",
                       "ARM920T", "PXA270", {"LCM1:", "HTCcamera.dll"}));
    {
        DeviceProfile p = make("pu10", "camera type 3: OEM camera library, PXA272, Pocket PC VGA",
                               "HTC PU10", "ARM920T", "PXA272", {"HTCcamera.dll"});
        p.displayWidth = 480;
        p.displayHeight = 640;
        all.push_back(p);
    }
    all.push_back(
        swapsHalves(make("pm300", "camera type 4: library as HTCcamera1.dll, PXA272 by query",
                         "PM300", "XSCALE", "PXA272", {"HTCcamera1.dll"})));
    all.push_back(make("pa10a", "camera type 6: OEM camera library, PXA270", "HTC PA10A", "ARM920T",
                       "PXA270", {"HTCcamera.dll"}));
    {
        DeviceProfile p = make("loox720", "camera type 11: OEM camera library, PXA272, VGA",
                               "FSC LOOX 720", "XSCALE", "PXA272", {"HTCcamera.dll"});
        p.displayWidth = 480;
        p.displayHeight = 640;
        all.push_back(p);
    }
    all.push_back(make("nocamera", "camera type 14: no camera (colour bars), PXA270", "ACME PDA",
                       "ARM920T", "PXA270", {}));
    // Other processors: an external encoder library makes the JPEG pictures.
    all.push_back(
        swapsHalves(make("wiza100", "camera type 5: OEM camera library, OMAP850", "WIZA100",
                         "ARM926EJ-S", "OMAP850", {"HTCcamera.dll", "JPEGENC.dll"})));
    all.push_back(swapsHalves(make("pm200", "camera type 2: OEM camera library, OMAP850", "PM200",
                                   "ARM926EJ-S", "OMAP850", {"HTCcamera.dll", "JPEGENC.dll"})));
    all.push_back(
        swapsHalves(make("hermes", "camera type 10: OEM camera library, Samsung SC32442",
                         "HTC HERMES", "ARM920T", "SC32442", {"HTCcamera.dll", "JPEGENC.dll"})));
    all.push_back(make("camphone", "camera type 12: unknown model with a camera library, PXA255",
                       "ACME CAMPHONE", "ARM920T", "PXA255", {"HTCcamera.dll", "JPEGENC.dll"}));
    {
        DeviceProfile p =
            smartphone(make("mpx220", "camera type 13: DSC1 driver, Smartphone 176x220, OMAP730",
                            "MOTOROLA MPX220", "ARM926EJ-S", "OMAP730", {"DSC1:", "JPEGENC.dll"}));
        p.rawFrameBuffer = false;
        p.gxInfo = true;
        all.push_back(p);
    }
    all.push_back(swapsHalves(
        smartphone(make("spv-c500", "camera type 7: Smartphone 176x220, OMAP730", "SPV C500",
                        "ARM926EJ-S", "OMAP730", {"HTCcamera.dll", "JPEGENC.dll"}))));
    all.push_back(swapsHalves(
        smartphone(make("imate-sp4", "camera type 8: Smartphone 176x220, OMAP850", "I-MATE SP4",
                        "ARM926EJ-S", "OMAP850", {"HTCcamera.dll", "JPEGENC.dll"}))));
    {
        DeviceProfile p = swapsHalves(
            smartphone(make("qtek8310", "camera type 9: Smartphone 240x320, OMAP850", "QTEK 8310",
                            "ARM926EJ-S", "OMAP850", {"HTCcamera.dll", "JPEGENC.dll"})));
        p.displayWidth = 240;
        p.displayHeight = 320;
        all.push_back(p);
    }
    {
        // A person's own camera and microphone behind a PXA27x Pocket PC.
        DeviceProfile p = make("host", "this computer's camera and microphone, PXA270, Pocket PC",
                               "HTC PH10C", "ARM920T", "PXA270", {"HTCcamera.dll"});
        p.cameraInput = "v4l2:/dev/video0";
        p.microphoneInput = "alsa:default";
        all.push_back(p);
    }
    return all;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

bool parseBool(const std::string& v, bool& out) {
    if (v == "yes" || v == "true" || v == "on" || v == "1") return out = true, true;
    if (v == "no" || v == "false" || v == "off" || v == "0") return out = false, true;
    return false;
}

bool parseUnsigned(const std::string& v, uint64_t& out) {
    if (v.empty() || v.size() > 19 || v.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoull(v);
    return true;
}

bool parseSize(const std::string& v, int& w, int& h) {
    size_t x = v.find('x');
    uint64_t a, b;
    if (x == std::string::npos || !parseUnsigned(v.substr(0, x), a) ||
        !parseUnsigned(v.substr(x + 1), b) || a < 16 || b < 16 || a > 1024 || b > 1024 || a % 2)
        return false;
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return true;
}

bool parseKeys(const std::string& v, uint16_t keys[8]) {
    std::istringstream in(v);
    std::string word;
    int n = 0;
    uint16_t parsed[8];
    while (in >> word) {
        uint64_t code;
        if (n == 8 || !parseUnsigned(word, code) || code > 255) return false;
        parsed[n++] = static_cast<uint16_t>(code);
    }
    if (n != 8) return false;
    std::copy(parsed, parsed + 8, keys);
    return true;
}

std::vector<std::string> parseList(const std::string& v) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(v);
    while (std::getline(in, item, ',')) {
        item = trim(item);
        if (!item.empty()) out.push_back(item);
    }
    return out;
}

const char* const kComponents[] = {
    "HTCcamera.dll", "HTCcamera1.dll", "LCM1:", "DSC1:", "JPEGENC.dll", "scr_cap.dll"};

bool knownComponent(const std::string& c) {
    std::string base = c.substr(0, c.find('/'));
    return std::find(std::begin(kComponents), std::end(kComponents), base) != std::end(kComponents);
}

}  // namespace

const std::vector<DeviceProfile>& builtinProfiles() {
    static const std::vector<DeviceProfile> all = makeBuiltins();
    return all;
}

const DeviceProfile* findBuiltinProfile(const std::string& name) {
    for (const DeviceProfile& p : builtinProfiles())
        if (p.name == name) return &p;
    return nullptr;
}

const char* defaultProfileName() {
    return "ph10c";
}

bool parseProfile(const std::string& text, const std::string& origin, DeviceProfile& profile,
                  std::string& error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& what) {
        error = origin + ":" + std::to_string(number) + ": " + what;
        return false;
    };
    while (std::getline(lines, line)) {
        ++number;
        std::string content = trim(line.substr(0, line.find('#')));
        if (content.empty()) continue;
        size_t eq = content.find('=');
        if (eq == std::string::npos) return fail("expected 'key = value', got '" + content + "'");
        std::string key = trim(content.substr(0, eq));
        std::string value = trim(content.substr(eq + 1));
        uint64_t n;
        bool flag;
        if (key == "based-on") {
            const DeviceProfile* base = findBuiltinProfile(value);
            if (!base) return fail("no built-in profile '" + value + "'");
            std::string name = profile.name;
            profile = *base;
            if (!name.empty()) profile.name = name;
        } else if (key == "name") {
            profile.name = value;
        } else if (key == "description") {
            profile.description = value;
        } else if (key == "model") {
            profile.model = value;
        } else if (key == "platform") {
            if (value != "PocketPC" && value != "SmartPhone" && value != "none")
                return fail("platform must be PocketPC, SmartPhone or none");
            profile.platform = value == "none" ? "" : value;
        } else if (key == "processor-core") {
            profile.processorCore = value;
        } else if (key == "processor-name") {
            profile.processorName = value;
        } else if (key == "processor-query") {
            if (!parseBool(value, profile.processorQuery)) return fail("expected yes or no");
        } else if (key == "display") {
            if (!parseSize(value, profile.displayWidth, profile.displayHeight))
                return fail("display must be WIDTHxHEIGHT, 16 to 1024, even width");
        } else if (key == "raw-framebuffer") {
            if (!parseBool(value, profile.rawFrameBuffer)) return fail("expected yes or no");
        } else if (key == "gxinfo") {
            if (!parseBool(value, profile.gxInfo)) return fail("expected yes or no");
        } else if (key == "task-bar") {
            if (!parseUnsigned(value, n) || n > 100) return fail("task-bar must be 0 to 100");
            profile.taskBarHeight = static_cast<int>(n);
        } else if (key == "keys-normal" || key == "keys-landscape") {
            if (!parseKeys(value,
                           key == "keys-normal" ? profile.normalKeys : profile.landscapeKeys))
                return fail("expected eight key codes 0 to 255: Up Down Left Right A B C Start");
        } else if (key == "install") {
            profile.install = parseList(value);
            for (const std::string& c : profile.install)
                if (!knownComponent(c)) return fail("unknown component '" + c + "'");
        } else if (key == "cards") {
            profile.cards = parseList(value);
            for (const std::string& c : profile.cards)
                if (c.find_first_of("\\/:*?\"<>|") != std::string::npos || c == "." || c == "..")
                    return fail("card name '" + c + "' is not a folder name");
        } else if (key == "camera-fps") {
            if (!parseUnsigned(value, n) || n < 1 || n > 60)
                return fail("camera-fps must be 1 to 60");
            profile.cameraFps = static_cast<uint32_t>(n);
        } else if (key == "camera-brightness-max") {
            if (!parseUnsigned(value, n) || n > 255)
                return fail("camera-brightness-max must be 0 to 255");
            profile.cameraBrightnessMax = static_cast<uint32_t>(n);
        } else if (key == "camera-pixel-order") {
            if (value != "normal" && value != "reversed")
                return fail("expected normal or reversed");
            profile.cameraSwapsHalves = value == "reversed";
        } else if (key == "wave-input") {
            if (!parseBool(value, flag)) return fail("expected yes or no");
            profile.waveInput = flag;
        } else if (key == "camera-input" || key == "microphone-input") {
            const bool camera = key == "camera-input";
            const std::string wrong =
                checkHostInputSpec(value, camera ? kSceneCameraInput : kToneMicrophoneInput);
            if (!wrong.empty())
                return fail(key + ": " + wrong + (camera ? " or 'scene'" : " or 'tone'"));
            (camera ? profile.cameraInput : profile.microphoneInput) = value;
        } else if (key == "backlight") {
            if (value == "none") {
                profile.backlight.reset();
            } else {
                std::istringstream in(value);
                std::string a, b, extra;
                uint64_t battery, ac;
                if (!(in >> a >> b) || (in >> extra) || !parseUnsigned(a, battery) ||
                    !parseUnsigned(b, ac) || battery > UINT32_MAX || ac > UINT32_MAX)
                    return fail("backlight must be 'none' or two time-outs in seconds");
                profile.backlight =
                    std::make_pair(static_cast<uint32_t>(battery), static_cast<uint32_t>(ac));
            }
        } else if (key == "free-space") {
            if (value == "host")
                profile.freeSpace.reset();
            else if (!parseUnsigned(value, n))
                return fail("free-space must be bytes or 'host'");
            else
                profile.freeSpace = n;
        } else if (key == "ppp-peer") {
            // HOST or HOST:PORT; with a port, the link forwards the device's connections to the
            // peer to that port of the desktop.
            const size_t colon = value.rfind(':');
            const std::string host = value.substr(0, colon);
            if (host.empty()) return fail("ppp-peer needs an address or host name");
            if (colon != std::string::npos &&
                (!parseUnsigned(value.substr(colon + 1), n) || n < 1 || n > 65535))
                return fail("ppp-peer must be HOST or HOST:PORT with a port from 1 to 65535");
            profile.pppPeer = value;
        } else if (key == "clock") {
            int y, mo, d, h, mi, s;
            char extra;
            if (sscanf(value.c_str(), "%d-%d-%d %d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &extra) !=
                    6 ||
                y < 1980 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
                s > 59 || h < 0 || mi < 0 || s < 0)
                return fail("clock must be 'YYYY-MM-DD HH:MM:SS'");
            profile.clock = value;
        } else {
            return fail("unknown key '" + key + "'");
        }
    }
    if (profile.name.empty()) profile.name = origin;
    return true;
}

bool loadProfileFile(const std::string& path, DeviceProfile& profile, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": a folder, not a profile file";
        return false;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot read the profile file: " + strerror(errno ? errno : EIO);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().size() > 65536) {
        error = path + ": profile file too large";
        return false;
    }
    return parseProfile(text.str(), path, profile, error);
}
