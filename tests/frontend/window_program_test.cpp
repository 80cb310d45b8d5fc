// The built program with its desktop window, run as its own process on a private X server: the
// options, the window's title and size, input reaching the program, and the window and the
// program ending together.
#include <gtest/gtest.h>

#include "support/program_run.h"
// Xlib defines short macros (None, Bool, Status); it comes last.
#include "frontend/x_display.h"

namespace {

class ProgramWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new VirtualDisplay; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (server_->name().empty()) GTEST_SKIP() << "no X server could be started (Xvfb)";
        // The program inherits the display. Under LeakSanitizer, what the desktop libraries keep
        // until exit is not the program's leak.
        setenv("DISPLAY", server_->name().c_str(), 1);
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

    static VirtualDisplay* server_;
    TempFolder dir_;
};
VirtualDisplay* ProgramWindow::server_ = nullptr;

constexpr int kStartSeconds = 30;  // sanitizer builds start slowly

TEST_F(ProgramWindow, ShowsTheDeviceAndPassesKeysTapsFocusAndClosing) {
    ProgramRun run;
    run.start(args({"--window", "2"}), dir_.file("out"));
    XClient x(server_->name());
    ASSERT_TRUE(x.connected());
    Window w = 0;
    // The device's screen, twice its size, named after the program and the device.
    waitUntil([&] { return (w = x.find("Lumovatrix on ph10c")) != 0; }, kStartSeconds * 1000);
    if (!w) {
        kill(run.pid, SIGTERM);
        run.wait(kStartSeconds);
        FAIL() << "no window: " << run.output();
    }
    int width = 0, height = 0;
    x.size(w, width, height);
    EXPECT_EQ(width, 480);
    EXPECT_EQ(height, 640);
    // The window opens before the program starts; input counts once the program's own window
    // exists (it publishes itself in the device root).
    EXPECT_TRUE(waitUntil(
        [&] {
            std::error_code ec;
            return std::filesystem::exists(
                dir_.file("device/.device/windows/" + std::to_string(run.pid)), ec);
        },
        kStartSeconds * 1000));
    // The window comes to the front just after it is published.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    x.press(w, XK_F3);  // Green
    x.press(w, XK_7);   // Digit 7
    x.click(w, 2 * 120 + 1, 2 * 161 + 1);
    x.focus(w);
    x.focus(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the focus change settles
    x.focus(w);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    x.close(w);
    ASSERT_EQ(run.wait(kStartSeconds), 0) << run.output();
    EXPECT_EQ(x.find("Lumovatrix on ph10c"), 0u) << "the window closes with the program";

    auto trace = readLines(dir_.file("trace"));
    int green = findEntry(trace, "window: key 114");
    EXPECT_GE(green, 0) << readText(dir_.file("trace"));
    EXPECT_GT(findEntry(trace, "window: key 55", green), green);
    EXPECT_GE(findEntry(trace, "window: tap 120 161"), 0);
    int lost = findEntry(trace, "foreground: another program");
    ASSERT_GE(lost, 0) << "losing the focus sends the program to the background";
    EXPECT_GT(findEntry(trace, "GXSuspend", lost), lost);
    int back = findEntry(trace, "foreground: program", lost);
    ASSERT_GT(back, lost) << "regaining it brings the program back";
    EXPECT_GT(findEntry(trace, "GXResume", back), back);
    int close = findEntry(trace, "window: close", back);
    ASSERT_GT(close, back);
    EXPECT_GT(findEntry(trace, "DestroyWindow", close), close);
}

TEST_F(ProgramWindow, AScriptDrivesTheProgramWhileShownAndItsEndClosesTheWindow) {
    dir_.write("s", "wait 1500\nkey Green\nscreenshot a.png\nwait 300\n");
    ProgramRun run;
    run.start(args({"--window", "1", "--script", dir_.file("s"), "--", "1"}), dir_.file("out"));
    XClient x(server_->name());
    Window w = 0;
    waitUntil([&] { return (w = x.find("Lumosnapper on ph10c")) != 0; }, kStartSeconds * 1000);
    EXPECT_NE(w, 0u) << "the screen-capture edition names itself";
    int width = 0, height = 0;
    if (w) x.size(w, width, height);
    EXPECT_EQ(width, 240);
    EXPECT_EQ(height, 320);
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
              std::string::npos)
        << readText(dir_.file("nodisplay"));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("trace"))) << "the program never ran";
}

}  // namespace
