// The desktop window: its key table, and, on a private X server, what it shows and what the
// program receives from it. One test runs a small stand-in program with a window procedure that
// records its messages; the X server is driven and read back through a connection of the test's
// own, so the window's pixels and input are checked from outside the window. The last run the
// built program with its window as a process of its own: the options, the window's title and
// size, and the window and the program ending together.
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

// Under LeakSanitizer: what the desktop libraries keep until the process ends is not ours (nor the
// built program's).
constexpr const char* kDesktopLeaks = "leak:libdbus-1.so\nleak:libX11.so\nleak:libSDL2\n";
extern "C" const char* __lsan_default_suppressions() {
    return kDesktopLeaks;
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

// Which desktop keys press the device's keys is checked on the X server below, a few of each
// kind; here that every named key of the device (all but "None") is on some desktop key that
// presses it and, digits aside, in the help.
TEST(WindowKeys, EveryNamedKeyIsOnADesktopKeyAndInTheHelp) {
    const KeyMap keys = deviceKeys();
    for (const auto& [label, code] : keys.named) {
        const auto key =
            std::find_if(windowKeys().begin(), windowKeys().end(),
                         [&, &name = label](const WindowKey& k) { return name == k.deviceKey; });
        KeySpec spec;
        EXPECT_TRUE(key != windowKeys().end() && windowKeySpec(key->desktopKey, keys, spec) &&
                    spec.role < 0 && spec.code == code)
            << label;
        EXPECT_TRUE(label.rfind("Digit", 0) == 0 ||
                    std::string(windowKeyHelp()).find(label) != std::string::npos)
            << label;
    }
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

// The messages of these kinds received since the record was last cleared.
std::vector<Received> receivedOf(std::initializer_list<UINT> kinds) {
    std::lock_guard lock(receivedMutex);
    std::vector<Received> out;
    for (const Received& r : received)
        if (std::find(kinds.begin(), kinds.end(), r.message) != kinds.end()) out.push_back(r);
    return out;
}

// Clears the record, does `act` and expects the messages of `kinds` received after it to be
// `expected` (waiting at most 5 s for them).
void expectMessages(const std::function<void()>& act, std::initializer_list<UINT> kinds,
                    const std::vector<Received>& expected) {
    {
        std::lock_guard lock(receivedMutex);
        received.clear();
    }
    act();
    waitUntil([&] { return receivedOf(kinds) == expected; });
    EXPECT_EQ(receivedOf(kinds), expected);
}

// The headless screenshot of the display turned `turns` quarter turns clockwise, each pixel as
// 0x00RRGGBB repeated as a zoom x zoom square: what the window must show. The turn is made here
// by rotating coordinates by hand, apart from the window's own code.
std::vector<uint32_t> zoomedScreenshot(const std::string& path, int zoom, int turns = 0) {
    std::string error;
    EXPECT_TRUE(writeDisplayPng(path, error)) << error;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_file(&image, path.c_str());
    image.format = PNG_FORMAT_BGRA;  // as little-endian words: 0xAARRGGBB
    std::vector<uint32_t> shot(size_t{image.width} * image.height), zoomed;
    png_image_finish_read(&image, nullptr, shot.data(), 0, nullptr);
    const int w = int(image.width), h = int(image.height);
    const bool across = turns % 2 != 0;
    const int tw = across ? h : w, th = across ? w : h;
    std::vector<uint32_t> turned(shot.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Where display pixel (x, y) lands on the picture turned clockwise.
            const int tx = turns == 1 ? h - 1 - y : turns == 2 ? w - 1 - x : turns == 3 ? y : x;
            const int ty = turns == 1 ? x : turns == 2 ? h - 1 - y : turns == 3 ? w - 1 - x : y;
            turned[size_t(ty) * tw + tx] = shot[size_t(y) * w + x];
        }
    for (int y = 0; y < th * zoom; ++y)
        for (int x = 0; x < tw * zoom; ++x)
            zoomed.push_back(turned[size_t(y / zoom) * tw + x / zoom] & 0xFFFFFF);
    return zoomed;
}

// What the stand-in program's user does: watches two pictures, presses keys, clicks, moves the
// focus away and back and closes the window.
// The quarter turns the stand-in program asks the window for.
std::atomic<int> pictureTurns = 0;

void playTheUser(XClient& x, Window w, TempDevice& device, int width, int height, int zoom) {
    // Random pictures in turn, as a program drawing new frames: each shows once refreshed,
    // exactly as the headless screenshot turned as the program asks (upright; a landscape
    // orientation one way and the other; upside down), so any wrong turn, flip or swapped colour
    // field would show. A turn across the display gives the window the other shape.
    std::mt19937 rng(5);
    for (int turns : {0, 0, 1, 3, 2, 0}) {
        pictureTurns = turns;
        std::generate_n(device.handheld().displayMemory(), width * height * 2,
                        [&] { return uint8_t(rng()); });
        const auto expected = zoomedScreenshot(device.root() + "/shot.png", zoom, turns);
        EXPECT_TRUE(waitUntil([&] { return x.grab(w) == expected; })) << "turns " << turns;
        EXPECT_EQ(x.size(w), turns % 2 ? std::pair(height * zoom, width * zoom)
                                       : std::pair(width * zoom, height * zoom));
    }
    // On the turned picture a click taps the display pixel shown there: the top-left corner of
    // a picture turned clockwise shows the display's bottom-left pixel.
    pictureTurns = 1;
    waitUntil([&] { return x.size(w) == std::pair(height * zoom, width * zoom); });
    expectMessages([&] { x.click(w, 1, 2 * zoom + 1); }, {WM_LBUTTONDOWN, WM_LBUTTONUP},
                   {{WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, height - 1)},
                    {WM_LBUTTONUP, 0, MAKELPARAM(2, height - 1)}});
    pictureTurns = 0;
    waitUntil([&] { return x.size(w) == std::pair(width * zoom, height * zoom); });
    // Each key arrives once as WM_KEYDOWN and WM_KEYUP with the device's code; a letter pressed
    // before it presses nothing.
    constexpr LPARAM kDown = 1, kRepeat = 0x40000001, kUp = static_cast<LPARAM>(0xC0000001u);
    const std::pair<KeySym, WPARAM> presses[] = {
        {XK_Up, kRoleCodes[0]}, {XK_Return, kRoleCodes[7]},
        {XK_F2, kRoleCodes[5]}, {XK_F3, 114},
        {XK_KP_Multiply, 119},  {XK_5, 53},
        {XK_KP_0, 48},          {XK_Escape, 27},
    };
    for (auto [symbol, code] : presses)
        expectMessages(
            [&, key = symbol] {
                x.press(w, {XK_a, key});
            },
            {WM_KEYDOWN, WM_KEYUP}, {{WM_KEYDOWN, code, kDown}, {WM_KEYUP, code, kUp}});
    // A held key repeats with the code of its first press.
    expectMessages([&] { x.press(w, {XK_F9}, 3); }, {WM_KEYDOWN, WM_KEYUP},
                   {{WM_KEYDOWN, 195, kDown},
                    {WM_KEYDOWN, 195, kRepeat},
                    {WM_KEYDOWN, 195, kRepeat},
                    {WM_KEYUP, 195, kUp}});
    // A click is a tap at the display pixel under the pointer.
    expectMessages(
        [&] { x.click(w, 17 * zoom + 1, 28 * zoom + 2); }, {WM_LBUTTONDOWN, WM_LBUTTONUP},
        {{WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(17, 28)}, {WM_LBUTTONUP, 0, MAKELPARAM(17, 28)}});
    // The window losing the focus sends the program to the background and regaining it brings
    // it back; in the background it gets no keys or taps, and a click brings it back.
    expectMessages([&] { x.focus(0); }, {WM_ACTIVATE}, {{WM_ACTIVATE, WA_INACTIVE, 0}});
    expectMessages([&] { x.focus(w); }, {WM_ACTIVATE}, {{WM_ACTIVATE, WA_ACTIVE, 0}});
    expectMessages([&] { x.focus(0); }, {WM_ACTIVATE}, {{WM_ACTIVATE, WA_INACTIVE, 0}});
    const auto ignored = [&] {
        x.press(w, {XK_F3});
        x.click(w, 3, 3);
    };
    expectMessages(ignored, {WM_ACTIVATE, WM_KEYDOWN, WM_LBUTTONDOWN},
                   {{WM_ACTIVATE, WA_ACTIVE, 0}});
    // Closing the window closes the program's window.
    expectMessages([&] { x.close(w); }, {WM_CLOSE}, {{WM_CLOSE, 0, 0}});
}

// The device shown in a window while the stand-in program, a platform window that records its
// messages, runs its message loop; the user plays from a thread of their own, then the program's
// window is closed if it is still open.
TEST_F(XServerTest, ShowsTheDisplayAndPassesKeysClicksFocusAndClosingToTheProgram) {
    constexpr int kWidth = 45, kHeight = 29, kZoom = 3;
    constexpr const char* kTitle = "Stand-in window";
    TempDevice device(smallDevice(kWidth, kHeight));
    std::atomic<std::thread::id> programThread;
    std::atomic<int> rolesOffThread = 0;  // roles are looked up on the program's window thread
    WindowFrontend window(
        deviceKeys([&] { rolesOffThread += std::this_thread::get_id() != programThread.load(); }),
        [] { return pictureTurns.load(); });
    std::string error;
    ASSERT_TRUE(window.open(kZoom, kTitle, error)) << error;
    const int result = window.run([&] {
        programThread = std::this_thread::get_id();
        WNDCLASSW c{};
        c.lpfnWndProc = recordingProc;
        c.lpszClassName = u"WindowTest";
        RegisterClassW(&c);
        CreateWindowExW(0, u"WindowTest", u"Stand-in", WS_VISIBLE, 0, 0, 240, 320, nullptr, nullptr,
                        nullptr, nullptr);
        std::thread userThread([&] {
            XClient x;
            const Window w = x.waitFor(kTitle);
            EXPECT_NE(w, 0u);
            if (w) playTheUser(x, w, device, kWidth, kHeight, kZoom);
            if (HWND open = programWindow()) PostMessageW(open, WM_CLOSE, 0, 0);
        });
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0)) DispatchMessageW(&message);
        userThread.join();
        return 7;
    });
    EXPECT_EQ(result, 7) << "run returns what the program returned";
    EXPECT_EQ(XClient().find(kTitle), 0u) << "the window closes when the program ends";
    EXPECT_EQ(rolesOffThread.load(), 0);
}

