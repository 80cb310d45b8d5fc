// The desktop window: its key table, and, on a private X server, what it shows and what the
// program receives from it. Most tests run a small stand-in program with a window procedure that
// records its messages; the X server is driven and read back through a connection of the test's
// own, so the window's pixels and input are checked from outside the window. The last run the
// built program with its window as a process of its own: the options, the window's title and
// size, and the window and the program ending together.
#include <SDL.h>
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include "app/keys.h"
#include "frontend/png.h"
#include "frontend/window_frontend.h"
#include "platform/hooks.h"
#include "platform/window.h"
#include "support/program_run.h"
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

// Which desktop key presses which device key is shown on the X server below; here that every
// entry names a device key, and every named key of the device (all but "None") is on some
// desktop key and, digits aside, in the help.
TEST(WindowKeys, EveryNamedKeyIsReachableAndInTheHelp) {
    KeyMap keys = deviceKeys();
    KeySpec spec;
    for (const WindowKey& key : windowKeys())
        EXPECT_TRUE(windowKeySpec(key.desktopKey, keys, spec)) << key.deviceKey;
    for (const ValueEntry& device : kNamedKeyTable) {
        const std::string label = device.label;
        if (!device.value) continue;
        EXPECT_TRUE(std::any_of(windowKeys().begin(), windowKeys().end(),
                                [&](const WindowKey& key) { return label == key.deviceKey; }))
            << label;
        if (label.rfind("Digit", 0) != 0) {
            EXPECT_NE(std::string(windowKeyHelp()).find(label), std::string::npos) << label;
        }
    }
    EXPECT_FALSE(windowKeySpec(SDLK_a, keys, spec)) << "letters press nothing";
}

// A device with no components and a small odd-sized display.
DeviceProfile smallDevice(int width, int height) {
    DeviceProfile profile = *findBuiltinProfile(defaultProfileName());
    profile.install.clear();
    profile.displayWidth = width;
    profile.displayHeight = height;
    return profile;
}

// The stand-in program's messages, as its window procedure received them.
struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Received&) const = default;
};
std::mutex receivedMutex;
std::vector<Received> received;

LRESULT recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(receivedMutex);
        received.push_back({message, wParam, lParam});
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

size_t receivedCount() {
    std::lock_guard lock(receivedMutex);
    return received.size();
}

// The messages of these kinds received after the first `from`.
std::vector<Received> since(size_t from, std::initializer_list<UINT> kinds) {
    std::lock_guard lock(receivedMutex);
    std::vector<Received> out;
    for (size_t i = from; i < received.size(); ++i)
        if (std::find(kinds.begin(), kinds.end(), received[i].message) != kinds.end())
            out.push_back(received[i]);
    return out;
}

// Waits (at most 5 s) for a message of this kind, with this wParam unless any, after the first
// `from`.
bool arrives(UINT message, size_t from, WPARAM wParam = ~WPARAM{0}) {
    return waitUntil([&] {
        const std::vector<Received> got = since(from, {message});
        return std::any_of(got.begin(), got.end(), [&](const Received& r) {
            return wParam == ~WPARAM{0} || r.wParam == wParam;
        });
    });
}

class WindowOnX : public XServerTest {
  protected:
    // Shows the device in a window at `zoom` while the stand-in program, a platform window that
    // records its messages, runs its message loop; `user` plays the user from a thread of its
    // own, then the program's window is closed if it is still open.
    static void run(int zoom, const std::function<void(XClient&, Window)>& user) {
        // A title of the test's own, so no window of an earlier test can pass for this one.
        const std::string title = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::atomic<std::thread::id> programThread;
        std::atomic<int> rolesOffThread = 0;  // roles are looked up on the program's window thread
        WindowFrontend window(deviceKeys(
            [&] { rolesOffThread += std::this_thread::get_id() != programThread.load(); }));
        std::string error;
        ASSERT_TRUE(window.open(zoom, title, error)) << error;
        received.clear();
        const int result = window.run([&] {
            programThread = std::this_thread::get_id();
            WNDCLASSW c{};
            c.lpfnWndProc = recordingProc;
            c.lpszClassName = u"WindowTest";
            RegisterClassW(&c);  // already registered by an earlier test: fine
            if (!CreateWindowExW(0, u"WindowTest", u"Stand-in", WS_VISIBLE, 0, 0, 240, 320, nullptr,
                                 nullptr, nullptr, nullptr))
                return 1;
            std::thread userThread([&] {
                XClient x;
                const Window w = x.waitFor(title);
                EXPECT_NE(w, 0u);
                if (w) user(x, w);
                if (HWND open = programWindow()) PostMessageW(open, WM_CLOSE, 0, 0);
            });
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0)) DispatchMessageW(&message);
            userThread.join();
            return 7;
        });
        EXPECT_EQ(result, 7) << "run returns what the program returned";
        EXPECT_EQ(XClient().find(title), 0u) << "the window closes when the program ends";
        EXPECT_EQ(rolesOffThread.load(), 0);
    }
};

