// The desktop window: its key table, and, on a private X server, what it shows and what the
// program receives from it. The program here is a small stand-in with a window procedure that
// records its messages; the X server is driven and read back through a connection of the test's
// own, so the window's pixels and input are checked from outside the window.
#include <SDL.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "app/keys.h"
#include "frontend/png.h"
#include "frontend/window_frontend.h"
#include "platform/hooks.h"
#include "platform/window.h"
#include "support/temp_device.h"
// Xlib defines short macros (None, Bool, Status); it comes last.
#include "frontend/x_display.h"

// Under LeakSanitizer: what the desktop libraries keep until the process ends is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\nleak:libX11.so\nleak:libSDL2\n";
}

namespace {

// The device's active key list as the stand-in program has it (Up Down Left Right A B C Start);
// distinct from every named key so a role cannot pass for a named key.
constexpr int kRoleCodes[8] = {1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008};

// The named keys as main() hands them to the front-ends, and roles resolved from kRoleCodes.
KeyMap deviceKeys(std::function<void()> onRole = nullptr) {
    KeyMap keys;
    for (const ValueEntry& key : kNamedKeyTable)
        if (key.value) keys.named.emplace_back(key.label, key.value);
    keys.activeKey = [onRole](int role) {
        if (onRole) onRole();
        return kRoleCodes[role];
    };
    return keys;
}

// --- The key table -------------------------------------------------------------------------------

// Which desktop key presses which device key is shown by the X tests below; here that every
// entry names a device key, that every named key of the device (all but "None") is on some
// desktop key, and that the help names it.
TEST(WindowKeys, EveryNamedKeyIsReachableAndInTheHelp) {
    KeyMap keys = deviceKeys();
    for (const WindowKey& key : windowKeys()) {
        KeySpec spec;
        EXPECT_TRUE(windowKeySpec(key.desktopKey, keys, spec)) << key.deviceKey;
    }
    for (const ValueEntry& device : kNamedKeyTable) {
        if (!device.value) continue;
        const std::string label = device.label;
        EXPECT_TRUE(std::any_of(windowKeys().begin(), windowKeys().end(),
                                [&](const WindowKey& key) { return label == key.deviceKey; }))
            << label;
        if (label.rfind("Digit", 0) != 0) {
            EXPECT_NE(std::string(windowKeyHelp()).find(label), std::string::npos) << label;
        }
    }
    KeySpec spec;
    EXPECT_FALSE(windowKeySpec(SDLK_a, keys, spec)) << "letters press nothing";
}

// --- On a private X server -----------------------------------------------------------------------

class WindowOnX : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_ = new VirtualDisplay;
        if (!server_->name().empty()) setenv("DISPLAY", server_->name().c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (server_->name().empty()) GTEST_SKIP() << "no X server could be started (Xvfb)";
    }
    static const std::string& display() { return server_->name(); }
    static VirtualDisplay* server_;
};
VirtualDisplay* WindowOnX::server_ = nullptr;

// A device with no components and a small odd-sized display.
DeviceProfile smallDevice(int width, int height) {
    DeviceProfile profile = *findBuiltinProfile(defaultProfileName());
    profile.install.clear();
    profile.displayWidth = width;
    profile.displayHeight = height;
    return profile;
}

// An asymmetric RGB565 picture: a ramp in each field, with an "F" of white in the top-left
// corner, so turns, flips and swapped fields would show. `seed` shifts the ramps.
void drawPicture(uint8_t* display, int width, int height, int seed) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int r = (x * 31 / (width - 1) + seed) & 31;
            int g = (y * 63 / (height - 1) + seed * 3) & 63;
            int b = ((x + 2 * y) + seed * 7) & 31;
            const bool f = (x == 1 && y >= 1 && y <= 7) || (y == 1 && x >= 1 && x <= 5) ||
                           (y == 4 && x >= 1 && x <= 4);
            uint16_t p = f ? 0xFFFF : static_cast<uint16_t>((r << 11) | (g << 5) | b);
            display[2 * (y * width + x)] = static_cast<uint8_t>(p & 0xFF);
            display[2 * (y * width + x) + 1] = static_cast<uint8_t>(p >> 8);
        }
}

// Reads an 8-bit RGB PNG as 0x00RRGGBB pixels.
bool readPng(const std::string& path, std::vector<uint32_t>& pixels, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return false;
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    pixels.resize(static_cast<size_t>(width) * height);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = (uint32_t{rgb[3 * i]} << 16) | (uint32_t{rgb[3 * i + 1]} << 8) | rgb[3 * i + 2];
    return true;
}

// The window's pixels equal the screenshot's, each screenshot pixel a zoom x zoom square.
bool showsScreenshot(const std::vector<uint32_t>& window, const std::vector<uint32_t>& shot,
                     int width, int height, int zoom) {
    if (window.size() != shot.size() * zoom * zoom) return false;
    for (int y = 0; y < height * zoom; ++y)
        for (int x = 0; x < width * zoom; ++x)
            if (window[static_cast<size_t>(y) * width * zoom + x] !=
                shot[static_cast<size_t>(y / zoom) * width + x / zoom])
                return false;
    return true;
}

