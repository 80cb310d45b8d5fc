// The preview as the built program runs it: live frames on the display, the display copy's
// GXBeginDraw bracket, the screen-capture edition's overlay on black with its About screen, and
// the tour running to its end.
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e/e2e_support.h"

namespace {

TEST(LivePreview, FramesReachTheDisplayAndOnlyTheFirstCopyIsBracketed) {
    TempFolder dir;
    // Without the raw frame-buffer escape the display address comes from the first GXBeginDraw.
    dir.write("gapi.profile", "based-on = ph10c\nraw-framebuffer = no\n");
    ASSERT_EQ(runScript(dir, "wait 600\nscreenshot a.png\nwait 400\nscreenshot b.png\n",
                        {"--profile", dir.file("gapi.profile")}),
              0)
        << readText(dir.file("out"));
    const Picture a = readPng(dir.file("shots/a.png"));
    const Picture b = readPng(dir.file("shots/b.png"));
    ASSERT_EQ(a.width, 240);
    ASSERT_EQ(a.height, 320);
    EXPECT_NE(a.pixels, b.pixels) << "the camera picture moves";
    EXPECT_GT(countColour(a, 0, 240, 255, 0, 0), 1000) << "the scene's red bar is on screen";
    const std::vector<std::string> trace = readLines(dir.file("trace"));
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "GXBeginDraw"), 1);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "GXEndDraw"), 1);
}

// The screen-capture edition keeps the display black under its texts: the prompt to start, and
// the About screen of Lumosnapper ("Landscape L": text rows are 16-pixel columns from the left).
TEST(ScreenCaptureEdition, ShowsItsTextsOnBlackAndItsAboutScreen) {
    TempFolder dir;
    const std::string script =
        "wait 500\nscreenshot p1.png\nwait 300\nscreenshot p2.png\n"
        "wait 300\nscreenshot p3.png\nwait 300\nscreenshot p4.png\n"
        "key A\nkey Down\nkey Down\nkey Start\nwait 400\nscreenshot about.png\n";
    ASSERT_EQ(runScript(dir, script, {"--", "1"}), 0) << readText(dir.file("out"));
    const Picture p1 = readPng(dir.file("shots/p1.png"));
    const Picture about = readPng(dir.file("shots/about.png"));
    ASSERT_EQ(p1.width, 240);
    ASSERT_EQ(about.width, 240);
    EXPECT_GT(countColour(p1, 0, 240, 0, 0, 0), 240 * 320 * 9 / 10) << "black under the texts";
    // "To start screen capture" blinks on text row 4, shown and hidden for 500 ms each: four
    // screenshots 300 ms apart catch it at least once.
    int prompt = 0;
    for (const char* shot : {"p1.png", "p2.png", "p3.png", "p4.png"})
        prompt += countColour(readPng(dir.file(std::string("shots/") + shot)), 64, 80, 0, 0, 255);
    EXPECT_GT(prompt, 50);
    // About: the blue title on row 1 and the yellow version on row 4, where the prompt was.
    EXPECT_GT(countColour(about, 16, 32, 0, 0, 255), 50);
    EXPECT_GT(countColour(about, 64, 80, 255, 255, 0), 50);
    EXPECT_EQ(countColour(about, 64, 80, 0, 0, 255), 0) << "the prompt is gone";
}

TEST(Tour, RunsToTheEndWithEveryScreenshot) {
    TempFolder dir;
    ASSERT_EQ(runProgram({"--root", dir.file("device"), "--shots", dir.file("shots"), "--script",
                          LUMO_TOUR_SCRIPT},
                         dir.file("out"), 120),
              0)
        << readText(dir.file("out"));
    size_t screenshots = 0;
    for (const std::string& line : readLines(LUMO_TOUR_SCRIPT))
        if (line.rfind("screenshot ", 0) == 0) {
            ++screenshots;
            EXPECT_TRUE(std::filesystem::exists(dir.file("shots/" + line.substr(11)))) << line;
        }
    EXPECT_GE(screenshots, 14u);
}

}  // namespace
