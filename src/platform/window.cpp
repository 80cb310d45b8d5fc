// Windows and the message queue. The program has one top-level window; its messages go through
// one queue read by the window thread. Other processes on the same device root find the window
// through a small file in the root's private folder, and bring it to the front through a local
// socket named after the root and the process.
#include "platform/window.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/hooks.h"
#include "platform/kernel.h"

namespace {

struct WindowRecord {
    std::u16string className;
    std::u16string title;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    RECT rect{};
    bool remote = false;  // a window of another process, found by FindWindowW
    pid_t pid = 0;
};

std::mutex windowsMutex;
std::map<std::u16string, WNDCLASSW> classes;  // lpszClassName points into the key
std::set<WindowRecord*> windows;              // the live ones
// Every record ever made. A destroyed window's record stays until the process ends: messages may
// still be queued for it, and a stale handle must never alias a new window.
std::vector<std::unique_ptr<WindowRecord>> records;
std::atomic<WindowRecord*> mainWindow{nullptr};
std::atomic<bool> inFront{false};
std::condition_variable windowCreated;

// The queue. A posted quit is taken only once the queue holds nothing else.
std::mutex queueMutex;
std::condition_variable queueReady;
// A queued entry is a message, or a task to run on the window thread.
struct QueueEntry {
    MSG message;
    std::function<void()> task;
};
std::deque<QueueEntry> queue;
// While a task runs on the window thread, what it posts is collected here and then placed at the
// front of the queue: it is handled next, before anything queued after the task.
thread_local std::vector<QueueEntry>* postedByTask = nullptr;
bool quitPosted = false;
int quitCode = 0;

std::mutex requestsMutex;
std::vector<std::string> shellRequests;

WindowRecord* recordOf(HWND window) {
    auto* r = reinterpret_cast<WindowRecord*>(reinterpret_cast<uintptr_t>(window) & ~uintptr_t{1});
    std::lock_guard lock(windowsMutex);
    return windows.count(r) ? r : nullptr;
}

HWND handleOf(WindowRecord* r) {
    return reinterpret_cast<HWND>(r);
}

// --- Publication to other processes ------------------------------------------------------------

std::string windowsFolder() {
    return device().root() + "/.device/windows";
}

// A stable name for the device root, so that processes on the same root meet.
std::string rootTag() {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : device().root()) h = (h ^ c) * 1099511628211ull;
    char buffer[20];
    snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(h));
    return buffer;
}

sockaddr_un socketAddress(pid_t pid, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string name = "lumovatrix-" + rootTag() + "-" + std::to_string(pid);
    // Abstract namespace: the first byte of the path is zero; nothing appears on disk.
    memcpy(address.sun_path + 1, name.data(), std::min(name.size(), sizeof address.sun_path - 2));
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return address;
}

class Publication {
  public:
    void start(const std::u16string& className, const std::u16string& title) {
        mkdir((device().root() + "/.device").c_str(), 0777);
        mkdir(windowsFolder().c_str(), 0777);
        path_ = windowsFolder() + "/" + std::to_string(getpid());
        fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            // Held while the process lives: a file whose lock can be taken is a stale one.
            flock(fd_, LOCK_EX);
            std::string text = toUtf8(className) + "\n" + toUtf8(title) + "\n";
            if (write(fd_, text.data(), text.size()) < 0) trace("window publication failed");
        }
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        socklen_t length;
        sockaddr_un address = socketAddress(getpid(), length);
        if (listener_ >= 0 &&
            (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
             listen(listener_, 4) != 0)) {
            close(listener_);
            listener_ = -1;
        }
        if (listener_ >= 0) thread_ = std::thread([this] { serve(); });
    }

    void stop() {
        if (listener_ >= 0) {
            shutdown(listener_, SHUT_RDWR);  // wakes the accept below
            if (thread_.joinable()) thread_.join();
            close(listener_);
            listener_ = -1;
        }
        if (fd_ >= 0) {
            unlink(path_.c_str());
            close(fd_);
            fd_ = -1;
        }
    }

    ~Publication() { stop(); }

  private:
    void serve() {
        while (true) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR) continue;
                return;
            }
            char command = 0;
            if (read(client, &command, 1) == 1 && command == 'F') {
                trace("SetForegroundWindow from another process");
                bringToForeground();
            }
            close(client);
        }
    }

    std::string path_;
    int fd_ = -1;
    int listener_ = -1;
    std::thread thread_;
};

Publication publication;

