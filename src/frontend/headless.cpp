#include "frontend/headless.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "frontend/png.h"
#include "platform/hooks.h"
#include "platform/window.h"

namespace {
constexpr DWORD kWindowWaitMs = 20000;
// How often an `await` looks again, in ms.
constexpr uint32_t kAwaitPollMs = 20;
// The program draws its screen on the capture thread, a picture at a time, from the state the
// window thread leaves: what a handled key changed shows from the next picture on. The picture
// being drawn when the key was handled may still show the old state, and a change seen while a
// picture is being copied is that picture's start; so the third change of the display begins
// only once a picture begun after the key has been drawn whole.
constexpr int kRedraws = 3;
// A display unchanged this long shows a still picture (a page over a frozen photo, colour bars,
// the program not drawing): it is what the program shows, in ms. With the simulated handheld's
// still scene (LUMO_STILL_SCENE) the live picture never changes either, so only this rule
// tells when a key's change has been drawn: it gets the time a busy machine may take.
constexpr uint32_t kStillDisplayMs = 400;
constexpr uint32_t kStillSceneDisplayMs = 1500;
// How often the display is compared while waiting for it to be drawn anew, in ms.
constexpr uint32_t kRedrawLookMs = 2;
// How often a wait for the program to handle its input looks whether the script was stopped or
// the program ended, in ms.
constexpr uint32_t kSettleLookMs = 50;

// Files on the device whose names end in `extension`, outside the system's own folders (the
// Windows folder with its libraries, the private folder with the registry).
size_t deviceFileCount(const std::string& extension) {
    namespace fs = std::filesystem;
    const std::string root = hostPathOf(u"\\");
    size_t count = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it.depth() == 0 && it->is_directory(ec) && (name == "Windows" || name[0] == '.')) {
            it.disable_recursion_pending();
            continue;
        }
        if (name.size() > extension.size() && it->is_regular_file(ec) &&
            name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
            ++count;
    }
    return count;
}
}  // namespace

HeadlessFrontend::HeadlessFrontend(std::vector<ScriptCommand> commands, ScriptVerbs verbs,
                                   KeyMap keys, std::string shotFolder)
    : commands_(std::move(commands)),
      verbs_(std::move(verbs)),
      keys_(std::move(keys)),
      shotFolder_(std::move(shotFolder)) {}

HeadlessFrontend::~HeadlessFrontend() {
    stop();
}

void HeadlessFrontend::start() {
    thread_ = std::thread([this] { run(); });
}

void HeadlessFrontend::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool HeadlessFrontend::succeeded(std::string& error) {
    std::lock_guard lock(mutex_);
    error = error_;
    return error_.empty();
}

std::vector<std::string> HeadlessFrontend::screenshots() {
    std::lock_guard lock(mutex_);
    return shots_;
}

bool HeadlessFrontend::sleepFor(uint32_t milliseconds) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return stopping_; });
}

void HeadlessFrontend::run() {
    // Wait for the window in short steps, so that a program that ends before making one (a
    // second instance) stops the script at once.
    for (DWORD waited = 0; !waitForProgramWindow(50); waited += 50) {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (waited >= kWindowWaitMs) {
            error_ = "the program made no window";
            return;
        }
    }
    // The script starts once the program has started: its window exists before its start-up is
    // over, and the start-up's own foreground changes would undo the script's first commands.
    if (std::string late = settle(kAwaitDefaultMs); !late.empty()) {
        std::lock_guard lock(mutex_);
        error_ =
            "the program did not finish starting within " + std::to_string(kAwaitDefaultMs) + " ms";
        return;
    }
    for (const ScriptCommand& command : commands_) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        std::string problem = execute(command);
        if (!problem.empty()) {
            std::lock_guard lock(mutex_);
            error_ = "line " + std::to_string(command.line) + ": " + problem;
            break;
        }
    }
    // The run ends when the script does.
    if (HWND window = programWindow()) PostMessageW(window, WM_CLOSE, 0, 0);
}

