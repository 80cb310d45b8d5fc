// The built program with its desktop window, run as its own process on a private X server: the
// options, the window's title and size, and the window and the program ending together. What the
// window does with input is checked in window_frontend_test.cpp on a stand-in program.
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

TEST_F(ProgramWindow, AScriptDrivesTheProgramWhileShownAndItsEndClosesTheWindow) {
    dir_.write("s", "wait 1500\nkey Green\nscreenshot a.png\nwait 300\n");
    ProgramRun run;
    run.start(args({"--window", "2", "--script", dir_.file("s"), "--", "1"}), dir_.file("out"));
    XClient x(server_->name());
    Window w = 0;
    waitUntil([&] { return (w = x.find("Lumosnapper on ph10c")) != 0; }, kStartSeconds * 1000);
    EXPECT_NE(w, 0u) << "the screen-capture edition names itself";
    int width = 0, height = 0;
    if (w) x.size(w, width, height);
    EXPECT_EQ(width, 480) << "the device's screen, twice its size";
    EXPECT_EQ(height, 640);
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