TEST_F(WindowOnX, ShowsTheDisplayAsTheHeadlessScreenshotDoesAndClosesWithTheProgram) {
    constexpr int kWidth = 45, kHeight = 29, kZoom = 3;
    TempDevice device(smallDevice(kWidth, kHeight));
    drawPicture(device.handheld().displayMemory(), kWidth, kHeight, 0);
    const std::string title = "Lumovatrix on pixels";
    WindowFrontend window(deviceKeys());
    std::string error;
    ASSERT_TRUE(window.open(kZoom, title, error)) << error;

    std::string problem;
    int result = window.run([&] {
        XClient x(display());
        Window w = x.waitFor(title);
        if (!w) return (problem = "no window"), 1;
        int width = 0, height = 0;
        x.size(w, width, height);
        if (width != kWidth * kZoom || height != kHeight * kZoom)
            return (problem = "window is " + std::to_string(width) + "x" + std::to_string(height)),
                   1;
        // Two pictures in turn, as a program drawing new frames: each shows once refreshed.
        for (int seed : {0, 5}) {
            drawPicture(device.handheld().displayMemory(), kWidth, kHeight, seed);
            std::string shot = device.root() + "/shot" + std::to_string(seed) + ".png";
            std::vector<uint32_t> expected;
            int shotWidth = 0, shotHeight = 0;
            if (!writeDisplayPng(shot, error) || !readPng(shot, expected, shotWidth, shotHeight))
                return (problem = "no headless screenshot: " + error), 1;
            if (shotWidth != kWidth || shotHeight != kHeight) return (problem = "shot size"), 1;
            if (!waitUntil(
                    [&] { return showsScreenshot(x.grab(w), expected, kWidth, kHeight, kZoom); }))
                return (problem = "the window never showed picture " + std::to_string(seed)), 1;
        }
        return 7;
    });
    EXPECT_EQ(problem, "");
    EXPECT_EQ(result, 7) << "run returns what the program returned";
    XClient x(display());
    EXPECT_EQ(x.find(title), 0u) << "the window closes when the program ends";
}

