#include "sim/handheld.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "sim/components.h"
#include "sim/scene/scene_generator.h"

namespace fs = std::filesystem;

namespace {

// The physical memory file covers the whole 32-bit physical space; only the mapped ranges ever
// take host memory.
constexpr uint64_t kPhysicalSpace = 1ull << 32;
constexpr int kHomeScreenPeriodMs = 100;

// Where the device libraries are, relative to the prefix an installed program is in, and the
// folder name the build gives them (LUMO_DEVICE_LIBDIR in the CMake files).
constexpr const char* kInstalledLibraryFolder = "lib/lumovatrix";
constexpr const char* kBuildLibraryFolder = "devicelibs";

// A profile text (UTF-8) as the device's UTF-16; a byte that starts no valid sequence becomes
// U+FFFD.
std::u16string widen(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
        const unsigned char c = byte(i);
        const size_t length = c < 0x80         ? 1
                              : (c >> 5) == 6  ? 2
                              : (c >> 4) == 14 ? 3
                              : (c >> 3) == 30 ? 4
                                               : 0;
        char32_t code = length == 1   ? c
                        : length == 2 ? c & 0x1F
                        : length == 3 ? c & 0x0F
                                      : c & 0x07;
        bool valid = length != 0 && i + length <= s.size();
        for (size_t k = 1; valid && k < length; ++k) {
            valid = (byte(i + k) & 0xC0) == 0x80;
            code = code << 6 | (byte(i + k) & 0x3F);
        }
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        valid =
            valid && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            out.push_back(u'\uFFFD');
            i += 1;
            continue;
        }
        if (code >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(code));
        }
        i += length;
    }
    return out;
}

// The libraries a profile may install, where they go on the device, and the build file that
// stands in for them.
struct LibraryComponent {
    const char* name;
    const char* folder;  // device folder under the root
    const char* build;   // file in the device library folder
};
const LibraryComponent kLibraries[] = {
    {"HTCcamera.dll", "Windows", "HTCcamera.dll"},
    {"HTCcamera1.dll", "Windows", "HTCcamera.dll"},
    {"JPEGENC.dll", "Windows", "JPEGENC.dll"},
    {"scr_cap.dll", "Program Files/Lumovatrix", "scr_cap.dll"},
};

constexpr uint16_t rgb565(int r, int g, int b) {
    return static_cast<uint16_t>(((r & 0xF8) << 8) | ((g & 0xFC) << 3) | (b >> 3));
}

// The home screen at `tick` (ms) into `screen`, w x h RGB565.
void composeHomeScreen(uint16_t* screen, int w, int h, uint32_t tick) {
    for (int y = 0; y < h; ++y) {
        int shade = 40 + 80 * y / h;
        uint16_t row = rgb565(shade / 3, shade / 2, shade + 60);
        for (int x = 0; x < w; ++x) screen[y * w + x] = row;
    }
    int bar = h / 12;
    for (int y = 0; y < bar; ++y)
        for (int x = 0; x < w; ++x) screen[y * w + x] = rgb565(16, 16, 24);
    // Icons: a 3 x 4 grid of coloured tiles.
    const uint16_t colours[] = {rgb565(230, 80, 60),  rgb565(80, 200, 90),  rgb565(250, 200, 40),
                                rgb565(70, 140, 240), rgb565(200, 90, 220), rgb565(240, 240, 240)};
    int tile = w / 5;
    for (int gy = 0; gy < 4; ++gy)
        for (int gx = 0; gx < 3; ++gx) {
            int x0 = tile / 2 + gx * (tile + tile / 2),
                y0 = bar + tile / 2 + gy * (tile + tile / 3);
            uint16_t c = colours[(gy * 3 + gx) % 6];
            for (int y = y0; y < y0 + tile && y < h; ++y)
                for (int x = x0; x < x0 + tile && x < w; ++x) screen[y * w + x] = c;
        }
    // A clock hand sweeping once a minute along the bottom, and the seconds as a moving block.
    int seconds = static_cast<int>((tick / 1000) % 60);
    int pos = (w - 12) * static_cast<int>(tick % 60000) / 60000;
    for (int y = h - 14; y < h - 4; ++y)
        for (int x = 0; x < w; ++x)
            screen[y * w + x] =
                x >= pos && x < pos + 12 ? rgb565(255, 255, 255) : rgb565(30, 30, 50);
    for (int y = 4; y < bar - 4; ++y)
        for (int x = w - 8 - seconds * (w / 2) / 60; x < w - 4; ++x)
            screen[y * w + x] = rgb565(90, 220, 255);
}

// The home screen is another program drawing into the display memory; the display hardware and
// the program's screen capture read it at the same time, as on the device. It composes each
// picture aside and writes only the pixels that change, so a reader never sees a pixel pass
// through the background on its way to what it already was.
__attribute__((no_sanitize("thread"))) void drawHomeScreen(uint16_t* screen, int w, int h,
                                                           uint32_t tick) {
    std::vector<uint16_t> picture(static_cast<size_t>(w) * h);
    composeHomeScreen(picture.data(), w, h, tick);
    for (size_t i = 0; i < picture.size(); ++i)
        if (screen[i] != picture[i]) screen[i] = picture[i];
}

}  // namespace

