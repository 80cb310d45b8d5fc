// The Linux entry: reads the Linux options, brings up the simulated handheld the program runs
// on, starts the front-end, and calls the program's own entry with the device command line.
#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/keys.h"
#include "app/program_resources.h"
#include "app/startup.h"
#include "core/app_state.h"
#include "frontend/headless.h"
#ifdef LUMO_WINDOW_FRONTEND
#include "frontend/window_frontend.h"
#endif
#include "platform/hooks.h"
#include "preview/osd_text.h"
#include "sim/device_profile.h"
#include "sim/handheld.h"
#include "sim/host/host_input.h"

namespace {

constexpr int kExitBadUsage = 2;
constexpr int kExitScriptFailed = 1;

const char* const kUsage =
    "Usage: lumovatrix [options] [-- DEVICE-COMMAND-LINE]\n"
    "\n"
    "Runs Lumovatrix, the full-screen camera program, on a simulated handheld. The device's\n"
    "files (photos, movies, Config.txt, the registry) live in a folder of this machine.\n"
    "\n"
    "Options:\n"
    "  --profile NAME|FILE  the device: a built-in profile (see --list-profiles) or a profile\n"
    "                       file (default: ph10c)\n"
    "  --root DIR           the device's file system on this machine (default: "
    "./lumovatrix-device)\n"
    "  --script FILE        drive the program with a device script (headless; see below);\n"
    "                       without one the program runs until it is closed (Ctrl-C)\n"
    "  --shots DIR          where script screenshots go (default: ./lumovatrix-shots)\n"
    "  --window [ZOOM]      show the device's screen in a desktop window, enlarged ZOOM times\n"
    "                       (1 to 8, default 2), and use the desktop's keys and mouse (below);\n"
    "                       a script may drive the program at the same time\n"
    "  --allow-desktop-open let the program open files with this desktop's programs\n"
    "  --trace FILE         write the device's log of platform calls to FILE at the end\n"
    "  --camera SPEC        the sensor's pictures from this computer: an FFmpeg input\n"
    "                       FORMAT:INPUT (v4l2:/dev/video0, lavfi:testsrc2, file:PATH), or\n"
    "                       scene; overrides the profile's camera-input for this run\n"
    "  --microphone SPEC    the device's sound from this computer: FORMAT:INPUT\n"
    "                       (alsa:default, pulse:default, lavfi:sine), or tone; overrides\n"
    "                       the profile's microphone-input for this run\n"
    "  --list-cameras       list this computer's video4linux2 cameras, their formats and\n"
    "                       sizes, and exit\n"
    "  --list-profiles      list the built-in device profiles and exit\n"
    "  --help               show this text and exit\n"
    "\n"
    "DEVICE-COMMAND-LINE is what the device passes the program: a first character \"1\"\n"
    "starts the screen-capture edition, Lumosnapper.\n"
    "\n"
    "Device scripts hold one command per line ('#' starts a comment):\n"
    "  wait MS | key NAME | tap X Y | background | foreground | screenshot FILE.png |\n"
    "  await background|foreground [MS] | await files EXT N [MS] | echo TEXT | quit |\n"
    "  device WORDS\n"
    "'await' waits until the program is in the background or the foreground, or until the\n"
    "device holds N files ending in EXT (.jpg .bmp .avi); the script fails after MS ms\n"
    "(default 30000).\n"
    "'device' changes the simulated hardware: overlay1|overlay2 FORMAT WxH at X Y (FORMAT\n"
    "rgb16 rgb18 rgb18p rgb19 rgb19p, for overlay2 also yuv444 yuv444p yuv422 yuv420),\n"
    "overlay1|overlay2 off, camera fps N, camera frames on|off, camera init accept|refuse,\n"
    "full-card BYTES|off (the card takes that many more bytes, then writes fail).\n"
    "Key names: Up Down Left Right A B C Start (as the program's keys follow the screen\n"
    "orientation), the named keys Green Red VolUp VolDown Prog1-Prog4 Star(*) Sharp(#) Back\n"
    "\"Digit 0\"-\"Digit 9\", or a key code. The run ends when the script does.\n"
    "\n"
    "Exit status: the program's own, 1 when a script command failed, 2 for bad options,\n"
    "profiles or scripts, or when the window cannot be opened.\n";

void printWindowHelp() {
#ifdef LUMO_WINDOW_FRONTEND
    printf("\nIn the window (--window):\n%s", windowKeyHelp());
#else
    printf("\nThis build has no desktop window (SDL2 was not found).\n");
#endif
}

struct Options {
    std::string profile = defaultProfileName();
    std::string root = "lumovatrix-device";
    std::string script;
    std::string shots = "lumovatrix-shots";
    bool desktopOpen = false;
    std::string trace;
    std::string commandLine;
    int windowZoom = 0;              // 0: no desktop window
    std::string camera, microphone;  // empty: the profile's
};

// `helpCovers`: --help explains what was wrong (options, script commands, key names), so the
// line points there.
int usageError(const std::string& message, bool helpCovers = true) {
    fprintf(stderr, "lumovatrix: %s%s\n", message.c_str(),
            helpCovers ? " (see lumovatrix --help)" : "");
    return kExitBadUsage;
}

const char* const kOptionNames[] = {"--profile",      "--root",          "--script",
                                    "--shots",        "--window",        "--allow-desktop-open",
                                    "--trace",        "--camera",        "--microphone",
                                    "--list-cameras", "--list-profiles", "--help"};

// Returns -1 to go on, or the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            printWindowHelp();
            return 0;
        } else if (arg == "--list-profiles") {
            for (const DeviceProfile& p : builtinProfiles())
                printf("%-10s %s%s\n", p.name.c_str(), p.description.c_str(),
                       p.name == defaultProfileName() ? " (default)" : "");
            return 0;
        } else if (arg == "--list-cameras") {
            const std::vector<std::string> cameras = listHostCameras();
            if (cameras.empty())
                puts("No cameras found (no video4linux2 device on this computer).");
            for (const std::string& line : cameras) puts(line.c_str());
            return 0;
        } else if (arg == "--camera" || arg == "--microphone") {
            std::string v;
            if (!value(v) || v.empty()) return usageError(arg + " needs a value");
            const std::string error =
                checkHostInputSpec(v, arg == "--camera" ? kSceneCameraInput : kToneMicrophoneInput);
            if (!error.empty()) return usageError(arg + ": " + error);
            (arg == "--camera" ? options.camera : options.microphone) = v;
        } else if (arg == "--profile" || arg == "--root" || arg == "--script" || arg == "--shots" ||
                   arg == "--trace") {
            std::string v;
            if (!value(v) || v.empty()) return usageError(arg + " needs a value");
            (arg == "--profile"  ? options.profile
             : arg == "--root"   ? options.root
             : arg == "--script" ? options.script
             : arg == "--trace"  ? options.trace
                                 : options.shots) = v;
        } else if (arg == "--window") {
#ifdef LUMO_WINDOW_FRONTEND
            options.windowZoom = kDefaultWindowZoom;
            if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
                std::string zoom = argv[++i];
                if (zoom.size() > 1 || zoom[0] < '1' || zoom[0] - '0' > kMaxWindowZoom)
                    return usageError("--window takes a zoom of 1 to " +
                                      std::to_string(kMaxWindowZoom));
                options.windowZoom = zoom[0] - '0';
            }
