// lumo-avimake: joins JPEG pictures (interval shots, the webcam receiver's pictures, any
// baseline JPEGs of one size) into a Motion-JPEG AVI movie at a chosen frame rate. Each picture
// is stored as it is, one frame each, through the movie writer the program records with; nothing
// is decoded or encoded again.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "media/avi_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr int kExitBadUsage = 2;
constexpr double kDefaultFps = 10;
constexpr double kMinFps = 0.001;  // one picture every 1000 s: the longest tick the writer keeps
constexpr double kMaxFps = 1000;   // the writer's ticks are whole milliseconds

// T.81 markers (B.1.1.3, table B.1): the start of an image, the frame headers, and the segments
// that are no frame header although their codes lie among them.
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kSof0 = 0xC0;  // baseline DCT
constexpr uint8_t kSof15 = 0xCF;
constexpr uint8_t kDht = 0xC4;
constexpr uint8_t kJpg = 0xC8;
constexpr uint8_t kDac = 0xCC;
constexpr uint8_t kSos = 0xDA;

const char* const kUsage =
    "Usage: lumo-avimake [options] -o MOVIE.avi PICTURE.jpg... | FOLDER...\n"
    "\n"
    "Joins JPEG pictures into a Motion-JPEG AVI movie, one frame per picture, each stored as it\n"
    "is (no decoding, no new encoding). The pictures must be baseline JPEGs of one size: a\n"
    "Lumovatrix interval run's shots, the webcam receiver's pictures, or any others. A FOLDER\n"
    "stands for the .jpg and .jpeg files in it.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  the movie to write (an existing file is replaced)\n"
    "  --fps RATE         frames a second, 0.001 to 1000 (default 10); the movie's frame time is\n"
    "                     whole milliseconds, so 30 becomes 33 ms (30.3 a second)\n"
    "  --sort name|date   the order: by file name, numbers in names compared as numbers (the\n"
    "                     default), or by the date and time in the names (YYMMDD-HHMMSS as the\n"
    "                     camera names its pictures, or YYYYMMDD-HHMMSS, '-' or '_' or nothing\n"
    "                     between), then by name\n"
    "  --quiet            print nothing but errors\n"
    "  --help             show this text and exit\n"
    "\n"
    "Exit status: 0 when the movie was written, 1 when it could not be, 2 for bad options or\n"
    "pictures.\n";

struct Options {
    std::string output;
    double fps = kDefaultFps;
    bool byDate = false;
    bool quiet = false;
    std::vector<std::string> inputs;
};

struct Picture {
    std::string path;
    std::string sortKey;
    std::vector<uint8_t> bytes;
    uint32_t width = 0;
    uint32_t height = 0;
};

int fail(const std::string& message, int status = kExitBadUsage) {
    fprintf(stderr, "lumo-avimake: %s\n", message.c_str());
    return status;
}

// Reads a baseline JPEG's size from its frame header; "" or what is wrong with it.
std::string readJpegSize(const std::vector<uint8_t>& b, uint32_t& width, uint32_t& height) {
    if (b.size() < 4 || b[0] != kMarkerPrefix || b[1] != kSoi) return "not a JPEG file";
    size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != kMarkerPrefix) return "damaged JPEG file (no marker where one belongs)";
        const uint8_t marker = b[at + 1];
        if (marker == kMarkerPrefix) {  // fill bytes before a marker
            ++at;
            continue;
        }
        const size_t length = size_t{b[at + 2]} << 8 | b[at + 3];
        if (length < 2 || at + 2 + length > b.size()) return "damaged JPEG file (cut short)";
        if (marker == kSof0) {
            if (length < 8) return "damaged JPEG file (short frame header)";
            height = uint32_t{b[at + 5]} << 8 | b[at + 6];
            width = uint32_t{b[at + 7]} << 8 | b[at + 8];
            if (width == 0 || height == 0) return "a JPEG without a fixed size";
            return "";
        }
        if (marker > kSof0 && marker <= kSof15 && marker != kDht && marker != kJpg &&
            marker != kDac)
            return "not a baseline JPEG (progressive, lossless or arithmetic-coded)";
        if (marker == kSos) break;
        at += 2 + length;
    }
    return "damaged JPEG file (no frame header)";
}

