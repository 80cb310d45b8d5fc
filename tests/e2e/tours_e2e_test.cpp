// A compact tour of each edition on every built-in device, one test case per device and edition:
// photos as JPEG and BMP, a short movie, a short interval run and webcam streaming to a receiver
// in this process; Lumosnapper takes them of the home screen while it is in the background and,
// on PXA27x devices, records a video overlay. The scripts use only key roles and waits, so they
// work on Pocket PCs and Smartphones alike. What the program leaves is read back by independent
// readers: libjpeg-turbo (every JPEG decodes without a warning), ffmpeg (every BMP and every
// movie decodes; ffprobe names the streams), the platform's own registry functions on the same
// device root (the settings block has its 49 entries), and no process of the program survives
// it.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/prctl.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "media/movie_oracle.h"
#include "media/test_pictures.h"
#include "platform/device.h"
#include "platform/windows.h"
#include "receiver.h"
#include "sim/device_profile.h"
#include "sim/handheld.h"
#include "support/program_run.h"

namespace {

namespace fs = std::filesystem;

enum class Edition { Lumovatrix, Lumosnapper };

struct TourCase {
    std::string profile;
    Edition edition;
};

// The 4:3 size of the photo "Size" default in the camera edition on every device.
constexpr int kCameraPhotoWidth = 640;
constexpr int kCameraPhotoHeight = 480;
// Lumosnapper takes the screen; a display 220 rows high is taken as 224.
constexpr int kOddScreenHeight = 220;
constexpr int kTakenScreenHeight = 224;
constexpr int kRunSeconds = 120;
constexpr int kSettingsEntries = 49;

bool hasPxa27xLcd(const DeviceProfile& p) {
    return p.processorName.rfind("PXA27", 0) == 0;
}

std::string keys(const std::string& key, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += "key " + key + "\n";
    return s;
}

// Lumovatrix: a JPEG photo kept ("Save Photo"); "Format" on the Photo page (third item) set to
// "BMP" and a BMP photo kept; Right to the video mode, a movie of 1 s paused on its choice page
// and kept ("Save movie"); Right to the interval mode and on its page (A opens the current
// mode's page once a mode page was shown) "Format" back to "JPEG", "Delay" "1 sec" and "Average"
// "2", a run of one shot (the first comes 3 s after the start); Right to the webcam mode, 1 s of
// streaming.
std::string cameraScript() {
    return "wait 500\n"
           "key Start\nwait 600\nkey Start\nwait 200\n"  // JPEG, kept
           "key A\nkey Down\nkey Start\n" +              // the Photo page
           keys("Down", 2) +
           "key Start\nkey Up\nkey Start\nkey A\nwait 200\n" +     // "BMP"
           "key Start\nwait 600\nkey Start\nwait 200\n"            // BMP, kept
           "key Right\nwait 200\nkey Start\nwait 1000\n"           // recording
           "key Start\nwait 200\nkey Down\nkey Start\nwait 200\n"  // "Save movie"
           "key Right\nwait 200\nkey A\n" +                        // the Interval page
           keys("Down", 2) +
           "key Start\nkey Down\nkey Start\n" +                                 // "JPEG"
           keys("Down", 5) + "key Start\n" + keys("Up", 3) + "key Start\n" +    // "1 sec"
           "key Down\nkey Start\nkey Down\nkey Start\nkey A\nwait 200\n"        // "Average" "2"
           "key Start\nwait 3400\nkey Start\nwait 200\n"                        // interval run
           "key Right\nwait 200\nkey Start\nwait 1000\nkey Start\nwait 300\n";  // webcam
}

// Lumosnapper: each capture starts with the action key, which hides the program (the home
// screen shows), and ends with "foreground". A JPEG photo of the home screen (with a screenshot
// of it meanwhile); "Format", the first item of the Photo page in this edition, set to "BMP" and
// a BMP photo; a movie of 2 s, with the video overlay switched on over the whole screen halfway
// on PXA27x devices, kept from the movie choice page that coming back opens; an interval run
// ("Format" back to "JPEG", "Delay" "1 sec", the fifth visible item); 1 s of webcam streaming.
std::string snapperScript(const DeviceProfile& p) {
    const bool overlay = hasPxa27xLcd(p);
    const std::string screen =
        std::to_string(p.displayWidth) + "x" + std::to_string(p.displayHeight);
    return "wait 500\n"
           "key Start\nwait 400\nscreenshot home.png\nforeground\nwait 300\n"  // JPEG
           "key A\nkey Down\nkey Start\n"                                      // the Photo page
           "key Start\nkey Up\nkey Start\nkey A\nwait 200\n"                   // "BMP"
           "key Start\nwait 400\nforeground\nwait 300\n"                       // BMP
           "key Right\nwait 200\nkey Start\nwait 1000\n" +                     // recording
           (overlay ? "device overlay2 yuv420 " + screen + " at 0 0\n" : "") +
           "wait 1000\nforeground\nwait 300\nkey Down\nkey Start\nwait 200\n" +  // "Save movie"
           (overlay ? "device overlay2 off\n" : "") +
           "key Right\nwait 200\nkey A\n"        // the Interval page
           "key Start\nkey Down\nkey Start\n" +  // "JPEG"
           keys("Down", 4) +
           "key Start\n" + keys("Up", 3) + "key Start\nkey A\nwait 200\n" +
           "key Start\nwait 3400\nforeground\nwait 300\n"                        // interval run
           "key Right\nwait 200\nkey Start\nwait 1000\nforeground\nwait 300\n";  // webcam
}

// An RGB picture, 3 bytes a pixel.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// A JPEG decoded by TurboJPEG with warnings made fatal; `error` holds its complaint.
Picture decodeJpeg(const std::vector<uint8_t>& jpeg, std::string& error) {
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

Picture readPng(const std::string& path) {
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

// The picture turned by a half turn.
Picture halfTurned(const Picture& p) {
    Picture t = p;
    const size_t pixels = p.pixels.size() / 3;
    for (size_t i = 0; i < pixels; ++i)
        std::copy_n(&p.pixels[(pixels - 1 - i) * 3], 3, &t.pixels[i * 3]);
    return t;
}

// Mean absolute difference of the colour values over the rows both pictures have (same width).
double meanDifference(const Picture& a, const Picture& b) {
    const size_t n = size_t(a.width) * size_t(std::min(a.height, b.height)) * 3;
    if (a.width != b.width || n == 0) return 255;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) sum += std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    return sum / double(n);
}

double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

// The files the program made on the device, its own folders left out, sorted by path (dated
// names: in the order they were made).
std::vector<std::string> madeFiles(const std::string& root, const std::string& extension) {
    std::vector<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::end(it);
         it.increment(ec)) {
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

// Processes whose parent is this one: what the program left behind is handed to this process
// (a child subreaper) when the program ends. Zombies are reaped and not counted.
std::vector<std::string> survivingChildren() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    std::vector<std::string> alive;
    const std::string self = std::to_string(getpid());
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string stat = readText(entry.path().string() + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state, parent;
        rest >> state >> parent;
        if (parent == self && state != "Z") {
            alive.push_back(stat.substr(0, close + 1));
            kill(std::atoi(entry.path().filename().c_str()), SIGKILL);
        }
    }
    return alive;
}

// The comma-separated entries of the edition's "Settings" value, read through the platform on
// a device mounted on the root the program used; empty when the key or value is missing.
std::vector<std::string> storedSettings(const DeviceProfile& profile, const std::string& root,
                                        const WCHAR* keyPath) {
    SimulatedHandheld handheld(profile, root);
    std::string error;
    if (!handheld.mount(error)) return {};
    installDevice(&handheld);
    std::u16string text;
    HKEY key = nullptr;
    bool found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, 0, &key) == ERROR_SUCCESS;
    if (found) {
        DWORD size = 0;
        found =
            RegQueryValueExW(key, u"Settings", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        text.assign(size / 2, u'\0');
        if (found)
            found = RegQueryValueExW(key, u"Settings", nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(text.data()), &size) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    installDevice(nullptr);
    if (!found) return {};
    std::vector<std::string> entries(1);
    for (char16_t c : text) {
        if (c == u',')
            entries.emplace_back();
        else if (c)
            entries.back() += static_cast<char>(c);
    }
    entries.pop_back();  // what follows the last comma
    return entries;
}

void PrintTo(const TourCase& c, std::ostream* out) {
    *out << c.profile << (c.edition == Edition::Lumosnapper ? " Lumosnapper" : " Lumovatrix");
}

class Tours : public ::testing::TestWithParam<TourCase> {};

TEST_P(Tours, LeaveReadableFilesTheirSettingsAndNoProcess) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    const TourCase& c = GetParam();
    const DeviceProfile& profile = *findBuiltinProfile(c.profile);
    const bool snapper = c.edition == Edition::Lumosnapper;

    std::mutex mutex;
    std::vector<ReceivedPicture> pictures;
    ReceiverOptions options;
    options.port = 0;
    options.onPicture = [&](const ReceivedPicture& p) {
        std::lock_guard<std::mutex> lock(mutex);
        pictures.push_back(p);
    };
    options.info = [](const std::string&) {};
    options.error = [](const std::string&) {};
    Receiver receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.start(&error)) << error;

    TempFolder dir;
    dir.write("device.profile", "based-on = " + c.profile + "\nppp-peer = 127.0.0.1:" +
                                    std::to_string(receiver.port()) + "\n");
    dir.write("script", snapper ? snapperScript(profile) : cameraScript());
    std::vector<std::string> args = {
        "--profile", dir.file("device.profile"), "--root",   dir.file("device"),
        "--shots",   dir.file("shots"),          "--script", dir.file("script")};
    if (snapper) args.insert(args.end(), {"--", "1"});
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ASSERT_EQ(runProgram(args, dir.file("out"), kRunSeconds), 0) << readText(dir.file("out"));
    std::string survivors;
    for (const std::string& s : survivingChildren()) survivors += s + " ";
    EXPECT_EQ(survivors, "") << "processes left running";
    receiver.stop();
    const std::string root = dir.file("device");

    // Photos and interval shots: one JPEG photo and at least one shot, all decoding cleanly.
    const int photoWidth = snapper ? profile.displayWidth : kCameraPhotoWidth;
    const int photoHeight =
        snapper ? (profile.displayHeight == kOddScreenHeight ? kTakenScreenHeight
                                                             : profile.displayHeight)
                : kCameraPhotoHeight;
    const std::vector<std::string> jpegs = madeFiles(root, ".jpg");
    ASSERT_GE(jpegs.size(), 2u) << "a photo and an interval shot";
    std::vector<Picture> decoded;
    for (const std::string& f : jpegs) {
        std::string complaint;
        decoded.push_back(decodeJpeg(testpics::readFile(f), complaint));
        EXPECT_EQ(complaint, "") << f;
        EXPECT_EQ(decoded.back().width, photoWidth) << f;
        EXPECT_EQ(decoded.back().height, photoHeight) << f;
    }
    if (snapper) {
        // The first photo is the home screen as it was while the program was away, turned as
        // the encoder turns every picture (Orientation minus Rotation): upright, or by a half
        // turn on a device whose default orientation differs from its rotation by two.
        const Picture home = readPng(dir.file("shots/home.png"));
        EXPECT_LT(std::min(meanDifference(decoded.front(), home),
                           meanDifference(decoded.front(), halfTurned(home))),
                  8.0);
    }

    const std::vector<std::string> bmps = madeFiles(root, ".bmp");
    ASSERT_EQ(bmps.size(), 1u);
    auto bmp = testpics::probe(bmps[0], "-show_entries stream=codec_name,width,height");
    EXPECT_EQ(bmp["streams.stream.0.codec_name"], "bmp");
    EXPECT_EQ(std::atoi(bmp["streams.stream.0.width"].c_str()), photoWidth);
    EXPECT_EQ(std::atoi(bmp["streams.stream.0.height"].c_str()), photoHeight);
    const auto bmpDecode = testpics::run("ffmpeg -nostdin -v error -i '" + bmps[0] + "' -f null -");
    EXPECT_EQ(bmpDecode.exitCode, 0);
    EXPECT_EQ(bmpDecode.output, "");

    // The movie: Motion-JPEG pictures, and 8 kHz mono sound exactly when the device can record
    // it ("Sound" is on by default).
    const std::vector<std::string> movies = madeFiles(root, ".avi");
    ASSERT_EQ(movies.size(), 1u);
    auto streams = testpics::probe(
        movies[0], "-show_entries stream=codec_type,codec_name,sample_rate,channels");
    EXPECT_EQ(streams["streams.stream.0.codec_name"], "mjpeg");
    if (profile.waveInput) {
        EXPECT_EQ(streams["streams.stream.1.codec_name"], "pcm_s16le");
        EXPECT_EQ(streams["streams.stream.1.sample_rate"], "8000");
        EXPECT_EQ(streams["streams.stream.1.channels"], "1");
    }
    const movieoracle::Movie m = movieoracle::readMovie(movies[0]);
    ASSERT_TRUE(m.read);
    EXPECT_EQ(m.streams, profile.waveInput ? 2 : 1);
    EXPECT_EQ(m.sound, profile.waveInput);
    EXPECT_GT(m.ticks, 5);
    ASSERT_FALSE(m.pictureTicks.empty());
    EXPECT_EQ(m.decodeErrors, "");
    if (snapper && hasPxa27xLcd(profile)) {
        // The overlay came on halfway: the last picture is the overlay's, not the home screen.
        const auto frames = movieoracle::grayPictures(movies[0], m.width, m.height);
        ASSERT_GE(frames.size(), 2u);
        EXPECT_GT(meanDifference(frames.front(), frames.back()), 20.0);
    }

    // The webcam's pictures reached the receiver and decode at the size they announce.
    ASSERT_GE(pictures.size(), 1u);
    for (const ReceivedPicture& p : pictures) {
        std::string complaint;
        const Picture g = decodeJpeg(p.jpeg, complaint);
        EXPECT_EQ(complaint, "") << "picture " << p.sequence;
        EXPECT_EQ(uint32_t(g.width), p.width);
        EXPECT_EQ(uint32_t(g.height), p.height);
    }

    // The settings were saved under the edition's own key, and only there.
    const WCHAR* own =
        snapper ? u"Software\\Quorvale\\Lumosnapper" : u"Software\\Quorvale\\Lumovatrix";
    const WCHAR* other =
        snapper ? u"Software\\Quorvale\\Lumovatrix" : u"Software\\Quorvale\\Lumosnapper";
    EXPECT_EQ(storedSettings(profile, root, own).size(), size_t(kSettingsEntries));
    EXPECT_TRUE(storedSettings(profile, root, other).empty());
}

std::vector<TourCase> everyDeviceAndEdition() {
    std::vector<TourCase> cases;
    for (const DeviceProfile& p : builtinProfiles())
        for (Edition e : {Edition::Lumovatrix, Edition::Lumosnapper}) cases.push_back({p.name, e});
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<TourCase>& info) {
    std::string name = info.param.profile + "_" +
                       (info.param.edition == Edition::Lumosnapper ? "Lumosnapper" : "Lumovatrix");
    std::replace_if(
        name.begin(), name.end(), [](char ch) { return !std::isalnum(uint8_t(ch)) && ch != '_'; },
        '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, Tours, ::testing::ValuesIn(everyDeviceAndEdition()),
                         caseName);

}  // namespace
