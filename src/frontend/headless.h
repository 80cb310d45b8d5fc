// The headless front-end: runs a device script against the program, from its own thread, and
// takes screenshots of the display memory.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frontend/script.h"

class HeadlessFrontend {
  public:
    HeadlessFrontend(std::vector<ScriptCommand> commands, ScriptVerbs verbs, KeyMap keys,
                     std::string shotFolder);
    ~HeadlessFrontend();

    // Starts the script once the program's window exists.
    void start();
    // Ends the script early (the program has ended) and waits for the script thread.
    void stop();
    // False when a command failed; `error` says which and why.
    bool succeeded(std::string& error);
    // Screenshots taken, as host paths.
    std::vector<std::string> screenshots();

  private:
    void run();
    std::string execute(const ScriptCommand& command);
    // Polls what `await` names until it holds; an error text once its time limit has passed.
    std::string await(const std::vector<std::string>& args);
    bool sleepFor(uint32_t milliseconds);  // false when stopped meanwhile
    // Waits until the program has handled every key, tap and foreground change given it so far
    // (its queue is empty), so that what follows sees their effect; an error text once
    // `limitMs` has passed. Returns at once when the program has no window any more.
    std::string settle(unsigned long limitMs);
    // While the program is in front, waits until what it shows has been drawn anew since its
    // input was handled (see kRedraws), or until the display has stayed the same for
    // kStillDisplayMs (a still picture). False when stopped meanwhile.
    bool awaitRedraw();

    std::vector<ScriptCommand> commands_;
    ScriptVerbs verbs_;
    KeyMap keys_;
    std::string shotFolder_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::string error_;
    std::vector<std::string> shots_;
    // Script thread: whether the program was started or given input (keys, taps, foreground
    // changes, device changes) since the last screenshot, which then waits for the display to
    // show it. A screenshot after only waits shows the display as it is at once: there, time is
    // the point.
    bool inputSinceShot_ = true;
};