std::string HeadlessFrontend::settle(unsigned long limitMs) {
    // Shared with the task, which may run after this front-end has given up on it.
    struct Handled {
        std::mutex mutex;
        std::condition_variable done;
        bool handled = false;
    };
    auto handled = std::make_shared<Handled>();
    runWhenQueueHandled([handled] {
        {
            std::lock_guard lock(handled->mutex);
            handled->handled = true;
        }
        handled->done.notify_all();
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    std::unique_lock lock(handled->mutex);
    while (!handled->done.wait_for(lock, std::chrono::milliseconds(kSettleLookMs),
                                   [&] { return handled->handled; })) {
        if (!programWindow()) return {};  // ended: nothing will be handled any more
        {
            std::lock_guard stopLock(mutex_);
            if (stopping_) return {};
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return "the program did not handle the keys, taps and foreground changes before "
                   "within " +
                   std::to_string(limitMs) + " ms";
    }
    return {};
}

bool HeadlessFrontend::awaitRedraw() {
    static const uint32_t stillDisplayMs = [] {
        const char* value = std::getenv("LUMO_STILL_SCENE");
        return value && *value && std::strcmp(value, "0") != 0 ? kStillSceneDisplayMs
                                                               : kStillDisplayMs;
    }();
    std::vector<uint16_t> seen = displayPixels();
    auto still = std::chrono::steady_clock::now();
    for (int changes = 0; changes < kRedraws && programInForeground();) {
        if (!sleepFor(kRedrawLookMs)) return false;
        std::vector<uint16_t> now = displayPixels();
        if (now != seen) {
            ++changes;
            seen = std::move(now);
            still = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - still >=
                   std::chrono::milliseconds(stillDisplayMs)) {
            break;
        }
    }
    return true;
}

std::string HeadlessFrontend::await(const std::vector<std::string>& args) {
    AwaitSpec spec;
    std::string what;
    if (!parseAwait(args, spec, what)) return what;
    const auto start = std::chrono::steady_clock::now();
    if (std::string late = settle(spec.limitMs); !late.empty()) return late;
    std::function<bool()> reached = [front = spec.foreground] {
        return programInForeground() == front;
    };
    what = spec.foreground ? "the program did not come to the foreground"
                           : "the program did not go to the background";
    if (spec.files) {
        reached = [&spec] { return deviceFileCount(spec.extension) >= spec.count; };
        what = "fewer than " + std::to_string(spec.count) + " " + spec.extension +
               " files on the device";
    }
    const auto deadline = start + std::chrono::milliseconds(spec.limitMs);
    while (!reached()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return what + " after " + std::to_string(spec.limitMs) + " ms";
        if (!sleepFor(kAwaitPollMs)) return {};
    }
    return {};
}

std::string HeadlessFrontend::execute(const ScriptCommand& c) {
    HWND window = programWindow();
    if (c.name != "wait" && c.name != "screenshot" && c.name != "await" && c.name != "echo")
        inputSinceShot_ = true;
    if (c.name == "wait") {
        sleepFor(static_cast<uint32_t>(std::stoul(c.args[0])));
    } else if (c.name == "key") {
        std::string name;
        for (const std::string& w : c.args) name += (name.empty() ? "" : " ") + w;
        KeySpec spec;
        if (!parseKey(name, keys_, spec)) return "unknown key '" + name + "'";
        if (!window) return "the program has no window";
        // A role of the active key list is looked up on the window thread, in order with the
        // messages before it, since the program changes that list when the orientation changes.
        runOnWindowThread([window, spec, activeKey = keys_.activeKey] {
            int code = spec.role >= 0 && activeKey ? activeKey(spec.role) : spec.code;
            PostMessageW(window, WM_KEYDOWN, static_cast<WPARAM>(code), 1);
            PostMessageW(window, WM_KEYUP, static_cast<WPARAM>(code), 1);
        });
    } else if (c.name == "tap") {
        if (!window) return "the program has no window";
        LPARAM at = MAKELPARAM(std::stoi(c.args[0]), std::stoi(c.args[1]));
        PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageW(window, WM_LBUTTONUP, 0, at);
    } else if (c.name == "background") {
        sendToBackground();
    } else if (c.name == "foreground") {
        bringToForeground();
    } else if (c.name == "screenshot") {
        if (std::string late = settle(kAwaitDefaultMs); !late.empty()) return late;
        if (inputSinceShot_ && !awaitRedraw()) return {};
        inputSinceShot_ = false;
        mkdir(shotFolder_.c_str(), 0777);
        std::string path = shotFolder_ + "/" + c.args[0];
        std::string error;
        if (!writeDisplayPng(path, error)) return error;
        std::lock_guard lock(mutex_);
        shots_.push_back(path);
    } else if (c.name == "await") {
        return await(c.args);
    } else if (c.name == "echo") {
        std::string text;
        for (const std::string& w : c.args) text += (text.empty() ? "" : " ") + w;
        printf("%s\n", text.c_str());
        fflush(stdout);
    } else if (c.name == "quit") {
        if (window) PostMessageW(window, WM_CLOSE, 0, 0);
    } else {
        auto verb = verbs_.find(c.name);
        if (verb == verbs_.end() || !verb->second.run) return "cannot run '" + c.name + "'";
        return verb->second.run(c.args);
    }
    return {};
}
