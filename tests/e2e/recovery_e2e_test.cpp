// Power loss in the middle of a recording: the program is killed (SIGKILL) 1, 3 and 10 s into a
// movie with sound. Before anything else ffprobe reads the cut file; the next start (of either
// edition) finishes it: header frame count = index entries = stream length, the duration that
// of the recording, every beep of the scene's sound beside its marker picture, a log line and
// the on-screen message.
//
// A damaged settings store (malformed, truncated, binary, CRLF, empty, unreadable): the program
// starts on it, keeps every key it could read (its own settings, the other edition's, anyone
// else's) and leaves a store it could not read on disk under its new name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>
#include <sstream>
#include <thread>

#include "e2e/e2e_support.h"
#include "media/movie_oracle.h"
#include "media/test_pictures.h"
#include "support/wait_until.h"

namespace {

const std::string kVideos = "device/Storage Card/My Documents/My Videos";

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// Waits until `path` exists, at most `limit`; true when it does.
bool awaitFile(const std::string& path, std::chrono::seconds limit) {
    return waitUntil([&] { return std::filesystem::exists(path); }, limit,
                     std::chrono::milliseconds(5));
}

// The video entries in a finished movie's "idx1".
uint32_t videoIndexEntries(const std::vector<uint8_t>& file) {
    const uint32_t at = 344 + get32(file, 340);
    if (at + 8 > file.size() || get32(file, at) != 0x31786469) return 0;  // "idx1"
    uint32_t video = 0;
    for (uint32_t e = at + 8; e + 16 <= at + 8 + get32(file, at + 4); e += 16)
        video += get32(file, e) == 0x63643030;  // "00dc"
    return video;
}

// Each beep (the sound turning loud after a quiet stretch) lies near the picture that first shows
// the scene's marker square: the median distance within one tick, as with the host's inputs
// (a picture caught late on a loaded machine moves one distance, a shifted sound track all of
// them), and none further than kLateTicks.
void expectBeepsBesideMarkers(const std::string& path, const movieoracle::Movie& m) {
    const auto pictures = movieoracle::grayPictures(path, m.width, m.height);
    ASSERT_EQ(pictures.size(), m.pictureTicks.size());
    std::vector<long> markers;
    bool shown = false;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const bool marker = pictures[i][2 * size_t(m.width) + size_t(m.width) - 3] > 128;
        if (marker && !shown) markers.push_back(m.pictureTicks[i]);
        shown = marker;
    }
    const std::vector<int16_t> samples = movieoracle::soundSamples(path);
    constexpr long kLateTicks = 6;  // a quarter of a second
    std::vector<long> distances;
    long lastLoud = -100000;
    for (long i = 0; i < long(samples.size()); ++i) {
        if (std::abs(int(samples[i])) < 4000) continue;
        const bool beep = i - lastLoud > 4000;
        lastLoud = i;
        const long tick = i / 320;  // 320 samples a tick at 25 ticks a second
        if (!beep || tick + 1 > m.pictureTicks.back() || markers.empty()) continue;
        long nearest = markers[0];
        for (long t : markers)
            if (std::abs(t - tick) < std::abs(nearest - tick)) nearest = t;
        distances.push_back(std::abs(nearest - tick));
        EXPECT_LE(distances.back(), kLateTicks) << "beep at tick " << tick;
    }
    if (distances.empty()) return;  // a recording too short for a beep
    std::sort(distances.begin(), distances.end());
    EXPECT_LE(distances[distances.size() / 2], 1) << "median of " << distances.size();
}

// The cells of the screen's last text row that hold yellow ink, the message line's colour, as
// '#' (and '.' for none), from the row's first cell. The device shows its texts turned
// ("Landscape L", the default): that row is the display's right-most 16 pixel columns, its cells
// 8 pixels each from the bottom up.
std::string messageLineInk(const Picture& shot) {
    std::string cells(size_t(shot.height / 8), '.');
    for (int y = 0; y < shot.height; ++y)
        for (int x = shot.width - 16; x < shot.width; ++x) {
            const uint8_t* p = shot.at(x, y);
            if (p[0] > 240 && p[1] > 240 && p[2] < 16)
                cells[size_t((shot.height - 1 - y) / 8)] = '#';
        }
    return cells;
}

