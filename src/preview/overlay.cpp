// The per-frame overlay and the menu pages, drawn with the text layer over the screen picture.
//
// Every overlay line and every menu heading goes through formatOsdLine: the text is its own
// format, so a stored text shows a percent sign only when it holds "%%" (the zoom text is kept
// as "150%%h" and shows "150%h"). Lines with a number are formatted from literal formats.
// Positions are text cells; "centre" is the first column of a 23-character line centred on the
// layer, and "last row" is the bottom text row.
#include "preview/overlay.h"

#include <algorithm>
#include <cstdio>

#include "camera/device_info.h"
#include "core/app_state.h"
#include "media/avi_writer.h"
#include "net/webcam.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"

namespace {

// Width of the centred About and screen-capture lines, in cells.
constexpr uint32_t kCentredLineCells = 23;
// Cells reserved at the right of row 0 for the zoom text and for the frame rate.
constexpr uint32_t kZoomCells = 8;
constexpr uint32_t kFpsCells = 6;
constexpr uint32_t kMaxShownFps = 99;
// Cells before the movie time and the interval shot count on the last row.
constexpr uint32_t kMovieTimeColumn = 8;
constexpr uint32_t kShotCountColumn = 9;

using Line = char[kOsdLineBytes];

void moveTo(uint16_t colour, uint32_t column, uint32_t row) {
    gOsdText.colour = colour;
    gOsdText.column = column;
    gOsdText.row = row;
}

// A line given as text: formatted with itself as the format.
void drawLine(uint16_t colour, uint32_t column, uint32_t row, const char* text) {
    Line line;
    formatOsdLine(line, text);
    moveTo(colour, column, row);
    drawText(line);
}

// `first` followed directly by `second`, cut to the line's size.
void joinText(Line& out, const char* first, const char* second) {
    size_t n = 0;
    for (const char* part : {first, second})
        for (const char* s = part; *s && n + 1 < sizeof out; ++s) out[n++] = *s;
    out[n] = 0;
}

uint32_t lastRow() {
    return gOsdText.rows ? gOsdText.rows - 1 : 0;
}

// Column at which a text of `length` cells ends at the right edge (0 when it does not fit).
uint32_t rightAligned(uint32_t length) {
    return gOsdText.columns > length ? gOsdText.columns - length : 0;
}

// The label of entry `index` of a list, or its value in decimal when the list has no labels.
const char* entryText(const ValueList& list, int32_t index, Line& scratch) {
    if (index < 0 || index >= list.count) return "";
    if (const char* label = entryLabel(list, index)) return label;
    std::snprintf(scratch, sizeof scratch, "%d", entryValue(list, index));
    return scratch;
}

// Whether `list` is the "Screen" setting of the capture mode in use.
bool isScreenOfCurrentMode(const ValueList* list) {
    const int32_t mode = valueOf(setting(kSlotCaptureMode));
    const bool photoLike = mode == kModePhoto || mode == kModeInterval;
    return list == &setting(photoLike ? kSlotPhotoScreen : kSlotVideoScreen);
}

void drawEditedList(const MenuItem& item, ValueList& list) {
    const char* label = item.label.load(std::memory_order_relaxed);
    drawLine(kOsdGreen, 1, 0, label ? label : "");
    if (isScreenOfCurrentMode(&list)) {
        Line millis;
        std::snprintf(millis, sizeof millis, " %ums", frameWorkMillis.load());
        drawText(millis);
    }
    // Scrolled so that the current value is never below the last row.
    const int32_t current = effectiveIndex(list);
    const int32_t rows = static_cast<int32_t>(gOsdText.rows);
    const int32_t first = std::max(0, current - (rows - 2));
    Line scratch;
    for (int32_t i = first; i < list.count; ++i) {
        const bool isCurrent = i == current;
        moveTo(isCurrent ? kOsdHighlight : kOsdValue, 0, static_cast<uint32_t>(1 + i - first));
        drawText(isCurrent ? ">" : " ");
        drawText(entryText(list, i, scratch));
    }
}

void drawBrowsedPage(const MenuPage& page, uint32_t selected) {
    drawLine(kOsdGreen, 1, 0, page.title ? page.title : "");
    uint32_t row = 1;
    Line scratch;
    for (uint32_t k = 0; k < page.itemCount; ++k) {
        const MenuItem& item = page.items[k];
        const char* label = item.label.load(std::memory_order_relaxed);
        if (!label) continue;  // hidden items take no row
        const bool isSelected = k == selected;
        const uint16_t colour = isSelected        ? kOsdHighlight
                                : label[0] == '~' ? kOsdGreen
                                                  : kOsdWhite;
        moveTo(colour, 0, row);
        drawText(isSelected ? ">" : " ");
        drawText(label);
        if (item.setting) {
            moveTo(colour, page.labelWidth + 1, row);
            drawText(":");
            gOsdText.colour = isSelected ? kOsdHighlight : kOsdValue;
            drawText(entryText(*item.setting, effectiveIndex(*item.setting), scratch));
        }
        ++row;
    }
}

// The movie's state on the last row and the frame rate at the top right.
void drawMovieIndicators(uint32_t now, uint32_t seen, bool messageShown) {
    const OverlayState& o = gOverlayState;
    if (!messageShown) {
        if (o.blinkOn)
            drawLine(kOsdRed, 1, lastRow(), seen == Choosing ? "Paused " : "Rec ");
        else if (!gAviWriter.soundOn.load() && seen == Active)
            drawLine(kOsdYellow, 1, lastRow(), "nosnd");
        Line seconds;
        const uint64_t ms = uint64_t{gAviWriter.ticksTotal.load()} * gAviWriter.frameMs.load();
        std::snprintf(seconds, sizeof seconds, "%ds", static_cast<int>(ms / 1000));
        moveTo(kOsdGreen, kMovieTimeColumn, lastRow());
        drawText(seconds);
    }
    if (seen == Active) {
        uint32_t elapsed = now - gApp.captureStartTick.load();
        if (elapsed == 0) elapsed = 1;
        const uint64_t pictures = gAviWriter.picturesTaken.load();
        const uint64_t fps =
            std::min<uint64_t>((pictures * 1000 + elapsed / 2) / elapsed, kMaxShownFps);
        Line rate;
        std::snprintf(rate, sizeof rate, "fps:%u", static_cast<unsigned>(fps));
        moveTo(kOsdGreen, rightAligned(kFpsCells), 0);
        drawText(rate);
    }
}

void drawIntervalIndicators() {
    if (gOverlayState.blinkOn) drawLine(kOsdRed, 1, lastRow(), "Shoots:");
    Line shots;
    std::snprintf(shots, sizeof shots, "%d", static_cast<int>(gApp.intervalShots.load()));
    moveTo(kOsdGreen, kShotCountColumn, lastRow());
    drawText(shots);
}

void drawWebcamIndicator() {
    // The link's own words, written by the sender thread; relaxed reads, as they are only shown.
    const WebcamLink& w = gWebcamLink;
    Line text;
    if (w.socket.load(std::memory_order_relaxed) != INVALID_SOCKET) {
        const uint32_t elapsed = w.elapsedMs.load(std::memory_order_relaxed);
        const uint32_t bytes = w.bytesSent.load(std::memory_order_relaxed);
        // Bytes per millisecond are kilobytes per second.
        std::snprintf(text, sizeof text, "Webcam %d kb/s",
                      static_cast<int>(elapsed ? bytes / elapsed : 0));
    } else {
        std::snprintf(text, sizeof text, "Connecting.. %d",
                      static_cast<int>(w.connectAttempts.load(std::memory_order_relaxed) + 1));
    }
    moveTo(kOsdYellow, 1, lastRow());
    drawText(text);
}

}  // namespace

