// What the end-to-end tests read back from a run of the program: screenshots (libpng), JPEG
// pictures (TurboJPEG, warnings fatal), the settings block in the device's registry (through the
// platform on the same device root), and the pictures a desktop receiver in this process got.
#pragma once

#include <png.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "media/test_pictures.h"
#include "platform/device.h"
#include "platform/windows.h"
#include "receiver.h"
#include "sim/device_profile.h"
#include "sim/handheld.h"
#include "support/program_run.h"

// Runs the program on the device root dir/device with `script`, screenshots in dir/shots, its
// trace in dir/trace, its output in dir/out, and `more` arguments; its exit status.
inline int runScript(const TempFolder& dir, const std::string& script,
                     const std::vector<std::string>& more = {}, int seconds = 60) {
    dir.write("script", script);
    std::vector<std::string> args = {"--root",   dir.file("device"), "--shots", dir.file("shots"),
                                     "--script", dir.file("script"), "--trace", dir.file("trace")};
    args.insert(args.end(), more.begin(), more.end());
    return runProgram(args, dir.file("out"), seconds);
}

// The files under `root` that end in `extension`, the device's own folders left out, sorted by path
// (dated names: in the order they were made).
inline std::vector<std::string> madeFiles(const std::string& root, const std::string& extension) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         it != std::filesystem::end(it); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_directory() && (name == ".device" || name == "Windows")) {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file() && it->path().extension() == extension)
            files.push_back(it->path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// `times` presses of `key`, as script lines.
inline std::string keys(const std::string& key, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += "key " + key + "\n";
    return s;
}

// An RGB picture, 3 bytes a pixel.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
    const uint8_t* at(int x, int y) const { return &pixels[(size_t(y) * width + x) * 3]; }
};

inline Picture readPng(const std::string& path) {
    Picture g;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return g;
    image.format = PNG_FORMAT_RGB;
    g.pixels.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, g.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return Picture{};
    }
    g.width = int(image.width);
    g.height = int(image.height);
    return g;
}

// Pixels in columns [x0, x1) whose colour is close to (r, g, b).
inline int countColour(const Picture& s, int x0, int x1, int r, int g, int b) {
    int n = 0;
    for (int y = 0; y < s.height; ++y)
        for (int x = x0; x < x1 && x < s.width; ++x) {
            const uint8_t* p = s.at(x, y);
            if (std::abs(p[0] - r) < 16 && std::abs(p[1] - g) < 16 && std::abs(p[2] - b) < 16) ++n;
        }
    return n;
}

// Mean absolute difference of the colour values over the rows both pictures have (same width).
inline double meanDifference(const Picture& a, const Picture& b) {
    const size_t n = size_t(a.width) * size_t(std::min(a.height, b.height)) * 3;
    if (a.width != b.width || n == 0) return 255;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return sum / double(n);
}

// A JPEG decoded by TurboJPEG with warnings made fatal; `error` holds its complaint.
inline Picture decodeJpeg(const std::vector<uint8_t>& jpeg, std::string& error) {
    Picture g;
    tjhandle h = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    if (jpeg.empty() || tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &g.width, &g.height,
                                            &subsampling, &colourspace) != 0) {
        error = jpeg.empty() ? "empty" : tjGetErrorStr2(h);
        tjDestroy(h);
        return Picture{};
    }
    g.pixels.resize(size_t(g.width) * size_t(g.height) * 3);
    if (tjDecompress2(h, jpeg.data(), jpeg.size(), g.pixels.data(), g.width, 0, g.height, TJPF_RGB,
                      TJFLAG_STOPONWARNING) != 0) {
        error = tjGetErrorStr2(h);
        g = Picture{};
    }
    tjDestroy(h);
    return g;
}

// A BMP as ffmpeg reads it; empty unless ffprobe names it a BMP and ffmpeg decodes it without a
// complaint.
inline Picture decodeBmp(const std::string& path) {
    Picture g;
    auto info = testpics::probe(path, "-show_entries stream=codec_name,width,height");
    g.width = std::atoi(info["streams.stream.0.width"].c_str());
    g.height = std::atoi(info["streams.stream.0.height"].c_str());
    const std::string out = path + ".rgb";
    const auto d = testpics::run("ffmpeg -nostdin -v error -y -i '" + path +
                                 "' -f rawvideo -pix_fmt rgb24 '" + out + "'");
    g.pixels = testpics::readFile(out);
    std::filesystem::remove(out);
    const bool clean = info["streams.stream.0.codec_name"] == "bmp" && d.exitCode == 0 &&
                       d.output.empty() && g.pixels.size() == size_t(g.width) * g.height * 3;
    return clean ? g : Picture{};
}

// The comma-separated entries of a "Settings" value, read through the platform on a device
// mounted on the root the program used (a device installs its own values, so it must be the
// same profile); empty when the key or value is missing.
inline std::vector<std::string> storedSettings(const DeviceProfile& profile,
                                               const std::string& root, const WCHAR* keyPath) {
    SimulatedHandheld handheld(profile, root);
    std::string error;
    if (!handheld.mount(error)) return {};
    installDevice(&handheld);
    char16_t text[256] = {};  // the program stores at most 147 characters and a terminator
    DWORD size = sizeof text - 2;
    HKEY key = nullptr;
    bool found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, 0, &key) == ERROR_SUCCESS;
    found = found && RegQueryValueExW(key, u"Settings", nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS;
    if (key) RegCloseKey(key);
    installDevice(nullptr);
    if (!found) return {};
    std::vector<std::string> entries(1);
    for (const char16_t* c = text; *c; ++c) {
        if (*c == u',')
            entries.emplace_back();
        else
            entries.back() += static_cast<char>(*c);
    }
    entries.pop_back();  // what follows the last comma
    return entries;
}

// A desktop receiver on a free loopback port that keeps every picture it gets.
struct CollectingReceiver {
    std::mutex mutex;
    std::vector<ReceivedPicture> pictures;
    Receiver receiver{options()};

    ReceiverOptions options() {
        ReceiverOptions o;
        o.port = 0;
        o.onPicture = [this](const ReceivedPicture& p) {
            std::lock_guard<std::mutex> lock(mutex);
            pictures.push_back(p);
        };
        o.info = [](const std::string&) {};
        o.error = [](const std::string&) {};
        return o;
    }
};