// The stand-in program: a platform window whose procedure records every message.
struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class Recorder {
  public:
    void add(const Received& r) {
        {
            std::lock_guard lock(mutex_);
            messages_.push_back(r);
        }
        changed_.notify_all();
    }
    // Waits (at most 5 s) for a message of this kind after the first `from` messages; returns
    // its index, or -1.
    int waitFor(UINT message, size_t from, WPARAM wParam = ~WPARAM{0}) {
        std::unique_lock lock(mutex_);
        int found = -1;
        changed_.wait_for(lock, std::chrono::seconds(5), [&] {
            for (size_t i = from; i < messages_.size(); ++i)
                if (messages_[i].message == message &&
                    (wParam == ~WPARAM{0} || messages_[i].wParam == wParam))
                    return (found = static_cast<int>(i)), true;
            return false;
        });
        return found;
    }
    std::vector<Received> since(size_t from, UINT message) {
        std::lock_guard lock(mutex_);
        std::vector<Received> out;
        for (size_t i = from; i < messages_.size(); ++i)
            if (messages_[i].message == message) out.push_back(messages_[i]);
        return out;
    }
    size_t count() {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> messages_;
};

Recorder* recorder = nullptr;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (recorder) recorder->add({message, wParam, lParam});
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

// The program's window, made the way the program makes its own.
HWND createProgramWindow() {
    static const bool registered = [] {
        WNDCLASSW c{};
        c.lpfnWndProc = recordingProc;
        c.lpszClassName = u"WindowTest";
        return RegisterClassW(&c) != 0;
    }();
    if (!registered) return nullptr;
    return CreateWindowExW(0, u"WindowTest", u"Stand-in", WS_VISIBLE, 0, 0, 240, 320, nullptr,
                           nullptr, nullptr, nullptr);
}

constexpr LPARAM kDown = 1, kRepeat = 0x40000001, kUp = static_cast<LPARAM>(0xC0000001u);

TEST_F(WindowOnX, KeysClicksFocusAndClosingReachTheProgramsWindow) {
    constexpr int kWidth = 46, kHeight = 33, kZoom = 2;
    TempDevice device(smallDevice(kWidth, kHeight));
    Recorder received;
    recorder = &received;
    std::thread::id programThread, roleThread;
    std::mutex roleMutex;
    KeyMap keys = deviceKeys([&] {
        std::lock_guard lock(roleMutex);
        roleThread = std::this_thread::get_id();
    });
    const std::string title = "Lumovatrix on input";
    WindowFrontend window(keys);
    std::string error;
    ASSERT_TRUE(window.open(kZoom, title, error)) << error;

    std::vector<std::string> failures;
    auto check = [&](bool ok, const std::string& what) {
        if (!ok) failures.push_back(what);
        return ok;
    };
    // The user's side, from a thread of its own while the program runs its message loop.
    auto user = [&] {
        XClient x(display());
        Window w = x.waitFor(title);
        if (!check(w != 0, "no window")) return;
        // Each key arrives as WM_KEYDOWN and WM_KEYUP with the device's code.
        const std::pair<KeySym, int> presses[] = {
            {XK_Up, kRoleCodes[0]}, {XK_Right, kRoleCodes[3]}, {XK_Return, kRoleCodes[7]},
            {XK_F1, kRoleCodes[4]}, {XK_F2, kRoleCodes[5]},    {XK_F3, 114},
            {XK_F10, 196},          {XK_KP_Multiply, 119},     {XK_5, 53},
            {XK_KP_0, 48},          {XK_Escape, 27},
        };
        for (auto [symbol, code] : presses) {
            size_t from = received.count();
            x.press(w, XK_a);  // a letter presses nothing
            x.press(w, symbol);
            int down = received.waitFor(WM_KEYDOWN, from);
            int up = received.waitFor(WM_KEYUP, from);
            auto downs = received.since(from, WM_KEYDOWN);
            if (!check(down >= 0 && up > down && downs.size() == 1,
                       "key " + std::to_string(code) + " did not arrive once"))
                continue;
            check(downs[0].wParam == static_cast<WPARAM>(code) && downs[0].lParam == kDown,
                  "key " + std::to_string(code) + " arrived as " + std::to_string(downs[0].wParam));
            auto ups = received.since(from, WM_KEYUP);
            check(ups.size() == 1 && ups[0].wParam == static_cast<WPARAM>(code) &&
                      ups[0].lParam == kUp,
                  "release of " + std::to_string(code));
        }
        // A held key repeats with the code of its first press.
        size_t from = received.count();
        x.key(w, XK_F9, true);
        x.key(w, XK_F9, true);
        x.key(w, XK_F9, true);
        x.key(w, XK_F9, false);
        received.waitFor(WM_KEYUP, from);
        auto downs = received.since(from, WM_KEYDOWN);
        check(downs.size() == 3 && downs[0].lParam == kDown && downs[1].lParam == kRepeat &&
                  downs[2].lParam == kRepeat && downs[2].wParam == 195,
              "held Prog3 gave " + std::to_string(downs.size()) + " presses");

        // A click is a tap at the display pixel under the pointer.
        from = received.count();
        x.click(w, 17 * kZoom + 1, 30 * kZoom + 1);
        int tap = received.waitFor(WM_LBUTTONDOWN, from);
        if (check(tap >= 0, "no tap")) {
            auto taps = received.since(from, WM_LBUTTONDOWN);
            check(taps[0].wParam == MK_LBUTTON && taps[0].lParam == MAKELPARAM(17, 30),
                  "tap at the wrong place");
            check(received.waitFor(WM_LBUTTONUP, from) > tap, "no release of the tap");
        }

        // The window losing the focus sends the program to the background; there it gets no
        // keys or taps, and a click brings it back.
        from = received.count();
        x.focus(0);
        int lost = received.waitFor(WM_ACTIVATE, from, WA_INACTIVE);
        if (check(lost >= 0, "losing the focus did not deactivate the program")) {
            from = received.count();
            x.press(w, XK_F3);
            x.click(w, 3, 3);
            int back = received.waitFor(WM_ACTIVATE, from, WA_ACTIVE);
            check(back >= 0, "a click did not bring the program back");
            check(received.since(from, WM_KEYDOWN).empty() &&
                      received.since(from, WM_LBUTTONDOWN).empty(),
                  "a program in the background got input");
        }
        // Regaining the focus brings the program back too.
        x.focus(w);
        from = received.count();
        x.focus(0);
        check(received.waitFor(WM_ACTIVATE, from, WA_INACTIVE) >= 0, "second focus loss");
        from = received.count();
        x.focus(w);
        check(received.waitFor(WM_ACTIVATE, from, WA_ACTIVE) >= 0,
              "regaining the focus did not activate the program");

        // Closing the window closes the program's window.
        from = received.count();
        x.close(w);
        check(received.waitFor(WM_CLOSE, from) >= 0, "closing sent no WM_CLOSE");
    };

    int result = window.run([&] {
        programThread = std::this_thread::get_id();
        HWND program = createProgramWindow();
        if (!program) return 1;
        // However the user's side ends, the program's window is closed at the end, so the
        // message loop ends.
        std::thread userThread([&] {
            user();
            if (HWND open = programWindow()) PostMessageW(open, WM_CLOSE, 0, 0);
        });
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0)) DispatchMessageW(&message);
        userThread.join();
        return static_cast<int>(message.wParam);
    });
    recorder = nullptr;
    EXPECT_EQ(result, 0);
    for (const std::string& f : failures) ADD_FAILURE() << f;
    std::lock_guard lock(roleMutex);
    EXPECT_EQ(roleThread, programThread) << "roles are looked up on the program's window thread";
}

}  // namespace
