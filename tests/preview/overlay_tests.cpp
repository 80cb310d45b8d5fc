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
    static bool anyColour(const Picture& p, uint16_t colour, uint32_t row) {
        const int w = gApp.screenImage.header.biWidth;
        for (int i = int(row) * 16 * w; i < (int(row) + 1) * 16 * w; ++i)
            if (p[i] == colour) return true;
        return false;
    }
};

TEST_F(Overlay, PortraitOnQvgaIs30By20WithCentre3) {
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
    clear();
    put(kOsdBlue, 3, 4, "To start screen capture");
    put(kOsdBlue, 4, 5, "press 'Action' button");
    const Picture want = picture();
    EXPECT_TRUE(sameCells(got, want, 0, 4, 30));
    EXPECT_TRUE(sameCells(got, want, 0, 5, 30));
}

TEST_F(Overlay, LandscapeLeftStartsAtTheBottomRowAndRunsUpwards) {
    setTextOrientation(0);
    layOutText(gApp.screenImage);
    EXPECT_EQ(gOsdText.columns, 40u);
    EXPECT_EQ(gOsdText.rows, 15u);
    EXPECT_EQ(gOsdText.target, screen() + 319 * 240) << "first pixel of the bottom row";
    EXPECT_EQ(gOsdText.pixelStep, -240);
    EXPECT_EQ(gOsdText.lineStep, 1);
}

// Where font pixel (fx, fy) of the character in cell (column, row) lands, per orientation.
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
    const Picture got = picture();
    clear();
    put(kOsdWhite, 0, 0, "AB");
    put(kOsdWhite, 0, 1, "C");
    EXPECT_EQ(got, picture());

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
    const Picture got = overlayAt(1000);
    clear();
    put(kOsdGreen, 22, 0, "150%h");
    EXPECT_TRUE(sameCells(got, picture(), 22, 0, 8));
}

TEST_F(Overlay, AMessageShowsForItsDurationAndIsClearedOnTheNextFrame) {
    static const char kText[] = "Exposure Locked";
    gApp.osdMessageStart.store(10000);
    gApp.osdMessageDuration.store(2000);
    gApp.osdMessage.store(kText);
    Picture got = overlayAt(12000);
    EXPECT_EQ(gApp.osdMessage.load(), kText);
    clear();
    put(kOsdYellow, 1, 19, kText);
    const Picture want = picture();
    EXPECT_TRUE(sameCells(got, want, 1, 19, 15));
    got = overlayAt(12001);
    EXPECT_EQ(gApp.osdMessage.load(), nullptr);
    EXPECT_FALSE(anyColour(got, kOsdYellow, 19));
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
    clear();
    put(kOsdGreen, 24, 0, "fps:12");
    EXPECT_TRUE(sameCells(got, picture(), 24, 0, 6));
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
    clear();
    put(kOsdRed, 1, 19, "Rec ");
    put(kOsdGreen, 8, 19, "10s");
    const Picture want = picture();
    EXPECT_TRUE(sameCells(on, want, 1, 19, 10));
    clear();
    put(kOsdYellow, 1, 19, "nosnd");  // no sound in this movie
    put(kOsdGreen, 8, 19, "10s");
    EXPECT_TRUE(sameCells(off, picture(), 1, 19, 10));
}

TEST_F(Overlay, IntervalAndWebcamIndicators) {
    frameCaptureMode.store(kModeInterval);
    seenActivity.store(Active);
    gApp.activity.store(Active);
    gApp.intervalShots.store(7);
    Picture got = overlayAt(1000);
    clear();
    put(kOsdRed, 1, 19, "Shoots:");
    put(kOsdGreen, 9, 19, "7");
    EXPECT_TRUE(sameCells(got, picture(), 1, 19, 10));

    frameCaptureMode.store(kModeWebcam);
    WebcamLink& link = gWebcamLink;
    link.connectAttempts.store(2);
    got = overlayAt(1001);
    clear();
    put(kOsdYellow, 1, 19, "Connecting.. 3");
    EXPECT_TRUE(sameCells(got, picture(), 1, 19, 14));
    link.socket.store(0);  // any descriptor: the link is connected
    link.bytesSent.store(250000);
    link.elapsedMs.store(5000);
    got = overlayAt(1002);
    link.socket.store(INVALID_SOCKET);
    link.bytesSent.store(0);
    link.elapsedMs.store(0);
    link.connectAttempts.store(0);
    clear();
    put(kOsdYellow, 1, 19, "Webcam 50 kb/s");
    EXPECT_TRUE(sameCells(got, picture(), 1, 19, 14));
}

