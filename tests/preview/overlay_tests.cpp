// The text layer and the overlay: glyph pixels against the font file in every orientation, the
// layer's size and centre, text clipping and formatting, the transient message, the indicators
// and the menu pages. Expected lines are drawn with drawText on a blank picture and compared
// pixel for pixel; drawText itself is checked against the font file.
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "media/avi_writer.h"
#include "net/webcam.h"
#include "preview_test_support.h"

namespace {

using namespace preview_test;

class Overlay : public PreviewTest {
  protected:
    using Picture = std::vector<uint16_t>;

    static Picture picture() {
        const auto* p = reinterpret_cast<const uint16_t*>(gApp.screenImage.pixels);
        return Picture(p, p + gApp.screenImage.header.biSizeImage / 2);
    }
    static void clear() {
        std::memset(gApp.screenImage.pixels, 0, gApp.screenImage.header.biSizeImage);
        layOutText(gApp.screenImage);
    }
    static void put(uint16_t colour, uint32_t column, uint32_t row, const char* text) {
        gOsdText.colour = colour;
        gOsdText.column = column;
        gOsdText.row = row;
        drawText(text);
    }
    // The overlay's picture for this frame time, on black.
    static Picture overlayAt(uint32_t now) {
        std::memset(gApp.screenImage.pixels, 0, gApp.screenImage.header.biSizeImage);
        frameStartTick.store(now);
        drawOverlay(gApp.screenImage);
        return picture();
    }
    // Whether the pixels of `cells` text cells from (column, row) agree ("Portrait" layer).
    static bool sameCells(const Picture& a, const Picture& b, uint32_t column, uint32_t row,
                          uint32_t cells) {
        const int w = gApp.screenImage.header.biWidth;
        for (uint32_t y = row * 16; y < row * 16 + 16; ++y)
            for (uint32_t x = column * 8; x < (column + cells) * 8; ++x)
                if (a[y * w + x] != b[y * w + x]) return false;
        return true;
    }
    struct Text {
        uint16_t colour;
        uint32_t column, row;
        const char* text;
    };
    // `got` shows, in the `cells` cells from (column, row), what drawText makes of `texts` on
    // black; with no cells given, the whole picture must agree.
    static void expectShows(const Picture& got, std::initializer_list<Text> texts,
                            uint32_t column = 0, uint32_t row = 0, uint32_t cells = 0) {
        clear();
        for (const Text& t : texts) put(t.colour, t.column, t.row, t.text);
        if (cells == 0) {
            EXPECT_EQ(got, picture());
        } else {
            EXPECT_TRUE(sameCells(got, picture(), column, row, cells));
        }
    }
    static bool anyColour(const Picture& p, uint16_t colour, uint32_t row) {
        const int w = gApp.screenImage.header.biWidth;
        for (int i = int(row) * 16 * w; i < (int(row) + 1) * 16 * w; ++i)
            if (p[i] == colour) return true;
        return false;
    }
};

// Where "Landscape L" text starts and which way it runs is shown by the glyph test below.
TEST_F(Overlay, PortraitOnQvgaIs30By20WithCentre3AndLandscape40By15) {
    setTextOrientation(0);
    layOutText(gApp.screenImage);
    EXPECT_EQ(gOsdText.columns, 40u);
    EXPECT_EQ(gOsdText.rows, 15u);
    setTextOrientation(1);
    layOutText(gApp.screenImage);
    EXPECT_EQ(gOsdText.columns, 30u);
    EXPECT_EQ(gOsdText.rows, 20u);
    // The screen-capture prompt (23 characters) starts at the centre column, 3.
    gApp.screenCaptureEdition = 1;
    MenuPage page{};
    gApp.currentPage.store(&page);
    gOverlayState.blinkOn = 0;  // toggles on at this frame
    const Picture got = overlayAt(1000);
    gApp.screenCaptureEdition = 0;
    expectShows(got, {{kOsdBlue, 3, 4, "To start screen capture"}}, 0, 4, 30);
    expectShows(got, {{kOsdBlue, 4, 5, "press 'Action' button"}}, 0, 5, 30);
}

// Where font pixel (fx, fy) of the character in cell (column, row) lands, per orientation:
// "Landscape L" (0) starts at the first pixel of the bottom row and runs upwards.
std::pair<int, int> landing(uint32_t orientation, int column, int row, int fx, int fy, int w,
                            int h) {
    const int along = column * 8 + fx, down = row * 16 + fy;
    switch (orientation) {
        case 0:
            return {down, h - 1 - along};
        case 1:
            return {along, down};
        case 2:
            return {w - 1 - down, along};
        default:
            return {w - 1 - along, h - 1 - down};
    }
}

TEST_F(Overlay, GlyphsMatchTheFontFileInEveryOrientation) {
    const FontFile font;
    ASSERT_TRUE(font.loaded());
    const int w = 240, h = 320;
    for (uint32_t orientation = 0; orientation < 4; ++orientation) {
        setTextOrientation(orientation);
        clear();
        // A letter, and the exit icon, which is wider than its cell.
        put(kOsdRed, 2, 1, "A");
        put(kOsdRed, 5, 3, "\x7f");
        std::set<std::pair<int, int>> inked;
        for (auto [code, column, row] : {std::tuple{int{'A'}, 2, 1}, std::tuple{127, 5, 3}})
            for (int fy = 0; fy < 16; ++fy)
                for (int fx = 0; fx < 32; ++fx)
                    if (font.ink(code, fx, fy))
                        inked.insert(landing(orientation, column, row, fx, fy, w, h));
        ASSERT_GT(inked.size(), 20u);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(screenAt(x, y), inked.count({x, y}) ? kOsdRed : 0)
                    << "orientation " << orientation << " at " << x << "," << y;
    }
}

TEST_F(Overlay, DrawTextSkipsATildeFollowsReturnsAndStopsAtTheEdges) {
    clear();
    put(kOsdWhite, 0, 0, "~AB\rC");
    EXPECT_EQ(gOsdText.row, 1u);
    EXPECT_EQ(gOsdText.column, 1u);
    expectShows(picture(), {{kOsdWhite, 0, 0, "AB"}, {kOsdWhite, 0, 1, "C"}});

    clear();
    gOsdText.column = 28;
    EXPECT_EQ(drawText("xyz"), 2u) << "no wrapping past column 29";
    gOsdText.row = 20;
    gOsdText.column = 0;
    EXPECT_EQ(drawText("x"), 0u) << "nothing below the last row";
    // Codes outside the font take their cell and draw nothing.
    clear();
    gOsdText.row = 2;
    EXPECT_EQ(drawText("\x01\x81"), 2u);
    EXPECT_EQ(gOsdText.column, 2u);
    const Picture blank(gApp.screenImage.header.biSizeImage / 2, 0);
    EXPECT_EQ(picture(), blank);
}

TEST_F(Overlay, IconsNearTheEdgeStayOnTheirRow) {
    // The exit icon is 21 pixels wide; in the last cell only 8 are left before the row ends.
    clear();
    put(kOsdWhite, 29, 0, "\x7f");
    for (int y = 16; y < 320; ++y)
        for (int x = 0; x < 240; ++x) ASSERT_EQ(screenAt(x, y), 0) << x << "," << y;
}

TEST_F(Overlay, LinesAreTheirOwnFormat) {
    char line[kOsdLineBytes];
    formatOsdLine(line, "150%%h");
    EXPECT_STREQ(line, "150%h");
    formatOsdLine(line, "a %d and %s stay");  // never read a missing argument
    EXPECT_STREQ(line, "a %d and %s stay");
    const std::string longText(150, 'q');
    formatOsdLine(line, longText.c_str());
    EXPECT_EQ(std::strlen(line), kOsdLineBytes - 1);
    formatOsdLine(line, nullptr);
    EXPECT_STREQ(line, "");
}

TEST_F(Overlay, TheZoomTextShowsOneSignForTheDoubledOne) {
    // Half sampling at 150 %: the controller keeps "150%%h".
    CaptureGeometry& g = gController.publishedGeometry;
    g.outWidth = 320;
    g.outHeight = 240;
    g.outRight = 639;
    g.outBottom = 479;
    g.scale = 0x18000;
    refreshStatusTexts();
    expectShows(overlayAt(1000), {{kOsdGreen, 22, 0, "150%h"}}, 22, 0, 8);
}

TEST_F(Overlay, AMessageShowsForItsDurationAndIsClearedOnTheNextFrame) {
    static const char kText[] = "Exposure Locked";
    gApp.osdMessageStart.store(10000);
    gApp.osdMessageDuration.store(2000);
    gApp.osdMessage.store(kText);
    expectShows(overlayAt(12000), {{kOsdYellow, 1, 19, kText}}, 1, 19, 15);
    EXPECT_EQ(gApp.osdMessage.load(), kText);
    EXPECT_FALSE(anyColour(overlayAt(12001), kOsdYellow, 19));
    EXPECT_EQ(gApp.osdMessage.load(), nullptr);
    // A duration of 0 keeps it until it is replaced.
    gApp.osdMessageDuration.store(0);
    gApp.osdMessage.store(kText);
    overlayAt(99999);
    EXPECT_EQ(gApp.osdMessage.load(), kText);
    gApp.osdMessage.store(nullptr);
}

TEST_F(Overlay, ThirtyFramesIn2500MsShow12Fps) {
    choose(kSlotCaptureMode, kModeVideo);
    frameCaptureMode.store(kModeVideo);
    seenActivity.store(Active);
    gApp.activity.store(Active);
    gApp.captureStartTick.store(7500);
    gAviWriter.picturesTaken.store(30);
    const Picture got = overlayAt(10000);
    gAviWriter.picturesTaken.store(0);
    expectShows(got, {{kOsdGreen, 24, 0, "fps:12"}}, 24, 0, 6);
}

TEST_F(Overlay, RecordingBlinksRecAndCountsSeconds) {
    frameCaptureMode.store(kModeVideo);
    seenActivity.store(Active);
    gApp.activity.store(Active);
    gAviWriter.ticksTotal.store(250);
    gAviWriter.frameMs.store(40);
    gOverlayState = {0, 0};
    const Picture on = overlayAt(1000);   // blink turns on
    const Picture off = overlayAt(1600);  // and off again
    gAviWriter.ticksTotal.store(0);
    expectShows(on, {{kOsdRed, 1, 19, "Rec "}, {kOsdGreen, 8, 19, "10s"}}, 1, 19, 10);
    // No sound in this movie.
    expectShows(off, {{kOsdYellow, 1, 19, "nosnd"}, {kOsdGreen, 8, 19, "10s"}}, 1, 19, 10);
}

TEST_F(Overlay, IntervalAndWebcamIndicators) {
    frameCaptureMode.store(kModeInterval);
    seenActivity.store(Active);
    gApp.activity.store(Active);
    gApp.intervalShots.store(7);
    expectShows(overlayAt(1000), {{kOsdRed, 1, 19, "Shoots:"}, {kOsdGreen, 9, 19, "7"}}, 1, 19, 10);

    // "Connecting.. N" is checked with the webcam link; here the rate of a connected link.
    frameCaptureMode.store(kModeWebcam);
    WebcamLink& link = gWebcamLink;
    link.socket.store(0);  // any descriptor: the link is connected
    link.bytesSent.store(250000);
    link.elapsedMs.store(5000);
    const Picture got = overlayAt(1002);
    link.socket.store(INVALID_SOCKET);
    link.bytesSent.store(0);
    link.elapsedMs.store(0);
    expectShows(got, {{kOsdYellow, 1, 19, "Webcam 50 kb/s"}}, 1, 19, 14);
}

TEST_F(Overlay, TheAboutScreenShowsTheProductAndNothingElse) {
    seenActivity.store(About);
    gApp.activity.store(About);
    expectShows(overlayAt(1000), {{kOsdBlue, 3, 1, "Quorvale Lumovatrix"},
                                  {kOsdYellow, 3, 4, "Version 1.13"},
                                  {kOsdYellow, 3, 5, "www.quorvale.com/lumovatrix"},
                                  {kOsdYellow, 3, 7, "Model: HTC PH10C"}});
}

TEST_F(Overlay, AModelWithPercentSignsIsShownSafely) {
    seenActivity.store(About);
    std::snprintf(gDeviceInfo.model, sizeof gDeviceInfo.model, "%s", "X%s%n%%Y");
    expectShows(overlayAt(1000), {{kOsdYellow, 3, 7, "Model: X%s%n%Y"}}, 0, 7, 30);
}

// A menu value list of 25 entries with the current one at 24 on a 20-row layer.
TEST_F(Overlay, AnEditedListScrollsSoTheCurrentValueIsOnTheLastRow) {
    ValueList list;
    list.count = 25;
    list.step = 1;
    list.current.store(24);
    MenuItem items[1];
    items[0].label.store("Quality");
    items[0].setting = &list;
    MenuPage page;
    page.title = "Photo";
    page.items = items;
    page.itemCount = 1;
    page.editStartIndex.store(24);
    clear();
    drawMenuPage(page, gApp.screenImage);
    const Picture got = picture();
    clear();
    put(kOsdGreen, 1, 0, "Quality");
    for (int i = 6; i <= 24; ++i) {
        const std::string text = (i == 24 ? ">" : " ") + std::to_string(i);
        put(i == 24 ? kOsdHighlight : kOsdValue, 0, uint32_t(i - 5), text.c_str());
    }
    EXPECT_EQ(got, picture());
}

TEST_F(Overlay, APageListsItsItemsWithTheirValuesAndEditingTheScreenShowsTheFrameTime) {
    ValueList& rotation = setting(kSlotRotation);
    rotation.current.store(2);  // "180"
    MenuItem items[4];
    items[0].label.store("Rotation");
    items[0].setting = &rotation;
    items[1].label.store("~Exposure");
    items[2].label.store(nullptr);  // hidden: takes no row
    items[3].label.store("Back");
    MenuPage page;
    page.title = "Settings";
    page.items = items;
    page.itemCount = 4;
    page.labelWidth = 8;
    page.selected.store(0);
    auto drawn = [&] {
        clear();
        drawMenuPage(page, gApp.screenImage);
        return picture();
    };
    expectShows(drawn(), {{kOsdGreen, 1, 0, "Settings"},
                          {kOsdHighlight, 0, 1, ">Rotation"},
                          {kOsdHighlight, 9, 1, ":180"},
                          {kOsdGreen, 0, 2, " Exposure"},
                          {kOsdWhite, 0, 3, " Back"}});
    page.selected.store(3);
    expectShows(drawn(), {{kOsdGreen, 1, 0, "Settings"},
                          {kOsdWhite, 0, 1, " Rotation"},
                          {kOsdWhite, 9, 1, ":"},
                          {kOsdValue, 10, 1, "180"},
                          {kOsdGreen, 0, 2, " Exposure"},
                          {kOsdHighlight, 0, 3, ">Back"}});
    items[0].label.store("Screen");
    items[0].setting = &setting(kSlotPhotoScreen);
    page.selected.store(0);
    page.editStartIndex.store(0);
    frameWorkMillis.store(7);
    expectShows(drawn(), {{kOsdGreen, 1, 0, "Screen 7ms"}}, 0, 0, 30);
}

TEST_F(Overlay, TouchIconsMarkTheTwoCornersWhileIdle) {
    MenuPage page{};
    gApp.currentPage.store(&page);
    const Picture got = overlayAt(1000);
    expectShows(got, {{kOsdWhite, 27, 0, "\x7f"}}, 27, 0, 3);
    expectShows(got, {{kOsdWhite, 1, 19, "\x80"}}, 1, 19, 3);
    // Not on a smartphone, and not while a capture runs.
    gDeviceInfo.isSmartphone = 1;
    EXPECT_FALSE(anyColour(overlayAt(1001), kOsdWhite, 19));
    gDeviceInfo.isSmartphone = 0;
    gApp.activity.store(Active);
    seenActivity.store(Active);
    EXPECT_FALSE(anyColour(overlayAt(1002), kOsdWhite, 0));
}

}  // namespace
