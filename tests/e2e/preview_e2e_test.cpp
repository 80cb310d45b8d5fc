// The preview as the built program runs it: live frames on the display, the display copy's
// GXBeginDraw bracket, the screen-capture edition's overlay on black with its About screen, and
// the tour running to its end. Screenshots are read back with libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/program_run.h"

namespace {

struct Shot {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

Shot readShot(const std::string& path) {
    Shot shot;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return shot;
    image.format = PNG_FORMAT_RGB;
    shot.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, shot.rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return Shot{};
    }
    shot.width = static_cast<int>(image.width);
    shot.height = static_cast<int>(image.height);
    return shot;
}

// Pixels in columns [x0, x1) whose colour is close to (r, g, b).
int countColour(const Shot& s, int x0, int x1, int r, int g, int b) {
    int n = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = s.at(x, y);
            if (std::abs(p[0] - r) < 16 && std::abs(p[1] - g) < 16 && std::abs(p[2] - b) < 16) ++n;
        }
    return n;
}

std::vector<std::string> runArgs(const TempFolder& dir, const std::string& script) {
    return {"--root",   dir.file("device"), "--shots", dir.file("shots"),
            "--script", dir.file(script),   "--trace", dir.file(script + ".trace")};
}

TEST(LivePreview, FramesReachTheDisplayAndOnlyTheFirstCopyIsBracketed) {
    TempFolder dir;
    // Without the raw frame-buffer escape the display address comes from the first GXBeginDraw.
    dir.write("gapi.profile", "based-on = ph10c\nraw-framebuffer = no\n");
    dir.write("s", "wait 600\nscreenshot a.png\nwait 400\nscreenshot b.png\n");
    std::vector<std::string> args = runArgs(dir, "s");
    args.insert(args.end(), {"--profile", dir.file("gapi.profile")});
    ASSERT_EQ(runProgram(args, dir.file("out"), 60), 0) << readText(dir.file("out"));
    const Shot a = readShot(dir.file("shots/a.png"));
    const Shot b = readShot(dir.file("shots/b.png"));
    ASSERT_EQ(a.width, 240);
    ASSERT_EQ(a.height, 320);
    EXPECT_NE(a.rgb, b.rgb) << "the camera picture moves";
    EXPECT_GT(countColour(a, 0, 240, 255, 0, 0), 1000) << "the scene's red bar is on screen";
    const std::vector<std::string> trace = readLines(dir.file("s.trace"));
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "GXBeginDraw"), 1);
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "GXEndDraw"), 1);
}

// The screen-capture edition keeps the display black under its texts: the prompt to start, and
// the About screen of Lumosnapper ("Landscape L": text rows are 16-pixel columns from the left).
TEST(ScreenCaptureEdition, ShowsItsTextsOnBlackAndItsAboutScreen) {
    TempFolder dir;
    dir.write("s",
              "wait 500\nscreenshot p1.png\nwait 550\nscreenshot p2.png\n"
              "key A\nkey Down\nkey Down\nkey Start\nwait 400\nscreenshot about.png\n");
    std::vector<std::string> args = runArgs(dir, "s");
    args.insert(args.end(), {"--", "1"});
    ASSERT_EQ(runProgram(args, dir.file("out"), 60), 0) << readText(dir.file("out"));
    const Shot p1 = readShot(dir.file("shots/p1.png"));
    const Shot p2 = readShot(dir.file("shots/p2.png"));
    const Shot about = readShot(dir.file("shots/about.png"));
    ASSERT_EQ(p1.width, 240);
    ASSERT_EQ(about.width, 240);
    EXPECT_GT(countColour(p1, 0, 240, 0, 0, 0), 240 * 320 * 9 / 10) << "black under the texts";
    // "To start screen capture" blinks on text row 4.
    EXPECT_GT(countColour(p1, 64, 80, 0, 0, 255) + countColour(p2, 64, 80, 0, 0, 255), 50);
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