void cutAndRecover(int seconds, const std::string& restartEdition) {
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    TempFolder dir;
    dir.write("p.profile", "based-on = ph10c\ncamera-fps = 25\n");
    dir.write("script", "wait 800\nkey Right\nwait 500\nkey Start\nscreenshot started.png\nwait " +
                            std::to_string(seconds * 1000) + "\nscreenshot cut.png\nwait 600000\n");
    ProgramRun run;
    run.start({"--root", dir.file("device"), "--shots", dir.file("shots"), "--script",
               dir.file("script"), "--profile", dir.file("p.profile")},
              dir.file("out"));
    const bool started = awaitFile(dir.file("shots/started.png"), std::chrono::seconds(60));
    const auto recording = std::chrono::steady_clock::now();
    const bool cut = started && awaitFile(dir.file("shots/cut.png"), std::chrono::seconds(120));
    const double recorded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - recording).count();
    kill(run.pid, SIGKILL);
    int status = 0;
    waitpid(run.pid, &status, 0);
    ASSERT_TRUE(cut) << run.output();
    ASSERT_TRUE(WIFSIGNALED(status));

    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const movieoracle::Movie before = movieoracle::readMovie(files[0]);
    EXPECT_TRUE(before.read) << "ffprobe reads the cut file before the next start";
    EXPECT_TRUE(std::filesystem::exists(files[0] + ".journal"));

    std::vector<std::string> args = {
        "--root",    dir.file("device"),   "--shots", dir.file("shots"),
        "--script",  dir.file("again"),    "--trace", dir.file("trace"),
        "--profile", dir.file("p.profile")};
    if (!restartEdition.empty()) args.insert(args.end(), {"--", restartEdition});
    dir.write("again", "screenshot recovered.png\nwait 300\nquit\n");
    ASSERT_EQ(runProgram(args, dir.file("out2")), 0) << readText(dir.file("out2"));
    const std::string log = readText(dir.file("out2"));
    EXPECT_NE(log.find("finished the movie"), std::string::npos) << log;
    EXPECT_NE(log.find(".avi cut off while recording"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(files[0] + ".journal"));
    // On screen: "Movie recovered" from the message line's second cell, and nothing else there.
    const Picture shot = readPng(dir.file("shots/recovered.png"));
    ASSERT_EQ(shot.width, 240);
    EXPECT_EQ(messageLineInk(shot), ".#####.#########" + std::string(40 - 16, '.'))
        << "the cells of \"Movie recovered\" on the message line";

    const std::vector<uint8_t> bytes = testpics::readFile(files[0]);
    const movieoracle::Movie m = movieoracle::readMovie(files[0]);
    ASSERT_TRUE(m.sound);
    EXPECT_EQ(m.decodeErrors, "");
    EXPECT_EQ(get32(bytes, 48), videoIndexEntries(bytes)) << "header frames = index entries";
    EXPECT_EQ(get32(bytes, 140), videoIndexEntries(bytes)) << "stream length = index entries";
    EXPECT_EQ(m.ticks, long(get32(bytes, 48)));
    EXPECT_GE(m.duration, seconds - 1.0);
    EXPECT_LE(m.duration, recorded + 1.0);
    expectBeepsBesideMarkers(files[0], m);
}

TEST(PowerLoss, OneSecondIntoAMovieIsFinishedByTheNextStart) {
    cutAndRecover(1, "");
}

TEST(PowerLoss, ThreeSecondsIntoAMovieIsFinishedByTheOtherEditionsStart) {
    cutAndRecover(3, "1");
}

TEST(PowerLoss, TenSecondsIntoAMovieIsFinishedByTheNextStart) {
    cutAndRecover(10, "");
}

// --- A damaged settings store ------------------------------------------------------------------

const WCHAR* const kOwnKey = u"Software\\Quorvale\\Lumovatrix";
const WCHAR* const kOtherEditionKey = u"Software\\Quorvale\\Lumosnapper";
constexpr size_t kQualitySlot = 27;      // photo "Quality"
constexpr const char* kQuality75 = "4";  // its "75%", not the default

// Each value line of a store's text with the key line above it: what the store holds, as lines
// (a store is written one key line and then its value lines, LF or CRLF).
std::set<std::string> storeLines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    std::string key;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("key ", 0) == 0)
            key = line;
        else if (line.rfind("value ", 0) == 0)
            lines.insert(key + " / " + line);
    }
    return lines;
}

// Runs the device's platform on the program's root for `work` (with the same profile, whose
// device writes nothing of its own into the store).
template <typename Work>
void onDevice(const DeviceProfile& profile, const std::string& root, Work work) {
    SimulatedHandheld handheld(profile, root);
    std::string error;
    ASSERT_TRUE(handheld.mount(error)) << error;
    installDevice(&handheld);
    work();
    installDevice(nullptr);
}

void setSettings(const std::vector<std::string>& entries) {
    std::u16string text;
    for (const std::string& e : entries) text += std::u16string(e.begin(), e.end()) + u",";
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOwnKey, 0, nullptr, 0, 0, nullptr, &key, nullptr),
        ERROR_SUCCESS);
    RegSetValueExW(key, u"Settings", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   DWORD((text.size() + 1) * 2));
    RegCloseKey(key);
}

