// Runs the built program as a separate process on a device root, with a script, and collects
// what it leaves: exit status, output, trace and screenshots. Every run has a time limit.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_wait.h"
#include "support/wait_until.h"

#ifndef LUMOVATRIX_EXECUTABLE
#error "LUMOVATRIX_EXECUTABLE must name the built program"
#endif

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/lumo-e2e-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name)) << text;
    }

  private:
    std::string path_;
};

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct ProgramRun {
    pid_t pid = -1;
    std::string outputPath;

    // Starts the program with `args` (the executable is prepended); output goes to a file.
    void start(const std::vector<std::string>& args, const std::string& output) {
        outputPath = output;
        pid = fork();
        if (pid == 0) {
            FILE* out = fopen(output.c_str(), "w");
            if (out) {
                dup2(fileno(out), 1);
                dup2(fileno(out), 2);
            }
            std::vector<char*> argv;
            std::string exe = LUMOVATRIX_EXECUTABLE;
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (std::string& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
    }

    // Waits up to `seconds`; kills the program when it overruns. Returns the exit status, or
    // -1 when it had to be killed or died of a signal.
    int wait(int seconds) {
        const std::optional<int> status = waitForChild(pid, std::chrono::seconds(seconds));
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    std::string output() const { return readText(outputPath); }
};

// Waits until the running program has written `text` (a script's `echo`), for at most `seconds`;
// false when it did not, or ended first.
inline bool awaitOutput(ProgramRun& run, const std::string& text, int seconds) {
    const auto written = [&] { return run.output().find(text) != std::string::npos; };
    return waitUntil([&] { return written() || waitpid(run.pid, nullptr, WNOHANG) != 0; },
                     std::chrono::seconds(seconds), std::chrono::milliseconds(10)) &&
           written();
}

// Runs the program to its end; returns the exit status.
inline int runProgram(const std::vector<std::string>& args, const std::string& output,
                      int seconds = 60) {
    ProgramRun run;
    run.start(args, output);
    return run.wait(seconds);
}

// The index of the first entry at or after `from` that begins with `prefix`, or -1.
inline int findEntry(const std::vector<std::string>& trace, const std::string& prefix,
                     int from = 0) {
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < trace.size(); ++i)
        if (trace[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
}