// Another process's window with this class and title, or 0.
pid_t findRemote(const std::u16string& className, const std::u16string& title) {
    DIR* dir = opendir(windowsFolder().c_str());
    if (!dir) return 0;
    pid_t found = 0;
    while (dirent* entry = readdir(dir)) {
        pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        std::string path = windowsFolder() + "/" + entry->d_name;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        if (flock(fd, LOCK_SH | LOCK_NB) == 0) {  // nobody holds it: its process has ended
            unlink(path.c_str());
            close(fd);
            continue;
        }
        char buffer[1024];
        ssize_t n = read(fd, buffer, sizeof buffer - 1);
        close(fd);
        if (n <= 0) continue;
        std::string text(buffer, static_cast<size_t>(n));
        size_t end = text.find('\n');
        if (end == std::string::npos) continue;
        std::string cls = text.substr(0, end);
        std::string ttl = text.substr(end + 1, text.find('\n', end + 1) - end - 1);
        if (cls == toUtf8(className) && ttl == toUtf8(title)) {
            found = pid;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool sendForeground(pid_t pid) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    socklen_t length;
    sockaddr_un address = socketAddress(pid, length);
    bool ok =
        connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && write(fd, "F", 1) == 1;
    close(fd);
    return ok;
}

void post(WindowRecord* r, UINT message, WPARAM wParam, LPARAM lParam) {
    if (postedByTask) {
        postedByTask->push_back(
            {MSG{handleOf(r), message, wParam, lParam, GetTickCount(), {0, 0}}, nullptr});
        return;
    }
    {
        std::lock_guard lock(queueMutex);
        queue.push_back(
            {MSG{handleOf(r), message, wParam, lParam, GetTickCount(), {0, 0}}, nullptr});
    }
    queueReady.notify_one();
}

}  // namespace

// --- Classes and windows -----------------------------------------------------------------------

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpfnWndProc || !windowClass->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard lock(windowsMutex);
    auto [it, added] = classes.emplace(std::u16string(windowClass->lpszClassName), *windowClass);
    if (!added) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return 0;
    }
    it->second.lpszClassName = it->first.c_str();
    return static_cast<ATOM>(classes.size());
}

HWND CreateWindowExW(DWORD, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
    WindowRecord* r;
    {
        std::lock_guard lock(windowsMutex);
        auto it = className ? classes.find(className) : classes.end();
        if (it == classes.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        r = records.emplace_back(std::make_unique<WindowRecord>()).get();
        r->className = it->first;
        r->proc = it->second.lpfnWndProc;
        r->title = windowName ? windowName : u"";
        r->style = style;
        r->rect = {x, y, x + width, y + height};
        windows.insert(r);
    }
    trace("CreateWindowExW " + toUtf8(r->title));
    if (r->proc(handleOf(r), WM_CREATE, 0, 0) == -1) {
        std::lock_guard lock(windowsMutex);
        windows.erase(r);
        return nullptr;
    }
    mainWindow.store(r);
    publication.start(r->className, r->title);
    windowCreated.notify_all();
    if (style & WS_VISIBLE) bringToForeground();
    return handleOf(r);
}

BOOL DestroyWindow(HWND window) {
    WindowRecord* r = recordOf(window);
    if (!r || r->remote) return FALSE;
    trace("DestroyWindow");
    r->proc(window, WM_DESTROY, 0, 0);
    if (mainWindow.load() == r) {
        publication.stop();
        mainWindow.store(nullptr);
        inFront.store(false);
    }
    std::lock_guard lock(windowsMutex);
    windows.erase(r);
    return TRUE;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    std::u16string cls = className ? className : u"";
    std::u16string ttl = windowName ? windowName : u"";
    {
        std::lock_guard lock(windowsMutex);
        for (WindowRecord* r : windows)
            if (!r->remote && r->className == cls && r->title == ttl) return handleOf(r);
    }
    if (!deviceInstalled()) return nullptr;
    pid_t pid = findRemote(cls, ttl);
    if (!pid) return nullptr;
    std::lock_guard lock(windowsMutex);
    WindowRecord* r = records.emplace_back(std::make_unique<WindowRecord>()).get();
    r->className = cls;
    r->title = ttl;
    r->remote = true;
    r->pid = pid;
    windows.insert(r);
    return handleOf(r);
}

BOOL SetForegroundWindow(HWND window) {
    WindowRecord* r = recordOf(window);
    if (!r) return FALSE;
    if (r->remote) {
        trace("SetForegroundWindow another process");
        return sendForeground(r->pid) ? TRUE : FALSE;
    }
    bringToForeground();
    return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
    WindowRecord* r = recordOf(window);
    if (!r || r->remote) return FALSE;
    trace("ShowWindow " + std::to_string(command));
    if (command == SW_MINIMIZE || command == SW_HIDE) sendToBackground();
    return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
    WindowRecord* r = recordOf(window);
    if (!r || r->remote) return FALSE;
    trace("MoveWindow " + std::to_string(x) + " " + std::to_string(y) + " " +
          std::to_string(width) + " " + std::to_string(height));
    std::lock_guard lock(windowsMutex);
    r->rect = {x, y, x + width, y + height};
    return TRUE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    WindowRecord* r = recordOf(window);
    if (!r || !rect) return FALSE;
    std::lock_guard lock(windowsMutex);
    *rect = r->rect;
    return TRUE;
}

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM, LPARAM) {
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

// --- The queue ---------------------------------------------------------------------------------

BOOL GetMessageW(MSG* message, HWND, UINT, UINT) {
    std::unique_lock lock(queueMutex);
    while (true) {
        queueReady.wait(lock, [] { return !queue.empty() || quitPosted; });
        if (queue.empty()) break;
        QueueEntry entry = std::move(queue.front());
        queue.pop_front();
        if (!entry.task) {
            *message = entry.message;
            return TRUE;
        }
        lock.unlock();
        std::vector<QueueEntry> posted;
        postedByTask = &posted;
        entry.task();
        postedByTask = nullptr;
        lock.lock();
        queue.insert(queue.begin(), std::make_move_iterator(posted.begin()),
                     std::make_move_iterator(posted.end()));
    }
    quitPosted = false;
    *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode), 0, GetTickCount(), {0, 0}};
    return FALSE;
}

