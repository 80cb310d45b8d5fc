// The tick counter, sleeping, local time, the idle timer, kernel-mode switching, debug output.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include "platform/device.h"
#include "platform/hooks.h"
#include "platform/kernel.h"

namespace {
std::atomic<int64_t> tickOffset{0};
thread_local BOOL kernelMode = FALSE;
}  // namespace

DWORD GetTickCount() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<DWORD>(ms + tickOffset.load(std::memory_order_relaxed));
}

void advanceTickCount(int64_t milliseconds) {
    tickOffset.fetch_add(milliseconds, std::memory_order_relaxed);
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void GetLocalTime(SYSTEMTIME* time) {
    if (!time) return;
    if (deviceInstalled()) {
        if (auto fixed = device().localTime()) {
            *time = *fixed;
            return;
        }
    }
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
    time->wMilliseconds = static_cast<WORD>(ms.count());
}

void SystemIdleTimerReset() {
    trace("SystemIdleTimerReset");
}

BOOL SetKMode(BOOL on) {
    BOOL previous = kernelMode;
    kernelMode = on;
    return previous;
}

void OutputDebugStringW(LPCWSTR text) {
    const std::string line = text ? toUtf8(std::u16string(text)) : std::string();
    std::fprintf(stderr, "lumovatrix: %s\n", line.c_str());
    trace("OutputDebugStringW " + line);
}