class ProgramWindow : public XServerTest {
  protected:
    void SetUp() override {
        XServerTest::SetUp();
        dir_.write("lsan.supp", kDesktopLeaks);
        // Quietly: the program's output is compared, and LeakSanitizer would add a table of
        // the suppressions it used.
        setenv("LSAN_OPTIONS",
               ("suppressions=" + dir_.file("lsan.supp") + ":print_suppressions=0").c_str(), 1);
    }
    void TearDown() override { unsetenv("LSAN_OPTIONS"); }

    TempFolder dir_;
};

constexpr int kStartSeconds = 30;  // sanitizer builds start slowly

TEST_F(ProgramWindow, AScriptDrivesTheProgramWhileShownAndItsEndClosesTheWindow) {
    // The script ends once this test has seen the window (the file it then makes on the device),
    // however long the start takes.
    dir_.write("s", "key Green\nscreenshot a.png\nawait files .seen 1 60000\n");
    ProgramRun run;
    run.start({"--root", dir_.file("device"), "--shots", dir_.path(), "--window", "2", "--script",
               dir_.file("s"), "--", "1"},
              dir_.file("out"));
    XClient x;
    // The screen-capture edition names itself; the window is the device's screen at twice its size.
    // The title names the keys a new user needs first.
    const std::string title =
        "Lumosnapper on ph10c - keys: F1 soft key A, F2 soft key B, Enter action, Esc back";
    const Window w = x.waitFor(title, kStartSeconds * 1000);
    // The device's screen at twice its size, turned with the program's landscape orientation.
    EXPECT_TRUE(waitUntil([&] { return x.size(w) == std::pair(640, 480); })) << x.size(w).first;
    dir_.write("device/window.seen", "");
    ASSERT_EQ(run.wait(kStartSeconds), 0) << run.output();
    EXPECT_TRUE(std::filesystem::exists(dir_.file("a.png")));
    EXPECT_EQ(x.find(title), 0u);
}

TEST_F(ProgramWindow, OptionsAndADesktopThatCannotBeReached) {
    EXPECT_EQ(runProgram({"--window", "9"}, dir_.file("zoom")), 2);
    EXPECT_NE(readText(dir_.file("zoom")).find("--window takes a zoom of 1 to 8"),
              std::string::npos);
    // No desktop: one clear line without the desktop libraries' own words, and status 2,
    // before the program starts.
    setenv("DISPLAY", ":999", 1);
    EXPECT_EQ(runProgram({"--trace", dir_.file("trace"), "--window"}, dir_.file("nodisplay")), 2);
    EXPECT_EQ(readText(dir_.file("nodisplay")),
              "lumovatrix: cannot open a window: the desktop DISPLAY=:999 cannot be reached\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("trace"))) << "the program never ran";
}

}  // namespace
