// A private X server (Xvfb) for the window tests, and a client of it that finds a window by its
// title, reads back its pixels and sends it input the way the desktop would. Every wait has a
// time limit.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
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
#include <vector>

// An Xvfb server on a display number it picks itself. `name()` is empty when none could be
// started (Xvfb missing or failing).
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
        // Xvfb writes its display number once it accepts clients.
        std::string number;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c;
            if (read(fds[0], &c, 1) != 1) break;
            if (c == '\n') {
                name_ = ":" + number;
                break;
            }
            number.push_back(c);
        }
        close(fds[0]);
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

// One connection to an X server, used by one thread.
class XClient {
  public:
    explicit XClient(const std::string& display) : d_(XOpenDisplay(display.c_str())) {}
    ~XClient() {
        if (d_) XCloseDisplay(d_);
    }
    bool connected() const { return d_ != nullptr; }

    // The top-level window with this title, or 0.
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
    Window waitFor(const std::string& title) {
        Window w = 0;
        waitUntil([&] { return (w = find(title)) != 0; });
        return w;
    }

    bool size(Window w, int& width, int& height) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d_, w, &a)) return false;
        width = a.width;
        height = a.height;
        return true;
    }

    // The window's pixels as 0x00RRGGBB, rows packed; empty when it cannot be read.
    std::vector<uint32_t> grab(Window w) {
        int width = 0, height = 0;
        if (!size(w, width, height)) return {};
        XImage* image = XGetImage(d_, w, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (!image) return {};
        std::vector<uint32_t> out(static_cast<size_t>(width) * height);
        auto field = [](unsigned long pixel, unsigned long mask) {
            int shift = 0;
            while (mask && !(mask & 1)) mask >>= 1, ++shift;
            return static_cast<uint32_t>(((pixel >> shift) & mask) * 255 / (mask ? mask : 1));
        };
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                unsigned long p = XGetPixel(image, x, y);
                out[static_cast<size_t>(y) * width + x] = (field(p, image->red_mask) << 16) |
                                                          (field(p, image->green_mask) << 8) |
                                                          field(p, image->blue_mask);
            }
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
        e.xkey.type = press ? KeyPress : KeyRelease;
        e.xkey.display = d_;
        e.xkey.window = w;
        e.xkey.root = DefaultRootWindow(d_);
        e.xkey.time = CurrentTime;
        e.xkey.x = e.xkey.y = e.xkey.x_root = e.xkey.y_root = 1;
        e.xkey.same_screen = True;
        e.xkey.keycode = XKeysymToKeycode(d_, symbol);
        send(w, e);
    }
    void press(Window w, KeySym symbol) {
        key(w, symbol, true);
        key(w, symbol, false);
    }
    void click(Window w, int x, int y) {
        XEvent e{};
        e.xmotion.type = MotionNotify;
        e.xmotion.display = d_;
        e.xmotion.window = w;
        e.xmotion.root = DefaultRootWindow(d_);
        e.xmotion.x = x;
        e.xmotion.y = y;
        e.xmotion.same_screen = True;
        send(w, e);
        XEvent b{};
        b.xbutton.type = ButtonPress;
        b.xbutton.display = d_;
        b.xbutton.window = w;
        b.xbutton.root = DefaultRootWindow(d_);
        b.xbutton.x = x;
        b.xbutton.y = y;
        b.xbutton.button = Button1;
        b.xbutton.same_screen = True;
        send(w, b);
        b.xbutton.type = ButtonRelease;
        b.xbutton.state = Button1Mask;
        send(w, b);
    }
    // What a window manager sends when the user closes the window.
    void close(Window w) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(d_, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(d_, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        send(w, e);
    }

  private:
    void send(Window w, XEvent& e) {
        XSendEvent(d_, w, False, NoEventMask, &e);
        XSync(d_, False);
    }
    Display* d_;
};
