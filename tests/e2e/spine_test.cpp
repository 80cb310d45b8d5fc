// The program as a whole, run as its own process on simulated devices: start-up, the single
// instance, losing and regaining the foreground, shutdown, and the Linux command line.
#include <gtest/gtest.h>

#include <regex>

#include "e2e/e2e_support.h"

namespace {

std::vector<std::string> baseArgs(const TempFolder& dir, const std::string& script) {
    return {"--root",   dir.file("device"), "--shots", dir.file("shots"),
            "--script", dir.file(script),   "--trace", dir.file(script + ".trace")};
}

// The first of `steps` that the trace does not hold after the steps before it; "" when the
// trace holds them all in this order.
std::string missingStep(const std::vector<std::string>& trace,
                        const std::vector<std::string>& steps) {
    int at = 0;
    for (const std::string& step : steps) {
        const int found = findEntry(trace, step, at);
        if (found < 0) return step;
        at = found + 1;
    }
    return "";
}

TEST(Startup, DrawsTheFirstScreenAndShutsDownInOrder) {
    TempFolder dir;
    ASSERT_EQ(runScript(dir, "wait 200\nscreenshot first.png\n"), 0) << readText(dir.file("out"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("shots/first.png")));
    // The script's end closes the window: GAPI closes, and shutdown gives the display mode back.
    const auto trace = readLines(dir.file("trace"));
    const std::string start[] = {"CreateWindowExW Lumovatrix", "GXOpenDisplay", "GXOpenInput",
                                 "SHFullScreen 0x2A", "DestroyWindow"};
    EXPECT_EQ(missingStep(trace, {std::begin(start), std::end(start)}), "");
    EXPECT_EQ(missingStep(trace, {"DestroyWindow", "GXCloseInput"}), "");
    EXPECT_EQ(missingStep(trace, {"DestroyWindow", "ChangeDisplaySettingsEx CDS_RESET"}), "");
}

TEST(Startup, ASecondInstanceBringsTheFirstToTheFrontAndEnds) {
    TempFolder dir;
    // The first goes to the background and stays until something brings it back: the second.
    dir.write("first", "background\nawait background\necho away\nawait foreground 60000\n");
    dir.write("second", "wait 100\n");
    ProgramRun first;
    first.start(baseArgs(dir, "first"), dir.file("first.out"));
    ASSERT_TRUE(awaitOutput(first, "away\n", 30)) << first.output();
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
    ASSERT_EQ(runScript(dir, "wait 200\nbackground\nwait 200\nforeground\nwait 200\n"), 0)
        << readText(dir.file("out"));
    const std::string steps[] = {"SHHandleWMActivate 0",
                                 "GXSuspend",
                                 "SHFullScreen 0x15",
                                 "MoveWindow 0 26 240 294",
                                 "ChangeDisplaySettingsEx CDS_RESET",
                                 "SHHandleWMActivate 1",
                                 "GXResume",
                                 "SHFullScreen 0x2A",
                                 "MoveWindow 0 0 240 320"};
    EXPECT_EQ(missingStep(readLines(dir.file("trace")), {std::begin(steps), std::end(steps)}), "");
}

// The README's small script, as the README shows it (indented under "A small script:").
std::string readmeScript() {
    const std::string readme =
        std::filesystem::path(LUMO_TOUR_SCRIPT).parent_path().parent_path() / "README.md";
    std::string script;
    bool in = false;
    for (const std::string& line : readLines(readme)) {
        if (line == "A small script:") {
            in = true;
        } else if (in && line.rfind("    ", 0) == 0) {
            script += line.substr(4) + "\n";
        } else if (in && !script.empty()) {
            break;
        }
    }
    return script;
}

// The leftmost `columns` columns of a screenshot below its first `top` rows: on the default
// device the scene's colour bars lie still there (the scene's time marker is in the top rows),
// under the overlay's texts (the "Choose action" page, or the mode and zoom).
std::vector<uint8_t> leftColumns(const Picture& p, int columns, int top) {
    std::vector<uint8_t> out;
    for (int y = top; y < p.height; ++y) out.insert(out.end(), p.at(0, y), p.at(columns, y));
    return out;
}

// The README's example takes a photo, keeps it with "Save Photo" and takes its screenshot at
// once: the screenshot shows the live picture after the saved photo (the same overlay as a run
// that waits two seconds before it), never the "Choose action" page, however loaded the machine.
TEST(Scripts, TheReadmeExampleShowsThePictureAfterTheSavedPhoto) {
    const std::string script = readmeScript();
    ASSERT_NE(script.find("screenshot after-photo.png"), std::string::npos) << script;
    const std::string settled = std::regex_replace(script, std::regex("screenshot after-photo.png"),
                                                   "wait 2000\nscreenshot after-photo.png");
    TempFolder reference;
    ASSERT_EQ(runScript(reference, settled), 0) << readText(reference.file("out"));
    const Picture expected = readPng(reference.file("shots/after-photo.png"));
    ASSERT_GT(expected.width, 0);
    constexpr int kColumns = 90;  // the first colour bar column is 96 pixels wide at 240 x 320
    constexpr int kMarkerRows = 32;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        TempFolder dir;
        ASSERT_EQ(runScript(dir, script), 0) << readText(dir.file("out"));
        const Picture shot = readPng(dir.file("shots/after-photo.png"));
        ASSERT_EQ(shot.width, expected.width);
        EXPECT_TRUE(leftColumns(shot, kColumns, kMarkerRows) ==
                    leftColumns(expected, kColumns, kMarkerRows))
            << "the screenshot does not show the picture after the saved photo";
        EXPECT_EQ(madeFiles(dir.file("device"), ".jpg").size(), 1u);
    }
}