std::string deviceLibraryFolder() {
    const char* env = std::getenv("LUMO_DEVICE_LIBDIR");
    if (env && *env) return env;
    // Found once from the running program's own file, so an installed copy works wherever its
    // prefix is: bin/../lib/lumovatrix. In the build tree the folder sits at the build folder's
    // top, some levels above the program (src/) or a test (tests/sim/).
    static const std::string found = [] {
        std::error_code ec;
        const fs::path program = fs::read_symlink("/proc/self/exe", ec);
        if (ec) return std::string();
        const fs::path installed = program.parent_path().parent_path() / kInstalledLibraryFolder;
        if (fs::is_directory(installed, ec)) return installed.string();
        for (fs::path dir = program.parent_path(); dir.has_relative_path(); dir = dir.parent_path())
            if (fs::is_directory(dir / kBuildLibraryFolder, ec))
                return (dir / kBuildLibraryFolder).string();
        return std::string();
    }();
    return found;
}

SimulatedHandheld::SimulatedHandheld(DeviceProfile profile, std::string root)
    : profile_(std::move(profile)), root_(std::move(root)) {
    identity_.oemInfo = widen(profile_.model);
    identity_.platformType = widen(profile_.platform);
    identity_.processorQuery = profile_.processorQuery;
    identity_.processorCore = widen(profile_.processorCore);
    identity_.processorName = widen(profile_.processorName);
    identity_.displayWidth = profile_.displayWidth;
    identity_.displayHeight = profile_.displayHeight;
    identity_.rawFrameBufferEscape = profile_.rawFrameBuffer;
    identity_.gxInfoEscape = profile_.gxInfo;
    identity_.taskBarHeight = profile_.taskBarHeight;
    std::copy(profile_.normalKeys, profile_.normalKeys + 8, identity_.normalKeys);
    std::copy(profile_.landscapeKeys, profile_.landscapeKeys + 8, identity_.landscapeKeys);
}

SimulatedHandheld::~SimulatedHandheld() {
    stopHomeScreen();
    if (memoryFd_ >= 0) stopSimulatedHardware(*this);
    for (auto& [address, size] : mappings_) munmap(address, size);
    if (display_) munmap(display_, displayBytes_);
    if (memoryFd_ >= 0) close(memoryFd_);
}

bool SimulatedHandheld::mount(std::string& error) {
    std::error_code ec;
    fs::create_directories(root_, ec);
    if (ec) {
        error = root_ + ": cannot create the device root: " + ec.message();
        return false;
    }
    root_ = fs::canonical(root_, ec).string();
    for (const char* folder : {"Program Files/Lumovatrix", "Windows", "My Documents"})
        fs::create_directories(root_ + "/" + folder, ec);
    for (const std::string& card : profile_.cards) fs::create_directories(root_ + "/" + card, ec);
    installLibraries(error);
    if (!error.empty()) return false;

    memoryFd_ = memfd_create("lumovatrix-physical", MFD_CLOEXEC);
    if (memoryFd_ < 0 || ftruncate(memoryFd_, static_cast<off_t>(kPhysicalSpace)) != 0) {
        error = "cannot create the device's physical memory";
        return false;
    }
    displayBytes_ = static_cast<size_t>(profile_.displayWidth) * profile_.displayHeight * 2;
    display_ = physical(kDisplayPhysical, displayBytes_);
    if (!display_) {
        error = "cannot map the device's display memory";
        return false;
    }
    drawHomeScreen(reinterpret_cast<uint16_t*>(display_), profile_.displayWidth,
                   profile_.displayHeight, 0);
    return startSimulatedHardware(*this, error);
}

void SimulatedHandheld::installLibraries(std::string& error) {
    std::string libraries = deviceLibraryFolder();
    for (const LibraryComponent& lib : kLibraries) {
        fs::path target = fs::path(root_) / lib.folder / lib.name;
        std::error_code ec;
        fs::remove(target, ec);  // a library the profile does not install must not linger
        auto chosen = std::find_if(
            profile_.install.begin(), profile_.install.end(), [&](const std::string& c) {
                return c == lib.name || c.rfind(std::string(lib.name) + "/", 0) == 0;
            });
        if (chosen == profile_.install.end()) continue;
        std::string build = lib.build;
        size_t slash = chosen->find('/');
        if (slash != std::string::npos) {
            // "HTCcamera.dll/noflash" installs the build file "HTCcamera-noflash.dll".
            build = build.substr(0, build.rfind('.')) + "-" + chosen->substr(slash + 1) + ".dll";
        }
        fs::path source = fs::path(libraries) / build;
        if (!fs::exists(source)) {
            fprintf(stderr,
                    "lumovatrix: device library %s is not built (looked in %s); "
                    "the device has no %s\n",
                    build.c_str(), libraries.c_str(), lib.name);
            continue;
        }
        fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            error = target.string() + ": cannot install: " + ec.message();
            return;
        }
    }
}

