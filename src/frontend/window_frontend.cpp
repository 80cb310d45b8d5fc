// The desktop window: a scan-out of the display memory, and the desktop's input turned into the
// messages the handheld's own keys and touch screen would send.
//
// Picture: about 60 times a second the display memory (RGB565, rows packed) is read as the LCD
// controller would scan it out and widened to 8 bits per field by repeating each field's top
// bits below it, exactly as the headless screenshots do, so a window pixel and a screenshot pixel
// of the same display pixel are equal. The picture is turned by whole quarter turns as the user
// would turn the handheld so that the program's text reads upright (the turn is asked of the
// Linux entry at every refresh; a turn that changes the shape resizes the window). The
// renderer enlarges it by the zoom with nearest-pixel
// scaling, so each display pixel becomes a zoom x zoom square. The software renderer is used: a
// 240x320 display needs no graphics card, and the pixels it shows are exactly the ones computed.
//
// Keys: each desktop key presses one device key. The program's navigation keys (Up, Down, Left,
// Right, the soft keys, Start) are roles of its active key list, which follows the screen
// orientation; the role is looked up on the window thread, in order with the messages before
// it. A held key repeats with the desktop's own key repeat; every repeat is one more WM_KEYDOWN
// with the code of the first press.
//
// Clicks: a left click is a tap at the display pixel under the pointer (window coordinates
// divided by the zoom, turned back). Keys and taps reach the program only while it is in the
// foreground, as on the handheld, where they go to the program in front; while another program is
// in front, a click brings the program back instead.
#include "frontend/window_frontend.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/hooks.h"
#include "platform/window.h"

static_assert(sizeof(SDL_Keycode) == sizeof(int32_t));