// Each mistake gets one line naming what was wrong and where, a near miss the name it was near,
// a file that cannot be read the system's reason; the pointer to --help only where the help
// explains the matter (options, script commands, key names).
TEST(LinuxSide, BadOptionsProfilesAndScriptsGetOneClearLine) {
    TempFolder dir;
    dir.write("bad.profile", "based-on = ph10c\ndisplay = 240 by 320\n");
    dir.write("bad.script", "wait 10\nkey Nonsense\n");
    dir.write("near-key.script", "key prog3\n");
    dir.write("near-verb.script", "screnshot a.png\n");
    dir.write("bad-await.script", "await files jpg 2\n");
    dir.write("late.script", "wait 10\nawait files .avi 1 300\n");
    std::filesystem::create_directory(dir.file("folder"));
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string line;
        bool pointsToHelp;
    };
    const Case cases[] = {
        {{"--frobnicate"}, 2, "unknown option '--frobnicate'", true},
        {{"--scrip", "x"}, 2, "unknown option '--scrip' (did you mean '--script'?)", true},
        {{"--profile", "nosuchdevice"},
         2,
         "no built-in profile 'nosuchdevice'; see --list-",
         false},
        {{"--profile", "ph10"}, 2, "no built-in profile 'ph10' (did you mean 'ph10c'?)", false},
        {{"--profile", dir.file("folder")}, 2, "folder: a folder, not a profile file", false},
        {{"--profile", dir.file("gone.profile")},
         2,
         "gone.profile: cannot read the profile file: No such file or directory",
         false},
        {{"--profile", dir.file("bad.profile"), "--root", dir.file("d")},
         2,
         "bad.profile:2: display must be",
         false},
        {{"--script", dir.file("bad.script"), "--root", dir.file("d")},
         2,
         "bad.script:2: unknown key 'Nonsense'",
         true},
        {{"--script", dir.file("near-key.script")},
         2,
         "near-key.script:1: unknown key 'prog3' (did you mean 'Prog3'?)",
         true},
        {{"--script", dir.file("near-verb.script")},
         2,
         "near-verb.script:1: unknown command 'screnshot' (did you mean 'screenshot'?)",
         true},
        {{"--script", dir.file("bad-await.script"), "--root", dir.file("d")},
         2,
         "bad-await.script:1: await files needs the extension with its dot: .jpg, not jpg",
         true},
        {{"--script", dir.file("folder")}, 2, "folder: a folder, not a script", false},
        {{"--script", dir.file("gone.lumo")},
         2,
         "gone.lumo: cannot read: No such file or directory",
         false},
        // A script that awaits what never comes fails at its time limit, and says so.
        {{"--script", dir.file("late.script"), "--root", dir.file("d")},
         1,
         "line 2: fewer than 1 .avi files on the device after 300 ms",
         false},
        {{"--help"}, 0, "Usage: lumovatrix", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(runProgram(c.args, dir.file("out")), c.status);
        const std::string out = readText(dir.file("out"));
        EXPECT_NE(out.find(c.line), std::string::npos) << out;
        EXPECT_EQ(out.find("(see lumovatrix --help)") != std::string::npos, c.pointsToHelp) << out;
        if (c.status == 2) {
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        }
    }
}

}  // namespace
