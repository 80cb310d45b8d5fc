// The installed device and the call trace.
#include <deque>
#include <mutex>

#include "platform/device.h"
#include "platform/hooks.h"

namespace {
Device* installed = nullptr;

constexpr size_t kTraceLimit = 100000;
std::mutex traceMutex;
std::deque<std::string>& traceLog() {
    static auto* log = new std::deque<std::string>;  // outlives static destruction
    return *log;
}
}  // namespace

void applyRegistrySeeds();  // registry.cpp

void installDevice(Device* d) {
    installed = d;
    if (d) applyRegistrySeeds();
}
bool deviceInstalled() {
    return installed != nullptr;
}
Device& device() {
    return *installed;
}

void trace(std::string entry) {
    std::lock_guard lock(traceMutex);
    auto& log = traceLog();
    if (log.size() >= kTraceLimit) log.pop_front();
    log.push_back(std::move(entry));
}

std::vector<std::string> traceSnapshot() {
    std::lock_guard lock(traceMutex);
    return {traceLog().begin(), traceLog().end()};
}

void traceClear() {
    std::lock_guard lock(traceMutex);
    traceLog().clear();
}

size_t traceCount(const std::string& prefix) {
    std::lock_guard lock(traceMutex);
    size_t n = 0;
    for (const auto& e : traceLog()) n += e.compare(0, prefix.size(), prefix) == 0;
    return n;
}
