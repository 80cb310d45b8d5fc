// The program as a whole, run as its own process on simulated devices: start-up, the single
// instance, losing and regaining the foreground, shutdown.
#include <gtest/gtest.h>

#include "support/program_run.h"

namespace {

std::vector<std::string> baseArgs(const TempFolder& dir, const std::string& script) {
    return {"--root", dir.file("device"), "--shots", dir.file("shots"), "--script",
            dir.file(script), "--trace", dir.file(script + ".trace")};
}

TEST(Startup, DrawsTheFirstScreenAndShutsDownInOrder) {
    TempFolder dir;
    dir.write("s", "wait 200\nscreenshot first.png\n");
    ASSERT_EQ(runProgram(baseArgs(dir, "s"), dir.file("out")), 0) << readText(dir.file("out"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("shots/first.png")));
    auto trace = readLines(dir.file("s.trace"));
    int window = findEntry(trace, "CreateWindowExW Lumovatrix");
    int display = findEntry(trace, "GXOpenDisplay", window);
    int input = findEntry(trace, "GXOpenInput", display);
    int full = findEntry(trace, "SHFullScreen 0x2A", input);
    ASSERT_GE(window, 0);
    EXPECT_GT(display, window);
    EXPECT_GT(input, display);
    EXPECT_GT(full, input);
    // The script's end closes the window: GAPI closes, and shutdown gives the display mode back.
    int destroy = findEntry(trace, "DestroyWindow", full);
    EXPECT_GT(findEntry(trace, "GXCloseInput", destroy), destroy);
    EXPECT_GT(findEntry(trace, "ChangeDisplaySettingsEx CDS_RESET", destroy), destroy);
}

TEST(Startup, ASecondInstanceBringsTheFirstToTheFrontAndEnds) {
    TempFolder dir;
    dir.write("first", "wait 2500\n");
    dir.write("second", "wait 100\n");
    ProgramRun first;
    first.start(baseArgs(dir, "first"), dir.file("first.out"));
    // Wait until the first has published its window.
    for (int i = 0; i < 200; ++i) {
        std::error_code ec;
        if (std::filesystem::exists(dir.file("device/.device/windows/" + std::to_string(first.pid)),
                                    ec))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(runProgram(baseArgs(dir, "second"), dir.file("second.out"), 20), 0);
    auto second = readLines(dir.file("second.trace"));
    EXPECT_LT(findEntry(second, "CreateWindowExW"), 0) << "no second window";
    EXPECT_GE(findEntry(second, "SetForegroundWindow another process"), 0);
    ASSERT_EQ(first.wait(30), 0) << first.output();
    auto trace = readLines(dir.file("first.trace"));
    EXPECT_GE(findEntry(trace, "SetForegroundWindow from another process"), 0);
}

TEST(Foreground, LosingItRunsTheDeactivationStepsInOrderAndRegainingItRestores) {
    TempFolder dir;
    dir.write("s", "wait 200\nbackground\nwait 200\nforeground\nwait 200\n");
    ASSERT_EQ(runProgram(baseArgs(dir, "s"), dir.file("out")), 0) << readText(dir.file("out"));
    auto trace = readLines(dir.file("s.trace"));
    int lost = findEntry(trace, "SHHandleWMActivate 0");
    ASSERT_GE(lost, 0);
    int suspend = findEntry(trace, "GXSuspend", lost);
    int show = findEntry(trace, "SHFullScreen 0x15", suspend);
    int move = findEntry(trace, "MoveWindow 0 26 240 294", show);
    int reset = findEntry(trace, "ChangeDisplaySettingsEx CDS_RESET", move);
    EXPECT_GT(suspend, lost);
    EXPECT_GT(show, suspend);
    EXPECT_GT(move, show);
    EXPECT_GT(reset, move);
    int back = findEntry(trace, "SHHandleWMActivate 1", reset);
    ASSERT_GT(back, reset);
    int resume = findEntry(trace, "GXResume", back);
    int hide = findEntry(trace, "SHFullScreen 0x2A", resume);
    EXPECT_GT(resume, back);
    EXPECT_GT(hide, resume);
    EXPECT_GT(findEntry(trace, "MoveWindow 0 0 240 320", hide), hide);
}

TEST(LinuxSide, BadOptionsProfilesAndScriptsGetOneClearLine) {
    TempFolder dir;
    EXPECT_EQ(runProgram({"--frobnicate"}, dir.file("a")), 2);
    EXPECT_NE(readText(dir.file("a")).find("unknown option '--frobnicate'"), std::string::npos);
    EXPECT_EQ(runProgram({"--profile", "nosuchdevice"}, dir.file("b")), 2);
    EXPECT_NE(readText(dir.file("b")).find("no built-in profile 'nosuchdevice'"),
              std::string::npos);
    dir.write("bad.profile", "based-on = ph10c\ndisplay = 240 by 320\n");
    EXPECT_EQ(runProgram({"--profile", dir.file("bad.profile"), "--root", dir.file("d")},
                         dir.file("c")),
              2);
    EXPECT_NE(readText(dir.file("c")).find("bad.profile:2: display must be"), std::string::npos);
    dir.write("bad.script", "wait 10\nkey Nonsense\n");
    EXPECT_EQ(runProgram({"--script", dir.file("bad.script"), "--root", dir.file("d")},
                         dir.file("e")),
              2);
    EXPECT_NE(readText(dir.file("e")).find("bad.script:2: unknown key 'Nonsense'"),
              std::string::npos);
    EXPECT_EQ(runProgram({"--help"}, dir.file("f")), 0);
    EXPECT_NE(readText(dir.file("f")).find("Usage: lumovatrix"), std::string::npos);
}

}  // namespace

namespace {

// The program closed in the middle of a recording keeps the movie whole: header and index are
// written, so players read every picture.
TEST(Shutdown, ClosingWhileRecordingKeepsTheMovie) {
    TempFolder dir;
    dir.write("s", "wait 300\nkey Right\nwait 300\nkey Start\nwait 1500\nquit\n");
    ASSERT_EQ(runProgram(baseArgs(dir, "s"), dir.file("out")), 0) << readText(dir.file("out"));
    std::string movie;  // on the storage card, the default place when the device has one
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.file("device")))
        if (entry.path().extension() == ".avi") movie = entry.path();
    ASSERT_FALSE(movie.empty()) << "a movie was recorded";
    std::string probe = dir.file("probe");
    std::string command = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                          "stream=codec_name,nb_read_frames -of csv=p=0 '" + movie + "' > '" +
                          probe + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << readText(probe);
    std::string answer = readText(probe);
    EXPECT_EQ(answer.rfind("mjpeg,", 0), 0u) << answer;
    EXPECT_GT(std::atoi(answer.c_str() + 6), 5) << "about 1.5 s at 25 frames a second";
}

}  // namespace