TEST(DamagedStore, TheProgramStartsAndKeepsEveryKeyItCanRead) {
    TempFolder dir;
    dir.write("p.profile", "based-on = ph10c\nbacklight = none\n");
    DeviceProfile profile;
    std::string error;
    ASSERT_TRUE(loadProfileFile(dir.file("p.profile"), profile, error)) << error;
    const std::vector<std::string> own = {"--profile", dir.file("p.profile")};
    const std::vector<std::string> other = {"--profile", dir.file("p.profile"), "--", "1"};
    const std::string root = dir.file("device"), store = root + "/.device/registry",
                      aside = root + "/.device/registry.unreadable-1";

    // A store as a user's would be: both editions' settings (ours not the defaults) and a key
    // of another program.
    ASSERT_EQ(runScript(dir, "wait 200\n", own), 0) << readText(dir.file("out"));
    ASSERT_EQ(runScript(dir, "wait 200\n", other), 0) << readText(dir.file("out"));
    const std::vector<std::string> defaults = storedSettings(profile, root, kOwnKey);
    ASSERT_EQ(defaults.size(), 49u);
    ASSERT_NE(defaults[kQualitySlot], kQuality75);
    ASSERT_EQ(storedSettings(profile, root, kOtherEditionKey).size(), 49u);
    const std::set<std::string> asStarted = storeLines(readText(store));
    onDevice(profile, root, [&] {
        std::vector<std::string> chosen = defaults;
        chosen[kQualitySlot] = kQuality75;
        setSettings(chosen);
        HKEY key = nullptr;
        const DWORD value = 0x1234;
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Elsewhere", 0, nullptr, 0, 0, nullptr, &key,
                        nullptr);
        RegSetValueExW(key, u"Kept", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
        RegCloseKey(key);
    });
    const std::string intact = readText(store);
    const std::set<std::string> everything = storeLines(intact);
    ASSERT_EQ(everything.size(), 3u) << intact;
    std::string ownSettings;  // the line of our settings: new, and a REG_SZ ("value 1 ...")
    for (const std::string& line : everything)
        if (!asStarted.count(line) && line.find(" / value 1 ") != std::string::npos)
            ownSettings = line;
    ASSERT_NE(ownSettings, "") << intact;

    const size_t firstKeyEnd = intact.find('\n', intact.find("\nkey ") + 1) + 1;
    auto inserted = [&](const std::string& lines) {
        return intact.substr(0, firstKeyEnd) + lines + intact.substr(firstKeyEnd);
    };
    const size_t lastLine = intact.rfind('\n', intact.size() - 2) + 1;
    std::string crlf = intact;
    for (size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
        crlf.insert(at, "\r");

    const struct {
        const char* what;
        std::string text;
        size_t intactLines;  // value lines left whole in it
        bool unreadable;     // nothing in it is used
        bool setAside;       // still on disk afterwards, under its new name
    } cases[] = {
        {"malformed lines", inserted("value x 61 01000000\nthis is no store line\n"), 3, false,
         true},
        {"truncated in its last line", intact.substr(0, lastLine + (intact.size() - lastLine) / 2),
         2, false, true},
        {"a line of binary bytes", inserted(std::string("\x01\xff\0zz\n", 6)), 3, false, true},
        {"CRLF line ends", crlf, 3, false, false},
        {"empty", "", 0, false, false},
        {"binary from its first byte",
         std::string("\x7f"
                     "ELF\x02\x01\0\0\xfe\xff\n",
                     12) +
             intact,
         3, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(aside);
        std::ofstream(store, std::ios::binary | std::ios::trunc) << c.text;

        ASSERT_EQ(runScript(dir, "wait 300\n", own), 0) << readText(dir.file("out"));
        const std::string log = readText(dir.file("out"));
        // Every whole line of the damaged store is in the store the program left (it rewrites
        // its own settings at its end: from what it read, so the same line).
        std::set<std::string> kept;
        for (const std::string& line : storeLines(c.text))
            if (everything.count(line)) kept.insert(line);
        ASSERT_EQ(kept.size(), c.intactLines) << "the damage is as meant";
        if (c.unreadable) kept.clear();
        const std::set<std::string> after = storeLines(readText(store));
        for (const std::string& line : kept) EXPECT_EQ(after.count(line), 1u) << line;
        const std::vector<std::string> settings = storedSettings(profile, root, kOwnKey);
        ASSERT_EQ(settings.size(), 49u) << "the program stores its settings at its end";
        EXPECT_EQ(settings[kQualitySlot] == kQuality75, kept.count(ownSettings) == 1)
            << "the settings it read are the ones it used";
        EXPECT_EQ(std::filesystem::exists(aside), c.setAside);
        if (c.setAside) {
            EXPECT_EQ(readText(aside), c.text) << "kept as it was";
        }
        EXPECT_FALSE(std::filesystem::exists(root + "/.device/registry.unreadable-2"));
        if (c.unreadable) {
            EXPECT_EQ(storedSettings(profile, root, kOtherEditionKey).size(), 0u);
            size_t said = 0;
            for (size_t at = 0; (at = log.find("cannot be read", at)) != std::string::npos; ++at)
                ++said;
            EXPECT_EQ(said, 1u) << "said once: " << log;
        }
    }
}

}  // namespace