#else
            return usageError("this build has no desktop window (SDL2 was not found)");
#endif
        } else if (arg == "--allow-desktop-open") {
            options.desktopOpen = true;
        } else if (arg == "--") {
            for (int k = i + 1; k < argc; ++k)
                options.commandLine += (k > i + 1 ? " " : "") + std::string(argv[k]);
            break;
        } else {
            return usageError("unknown option '" + arg + "'" +
                              didYouMean(arg, {std::begin(kOptionNames), std::end(kOptionNames)}));
        }
    }
    return -1;
}

// Reads a whole text file; "" or why it cannot be read.
std::string readFile(const std::string& path, std::string& text) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return path + ": a folder, not a script";
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + ": cannot read: " + strerror(errno ? errno : EIO);
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return "";
}

// Ctrl-C and termination close the program the way the device would: its window is closed.
void watchSignals(const sigset_t& set) {
    std::thread([set] {
        int signal = 0;
        while (sigwait(&set, &signal) == 0) {
            if (HWND window = programWindow())
                PostMessageW(window, WM_CLOSE, 0, 0);
            else
                _exit(128 + signal);
        }
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    int status = parseOptions(argc, argv, options);
    if (status >= 0) return status;

    DeviceProfile profile;
    if (const DeviceProfile* builtin = findBuiltinProfile(options.profile)) {
        profile = *builtin;
    } else {
        std::string error;
        std::error_code ec;
        if (options.profile.find('/') == std::string::npos &&
            options.profile.find('.') == std::string::npos &&
            !std::filesystem::exists(options.profile, ec)) {
            std::vector<std::string> names;
            for (const DeviceProfile& p : builtinProfiles()) names.push_back(p.name);
            return usageError("no built-in profile '" + options.profile + "'" +
                                  didYouMean(options.profile, names) + "; see --list-profiles",
                              false);
        }
        if (!loadProfileFile(options.profile, profile, error)) return usageError(error, false);
    }

    if (!options.camera.empty()) profile.cameraInput = options.camera;
    if (!options.microphone.empty()) profile.microphoneInput = options.microphone;

    KeyMap keys;
    for (const ValueEntry& key : kNamedKeyTable)
        if (key.value) keys.named.emplace_back(key.label, key.value);
    keys.activeKey = [](int role) {
        const GXKeyList& k = gApp.activeKeys;
        const short codes[8] = {k.vkUp, k.vkDown, k.vkLeft, k.vkRight,
                                k.vkA,  k.vkB,    k.vkC,    k.vkStart};
        return static_cast<int>(static_cast<unsigned short>(codes[role]));
    };
    std::vector<ScriptCommand> commands;
    ScriptVerbs verbs = standardVerbs(keys);
    // "device WORDS...": the simulated hardware changes while the program runs.
    SimulatedHandheld* scriptDevice = nullptr;
    verbs["device"] = {1, 99, SimulatedHandheld::checkCommand,
                       [&scriptDevice](const std::vector<std::string>& words) {
                           return scriptDevice ? scriptDevice->command(words)
                                               : std::string("the device is not mounted");
                       }};
    if (!options.script.empty()) {
        std::string text, error;
        if (std::string problem = readFile(options.script, text); !problem.empty())
            return usageError(problem, false);
        if (!parseScript(text, options.script, verbs, commands, error)) return usageError(error);
    }

    SimulatedHandheld handheld(profile, options.root);
    handheld.allowDesktopOpen(options.desktopOpen);
    std::string error;
    if (!handheld.mount(error)) {
        fprintf(stderr, "lumovatrix: %s\n", error.c_str());
        return kExitBadUsage;
    }
    installDevice(&handheld);
    scriptDevice = &handheld;

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // every thread made from here on too
    watchSignals(signals);

#ifdef LUMO_WINDOW_FRONTEND
    std::unique_ptr<WindowFrontend> window;
    if (options.windowZoom) {
        bool snapper = !options.commandLine.empty() && options.commandLine[0] == '1';
        std::string title =
            windowTitle(std::string(snapper ? "Lumosnapper" : "Lumovatrix") + " on " +
                        (profile.name.empty() ? options.profile : profile.name));
        // The program's text runs up the display in "Landscape L" (orientation 0), down it in
        // "Landscape R" (2), upside down in "Portrait R" (3): the window turns the picture back.
        static constexpr int kUprightTurns[4] = {1, 0, 3, 2};
        window = std::make_unique<WindowFrontend>(
            keys, [] { return kUprightTurns[textOrientation() & 3]; });
        if (!window->open(options.windowZoom, title, error)) {
            fprintf(stderr, "lumovatrix: %s\n", error.c_str());
            installDevice(nullptr);
            return kExitBadUsage;
        }
    }
#endif

    std::unique_ptr<HeadlessFrontend> frontend;
    if (!options.script.empty()) {
        frontend = std::make_unique<HeadlessFrontend>(commands, verbs, keys, options.shots);
        frontend->start();
    }
    std::u16string commandLine = toUtf16(options.commandLine);
    HINSTANCE instance = createProgramModule(kProgramDevicePath, &kProgramResources);
    auto program = [&] {
        int exitCode = WinMain(instance, nullptr, commandLine.data(), SW_SHOW);
        destroyProgramWindow();  // the end of the program's process
        return exitCode;
    };
#ifdef LUMO_WINDOW_FRONTEND
    // The desktop window keeps the main thread (some desktops deliver its events nowhere else);
    // the program's window thread is then a thread of its own.
    int result = window ? window->run(program) : program();
#else
    int result = program();
#endif
    if (frontend) {
        frontend->stop();
        if (!frontend->succeeded(error)) {
            fprintf(stderr, "lumovatrix: %s: %s\n", options.script.c_str(), error.c_str());
            if (result == 0) result = kExitScriptFailed;
        }
        for (const std::string& shot : frontend->screenshots())
            printf("screenshot: %s\n", shot.c_str());
    }
    if (!options.trace.empty()) {
        std::ofstream out(options.trace);
        for (const std::string& entry : traceSnapshot()) out << entry << "\n";
        if (!out)
            fprintf(stderr, "lumovatrix: %s: cannot write the trace\n", options.trace.c_str());
    }
    installDevice(nullptr);
    return result;
}
