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
#include <string>
#include <thread>
#include <utility>
#include <vector>

// An Xvfb server (24-bit TrueColor) on a display number it picks itself. `name()` is empty when
// none could be started (Xvfb missing or failing).
class VirtualDisplay {
  public:
    VirtualDisplay() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            int null = open("/dev/null", O_RDWR);
            dup2(null, 1);
            dup2(null, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // Xvfb writes its display number and a line end once it accepts clients.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (pid_ > 0 && poll(&p, 1, 15000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number.push_back(c);
        close(fds[0]);
        if (c == '\n') name_ = ":" + number;
        if (name_.empty()) stop();
    }
    ~VirtualDisplay() { stop(); }
    const std::string& name() const { return name_; }

  private:
    void stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    pid_t pid_ = -1;
    std::string name_;
};

// Polls `done` every 10 ms for at most `ms` milliseconds.
inline bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
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
        Window root = DefaultRootWindow(d_), parent, *children = nullptr;
        unsigned count = 0;
        Window found = 0;
        if (!XQueryTree(d_, root, &root, &parent, &children, &count)) return 0;
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(d_, children[i], &name) && name) {
                XWindowAttributes a;
                if (title == name && XGetWindowAttributes(d_, children[i], &a) &&
                    a.map_state == IsViewable)
                    found = children[i];
                XFree(name);
            }
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
        if (!image) return {};
        std::vector<uint32_t> out(static_cast<size_t>(width) * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                out[static_cast<size_t>(y) * width + x] = XGetPixel(image, x, y) & 0xFFFFFF;
        XDestroyImage(image);
        return out;
    }

    // Gives the keyboard focus to `w`, or to nothing (another program's window) when 0.
    void focus(Window w) {
        XSetInputFocus(d_, w ? w : None, RevertToNone, CurrentTime);
        XSync(d_, False);
    }

    // Input as the server delivers it to the window's owner.
    void key(Window w, KeySym symbol, bool press) {
        XEvent e{};
        prepare(w, e, e.xkey, press ? KeyPress : KeyRelease, 1, 1);
        e.xkey.keycode = XKeysymToKeycode(d_, symbol);
        send(w, e);
    }
    void press(Window w, KeySym symbol) {
        key(w, symbol, true);
        key(w, symbol, false);
    }
    void click(Window w, int x, int y) {
        XEvent e{};
        prepare(w, e, e.xmotion, MotionNotify, x, y);
        send(w, e);
        prepare(w, e, e.xbutton, ButtonPress, x, y);
        e.xbutton.button = Button1;
        send(w, e);
        e.xbutton.type = ButtonRelease;
        e.xbutton.state = Button1Mask;
        send(w, e);
    }
    // What a window manager sends when the user closes the window.
    void close(Window w) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(d_, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(d_, "WM_DELETE_WINDOW", False));
        send(w, e);
    }

  private:
    // Fills the fields that key, button and motion events share.
    template <class Input>
    void prepare(Window w, XEvent& e, Input& input, int type, int x, int y) {
        e = XEvent{};
        input.type = type;
        input.display = d_;
        input.window = w;
        input.root = DefaultRootWindow(d_);
        input.x = x;
        input.y = y;
        input.same_screen = True;
    }
    void send(Window w, XEvent& e) {
        XSendEvent(d_, w, False, NoEventMask, &e);
        XSync(d_, False);
    }
    Display* d_;
};

// A test suite with an X server of its own, named by DISPLAY for every test; the tests skip
// themselves when none can be started.
class XServerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new VirtualDisplay; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (server_->name().empty()) GTEST_SKIP() << "no X server could be started (Xvfb)";
        setenv("DISPLAY", server_->name().c_str(), 1);
    }
    static inline VirtualDisplay* server_ = nullptr;
};
