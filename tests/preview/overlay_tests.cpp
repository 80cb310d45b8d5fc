// The text layer and the overlay: glyph pixels against the font file in every orientation, the
// layer's size and centre, text clipping and formatting, the transient message, the indicators
// and a menu page. Expected lines are drawn with drawText on a blank picture and compared
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

    void TearDown() override {
        gAviWriter.picturesTaken.store(0);
        gAviWriter.ticksTotal.store(0);
        gWebcamLink.socket.store(INVALID_SOCKET);
        gWebcamLink.bytesSent.store(0);
        gWebcamLink.elapsedMs.store(0);
        PreviewTest::TearDown();
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
    struct Text {
        uint16_t colour;
        uint32_t column, row;
        const char* text;
    };
    // `got` shows, in the `cells` cells from (column, row) of the "Portrait" layer, or in the
    // whole picture when `cells` is 0, what drawText makes of `texts` on black.
    static void expectShows(const Picture& got, std::initializer_list<Text> texts,
                            uint32_t column = 0, uint32_t row = 0, uint32_t cells = 0) {
        clear();
        for (const Text& t : texts) put(t.colour, t.column, t.row, t.text);
        const Picture want = picture();
        const uint32_t w = 240, h = cells ? row * 16 + 16 : 320;
        for (uint32_t y = cells ? row * 16 : 0; y < h; ++y)
            for (uint32_t x = cells ? column * 8 : 0; x < (cells ? (column + cells) * 8 : w); ++x)
                ASSERT_EQ(got[y * w + x], want[y * w + x]) << x << "," << y;
    }
};

TEST_F(Overlay, PortraitOnQvgaIs30By20WithCentre3AndLandscape40By15) {
    setTextOrientation(0);
    layOutText(gApp.screenImage);
    EXPECT_EQ(std::pair(gOsdText.columns, gOsdText.rows), std::pair(40u, 15u));
    setTextOrientation(1);
    layOutText(gApp.screenImage);
    EXPECT_EQ(std::pair(gOsdText.columns, gOsdText.rows), std::pair(30u, 20u));
    // The screen-capture prompt (23 characters) starts at the centre column, 3.
    gApp.screenCaptureEdition = 1;
    MenuPage page{};
    gApp.currentPage.store(&page);
    gOverlayState.blinkOn = 0;  // toggles on at this frame
    const Picture got = overlayAt(1000);
    expectShows(got, {{kOsdBlue, 3, 4, "To start screen capture"}}, 0, 4, 30);
    expectShows(got, {{kOsdBlue, 4, 5, "press 'Action' button"}}, 0, 5, 30);
}

// Where font pixel (fx, fy) of the character in cell (column, row) lands on the 240 x 320
// picture, per orientation: "Landscape L" (0) starts at the first pixel of the bottom row and
// runs upwards.
std::pair<int, int> landing(uint32_t orientation, int column, int row, int fx, int fy) {
    const int along = column * 8 + fx, down = row * 16 + fy;
    const std::pair<int, int> at[4] = {
        {down, 319 - along}, {along, down}, {239 - down, along}, {239 - along, 319 - down}};
    return at[orientation];
}

TEST_F(Overlay, GlyphsMatchTheFontFileInEveryOrientation) {
    const FontFile font;
    ASSERT_TRUE(font.loaded());
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
                        inked.insert(landing(orientation, column, row, fx, fy));
        ASSERT_GT(inked.size(), 20u);
        for (int y = 0; y < 320; ++y)
            for (int x = 0; x < 240; ++x)
                ASSERT_EQ(screenAt(x, y), inked.count({x, y}) ? kOsdRed : 0)
                    << "orientation " << orientation << " at " << x << "," << y;
    }
}

TEST_F(Overlay, DrawTextFollowsReturnsAndStopsAtTheEdges) {
    clear();
    put(kOsdWhite, 0, 0, "AB\rC");
    EXPECT_EQ(std::pair(gOsdText.column, gOsdText.row), std::pair(1u, 1u));
    expectShows(picture(), {{kOsdWhite, 0, 0, "AB"}, {kOsdWhite, 0, 1, "C"}});
    gOsdText.column = 28;
    EXPECT_EQ(drawText("xyz"), 2u) << "no wrapping past column 29";
    gOsdText.row = 20;
    gOsdText.column = 0;
    EXPECT_EQ(drawText("x"), 0u) << "nothing below the last row";
    // Codes outside the font take their cell and draw nothing; the exit icon, 21 pixels wide,
    // in the last cell of a row stays on its row.
    clear();
    put(kOsdWhite, 0, 2, "\x01\x81");
    EXPECT_EQ(gOsdText.column, 2u);
    put(kOsdWhite, 29, 0, "\x7f");
    for (int y = 16; y < 320; ++y)
        for (int x = 0; x < 240; ++x) ASSERT_EQ(screenAt(x, y), 0) << x << "," << y;
}

TEST_F(Overlay, LinesAreTheirOwnFormat) {
    char line[kOsdLineBytes];
    formatOsdLine(line, "a %d and %s stay");  // never read a missing argument
    EXPECT_STREQ(line, "a %d and %s stay");
    formatOsdLine(line, std::string(150, 'q').c_str());
    EXPECT_EQ(std::strlen(line), kOsdLineBytes - 1);
    formatOsdLine(line, nullptr);
    EXPECT_STREQ(line, "");
}

TEST_F(Overlay, TheZoomTextShowsOneSignForTheDoubledOne) {
    // Half sampling at 150 %: the controller keeps "150%%h".
    // Sensor, crop, output window, output size, scale: 640 x 480 sampled to 320 x 240 at 150 %.
    gController.publishedGeometry = {0, 0, 0, 0, 0, 0, 0, 0, 639, 479, 320, 240, 0x18000};
    refreshStatusTexts();
    expectShows(overlayAt(1000), {{kOsdGreen, 22, 0, "150%h"}}, 22, 0, 8);
}

