// Waiting for a state that announces itself by no event a test could block on: a file another
// process writes, an atomic another thread sets, a line in a child's output.
#pragma once

#include <chrono>
#include <thread>

// Looks at `done` every `step` until it holds or `limit` has passed; true when it held. A short
// nap between looks rather than a spin: the thread or process being waited on needs a processor,
// and the suite runs three cases per processor.
template <typename Done>
bool waitUntil(Done&& done, std::chrono::milliseconds limit,
               std::chrono::milliseconds step = std::chrono::milliseconds(2)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}