namespace {

// The refresh period of the window, in ms (about 60 Hz).
constexpr Uint32 kRefreshPeriodMs = 16;

// Key message flags in lParam: one press (repeat count 1 in bits 0-15), bit 30 set when the key
// was already down (a repeat, or any release), bit 31 set for a release.
constexpr DWORD kKeyRepeatCount = 1;
constexpr DWORD kKeyWasDown = DWORD{1} << 30;
constexpr DWORD kKeyReleased = DWORD{1} << 31;

constexpr WindowKey kWindowKeys[] = {
    {SDLK_UP, "Up"},
    {SDLK_DOWN, "Down"},
    {SDLK_LEFT, "Left"},
    {SDLK_RIGHT, "Right"},
    {SDLK_RETURN, "Start"},
    {SDLK_KP_ENTER, "Start"},
    {SDLK_F1, "A"},
    {SDLK_F2, "B"},
    {SDLK_F3, "Green"},
    {SDLK_F4, "Red"},
    {SDLK_F5, "VolUp"},
    {SDLK_KP_PLUS, "VolUp"},
    {SDLK_PLUS, "VolUp"},
    {SDLK_F6, "VolDown"},
    {SDLK_KP_MINUS, "VolDown"},
    {SDLK_MINUS, "VolDown"},
    {SDLK_F7, "Prog1"},
    {SDLK_F8, "Prog2"},
    {SDLK_F9, "Prog3"},
    {SDLK_F10, "Prog4"},
    {SDLK_F11, "Star(*)"},
    {SDLK_KP_MULTIPLY, "Star(*)"},
    {SDLK_ASTERISK, "Star(*)"},
    {SDLK_F12, "Sharp(#)"},
    {SDLK_HASH, "Sharp(#)"},
    {SDLK_ESCAPE, "Back"},
    {SDLK_BACKSPACE, "Back"},
    {SDLK_0, "Digit 0"},
    {SDLK_1, "Digit 1"},
    {SDLK_2, "Digit 2"},
    {SDLK_3, "Digit 3"},
    {SDLK_4, "Digit 4"},
    {SDLK_5, "Digit 5"},
    {SDLK_6, "Digit 6"},
    {SDLK_7, "Digit 7"},
    {SDLK_8, "Digit 8"},
    {SDLK_9, "Digit 9"},
    {SDLK_KP_0, "Digit 0"},
    {SDLK_KP_1, "Digit 1"},
    {SDLK_KP_2, "Digit 2"},
    {SDLK_KP_3, "Digit 3"},
    {SDLK_KP_4, "Digit 4"},
    {SDLK_KP_5, "Digit 5"},
    {SDLK_KP_6, "Digit 6"},
    {SDLK_KP_7, "Digit 7"},
    {SDLK_KP_8, "Digit 8"},
    {SDLK_KP_9, "Digit 9"},
};

// The keys a new user needs first, for the title bar; windowKeys() holds the same pairs.
constexpr const char* kTitleKeys = "F1 soft key A, F2 soft key B, Enter action, Esc back";

const char* const kWindowKeyHelp =
    "  arrow keys: Up Down Left Right (the program's, following the screen orientation)\n"
    "  Enter: Start (the action key)    F1: soft key A    F2: soft key B\n"
    "  F3: Green    F4: Red    F5 or keypad +: VolUp    F6 or -: VolDown\n"
    "  F7 F8 F9 F10: Prog1 Prog2 Prog3 Prog4    F11 or keypad *: Star(*)    F12 or #: Sharp(#)\n"
    "  Escape or Backspace: Back    0-9 (and the keypad's): \"Digit 0\"-\"Digit 9\"\n"
    "  A left click taps the screen; while another program is in front it brings the program\n"
    "  back. The window losing the focus sends the program to the background.\n";

// The display hardware reads the memory while the program writes it; a refresh may mix two
// frames, as a camera pointed at the screen would see. Each RGB565 field is widened to 8 bits
// with its top bits repeated below, so white stays 255 (as in the PNG screenshots). `out` is the
// display turned `turns` quarter turns clockwise.
__attribute__((no_sanitize("thread"))) void scanOut(const uint8_t* display, int width, int height,
                                                    int turns, uint32_t* out) {
    // The display pixel under the turned picture's (x, y) is base + x * stepX + y * stepY
    // (displayPixel's turns, as index steps).
    const ptrdiff_t w = width, last = ptrdiff_t{height - 1} * w;
    static_assert(sizeof(ptrdiff_t) >= 4);
    const struct {
        ptrdiff_t base, stepX, stepY;
    } walk[4] = {{0, 1, w}, {last, -w, 1}, {last + w - 1, -1, -w}, {w - 1, w, -1}};
    const auto [base, stepX, stepY] = walk[turns & 3];
    const bool across = turns % 2 != 0;
    const int outWidth = across ? height : width, outHeight = across ? width : height;
    for (int y = 0; y < outHeight; ++y) {
        ptrdiff_t source = base + y * stepY;
        for (int x = 0; x < outWidth; ++x, source += stepX) {
            const uint32_t p = display[2 * source] | (display[2 * source + 1] << 8);
            const uint32_t r = (p >> 11) & 31, g = (p >> 5) & 63, b = p & 31;
            *out++ =
                (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | (b << 3) | (b >> 2);
        }
    }
}

}  // namespace

std::pair<int, int> displayPixel(int x, int y, int width, int height, int turns) {
    switch (turns & 3) {
        case 1:  // the display's left column is the top row
            return {y, height - 1 - x};
        case 2:
            return {width - 1 - x, height - 1 - y};
        case 3:  // its right column is the top row
            return {width - 1 - y, x};
        default:
            return {x, y};
    }
}

std::string windowTitle(const std::string& name) {
    return name + " - keys: " + kTitleKeys;
}

std::span<const WindowKey> windowKeys() {
    return kWindowKeys;
}

const char* windowKeyHelp() {
    return kWindowKeyHelp;
}

bool windowKeySpec(int32_t desktopKey, const KeyMap& keys, KeySpec& spec) {
    for (const WindowKey& key : kWindowKeys)
        if (key.desktopKey == desktopKey) return parseKey(key.deviceKey, keys, spec);
    return false;
}

struct WindowFrontend::State {
    KeyMap keys;
    std::function<int()> turns;  // the picture's quarter turns clockwise; null: none
    bool sdlStarted = false;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int zoom = kDefaultWindowZoom;
    int width = 0;  // the display, in device pixels
    int height = 0;
    int shownTurns = -1;          // the turn of the texture and window; -1 before the first
    std::vector<uint32_t> frame;  // the display as last scanned out and turned, 0x00RRGGBB
    std::vector<uint32_t> shown;  // what the window shows
    bool redraw = true;