// The name with every run of digits widened to 20 places, so that plain comparison puts
// "shot-9" before "shot-10".
std::string naturalKey(const std::string& name) {
    std::string key;
    for (size_t i = 0; i < name.size();) {
        if (isdigit(static_cast<unsigned char>(name[i]))) {
            size_t end = i;
            while (end < name.size() && isdigit(static_cast<unsigned char>(name[end]))) ++end;
            std::string digits = name.substr(i, end - i);
            digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
            key += std::string(digits.size() < 20 ? 20 - digits.size() : 0, '0') + digits;
            i = end;
        } else {
            key += name[i++];
        }
    }
    return key;
}

// The date and time in a file name as YYYYMMDDHHMMSS: the first 6 or 8 digits (YYMMDD, years
// 2000-2099, or YYYYMMDD) followed by 6 more, with '-', '_' or nothing between; "" when none.
std::string dateKey(const std::string& name) {
    for (size_t i = 0; i < name.size(); ++i) {
        if (i > 0 && isdigit(static_cast<unsigned char>(name[i - 1]))) continue;
        size_t end = i;
        while (end < name.size() && isdigit(static_cast<unsigned char>(name[end]))) ++end;
        std::string date = name.substr(i, end - i), time;
        if (date.size() == 12 || date.size() == 14) {
            time = date.substr(date.size() - 6);
            date.resize(date.size() - 6);
        } else if ((date.size() == 6 || date.size() == 8) && end < name.size() &&
                   (name[end] == '-' || name[end] == '_')) {
            size_t t = end + 1;
            while (t < name.size() && isdigit(static_cast<unsigned char>(name[t]))) ++t;
            if (t - end - 1 == 6) time = name.substr(end + 1, 6);
        }
        if (time.empty() || (date.size() != 6 && date.size() != 8)) continue;
        if (date.size() == 6) date = "20" + date;
        const int month = std::stoi(date.substr(4, 2)), day = std::stoi(date.substr(6, 2));
        const int hour = std::stoi(time.substr(0, 2)), minute = std::stoi(time.substr(2, 2));
        if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
            std::stoi(time.substr(4, 2)) > 60)
            continue;
        return date + time;
    }
    return "";
}

// -1 to go on, or the exit status.
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (arg == "-o" || arg == "--output") {
            if (!hasValue || !*argv[i + 1]) return fail(arg + " needs a file name");
            options.output = argv[++i];
        } else if (arg == "--fps") {
            char* end = nullptr;
            const double fps = hasValue ? strtod(argv[i + 1], &end) : 0;
            if (!hasValue || end == argv[i + 1] || *end || !(fps >= kMinFps && fps <= kMaxFps))
                return fail("--fps takes a rate of 0.001 to 1000 frames a second");
            options.fps = fps;
            ++i;
        } else if (arg == "--sort") {
            const std::string order = hasValue ? argv[i + 1] : "";
            if (order != "name" && order != "date") return fail("--sort takes name or date");
            options.byDate = order == "date";
            ++i;
        } else if (arg == "--quiet" || arg == "-q") {
            options.quiet = true;
        } else if (arg == "--") {
            options.inputs.insert(options.inputs.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option '" + arg + "' (see lumo-avimake --help)");
        } else {
            options.inputs.push_back(arg);
        }
    }
    if (options.output.empty()) return fail("no movie to write: name it with -o MOVIE.avi");
    if (options.inputs.empty()) return fail("no pictures given");
    return -1;
}

bool isJpegName(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    return ext == ".jpg" || ext == ".jpeg";
}

// The files the inputs name, folders opened to their JPEG files; "" or what is wrong.
std::string collectFiles(const std::vector<std::string>& inputs, std::vector<std::string>& files) {
    for (const std::string& input : inputs) {
        struct stat st {};
        if (stat(input.c_str(), &st) != 0) return input + ": " + strerror(errno);
        if (!S_ISDIR(st.st_mode)) {
            files.push_back(input);
            continue;
        }
        std::error_code ec;
        size_t found = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(input, ec))
            if (entry.is_regular_file(ec) && isJpegName(entry.path())) {
                files.push_back(entry.path().string());
                ++found;
            }
        if (ec) return input + ": " + ec.message();
        if (found == 0) return input + ": a folder with no .jpg or .jpeg files";
    }
    return "";
}

