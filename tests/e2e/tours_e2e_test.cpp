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
#include <sys/prctl.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <sstream>

#include "e2e/e2e_support.h"
#include "media/movie_oracle.h"
#include "media/test_pictures.h"

namespace {

namespace fs = std::filesystem;

struct TourCase {
    std::string profile;
    bool snapper;  // the screen-capture edition
};

// Names the case in test listings (in place of the record's bytes).
void PrintTo(const TourCase& c, std::ostream* os) {
    *os << c.profile << (c.snapper ? " Lumosnapper" : " Lumovatrix");
}

bool hasPxa27xLcd(const DeviceProfile& p) {
    return p.processorName.rfind("PXA27", 0) == 0;
}

// Lumovatrix: a JPEG photo kept ("Save Photo"); "Format" on the Photo page (third item) set to
// "BMP" and a BMP photo kept; Right to the video mode, a movie of 1 s paused on its choice page
// and kept ("Save movie"); Right to the interval mode and on its page (A opens the current
// mode's page once a mode page was shown) "Format" back to "JPEG", "Delay" "1 sec" and "Average"
// "2", a run of one shot (the first comes 3 s after the start); Right to the webcam mode, 1 s of
// streaming. Keys are queued and handled in order, a photo's choice page after the photo is
// taken; the script waits only where time is the point (the movie, the streaming) and awaits
// the interval shot, and the movie's file before its second: on a loaded machine the
// recording may start well after its key was pressed. The awaits' limits only catch a hang: two
// busy loops beside six test cases on two processors took the interval shot past the default
// 30 s.
std::string cameraScript() {
    return "key Start\nkey Start\n"          // JPEG, kept
           "key A\nkey Down\nkey Start\n" +  // the Photo page
           keys("Down", 2) +
           "key Start\nkey Up\nkey Start\nkey A\n" +                // "BMP"
           "key Start\nkey Start\n"                                 // BMP, kept
           "key Right\nkey Start\nawait files .avi 1\nwait 1000\n"  // recording
           "key Start\nkey Down\nkey Start\n"                       // "Save movie"
           "key Right\nkey A\n" +                                   // the Interval page
           keys("Down", 2) +
           "key Start\nkey Down\nkey Start\n" +                               // "JPEG"
           keys("Down", 5) + "key Start\n" + keys("Up", 3) + "key Start\n" +  // "1 sec"
           "key Down\nkey Start\nkey Down\nkey Start\nkey A\n"                // "Average" "2"
           "key Start\nawait files .jpg 2 90000\nkey Start\n"                 // interval run
           "key Right\nkey Start\nwait 1000\nkey Start\n";                    // webcam
}

// Lumosnapper: each capture starts with the action key, which hides the program (the home
// screen shows), and ends with "foreground". A JPEG photo of the home screen (with a screenshot
// of it meanwhile); "Format", the first item of the Photo page in this edition, set to "BMP" and
// a BMP photo; a movie of 2 s, with the video overlay switched on over the whole screen halfway
// on PXA27x devices, kept from the movie choice page that coming back opens; an interval run
// ("Format" back to "JPEG", "Delay" "1 sec", the fifth visible item); 1 s of webcam streaming.
// The waits in the background give the program time to take pictures of the home screen.
std::string snapperScript(const DeviceProfile& p) {
    const bool overlay = hasPxa27xLcd(p);
    const std::string screen =
        std::to_string(p.displayWidth) + "x" + std::to_string(p.displayHeight);
    return "key Start\nawait background\nwait 400\nscreenshot home.png\n"  // JPEG
           "foreground\n"
           "key A\nkey Down\nkey Start\n"                           // the Photo page
           "key Start\nkey Up\nkey Start\nkey A\n"                  // "BMP"
           "key Start\nawait background\nwait 400\nforeground\n"    // BMP
           "key Right\nkey Start\nawait background\nwait 1000\n" +  // recording
           (overlay ? "device overlay2 yuv420 " + screen + " at 0 0\n" : "") +
           "wait 1000\nforeground\nkey Down\nkey Start\n" +  // "Save movie"
           (overlay ? "device overlay2 off\n" : "") +
           "key Right\nkey A\n"                  // the Interval page
           "key Start\nkey Down\nkey Start\n" +  // "JPEG"
           keys("Down", 4) +
           "key Start\n" + keys("Up", 3) + "key Start\nkey A\n" +
           "key Start\nawait files .jpg 2 90000\nforeground\n"  // interval run
           "key Right\nkey Start\nawait background\nwait 1000\nforeground\n";
}

// The picture turned by a half turn.
Picture halfTurned(const Picture& p) {
    Picture t = p;
    const size_t pixels = p.pixels.size() / 3;
    for (size_t i = 0; i < pixels; ++i)
        std::copy_n(&p.pixels[(pixels - 1 - i) * 3], 3, &t.pixels[i * 3]);
    return t;
}

double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
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

class Tours : public ::testing::TestWithParam<TourCase> {};

TEST_P(Tours, LeaveReadableFilesTheirSettingsAndNoProcess) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    const TourCase& c = GetParam();
    const DeviceProfile& profile = *findBuiltinProfile(c.profile);
    const bool snapper = c.snapper;

    CollectingReceiver r;
    std::string error;
    ASSERT_TRUE(r.receiver.start(&error)) << error;