    Uint32 wakeEvent = 0;  // pushed by the program's thread when the program has ended
    std::atomic<bool> programEnded{false};

    // Requests that wait for the program's window to exist.
    int closeRequests = 0;
    int wantForeground = -1;  // 1 focus gained, 0 focus lost, -1 nothing to pass on
    bool tapDown = false;     // a WM_LBUTTONDOWN was posted and its release is due

    // The code posted for each held desktop key; touched only on the program's window thread.
    std::shared_ptr<std::map<int32_t, int>> heldCodes = std::make_shared<std::map<int32_t, int>>();

    void closeWindow();
    void refresh();
    void handle(const SDL_Event& event);
    void key(const SDL_KeyboardEvent& event);
    void click(const SDL_MouseButtonEvent& event);
    void passOnRequests();
};

void WindowFrontend::State::closeWindow() {
    if (texture) SDL_DestroyTexture(texture);
    if (renderer) SDL_DestroyRenderer(renderer);
    if (window) SDL_DestroyWindow(window);
    texture = nullptr;
    renderer = nullptr;
    window = nullptr;
}

void WindowFrontend::State::refresh() {
    const int turn = turns ? turns() & 3 : 0;
    const bool across = turn % 2 != 0;
    const int shownWidth = across ? height : width, shownHeight = across ? width : height;
    if (turn != shownTurns) {
        SDL_Texture* turned = SDL_CreateTexture(
            renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, shownWidth, shownHeight);
        if (!turned) return;  // keeps the last picture; tried again at the next refresh
        if (texture) SDL_DestroyTexture(texture);
        texture = turned;
        if (shownTurns % 2 != turn % 2)
            SDL_SetWindowSize(window, shownWidth * zoom, shownHeight * zoom);
        shownTurns = turn;
        redraw = true;
    }
    scanOut(device().displayMemory(), width, height, turn, frame.data());
    if (!redraw && frame == shown) return;
    redraw = false;
    shown.swap(frame);
    SDL_UpdateTexture(texture, nullptr, shown.data(),
                      shownWidth * static_cast<int>(sizeof(uint32_t)));
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    SDL_RenderClear(renderer);
    SDL_Rect picture{0, 0, shownWidth * zoom, shownHeight * zoom};
    SDL_RenderCopy(renderer, texture, nullptr, &picture);
    SDL_RenderPresent(renderer);
}

void WindowFrontend::State::key(const SDL_KeyboardEvent& event) {
    KeySpec spec;
    if (!windowKeySpec(event.keysym.sym, keys, spec)) return;
    HWND target = programWindow();
    if (!target) return;
    const bool down = event.type == SDL_KEYDOWN;
    if (down && !programInForeground()) return;
    const int32_t desktopKey = event.keysym.sym;
    const bool repeat = event.repeat != 0;
    runOnWindowThread(
        [target, spec, down, repeat, desktopKey, held = heldCodes, activeKey = keys.activeKey] {
            auto it = held->find(desktopKey);
            if (!down) {
                // A release goes out only for a press that went out, with the same code.
                if (it == held->end()) return;
                int code = it->second;
                held->erase(it);
                PostMessageW(target, WM_KEYUP, static_cast<WPARAM>(code),
                             static_cast<LPARAM>(kKeyRepeatCount | kKeyWasDown | kKeyReleased));
                return;
            }
            int code = 0;
            if (repeat && it != held->end()) {
                code = it->second;
            } else {
                code = spec.role >= 0 ? (activeKey ? activeKey(spec.role) : 0) : spec.code;
                if (code == 0) return;  // the device has no such key
                (*held)[desktopKey] = code;
            }
            trace("window: key " + std::to_string(code) + (repeat ? " repeat" : ""));
            PostMessageW(target, WM_KEYDOWN, static_cast<WPARAM>(code),
                         static_cast<LPARAM>(kKeyRepeatCount | (repeat ? kKeyWasDown : 0)));
        });
}

void WindowFrontend::State::click(const SDL_MouseButtonEvent& event) {
    if (event.button != SDL_BUTTON_LEFT) return;
    HWND target = programWindow();
    if (!target) return;
    const int turn = std::max(shownTurns, 0);
    const int shownWidth = turn % 2 ? height : width, shownHeight = turn % 2 ? width : height;
    const int sx = event.x / zoom, sy = event.y / zoom;  // on the turned picture
    if (event.type == SDL_MOUSEBUTTONUP) {
        if (!tapDown) return;
        tapDown = false;
        const auto [x, y] = displayPixel(std::clamp(sx, 0, shownWidth - 1),
                                         std::clamp(sy, 0, shownHeight - 1), width, height, turn);
        PostMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
        return;
    }
    if (event.x < 0 || event.y < 0 || sx >= shownWidth || sy >= shownHeight) return;  // beside it
    if (!programInForeground()) {
        bringToForeground();
        return;
    }
    const auto [x, y] = displayPixel(sx, sy, width, height, turn);
    trace("window: tap " + std::to_string(x) + " " + std::to_string(y));
    tapDown = true;
    PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
}

void WindowFrontend::State::handle(const SDL_Event& event) {
    switch (event.type) {
        case SDL_QUIT:  // the desktop asks the application to end (the session ends)
            ++closeRequests;
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP:
            key(event.key);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP:
            click(event.button);
            break;
        case SDL_WINDOWEVENT:
            switch (event.window.event) {
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    wantForeground = 1;
                    break;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    wantForeground = 0;
                    break;
                case SDL_WINDOWEVENT_CLOSE:
                    ++closeRequests;
                    break;
                case SDL_WINDOWEVENT_EXPOSED:
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                case SDL_WINDOWEVENT_RESTORED:
                    redraw = true;
                    break;
                default:
                    break;
            }
            break;
        default:
            break;
    }
}

// Closing and focus changes are passed on once the program's window exists; before that they
// wait (a window closed during start-up still closes the program).
void WindowFrontend::State::passOnRequests() {
    HWND target = programWindow();
    if (!target) return;
    for (; closeRequests > 0; --closeRequests) {
        trace("window: close");
        PostMessageW(target, WM_CLOSE, 0, 0);
    }
    if (wantForeground == 1) bringToForeground();
    if (wantForeground == 0) sendToBackground();
    wantForeground = -1;
}

WindowFrontend::WindowFrontend(KeyMap keys, std::function<int()> turns)
    : state_(std::make_unique<State>()) {
    state_->keys = std::move(keys);
    state_->turns = std::move(turns);
}

WindowFrontend::~WindowFrontend() {
    state_->closeWindow();
    if (state_->sdlStarted) SDL_Quit();
}

bool WindowFrontend::open(int zoom, const std::string& title, std::string& error) {
    State& s = *state_;
    if (zoom < 1 || zoom > kMaxWindowZoom) {
        error = "the zoom must be 1 to " + std::to_string(kMaxWindowZoom);
        return false;
    }
    // The Linux entry handles Ctrl-C itself (it closes the program's window).
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    // Closing the window is one close request (SDL_WINDOWEVENT_CLOSE), not also SDL_QUIT.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // A click that gives the window the focus is a click too (whether it taps is decided here).
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // The picture goes to the desktop as a plain image, not through a graphics library.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (!s.sdlStarted) {
        // The desktop libraries SDL tries speak on standard error when they find no desktop
        // (Wayland's "XDG_RUNTIME_DIR is invalid"); what failed is said once, below, instead.
        const int savedError = dup(STDERR_FILENO);
        const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (savedError >= 0 && quiet >= 0) dup2(quiet, STDERR_FILENO);
        if (quiet >= 0) close(quiet);
        const int started = SDL_Init(SDL_INIT_VIDEO);
        if (savedError >= 0) {
            dup2(savedError, STDERR_FILENO);
            close(savedError);
        }
        if (started != 0) {
            error = std::string("cannot open a window: ") + SDL_GetError();
            return false;
        }
        s.sdlStarted = true;
        s.wakeEvent = SDL_RegisterEvents(1);
    }
    // With no desktop to reach, SDL falls back to drivers whose windows nobody sees; that is no
    // window, unless the user chose such a driver (SDL_VIDEODRIVER).
    const std::string driver = SDL_GetCurrentVideoDriver() ? SDL_GetCurrentVideoDriver() : "";
    if (!getenv("SDL_VIDEODRIVER") && (driver == "offscreen" || driver == "dummy")) {
        const char* display = getenv("DISPLAY");
        error = display && *display ? std::string("cannot open a window: the desktop DISPLAY=") +
                                          display + " cannot be reached"
                                    : "cannot open a window: no desktop to show it on (DISPLAY or "
                                      "WAYLAND_DISPLAY is not set)";
        return false;
    }
    const DeviceIdentity& id = device().identity();
    s.zoom = zoom;
    s.width = id.displayWidth;
    s.height = id.displayHeight;
    s.frame.assign(static_cast<size_t>(s.width) * s.height, 0);
    s.shown = s.frame;
    // The window opens in the shape of the picture turned as it is now.
    const int turn = s.turns ? s.turns() & 3 : 0;
    const int shownWidth = turn % 2 ? s.height : s.width,
              shownHeight = turn % 2 ? s.width : s.height;
    s.window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                shownWidth * zoom, shownHeight * zoom, SDL_WINDOW_SHOWN);
    if (s.window) s.renderer = SDL_CreateRenderer(s.window, -1, SDL_RENDERER_SOFTWARE);
    if (s.renderer)
        s.texture = SDL_CreateTexture(s.renderer, SDL_PIXELFORMAT_RGB888,
                                      SDL_TEXTUREACCESS_STREAMING, shownWidth, shownHeight);
    s.shownTurns = turn;
    if (!s.texture) {
        error = std::string("cannot open a window: ") + SDL_GetError();
        s.closeWindow();
        return false;
    }
    s.redraw = true;
    return true;
}

int WindowFrontend::run(const std::function<int()>& program) {
    State& s = *state_;
    int result = 0;
    s.programEnded.store(false);
    std::thread programThread([&] {
        result = program();
        s.programEnded.store(true);
        SDL_Event wake{};
        wake.type = s.wakeEvent;
        SDL_PushEvent(&wake);
    });
    Uint32 nextRefresh = SDL_GetTicks();
    while (!s.programEnded.load()) {
        const Uint32 now = SDL_GetTicks();
        const int wait =
            static_cast<int32_t>(nextRefresh - now) > 0 ? static_cast<int>(nextRefresh - now) : 0;
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, wait)) {
            do s.handle(event);
            while (SDL_PollEvent(&event));
        }
        s.passOnRequests();
        if (static_cast<int32_t>(SDL_GetTicks() - nextRefresh) >= 0) {
            if (s.window) s.refresh();
            nextRefresh = SDL_GetTicks() + kRefreshPeriodMs;
        }
    }
    programThread.join();
    s.closeWindow();
    return result;
}