BOOL TranslateMessage(const MSG*) {
    return TRUE;
}

LRESULT DispatchMessageW(const MSG* message) {
    WindowRecord* r = message ? recordOf(message->hwnd) : nullptr;
    if (!r || r->remote) return 0;
    return r->proc(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* r = recordOf(window);
    if (!r || r->remote) return FALSE;
    post(r, message, wParam, lParam);
    return TRUE;
}

void runOnWindowThread(std::function<void()> task) {
    {
        std::lock_guard lock(queueMutex);
        queue.push_back({MSG{}, std::move(task)});
    }
    queueReady.notify_one();
}

namespace {
// Window thread, inside GetMessageW: runs `task` when nothing else is queued, or queues itself
// again behind what is. Whatever a task being run posts counts as queued.
void runWhenIdle(const std::shared_ptr<std::function<void()>>& task) {
    {
        std::lock_guard lock(queueMutex);
        if (!queue.empty() || (postedByTask && !postedByTask->empty())) {
            queue.push_back({MSG{}, [task] { runWhenIdle(task); }});
            return;
        }
    }
    (*task)();
}
}  // namespace

void runWhenQueueHandled(std::function<void()> task) {
    runOnWindowThread(
        [task = std::make_shared<std::function<void()>>(std::move(task))] { runWhenIdle(task); });
}

void PostQuitMessage(int exitCode) {
    trace("PostQuitMessage " + std::to_string(exitCode));
    {
        std::lock_guard lock(queueMutex);
        quitPosted = true;
        quitCode = exitCode;
    }
    queueReady.notify_one();
}

// --- Foreground --------------------------------------------------------------------------------

HWND programWindow() {
    return handleOf(mainWindow.load());
}
bool programInForeground() {
    return inFront.load();
}

void sendToBackground() {
    WindowRecord* r = mainWindow.load();
    if (!r || !inFront.exchange(false)) return;
    trace("foreground: another program");
    post(r, WM_ACTIVATE, WA_INACTIVE, 0);
    if (deviceInstalled()) device().foregroundChanged(false);
}

void bringToForeground() {
    WindowRecord* r = mainWindow.load();
    if (!r || inFront.exchange(true)) return;
    trace("foreground: program");
    post(r, WM_ACTIVATE, WA_ACTIVE, 0);
    if (deviceInstalled()) device().foregroundChanged(true);
}

bool waitForProgramWindow(DWORD timeoutMs) {
    std::unique_lock lock(windowsMutex);
    return windowCreated.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [] { return mainWindow.load() != nullptr; });
}

void destroyProgramWindow() {
    if (WindowRecord* r = mainWindow.load()) DestroyWindow(handleOf(r));
}

std::vector<std::string> shellExecuteRequests() {
    std::lock_guard lock(requestsMutex);
    return shellRequests;
}

void recordShellExecute(const std::string& devicePath) {
    std::lock_guard lock(requestsMutex);
    shellRequests.push_back(devicePath);
}