// The headless screenshot of the display, each pixel as 0x00RRGGBB repeated as a zoom x zoom
// square: what the window must show.
std::vector<uint32_t> zoomedScreenshot(const std::string& path, int zoom) {
    std::string error;
    EXPECT_TRUE(writeDisplayPng(path, error)) << error;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_file(&image, path.c_str());
    image.format = PNG_FORMAT_BGRA;  // as little-endian words: 0xAARRGGBB
    std::vector<uint32_t> shot(size_t{image.width} * image.height), zoomed;
    png_image_finish_read(&image, nullptr, shot.data(), 0, nullptr);
    for (uint32_t y = 0; y < image.height * zoom; ++y)
        for (uint32_t x = 0; x < image.width * zoom; ++x)
            zoomed.push_back(shot[y / zoom * image.width + x / zoom] & 0xFFFFFF);
    return zoomed;
}

TEST_F(WindowOnX, ShowsTheDisplayAsTheHeadlessScreenshotDoes) {
    constexpr int kWidth = 45, kHeight = 29, kZoom = 3;
    TempDevice device(smallDevice(kWidth, kHeight));
    run(kZoom, [&](XClient& x, Window w) {
        EXPECT_EQ(x.size(w), std::pair(kWidth * kZoom, kHeight * kZoom));
        // Two random pictures in turn, as a program drawing new frames: each shows once
        // refreshed, and any turn, flip or swapped colour field would show.
        std::mt19937 rng(5);
        for (int picture : {1, 2}) {
            uint8_t* memory = device.handheld().displayMemory();
            std::generate_n(memory, kWidth * kHeight * 2, [&] { return uint8_t(rng()); });
            const auto expected = zoomedScreenshot(device.root() + "/shot.png", kZoom);
            ASSERT_EQ(expected.size(), size_t{kWidth * kZoom * kHeight * kZoom});
            EXPECT_TRUE(waitUntil([&] { return x.grab(w) == expected; })) << "picture " << picture;
        }
    });
}

constexpr LPARAM kDown = 1, kRepeat = 0x40000001, kUp = static_cast<LPARAM>(0xC0000001u);

TEST_F(WindowOnX, KeysClicksFocusAndClosingReachTheProgramsWindow) {
    constexpr int kZoom = 2;
    TempDevice device(smallDevice(46, 33));
    run(kZoom, [&](XClient& x, Window w) {
        // Each key arrives once as WM_KEYDOWN and WM_KEYUP with the device's code; a letter
        // pressed before it presses nothing.
        const std::pair<KeySym, WPARAM> presses[] = {
            {XK_Up, kRoleCodes[0]}, {XK_Right, kRoleCodes[3]}, {XK_Return, kRoleCodes[7]},
            {XK_F1, kRoleCodes[4]}, {XK_F2, kRoleCodes[5]},    {XK_F3, 114},
            {XK_F10, 196},          {XK_KP_Multiply, 119},     {XK_5, 53},
            {XK_KP_0, 48},          {XK_Escape, 27},
        };
        for (auto [symbol, code] : presses) {
            const size_t from = receivedCount();
            x.press(w, XK_a);
            x.press(w, symbol);
            EXPECT_TRUE(arrives(WM_KEYUP, from));
            EXPECT_EQ(since(from, {WM_KEYDOWN, WM_KEYUP}),
                      (std::vector<Received>{{WM_KEYDOWN, code, kDown}, {WM_KEYUP, code, kUp}}));
        }
        // A held key repeats with the code of its first press.
        size_t from = receivedCount();
        for (bool press : {true, true, true, false}) x.key(w, XK_F9, press);
        EXPECT_TRUE(arrives(WM_KEYUP, from));
        EXPECT_EQ(since(from, {WM_KEYDOWN, WM_KEYUP}),
                  (std::vector<Received>{{WM_KEYDOWN, 195, kDown},
                                         {WM_KEYDOWN, 195, kRepeat},
                                         {WM_KEYDOWN, 195, kRepeat},
                                         {WM_KEYUP, 195, kUp}}));
        // A click is a tap at the display pixel under the pointer.
        from = receivedCount();
        x.click(w, 17 * kZoom + 1, 30 * kZoom + 1);
        EXPECT_TRUE(arrives(WM_LBUTTONUP, from));
        EXPECT_EQ(since(from, {WM_LBUTTONDOWN, WM_LBUTTONUP}),
                  (std::vector<Received>{{WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(17, 30)},
                                         {WM_LBUTTONUP, 0, MAKELPARAM(17, 30)}}));

        // The window losing the focus sends the program to the background; there it gets no
        // keys or taps, and a click brings it back.
        from = receivedCount();
        x.focus(0);
        ASSERT_TRUE(arrives(WM_ACTIVATE, from, WA_INACTIVE));
        from = receivedCount();
        x.press(w, XK_F3);
        x.click(w, 3, 3);
        EXPECT_TRUE(arrives(WM_ACTIVATE, from, WA_ACTIVE)) << "a click brings it back";
        EXPECT_EQ(since(from, {WM_KEYDOWN, WM_LBUTTONDOWN}), std::vector<Received>{});
        // Regaining the focus brings the program back too.
        x.focus(w);
        from = receivedCount();
        x.focus(0);
        EXPECT_TRUE(arrives(WM_ACTIVATE, from, WA_INACTIVE));
        from = receivedCount();
        x.focus(w);
        EXPECT_TRUE(arrives(WM_ACTIVATE, from, WA_ACTIVE)) << "regaining the focus";

        // Closing the window closes the program's window.
        from = receivedCount();
        x.close(w);
        EXPECT_TRUE(arrives(WM_CLOSE, from));
    });
}

