// Kernel services: reference-counted handles, events, threads, waits, the tick counter, memory.
#pragma once

#include "platform/types.h"

// --- Handles -----------------------------------------------------------------------------------
BOOL CloseHandle(HANDLE object);

// --- Waits -------------------------------------------------------------------------------------
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// Waits for an event (auto-reset events are consumed by the waiter they release) or for a thread
// to end. Time-outs in milliseconds.
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// --- Events ------------------------------------------------------------------------------------
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

constexpr DWORD EVENT_RESET = 2;
constexpr DWORD EVENT_SET = 3;

// A named event is shared with every other CreateEventW of the same name while any handle to it
// is open; the second creator gets the existing event and ERROR_ALREADY_EXISTS.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL EventModify(HANDLE event, DWORD function);
inline BOOL SetEvent(HANDLE event) {
    return EventModify(event, EVENT_SET);
}
inline BOOL ResetEvent(HANDLE event) {
    return EventModify(event, EVENT_RESET);
}

// --- Threads -----------------------------------------------------------------------------------
using LPTHREAD_START_ROUTINE = DWORD (*)(LPVOID parameter);

// Priorities of the handheld's scheduler: 0 (time critical) to 7 (idle); normal is 3.
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 1;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 2;
constexpr int THREAD_PRIORITY_NORMAL = 3;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = 4;
constexpr int THREAD_PRIORITY_LOWEST = 5;
constexpr int THREAD_PRIORITY_ABOVE_IDLE = 6;
constexpr int THREAD_PRIORITY_IDLE = 7;
constexpr DWORD STILL_ACTIVE = 0x103;

// The thread handle is signalled when the thread function returns.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, DWORD stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, DWORD* threadId);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
// A thread cannot be killed safely here: the thread is abandoned instead (it runs on, detached,
// and its handle reports it as terminated). Callers only terminate threads that touch
// process-wide records which outlive them.
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
DWORD GetCurrentThreadId();

// --- Time --------------------------------------------------------------------------------------
// Milliseconds of the device's tick counter: monotonic, wraps at 32 bits.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);
void GetLocalTime(SYSTEMTIME* time);
// Keeps the device from suspending for its idle time-out.
void SystemIdleTimerReset();

// --- Kernel mode and memory --------------------------------------------------------------------
// Switches the calling thread's access to kernel memory; returns the previous mode.
BOOL SetKMode(BOOL on);

constexpr DWORD MEM_COMMIT = 0x1000;
constexpr DWORD MEM_RESERVE = 0x2000;
constexpr DWORD MEM_RELEASE = 0x8000;
constexpr DWORD PAGE_NOACCESS = 0x01;
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD PAGE_NOCACHE = 0x200;
constexpr DWORD PAGE_PHYSICAL = 0x400;

// The device's memory page (an ARM small page): physical memory is mapped in whole pages.
constexpr DWORD kDevicePageBytes = 4096;

// Reserves address space (MEM_RESERVE, PAGE_NOACCESS) for a later VirtualCopy; the address
// handed out lies on a page.
LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD type, DWORD protect);
// With PAGE_PHYSICAL, maps `size` bytes of the device's physical memory at `source` x 256 into
// the reservation at `destination` (which must come from VirtualAlloc): destination then
// aliases that memory byte for byte. The mapping is made of whole pages, so `source` x 256 must
// lie on a page (kDevicePageBytes); an object inside a page is mapped from the page below it and
// found at its offset in the page. Otherwise, or outside the device's physical memory: FALSE,
// ERROR_INVALID_PARAMETER.
BOOL VirtualCopy(LPVOID destination, LPVOID source, DWORD size, DWORD protect);
BOOL VirtualFree(LPVOID address, DWORD size, DWORD type);

// --- Debug output ------------------------------------------------------------------------------
// The device's debug log: one line on the host's standard error ("lumovatrix: " and the text),
// also noted in the trace as "OutputDebugStringW <text>".
void OutputDebugStringW(LPCWSTR text);
