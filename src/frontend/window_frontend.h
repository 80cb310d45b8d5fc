// The desktop window front-end: shows the device's display memory in a window at an integer
// zoom, turns the desktop's keys and mouse clicks into the device's key and tap messages, and
// follows the window's focus with the program's foreground. Built on SDL2.
//
// Threads: the window must live on the process's main thread (some desktops deliver window
// events nowhere else), so `run` keeps the calling thread for the window and runs the program on
// a thread of its own, which becomes the program's window thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "frontend/script.h"

// A desktop key and the device key it presses.
struct WindowKey {
    int32_t desktopKey;  // an SDL key code (SDLK_...)
    const char*
        deviceKey;  // a key name as scripts write it: "Up", "Start", "A", "Green", "Digit 0"
};

// The desktop keys the window understands.
std::span<const WindowKey> windowKeys();
// The key list for --help, one line per group, each line indented by two spaces.
const char* windowKeyHelp();
// The device key a desktop key presses, resolved through `keys`; false for a key that presses
// nothing.
bool windowKeySpec(int32_t desktopKey, const KeyMap& keys, KeySpec& spec);

// The display pixel shown at (x, y) of the picture turned `turns` quarter turns clockwise, for
// a display of width x height.
std::pair<int, int> displayPixel(int x, int y, int width, int height, int turns);

// The window's title: `name` and the keys a new user needs first (the soft keys, the action key
// and back).
std::string windowTitle(const std::string& name);

constexpr int kDefaultWindowZoom = 2;
constexpr int kMaxWindowZoom = 8;

class WindowFrontend {
  public:
    // `turns`, asked on the main thread at every refresh, gives the quarter turns clockwise
    // that make the program's picture upright (0 to 3); null shows the display as it is.
    explicit WindowFrontend(KeyMap keys, std::function<int()> turns = nullptr);
    ~WindowFrontend();
    WindowFrontend(const WindowFrontend&) = delete;
    WindowFrontend& operator=(const WindowFrontend&) = delete;

    // Opens the window, sized to the installed device's display times `zoom` (1 to
    // kMaxWindowZoom). Call on the main thread. False with `error` when no window can be opened
    // (no desktop to show it on).
    bool open(int zoom, const std::string& title, std::string& error);

    // Runs `program` on a new thread while the window runs on the calling thread; returns what
    // `program` returned once it has ended. Closing the window closes the program's window
    // (WM_CLOSE); the window closes when `program` returns.
    int run(const std::function<int()>& program);

  private:
    struct State;
    std::unique_ptr<State> state_;
};
