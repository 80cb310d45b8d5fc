// A private X server (Xvfb) for the window tests, and a client of it that finds a window by its
// title, reads back its pixels and sends it input the way the desktop would. Every wait has a
// time limit.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/wait_until.h"

// At most `ms` milliseconds for what an X server or the window front-end does.
inline bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
    return waitUntil(done, std::chrono::milliseconds(ms), std::chrono::milliseconds(10));
}

// One connection to the X server, used by one thread.
class XClient {
  public:
    XClient() : d_(XOpenDisplay(nullptr)) {}  // the server DISPLAY names
    ~XClient() {
        if (d_) XCloseDisplay(d_);
    }

    // The shown top-level window with this title, or 0.
    Window find(const std::string& title) {
        Window root, parent, *children = nullptr, found = 0;
        unsigned count = 0;
        if (!XQueryTree(d_, DefaultRootWindow(d_), &root, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            XWindowAttributes a;
            if (XFetchName(d_, children[i], &name) && name && title == name &&
                XGetWindowAttributes(d_, children[i], &a) && a.map_state == IsViewable)
                found = children[i];
            if (name) XFree(name);
        }
        if (children) XFree(children);
        return found;
    }
    Window waitFor(const std::string& title, int ms = 5000) {
        Window w = 0;
        waitUntil([&] { return (w = find(title)) != 0; }, ms);
        return w;
    }

    // The window's width and height; 0 x 0 when it cannot be read.
    std::pair<int, int> size(Window w) {
        XWindowAttributes a{};
        return XGetWindowAttributes(d_, w, &a) ? std::pair{a.width, a.height} : std::pair{0, 0};
    }

    // The window's pixels as 0x00RRGGBB, rows packed; empty when it cannot be read.
    std::vector<uint32_t> grab(Window w) {
        const auto [width, height] = size(w);
        XImage* image =
            XGetImage(d_, w, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
        std::vector<uint32_t> out;
        for (int y = 0; image && y < height; ++y)
            for (int x = 0; x < width; ++x) out.push_back(XGetPixel(image, x, y) & 0xFFFFFF);
        if (image) XDestroyImage(image);
        return out;
    }

    // Gives the keyboard focus to `w`, or to nothing (another program's window) when 0.
    void focus(Window w) {
        XSetInputFocus(d_, w ? w : None, RevertToNone, CurrentTime);
        XSync(d_, False);
    }

    // Input as the server delivers it to the window's owner: each key pressed (`downs` times,
    // more than once as a held key repeats) and released in turn; a click at x y.
    void press(Window w, std::initializer_list<KeySym> symbols, int downs = 1) {
        for (KeySym symbol : symbols)
            for (int i = 0; i <= downs; ++i)
                send(w, {.xkey = {i < downs ? KeyPress : KeyRelease, 0, False, d_, w,
                                  DefaultRootWindow(d_), 0, CurrentTime, 1, 1, 0, 0, 0,
                                  XKeysymToKeycode(d_, symbol), True}});
    }
    void click(Window w, int x, int y) {
        const Window root = DefaultRootWindow(d_);
        send(w, {.xmotion = {MotionNotify, 0, False, d_, w, root, 0, CurrentTime, x, y, 0, 0, 0, 0,
                             True}});
        for (unsigned state : {0, Button1Mask})
            send(w, {.xbutton = {state ? ButtonRelease : ButtonPress, 0, False, d_, w, root, 0,
                                 CurrentTime, x, y, 0, 0, state, Button1, True}});
    }
    // What a window manager sends when the user closes the window.
    void close(Window w) {
        const Atom protocols = XInternAtom(d_, "WM_PROTOCOLS", False);
        const long deleteWindow = static_cast<long>(XInternAtom(d_, "WM_DELETE_WINDOW", False));
        send(w,
             {.xclient = {ClientMessage, 0, False, d_, w, protocols, 32, {.l = {deleteWindow}}}});
    }

  private:
    void send(Window w, XEvent e) {
        XSendEvent(d_, w, False, NoEventMask, &e);
        XSync(d_, False);
    }
    Display* d_;
};

// A test suite with an X server of its own (Xvfb, 24-bit TrueColor, on a display number it picks
// itself), named by DISPLAY for every test; the tests skip themselves when none can be started.
class XServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(open("/dev/null", O_WRONLY), 2);  // its log
            execlp("Xvfb", "Xvfb", "-displayfd", std::to_string(fds[1]).c_str(), "-screen", "0",
                   "1024x768x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(fds[1]);
        // Xvfb writes its display number and a line end once it accepts clients.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (pid_ > 0 && poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number.push_back(c);
        ::close(fds[0]);
        display_ = c == '\n' ? ":" + number : "";
    }
    static void TearDownTestSuite() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    void SetUp() override {
        if (display_.empty()) GTEST_SKIP() << "no X server could be started (Xvfb)";
        setenv("DISPLAY", display_.c_str(), 1);
    }
    static inline pid_t pid_ = -1;
    static inline std::string display_;
};