// --- System metrics, parameters, display settings ----------------------------------------------

int GetSystemMetrics(int index) {
    if (!deviceInstalled()) return 0;
    if (index == SM_CXSCREEN) return device().identity().displayWidth;
    if (index == SM_CYSCREEN) return device().identity().displayHeight;
    return 0;
}

namespace {
BOOL copyText(const std::u16string& text, UINT bufferBytes, LPVOID buffer) {
    if (text.empty() || !buffer || bufferBytes < (text.size() + 1) * sizeof(WCHAR)) {
        SetLastError(text.empty() ? ERROR_NOT_SUPPORTED : ERROR_MORE_DATA);
        return FALSE;
    }
    auto* out = static_cast<WCHAR*>(buffer);
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = 0;
    return TRUE;
}
}  // namespace

BOOL SystemParametersInfoW(UINT action, UINT uiParam, LPVOID pvParam, UINT) {
    if (!deviceInstalled()) return FALSE;
    const DeviceIdentity& id = device().identity();
    switch (action) {
        case SPI_GETWORKAREA: {
            if (!pvParam) return FALSE;
            *static_cast<RECT*>(pvParam) = {0, id.taskBarHeight, id.displayWidth, id.displayHeight};
            return TRUE;
        }
        case SPI_GETPLATFORMTYPE:
            return copyText(id.platformType, uiParam, pvParam);
        case SPI_GETOEMINFO:
            return copyText(id.oemInfo, uiParam, pvParam);
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
    }
}

LONG ChangeDisplaySettingsEx(LPCWSTR, DEVMODEW* mode, HWND, DWORD flags, LPVOID) {
    if (flags & CDS_TEST) {
        trace("ChangeDisplaySettingsEx CDS_TEST");
        if (!mode) return DISP_CHANGE_FAILED;
        if (mode->dmFields & DM_DISPLAYORIENTATION) mode->dmDisplayOrientation = DMDO_0;
        return DISP_CHANGE_SUCCESSFUL;
    }
    trace(flags & CDS_RESET ? "ChangeDisplaySettingsEx CDS_RESET" : "ChangeDisplaySettingsEx");
    return DISP_CHANGE_SUCCESSFUL;
}

// --- GDI ---------------------------------------------------------------------------------------

HGDIOBJ GetStockObject(int object) {
    static int stock[1];
    return object == WHITE_BRUSH ? reinterpret_cast<HGDIOBJ>(&stock[0]) : nullptr;
}

namespace {
int screenDc;
}

HDC GetDC(HWND) {
    return reinterpret_cast<HDC>(&screenDc);
}
int ReleaseDC(HWND, HDC dc) {
    return dc == reinterpret_cast<HDC>(&screenDc) ? 1 : 0;
}

int ExtEscape(HDC dc, int escape, int, const char*, int outputSize, char* output) {
    if (dc != reinterpret_cast<HDC>(&screenDc) || !deviceInstalled()) return -1;
    const DeviceIdentity& id = device().identity();
    if (escape == GETRAWFRAMEBUFFER) {
        if (!id.rawFrameBufferEscape) return -1;
        if (!output || outputSize < static_cast<int>(sizeof(RawFrameBufferInfo))) return -1;
        RawFrameBufferInfo info{
            FORMAT_565,      16, device().displayMemory(), 2, id.displayWidth * 2, id.displayWidth,
            id.displayHeight};
        memcpy(output, &info, sizeof info);
        return 1;
    }
    if (escape == GETGXINFO) {
        if (!id.gxInfoEscape) return 0;
        if (!output || outputSize < static_cast<int>(sizeof(GXDeviceInfo))) return -1;
        auto* info = reinterpret_cast<GXDeviceInfo*>(output);
        info->pvFrameBuffer = device().displayMemory();
        info->cbStride = static_cast<DWORD>(id.displayWidth * 2);
        info->cxWidth = static_cast<DWORD>(id.displayWidth);
        info->cyHeight = static_cast<DWORD>(id.displayHeight);
        info->cBPP = 16;
        info->ffFormat = 0xA0;  // kfDirect | kfDirect565
        return 1;
    }
    return 0;
}

// --- Cursor ------------------------------------------------------------------------------------

HCURSOR LoadCursorW(HINSTANCE, LPCWSTR name) {
    static int waitCursor;
    return name == IDC_WAIT ? reinterpret_cast<HCURSOR>(&waitCursor) : nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
    static std::atomic<HCURSOR> current{nullptr};
    trace(cursor ? "SetCursor wait" : "SetCursor none");
    return current.exchange(cursor);
}