    TempFolder dir;
    dir.write("device.profile", "based-on = " + c.profile + "\nppp-peer = 127.0.0.1:" +
                                    std::to_string(r.receiver.port()) + "\n");
    std::vector<std::string> more = {"--profile", dir.file("device.profile")};
    if (snapper) more.insert(more.end(), {"--", "1"});
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ASSERT_EQ(runScript(dir, snapper ? snapperScript(profile) : cameraScript(), more, 120), 0)
        << readText(dir.file("out"));
    EXPECT_EQ(survivingChildren(), std::vector<std::string>{}) << "processes left running";
    r.receiver.stop();
    const std::string root = dir.file("device");

    // Photos and interval shots: one JPEG photo and at least one shot, all decoding cleanly.
    // The camera edition's default photo size is 640x480 on every device; Lumosnapper takes the
    // screen, a display 220 rows high as 224.
    const int photoWidth = snapper ? profile.displayWidth : 640;
    const int photoHeight =
        snapper ? (profile.displayHeight == 220 ? 224 : profile.displayHeight) : 480;
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
    const Picture bmp = decodeBmp(bmps[0]);
    EXPECT_EQ(bmp.width, photoWidth);
    EXPECT_EQ(bmp.height, photoHeight);

    // The movie: Motion-JPEG pictures, and 8 kHz mono 16-bit sound (the oracle's `sound`) exactly
    // when the device can record it ("Sound" is on by default).
    const std::vector<std::string> movies = madeFiles(root, ".avi");
    ASSERT_EQ(movies.size(), 1u);
    const movieoracle::Movie m = movieoracle::readMovie(movies[0]);
    ASSERT_TRUE(m.read);
    EXPECT_EQ(m.videoCodec, "mjpeg");
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
    ASSERT_GE(r.pictures.size(), 1u);
    for (const ReceivedPicture& p : r.pictures) {
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
    EXPECT_EQ(storedSettings(profile, root, own).size(), 49u);
    EXPECT_TRUE(storedSettings(profile, root, other).empty());
}

std::vector<TourCase> everyDeviceAndEdition() {
    std::vector<TourCase> cases;
    for (const DeviceProfile& p : builtinProfiles())
        if (p.cameraInput == "scene")  // the host profile needs the host's own camera
            for (bool snapper : {false, true}) cases.push_back({p.name, snapper});
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<TourCase>& info) {
    std::string name =
        info.param.profile + "_" + (info.param.snapper ? "Lumosnapper" : "Lumovatrix");
    std::replace_if(
        name.begin(), name.end(), [](char ch) { return !std::isalnum(uint8_t(ch)) && ch != '_'; },
        '_');
    return name;
}

INSTANTIATE_TEST_SUITE_P(EveryDevice, Tours, ::testing::ValuesIn(everyDeviceAndEdition()),
                         caseName);

// The program run twice on one device root without backlight time-outs: it starts and ends
// normally, settings changed through the menus survive the restart, and switching the backlight
// writes none. Key names are looked up when the script runs, so the orientation, which changes
// the key list, comes last.
TEST(Restart, MenuChangesSurviveItWithoutBacklightTimeouts) {
    const char* changes =
        "wait 200\n"
        "key A\nkey Down\nkey Start\n"           // the Photo page, on "Size"
        "key Down\nkey Down\nkey Down\n"         // "Quality"
        "key Start\nkey Down\nkey Down\n"        // edited from "85%" two steps down
        "key Start\nkey B\nkey Up\nkey Start\n"  // "75%"; back on Main; the Settings page
        "key Left\nkey Down\nkey Right\n"        // "Backlight" "Normal", "Orientation" "Portrait"
        "key A\nwait 200\n";
    TempFolder dir;
    dir.write("p.profile", "based-on = ph10c\nbacklight = none\n");
    const std::vector<std::string> more = {"--profile", dir.file("p.profile")};
    ASSERT_EQ(runScript(dir, changes, more), 0) << readText(dir.file("out"));
    DeviceProfile profile;
    std::string error;
    ASSERT_TRUE(loadProfileFile(dir.file("p.profile"), profile, error)) << error;
    const WCHAR* key = u"Software\\Quorvale\\Lumovatrix";
    const std::vector<std::string> stored = storedSettings(profile, dir.file("device"), key);
    ASSERT_EQ(stored.size(), 49u) << readText(dir.file("out"));
    EXPECT_EQ(stored[20], "0");  // "Backlight": "Normal"
    EXPECT_EQ(stored[24], "1");  // "Orientation": "Portrait"
    EXPECT_EQ(stored[27], "4");  // photo "Quality": "75%"
    EXPECT_EQ(stored[12], "-1");
    // The second run loads them and stores them again at its end.
    ASSERT_EQ(runScript(dir, "wait 200\n", more), 0) << readText(dir.file("out"));
    EXPECT_EQ(storedSettings(profile, dir.file("device"), key), stored);
    SimulatedHandheld handheld(profile, dir.file("device"));
    ASSERT_TRUE(handheld.mount(error)) << error;
    installDevice(&handheld);
    HKEY backlight = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"ControlPanel\\Backlight", 0, 0, &backlight),
              ERROR_FILE_NOT_FOUND);
    installDevice(nullptr);
}

}  // namespace