std::string readPicture(const std::string& path, Picture& picture) {
    FILE* in = fopen(path.c_str(), "rb");
    if (!in) return path + ": " + strerror(errno);
    picture.path = path;
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, in)) > 0)
        picture.bytes.insert(picture.bytes.end(), buffer, buffer + n);
    const int readError = ferror(in) ? errno : 0;
    fclose(in);
    if (readError) return path + ": " + strerror(readError);
    const std::string problem = readJpegSize(picture.bytes, picture.width, picture.height);
    return problem.empty() ? "" : path + ": " + problem;
}

std::string sizeText(const Picture& p) {
    return std::to_string(p.width) + "x" + std::to_string(p.height);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (int status = parseOptions(argc, argv, options); status >= 0) return status;

    std::vector<std::string> files;
    if (std::string problem = collectFiles(options.inputs, files); !problem.empty())
        return fail(problem);
    std::vector<Picture> pictures(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (std::string problem = readPicture(files[i], pictures[i]); !problem.empty())
            return fail(problem);
        const std::string name = fs::path(files[i]).filename().string();
        if (options.byDate) {
            const std::string date = dateKey(name);
            if (date.empty())
                return fail(files[i] + ": no date in the name (YYMMDD-HHMMSS); use --sort name");
            pictures[i].sortKey = date + naturalKey(name);
        } else {
            pictures[i].sortKey = naturalKey(name);
        }
        if (pictures[i].width != pictures[0].width || pictures[i].height != pictures[0].height)
            return fail(files[i] + " is " + sizeText(pictures[i]) + ", but " + files[0] + " is " +
                        sizeText(pictures[0]) + ": all pictures must have one size");
    }
    std::stable_sort(pictures.begin(), pictures.end(), [](const Picture& a, const Picture& b) {
        return a.sortKey != b.sortKey ? a.sortKey < b.sortKey : a.path < b.path;
    });

    const uint32_t frameMs = static_cast<uint32_t>(std::lround(1000 / options.fps));
    FILE* file = fopen(options.output.c_str(), "wb");
    if (!file) return fail(options.output + ": " + strerror(errno), 1);
    AviWriter writer;
    writer.frameMs = frameMs;
    if (!aviOpen(writer, aviFileSink(file), pictures[0].width, pictures[0].height, false))
        return fail(options.output + ": cannot write the movie's header", 1);
    // One tick per picture: the picture before is shown up to the new picture's time (no tick
    // passes), then the new picture takes the next tick; the first call starts the clock. Every
    // picture counts as changed, so each is stored, even one equal to the picture before.
    writer.pictureChanged = 1;
    bool ok = true;
    size_t frames = 0;
    for (size_t i = 0; ok && i < pictures.size(); ++i) {
        const Picture& previous = pictures[i ? i - 1 : 0];
        const Picture& picture = pictures[i];
        const uint32_t now = static_cast<uint32_t>(i) * frameMs;
        ok =
            aviWriteFrame(writer, previous.bytes.data(), uint32_t(previous.bytes.size()), now, 1) &&
            aviWriteFrame(writer, picture.bytes.data(), uint32_t(picture.bytes.size()), now, 0);
        if (!ok)
            fail(options.output + ": the movie cannot take " + picture.path +
                     " (the disk is full or the movie would pass 2 GB); it ends with the picture "
                     "before",
                 1);
        frames += ok;
        if (!options.quiet && isatty(fileno(stderr)) && (i + 1) % 50 == 0)
            fprintf(stderr, "\r%zu of %zu pictures", i + 1, pictures.size());
    }
    aviClose(writer);
    if (!options.quiet) {
        if (isatty(fileno(stderr)) && pictures.size() >= 50) fputc('\n', stderr);
        printf("%s: %zu pictures of %s at %.3g frames a second (%u ms each), %.1f s\n",
               options.output.c_str(), frames, sizeText(pictures[0]).c_str(), 1000.0 / frameMs,
               frameMs, frames * frameMs / 1000.0);
    }
    return ok ? 0 : 1;
}