TEST_F(Overlay, AMessageShowsForItsDurationAndIsClearedOnTheNextFrame) {
    static const char kText[] = "Exposure Locked";
    gApp.osdMessageStart.store(10000);
    gApp.osdMessageDuration.store(2000);
    gApp.osdMessage.store(kText);
    expectShows(overlayAt(12000), {{kOsdYellow, 1, 19, kText}}, 1, 19, 15);
    expectShows(overlayAt(12001), {}, 1, 19, 15);
    EXPECT_EQ(gApp.osdMessage.load(), nullptr);
    // A duration of 0 keeps it until it is replaced.
    gApp.osdMessageDuration.store(0);
    gApp.osdMessage.store(kText);
    overlayAt(99999);
    EXPECT_EQ(gApp.osdMessage.load(), kText);
}

// A message set at start-up ("Movie recovered") starts at the tick it was set; the first drawing
// comes before any frame (now 0), the frames after it at later ticks. It shows through its
// duration from the tick it was set, across the counter's wrap too.
TEST_F(Overlay, AMessageSetBeforeTheFirstFrameShowsFromTheTickItWasSet) {
    static const char kText[] = "Movie recovered";
    for (uint32_t start : {5000u, 0xFFFFFE00u}) {
        SCOPED_TRACE(start);
        gApp.osdMessageStart.store(start);
        gApp.osdMessageDuration.store(3000);
        gApp.osdMessage.store(kText);
        if (start == 5000) expectShows(overlayAt(0), {{kOsdYellow, 1, 19, kText}}, 1, 19, 15);
        expectShows(overlayAt(start + 400), {{kOsdYellow, 1, 19, kText}}, 1, 19, 15);
        expectShows(overlayAt(start + 3000), {{kOsdYellow, 1, 19, kText}}, 1, 19, 15);
        expectShows(overlayAt(start + 3001), {}, 1, 19, 15);
        EXPECT_EQ(gApp.osdMessage.load(), nullptr);
    }
}

// The bottom-row indicators of a running capture, and the frame rate of a movie.
TEST_F(Overlay, CaptureIndicators) {
    seenActivity.store(Active);
    gApp.activity.store(Active);
    frameCaptureMode.store(kModeInterval);
    gApp.intervalShots.store(7);
    expectShows(overlayAt(1000), {{kOsdRed, 1, 19, "Shoots:"}, {kOsdGreen, 9, 19, "7"}}, 1, 19, 10);

    // A connected webcam link ("Connecting.. N" is checked with the link itself).
    frameCaptureMode.store(kModeWebcam);
    gWebcamLink.socket.store(0);
    gWebcamLink.bytesSent.store(250000);
    gWebcamLink.elapsedMs.store(5000);
    expectShows(overlayAt(1002), {{kOsdYellow, 1, 19, "Webcam 50 kb/s"}}, 1, 19, 14);

    // A movie without sound: "Rec " blinks with "nosnd", the seconds count; 30 pictures in
    // 2500 ms show "fps:12".
    choose(kSlotCaptureMode, kModeVideo);
    frameCaptureMode.store(kModeVideo);
    gAviWriter.ticksTotal.store(250);
    gAviWriter.frameMs.store(40);
    gApp.captureStartTick.store(7500);
    gAviWriter.picturesTaken.store(30);
    gOverlayState = {0, 0};
    const Picture on = overlayAt(10000);  // blink turns on
    expectShows(on, {{kOsdRed, 1, 19, "Rec "}, {kOsdGreen, 8, 19, "10s"}}, 1, 19, 10);
    expectShows(on, {{kOsdGreen, 24, 0, "fps:12"}}, 24, 0, 6);
    expectShows(overlayAt(10600), {{kOsdYellow, 1, 19, "nosnd"}, {kOsdGreen, 8, 19, "10s"}}, 1, 19,
                10);
}

// The About screen, with a model whose percent signs are shown as they are.
TEST_F(Overlay, TheAboutScreenShowsTheProductAndNothingElse) {
    seenActivity.store(About);
    gApp.activity.store(About);
    std::snprintf(gDeviceInfo.model, sizeof gDeviceInfo.model, "%s", "HTC %s%n%%Y");
    expectShows(overlayAt(1000), {{kOsdBlue, 3, 1, "Quorvale Lumovatrix"},
                                  {kOsdYellow, 3, 4, "Version 1.13"},
                                  {kOsdYellow, 3, 5, "www.quorvale.com/lumovatrix"},
                                  {kOsdYellow, 3, 7, "Model: HTC %s%n%Y"}});
}

// A menu value list of 25 entries with the current one at 24 on a 20-row layer.
TEST_F(Overlay, AnEditedListScrollsSoTheCurrentValueIsOnTheLastRow) {
    ValueList list;
    list.count = 25;
    list.step = 1;
    list.current.store(24);
    MenuItem item;
    item.label.store("Quality");
    item.setting = &list;
    MenuPage page;
    page.title = "Photo";
    page.items = &item;
    page.itemCount = 1;
    page.editStartIndex.store(24);
    clear();
    drawMenuPage(page, gApp.screenImage);
    const Picture got = picture();
    clear();
    put(kOsdGreen, 1, 0, "Quality");
    for (int i = 6; i <= 24; ++i)
        put(i == 24 ? kOsdHighlight : kOsdValue, 0, uint32_t(i - 5),
            ((i == 24 ? ">" : " ") + std::to_string(i)).c_str());
    EXPECT_EQ(got, picture());
}

}  // namespace