TEST_F(Overlay, TheAboutScreenShowsTheProductAndNothingElse) {
    seenActivity.store(About);
    gApp.activity.store(About);
    const Picture got = overlayAt(1000);
    clear();
    put(kOsdBlue, 3, 1, "Quorvale Lumovatrix");
    put(kOsdYellow, 3, 4, "Version 1.13");
    put(kOsdYellow, 3, 5, "www.quorvale.com/lumovatrix");
    put(kOsdYellow, 3, 7, "Model: HTC PH10C");
    EXPECT_EQ(got, picture());
}

TEST_F(Overlay, AModelWithPercentSignsIsShownSafely) {
    seenActivity.store(About);
    std::snprintf(gDeviceInfo.model, sizeof gDeviceInfo.model, "%s", "X%s%n%%Y");
    const Picture got = overlayAt(1000);
    clear();
    put(kOsdYellow, 3, 7, "Model: X%s%n%Y");
    EXPECT_TRUE(sameCells(got, picture(), 0, 7, 30));
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

TEST_F(Overlay, EditingTheScreenStyleShowsTheFrameTime) {
    MenuItem items[1];
    items[0].label.store("Screen");
    items[0].setting = &setting(kSlotPhotoScreen);
    MenuPage page;
    page.items = items;
    page.itemCount = 1;
    page.editStartIndex.store(0);
    frameWorkMillis.store(7);
    clear();
    drawMenuPage(page, gApp.screenImage);
    const Picture got = picture();
    clear();
    put(kOsdGreen, 1, 0, "Screen 7ms");
    EXPECT_TRUE(sameCells(got, picture(), 0, 0, 30));
}

TEST_F(Overlay, ABrowsedPageListsItsItemsWithTheirValues) {
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
    clear();
    drawMenuPage(page, gApp.screenImage);
    Picture got = picture();
    clear();
    put(kOsdGreen, 1, 0, "Settings");
    put(kOsdHighlight, 0, 1, ">Rotation");
    put(kOsdHighlight, 9, 1, ":180");
    put(kOsdGreen, 0, 2, " Exposure");
    put(kOsdWhite, 0, 3, " Back");
    EXPECT_EQ(got, picture());

    page.selected.store(3);
    clear();
    drawMenuPage(page, gApp.screenImage);
    got = picture();
    clear();
    put(kOsdGreen, 1, 0, "Settings");
    put(kOsdWhite, 0, 1, " Rotation");
    put(kOsdWhite, 9, 1, ":");
    put(kOsdValue, 10, 1, "180");
    put(kOsdGreen, 0, 2, " Exposure");
    put(kOsdHighlight, 0, 3, ">Back");
    EXPECT_EQ(got, picture());
}

TEST_F(Overlay, TouchIconsMarkTheTwoCornersWhileIdle) {
    MenuPage page{};
    gApp.currentPage.store(&page);
    const Picture got = overlayAt(1000);
    clear();
    put(kOsdWhite, 27, 0, "\x7f");
    put(kOsdWhite, 1, 19, "\x80");
    const Picture want = picture();
    EXPECT_TRUE(sameCells(got, want, 27, 0, 3));
    EXPECT_TRUE(sameCells(got, want, 1, 19, 3));
    // Not on a smartphone, and not while a capture runs.
    gDeviceInfo.isSmartphone = 1;
    EXPECT_FALSE(anyColour(overlayAt(1001), kOsdWhite, 19));
    gDeviceInfo.isSmartphone = 0;
    gApp.activity.store(Active);
    seenActivity.store(Active);
    EXPECT_FALSE(anyColour(overlayAt(1002), kOsdWhite, 0));
}

}  // namespace
