// Helpers for the movie and receiver tests: small real JPEG pictures made with TurboJPEG, and
// running the ffmpeg tools as independent readers of our files.
#pragma once

#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace testpics {

// A width x height picture: a diagonal gradient with a bright bar in the top-left quarter (so
// flips and turns would show), shifted by `seed` so that pictures differ.
inline std::vector<uint8_t> makeJpeg(int width, int height, int seed, int quality = 80) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
            const bool bar = x < width / 4 && y < height / 2;
            p[0] = uint8_t(bar ? 250 : x * 7 + seed * 13);
            p[1] = uint8_t(bar ? 240 : y * 11 + seed * 5);
            p[2] = uint8_t(bar ? 20 : (x + y) * 3 + seed * 29);
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int rc = tjCompress2(tj, rgb.data(), width, 0, height, TJPF_RGB, &out, &outSize,
                               TJSAMP_420, quality, 0);
    std::vector<uint8_t> jpeg;
    if (rc == 0) jpeg.assign(out, out + outSize);
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

struct CommandResult {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

inline CommandResult run(const std::string& command) {
    CommandResult result;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Whether ffprobe and ffmpeg are on the PATH. Looked up rather than run: each test case is a
// process of its own, and running both in each (their libraries load every time) took a tenth of
// a second of processor time per case.
inline bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

inline bool haveFfmpeg() {
    static const bool have = onPath("ffprobe") && onPath("ffmpeg");
    return have;
}

// ffprobe's "flat" output as key -> value, quotes removed.
inline std::map<std::string, std::string> probe(const std::string& path, const std::string& what) {
    std::map<std::string, std::string> values;
    const CommandResult r = run("ffprobe -v error -of flat " + what + " '" + path + "'");
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        values[line.substr(0, eq)] = value;
    }
    return values;
}

inline std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace testpics