class ProgramWindow : public XServerTest {
  protected:
    void SetUp() override {
        XServerTest::SetUp();
        // Under LeakSanitizer, what the desktop libraries keep until exit is not the program's.
        dir_.write("lsan.supp", "leak:libdbus-1.so\nleak:libX11.so\nleak:libSDL2\n");
        setenv("LSAN_OPTIONS", ("suppressions=" + dir_.file("lsan.supp")).c_str(), 1);
    }
    void TearDown() override { unsetenv("LSAN_OPTIONS"); }

    std::vector<std::string> args(std::vector<std::string> more) {
        std::vector<std::string> a = {"--root",           dir_.file("device"), "--shots",
                                      dir_.file("shots"), "--trace",           dir_.file("trace")};
        a.insert(a.end(), more.begin(), more.end());
        return a;
    }
    TempFolder dir_;
};

constexpr int kStartSeconds = 30;  // sanitizer builds start slowly

TEST_F(ProgramWindow, AScriptDrivesTheProgramWhileShownAndItsEndClosesTheWindow) {
    dir_.write("s", "wait 1500\nkey Green\nscreenshot a.png\nwait 300\n");
    ProgramRun run;
    run.start(args({"--window", "2", "--script", dir_.file("s"), "--", "1"}), dir_.file("out"));
    XClient x;
    // The screen-capture edition names itself; the window is the device's screen at twice its size.
    const Window w = x.waitFor("Lumosnapper on ph10c", kStartSeconds * 1000);
    EXPECT_EQ(x.size(w), std::pair(480, 640));
    ASSERT_EQ(run.wait(kStartSeconds), 0) << run.output();
    EXPECT_TRUE(std::filesystem::exists(dir_.file("shots/a.png")));
    EXPECT_EQ(x.find("Lumosnapper on ph10c"), 0u);
}

TEST_F(ProgramWindow, OptionsAndADesktopThatCannotBeReached) {
    EXPECT_EQ(runProgram({"--window", "9"}, dir_.file("zoom")), 2);
    EXPECT_NE(readText(dir_.file("zoom")).find("--window takes a zoom of 1 to 8"),
              std::string::npos);
    EXPECT_EQ(runProgram({"--help"}, dir_.file("help")), 0);
    std::string help = readText(dir_.file("help"));
    EXPECT_NE(help.find("--window [ZOOM]"), std::string::npos);
    EXPECT_NE(help.find("F3: Green"), std::string::npos);
    // No desktop: one clear line and status 2, before the program starts.
    setenv("DISPLAY", ":999", 1);
    EXPECT_EQ(runProgram(args({"--window"}), dir_.file("nodisplay")), 2);
    EXPECT_NE(readText(dir_.file("nodisplay")).find("lumovatrix: cannot open a window"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("trace"))) << "the program never ran";
}

}  // namespace