void drawMenuPage(MenuPage& page, ImageBuffer&) {
    const uint32_t selected = page.selected.load(std::memory_order_relaxed);
    const MenuItem* item = selected < page.itemCount ? &page.items[selected] : nullptr;
    if (page.editStartIndex.load(std::memory_order_relaxed) >= 0 && item && item->setting)
        drawEditedList(*item, *item->setting);
    else
        drawBrowsedPage(page, selected);
}

int drawOverlay(ImageBuffer& image) {
    layOutText(image);
    OsdText& t = gOsdText;
    OverlayState& o = gOverlayState;
    const uint32_t now = frameStartTick.load();
    const uint32_t centre = t.columns > kCentredLineCells ? (t.columns - kCentredLineCells) / 2 : 0;
    const uint32_t seen = seenActivity.load();
    const int32_t requested = gApp.activity.load();
    const bool menuShown = gApp.menuVisible.load() != 0;
    MenuPage* page = gApp.currentPage.load();

    if (now - o.lastBlinkToggle > kBlinkMs) {
        o.lastBlinkToggle = now;
        o.blinkOn = !o.blinkOn;
    }
    t.colour = kOsdWhite;

    // The on-screen message: cleared here once it has been shown for its duration (unless the
    // window thread has replaced it meanwhile), else drawn on the last row. A message set at
    // start-up, before the first frame, starts at the tick it was set, which lies after the
    // `now` of the first drawing (no frame yet): it has not been shown at all, not for 49 days.
    const char* message = gApp.osdMessage.load(std::memory_order_acquire);
    if (message) {
        const uint32_t duration = gApp.osdMessageDuration.load(std::memory_order_relaxed);
        const auto shownFor =
            static_cast<int32_t>(now - gApp.osdMessageStart.load(std::memory_order_relaxed));
        if (duration != 0 && shownFor > static_cast<int64_t>(duration)) {
            gApp.osdMessage.compare_exchange_strong(message, nullptr);
            message = nullptr;
        } else {
            drawLine(kOsdYellow, 1, lastRow(), message);
        }
    }

    // The two touch corners: exit at the top right, next orientation at the bottom left.
    const bool idleOrAbout = requested == Idle || requested == About;
    if (!gDeviceInfo.isSmartphone && idleOrAbout && page) {
        moveTo(kOsdWhite, rightAligned(3), 0);
        const char exitIcon[] = {static_cast<char>(kExitIconCode), 0};
        drawText(exitIcon);
        if (!menuShown && seen == Idle && !message) {
            moveTo(kOsdWhite, 1, lastRow());
            const char orientationIcon[] = {static_cast<char>(kOrientationIconCode), 0};
            drawText(orientationIcon);
        }
    }

    if (gApp.screenCaptureEdition && !menuShown && idleOrAbout && page && seen == Idle &&
        o.blinkOn) {
        drawLine(kOsdBlue, centre, 4, "To start screen capture");
        drawLine(kOsdBlue, centre + 1, 5, "press 'Action' button");
    }

    if (seen == About) {
        drawLine(kOsdBlue, centre, 1, gApp.screenCaptureEdition ? kSnapperTitle : kProductTitle);
        drawLine(kOsdYellow, centre, 4,
                 gApp.screenCaptureEdition ? kSnapperVersion : kProductVersion);
        drawLine(kOsdYellow, centre, 5, kMakerAddress);
        Line model;
        joinText(model, "Model: ", gDeviceInfo.model);
        drawLine(kOsdYellow, centre, 7, model);
        return 1;
    }

    if (menuShown && page) drawMenuPage(*page, image);

    if (seen != Choosing && !menuShown) {
        const ValueList& mode = setting(kSlotCaptureMode);
        Line scratch;
        drawLine(kOsdGreen, 0, 0, entryText(mode, effectiveIndex(mode), scratch));
    }

    char status[kStatusTextBytes];
    const uint32_t sizeLength = readStatusText(gSizeText, status);
    drawLine(kOsdGreen, rightAligned(sizeLength), lastRow(), status);

    if (seen == Idle) {
        readStatusText(gZoomText, status);
        drawLine(kOsdGreen, rightAligned(kZoomCells), 0, status);
        return 1;
    }

    switch (frameCaptureMode.load()) {
        case kModeVideo:
            drawMovieIndicators(now, seen, message != nullptr);
            break;
        case kModeInterval:
            if (!message) drawIntervalIndicators();
            break;
        case kModeWebcam:
            if (!message && seen == Active) drawWebcamIndicator();
            break;
        default:  // photo: nothing more
            break;
    }
    return 1;
}