uint8_t* SimulatedHandheld::physical(uint64_t address, uint64_t size) {
    if (!physicalRangeValid(address, size) || memoryFd_ < 0) return nullptr;
    long page = sysconf(_SC_PAGESIZE);
    uint64_t below = address % static_cast<uint64_t>(page);
    size_t length = static_cast<size_t>(size + below);
    void* mapped = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, memoryFd_,
                        static_cast<off_t>(address - below));
    if (mapped == MAP_FAILED) return nullptr;
    std::lock_guard lock(mappingsMutex_);
    mappings_.emplace_back(static_cast<uint8_t*>(mapped), length);
    return static_cast<uint8_t*>(mapped) + below;
}

bool SimulatedHandheld::physicalRangeValid(uint64_t address, uint64_t size) const {
    auto within = [&](uint64_t base, uint64_t bytes) {
        return address >= base && size <= bytes && address - base <= bytes - size;
    };
    return size > 0 &&
           (within(kLcdRegistersPhysical, kLcdRegistersBytes) || within(kRamPhysical, kRamBytes));
}

std::unique_ptr<StreamDriver> SimulatedHandheld::openStreamDriver(const std::u16string& name,
                                                                  DWORD access, DWORD share) {
    return openSimulatedDriver(*this, name, access, share);
}

BOOL SimulatedHandheld::kernelIoControl(DWORD code, const void* input, DWORD inputSize,
                                        void* output, DWORD outputSize, DWORD* returned) {
    return simulatedKernelIoControl(*this, code, input, inputSize, output, outputSize, returned);
}

std::unique_ptr<WaveSource> SimulatedHandheld::openWaveInput() {
    return profile_.waveInput ? openSimulatedMicrophone(*this) : nullptr;
}

std::vector<std::u16string> SimulatedHandheld::storageCards() const {
    std::vector<std::u16string> out;
    for (const std::string& card : profile_.cards) out.push_back(widen(card));
    return out;
}

std::optional<SYSTEMTIME> SimulatedHandheld::localTime() const {
    if (!profile_.clock) return std::nullopt;
    int y, mo, d, h, mi, s;
    if (sscanf(profile_.clock->c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
        return std::nullopt;
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    return t;
}

std::vector<RegistrySeed> SimulatedHandheld::registrySeeds() const {
    std::vector<RegistrySeed> seeds;
    if (profile_.backlight) {
        auto dword = [](uint32_t v) {
            return std::vector<BYTE>{static_cast<BYTE>(v), static_cast<BYTE>(v >> 8),
                                     static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
        };
        seeds.push_back({true, u"ControlPanel\\Backlight", u"BatteryTimeout", 4,
                         dword(profile_.backlight->first)});
        seeds.push_back(
            {true, u"ControlPanel\\Backlight", u"ACTimeout", 4, dword(profile_.backlight->second)});
    }
    return seeds;
}

void SimulatedHandheld::foregroundChanged(bool programInFront) {
    if (programInFront) {
        stopHomeScreen();
        return;
    }
    std::lock_guard lock(homeScreenMutex_);
    if (homeScreenRunning_.exchange(true)) return;
    homeScreen_ = std::thread([this] { homeScreenLoop(); });
}

void SimulatedHandheld::stopHomeScreen() {
    std::lock_guard lock(homeScreenMutex_);
    homeScreenRunning_.store(false);
    if (homeScreen_.joinable()) homeScreen_.join();
}

void SimulatedHandheld::homeScreenLoop() {
    auto start = std::chrono::steady_clock::now();
    while (homeScreenRunning_.load()) {
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
        // The still scene stops the home screen's clock too, so a capture of the home screen
        // does not depend on when it was taken.
        drawHomeScreen(reinterpret_cast<uint16_t*>(display_), profile_.displayWidth,
                       profile_.displayHeight, sceneStill() ? 0 : static_cast<uint32_t>(ms));
        std::this_thread::sleep_for(std::chrono::milliseconds(kHomeScreenPeriodMs));
    }
}

bool SimulatedHandheld::openOnDesktop(const std::string& hostPath) {
    record("open on desktop " + hostPath);
    // The device's own album shows its pictures and movies; any other file (Config.txt) needs a
    // program of this desktop, which only --allow-desktop-open lends the device.
    std::string extension = fs::path(hostPath).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
    const bool album = extension == ".jpg" || extension == ".bmp" || extension == ".avi";
    if (!desktopOpen_ || !std::getenv("DISPLAY")) return album;
    pid_t child = fork();
    if (child == 0) {
        execlp("xdg-open", "xdg-open", hostPath.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child > 0 || album;
}

void SimulatedHandheld::record(std::string entry) {
    std::lock_guard lock(recordsMutex_);
    records_.push_back(std::move(entry));
}

std::vector<std::string> SimulatedHandheld::records() {
    std::lock_guard lock(recordsMutex_);
    return records_;
}

std::string SimulatedHandheld::command(const std::vector<std::string>& words) {
    return simulatedCommand(*this, words);
}

std::string SimulatedHandheld::checkCommand(const std::vector<std::string>& words) {
    return checkSimulatedCommand(words);
}
