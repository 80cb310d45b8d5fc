// The host's camera and microphone behind the simulated handheld, end to end through the real
// libavdevice path: lavfi virtual devices, a looping file, ALSA through a libasound configuration
// whose PCM reads a raw file. What the program leaves is read by independent readers: TurboJPEG
// (to RGB and to its YCbCr planes), ffmpeg for BMPs, movies and the reference renderings.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>

#include "e2e/e2e_support.h"
#include "media/movie_oracle.h"
#include "media/test_pictures.h"

namespace {

#define REQUIRE_FFMPEG() \
    if (!testpics::haveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed"

const std::string kPictures = "device/Storage Card/My Documents/My Pictures";
const std::string kVideos = "device/Storage Card/My Documents/My Videos";

const std::string kRed = "lavfi:color=c=red:size=640x480:rate=25";
// testsrc2's first frame, held: the photo shows a known frame whenever it is taken.
const std::string kPatternGraph = "testsrc2=size=1280x720:rate=25,loop=loop=-1:size=1";

// A photo with the action key, its file awaited, then "Save Photo".
const std::string kPhoto = "key Start\nawait files .jpg 1 8000\nwait 1100\nkey Start\nwait 300\n";
// The Photo page's "Size" one step (Up: 352x288, the default is 640x480), menu hidden again.
const std::string kSmallerPhotos =
    "key A\nkey Down\nkey Start\nkey Start\nkey Up\nkey Start\nkey A\nwait 300\n";
// The Photo page's "Format" to BMP.
const std::string kBmpPhotos =
    "key A\nkey Down\nkey Start\nkey Down\nkey Down\nkey Start\nkey Up\nkey Start\nkey A\nwait "
    "300\n";
// The Adjust page's "Brightness" three steps up.
const std::string kBrighter = "key A\nkey Down\nkey Down\nkey Start\nkey Start\n" +
                              keys("Down", 3) + "key Start\nkey A\nwait 300\n";
// A movie of about `ms` milliseconds, saved.
std::string movie(int ms) {
    return "key Right\nwait 500\nkey Start\nawait files .avi 1\nwait " + std::to_string(ms) +
           "\nkey Start\nwait 300\nkey Down\nkey Start\nwait 300\n";
}

int run(const TempFolder& dir, const std::string& script, std::vector<std::string> args) {
    return runScript(dir, "wait 800\n" + script, args, 60);
}

// A JPEG's YCbCr planes as stored (TurboJPEG, no colour conversion), 4:2:2 expected.
struct Planes {
    int width = 0, height = 0;
    std::vector<uint8_t> y, cb, cr;
};
Planes jpegPlanes(const std::string& path) {
    const std::vector<uint8_t> jpeg = testpics::readFile(path);
    Planes p;
    tjhandle h = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(h, jpeg.data(), jpeg.size(), &p.width, &p.height, &subsampling,
                            &colourspace) == 0 &&
        subsampling == TJSAMP_422) {
        p.y.resize(size_t(p.width) * p.height);
        p.cb.resize(size_t(p.width / 2) * p.height);
        p.cr.resize(p.cb.size());
        unsigned char* planes[3] = {p.y.data(), p.cb.data(), p.cr.data()};
        int strides[3] = {p.width, p.width / 2, p.width / 2};
        if (tjDecompressToYUVPlanes(h, jpeg.data(), jpeg.size(), planes, p.width, strides, p.height,
                                    0) != 0)
            p = Planes{};
    }
    tjDestroy(h);
    return p;
}

// FFmpeg's rendering of the first frame of `graph`, its centre cut to width:height and scaled,
// as 4:2:2 planes with studio levels: the sensor's own representation.
Planes ffmpegRendering(const std::string& graph, int sourceWidth, int sourceHeight, int width,
                       int height, const TempFolder& dir) {
    int cropWidth = sourceWidth, cropHeight = sourceHeight;
    if (int64_t(sourceWidth) * height > int64_t(width) * sourceHeight)
        cropWidth = sourceHeight * width / height;
    else
        cropHeight = sourceWidth * height / width;
    const std::string out = dir.file("reference.yuv");
    testpics::run("ffmpeg -nostdin -v error -y -f lavfi -i '" + graph +
                  "' -frames:v 1 -vf crop=" + std::to_string(cropWidth) + ":" +
                  std::to_string(cropHeight) + ",scale=" + std::to_string(width) + ":" +
                  std::to_string(height) + " -f rawvideo -pix_fmt yuv422p '" + out + "'");
    const std::vector<uint8_t> bytes = testpics::readFile(out);
    Planes p;
    const size_t luma = size_t(width) * height, chroma = luma / 2;
    if (bytes.size() != luma + 2 * chroma) return p;
    p.width = width;
    p.height = height;
    p.y.assign(bytes.begin(), bytes.begin() + long(luma));
    p.cb.assign(bytes.begin() + long(luma), bytes.begin() + long(luma + chroma));
    p.cr.assign(bytes.begin() + long(luma + chroma), bytes.end());
    return p;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += double(a[i] - b[i]) * double(a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

double mean(const std::vector<uint8_t>& v) {
    double sum = 0;
    for (uint8_t x : v) sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

// The mean colour of a decoded picture.
std::array<double, 3> meanColour(const Picture& p) {
    std::array<double, 3> sum{};
    for (size_t i = 0; i < p.pixels.size(); ++i) sum[i % 3] += p.pixels[i];
    const double n = std::max<double>(1, double(p.pixels.size() / 3));
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

// Red as the program's photos show it: the sensor's studio-level red stored as it is, so full red
// comes out near (239, 13, 15); within this much per channel.
constexpr double kRedTolerance = 12;
void expectRed(const Picture& p, const std::string& what) {
    const auto c = meanColour(p);
    EXPECT_NEAR(c[0], 239, kRedTolerance) << what;
    EXPECT_NEAR(c[1], 13, kRedTolerance) << what;
    EXPECT_NEAR(c[2], 15, kRedTolerance) << what;
}

struct BackendCase {
    std::string profile;  // OEM library, LCM1, DSC1
    bool smaller;         // 352x288 instead of 640x480
};

class RedCamera : public ::testing::TestWithParam<BackendCase> {};

TEST_P(RedCamera, PhotosDecodeToRed) {
    REQUIRE_FFMPEG();
    const BackendCase& c = GetParam();
    TempFolder dir;
    ASSERT_EQ(run(dir, (c.smaller ? kSmallerPhotos : "") + kPhoto,
                  {"--profile", c.profile, "--camera", kRed}),
              0)
        << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kPictures), ".jpg");
    ASSERT_EQ(files.size(), 1u);
    std::string complaint;
    const Picture photo = decodeJpeg(testpics::readFile(files[0]), complaint);
    ASSERT_EQ(complaint, "");
    EXPECT_EQ(photo.width, c.smaller ? 352 : 640);
    EXPECT_EQ(photo.height, c.smaller ? 288 : 480);
    expectRed(photo, c.profile);
}

INSTANTIATE_TEST_SUITE_P(
    EveryBackend, RedCamera,
    ::testing::Values(BackendCase{"ph10c", false}, BackendCase{"ph10c", true},
                      BackendCase{"pm10a", false}, BackendCase{"pm10a", true},
                      BackendCase{"mpx220", false}, BackendCase{"mpx220", true},
                      // Cameras sending the reversed pixel order, undone by
                      // the type's "Pixel Order" default.
                      BackendCase{"wiza100", false}, BackendCase{"pm200", false},
                      BackendCase{"hermes", false}, BackendCase{"pm300", false}),
    [](const auto& param) {
        return param.param.profile + (param.param.smaller ? "_352" : "_640");
    });

TEST(HostCamera, BmpPhotoIsRed) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    ASSERT_EQ(
        run(dir,
            kBmpPhotos + "key Start\nawait files .bmp 1 8000\nwait 1100\nkey Start\nwait 300\n",
            {"--camera", kRed}),
        0)
        << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kPictures), ".bmp");
    ASSERT_EQ(files.size(), 1u);
    const Picture bmp = decodeBmp(files[0]);
    ASSERT_EQ(bmp.width, 640);
    expectRed(bmp, "BMP");
}

// The photo against FFmpeg's own rendering of the same frame, cut and scaled the same way, in the
// sensor's YCbCr; then the same with the brightness raised.
TEST(HostCamera, PatternPhotoMatchesFfmpegsRenderingAndFollowsBrightness) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    ASSERT_EQ(run(dir, kPhoto + kBrighter + kPhoto, {"--camera", "lavfi:" + kPatternGraph}), 0)
        << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kPictures), ".jpg");
    ASSERT_EQ(files.size(), 2u);
    const Planes photo = jpegPlanes(files[0]);
    ASSERT_EQ(photo.width, 640);
    const Planes reference = ffmpegRendering(kPatternGraph, 1280, 720, 640, 480, dir);
    ASSERT_EQ(reference.width, 640);
    const double y = psnr(photo.y, reference.y), cb = psnr(photo.cb, reference.cb),
                 cr = psnr(photo.cr, reference.cr);
    EXPECT_GE(y, 30.0);
    EXPECT_GE(cb, 30.0);
    EXPECT_GE(cr, 30.0);
    RecordProperty("psnr_y", std::to_string(y));

    const Planes brighter = jpegPlanes(files[1]);
    ASSERT_EQ(brighter.width, 640);
    // Three steps of 16 luma levels, less what clips at white.
    EXPECT_GT(mean(brighter.y) - mean(photo.y), 25.0);
}

TEST(HostMicrophone, SineIsAOneKilohertzToneAsLongAsThePicture) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    ASSERT_EQ(
        run(dir, movie(3000),
            {"--camera", kRed, "--microphone", "lavfi:sine=frequency=1000:sample_rate=44100"}),
        0)
        << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const auto m = movieoracle::readMovie(files[0]);
    ASSERT_TRUE(m.sound);
    EXPECT_EQ(m.decodeErrors, "");
    const double rate = std::atof(m.frameRate.c_str());
    ASSERT_GT(rate, 0);
    // As long as the picture, within one tick.
    EXPECT_NEAR(double(m.soundSamples) / 8000.0, double(m.ticks) / rate, 1.0 / rate);
    EXPECT_NEAR(movieoracle::toneFrequency(movieoracle::soundSamples(files[0])), 1000.0, 5.0);
}

// Both inputs tell the time within their own second: the camera shows a white bar sweeping
// across a black frame (its left edge at fraction t of the free width), the microphone a sweep
// from 500 Hz up (500 + 2000 t Hz). Every stored picture's bar tells when its frame was made; the
// sound at that picture's tick tells when its sound was made. The median of the differences lies
// within one tick (the picture shows the newest frame, up to a frame older than its tick): pictures
// the program dropped or caught late on a loaded machine move single differences, never the
// median, while a sound track shifted against its pictures moves them all.
// The bar's expression is worked out on two rows, then stretched: a source that itself needs more
// time than a frame's on a loaded machine hands over its frames late, which the program cannot
// tell from a picture lagging its sound.
TEST(HostInputs, PicturesAndSoundStayTogether) {
    REQUIRE_FFMPEG();
    constexpr int kSourceWidth = 320, kBarWidth = 40;
    constexpr double kTickSeconds = 0.04, kSamplesPerTick = 320;
    TempFolder dir;
    dir.write("p.profile",
              "based-on = ph10c\ncamera-fps = 25\n"
              "camera-input = lavfi:color=c=black:s=320x2:r=25,"
              "geq=lum='if(between(X-mod(T,1)*" +
                  std::to_string(kSourceWidth - kBarWidth) + ",0," + std::to_string(kBarWidth - 1) +
                  "),235,16)':cb=128:cr=128,scale=320:240:flags=neighbor\n"
                  "microphone-input = lavfi:aevalsrc=exprs="
                  "'0.5*sin(2*PI*(500*mod(t,1)+1000*mod(t,1)*mod(t,1)))':s=44100\n");
    ASSERT_EQ(run(dir, movie(6000), {"--profile", dir.file("p.profile")}), 0)
        << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const auto m = movieoracle::readMovie(files[0]);
    ASSERT_TRUE(m.sound);
    const auto pictures = movieoracle::grayPictures(files[0], m.width, m.height);
    ASSERT_EQ(pictures.size(), m.pictureTicks.size());
    const std::vector<int16_t> samples = movieoracle::soundSamples(files[0]);

    // The picture's time: the bright columns' centre, back in the source's pixels.
    auto pictureTime = [&](const std::vector<uint8_t>& gray) {
        double sum = 0, weight = 0;
        for (int x = 0; x < m.width; ++x) {
            double column = 0;
            for (int y = 0; y < m.height; ++y) column += gray[size_t(y) * m.width + x];
            column /= m.height;
            if (column > 128) sum += x + 0.5, weight += 1;
        }
        if (weight == 0) return -1.0;
        const double centre = sum / weight * kSourceWidth / m.width;
        return (centre - kBarWidth / 2.0) / (kSourceWidth - kBarWidth);
    };
    // The sound's time at the start of tick `tick`: its frequency by zero crossings over the tick,
    // which is the frequency at the tick's middle.
    auto soundTime = [&](long tick) {
        const long first = long(tick * kSamplesPerTick), last = first + long(kSamplesPerTick);
        if (tick < 0 || last > long(samples.size())) return -1.0;
        int crossings = 0;
        for (long i = first + 1; i < last; ++i)
            crossings += (samples[i - 1] < 0) != (samples[i] < 0);
        const double hertz = crossings / 2.0 / kTickSeconds;
        return (hertz - 500) / 2000 - kTickSeconds / 2;
    };
    std::vector<double> offsets;  // picture time less sound time, seconds
    for (size_t i = 0; i < pictures.size(); ++i) {
        const double picture = pictureTime(pictures[i]), sound = soundTime(m.pictureTicks[i]);
        // Near the turn of a second either time is ambiguous.
        if (picture < 0.1 || picture > 0.9 || sound < 0.1 || sound > 0.9) continue;
        offsets.push_back(picture - sound);
    }
    ASSERT_GE(offsets.size(), pictures.size() / 2) << "too few pictures read the time";
    std::sort(offsets.begin(), offsets.end());
    const double median = offsets[offsets.size() / 2];
    RecordProperty("median_offset_ms", std::to_string(median * 1000));
    EXPECT_LE(std::abs(median), kTickSeconds)
        << "pictures are " << median * 1000 << " ms ahead of their sound (median of "
        << offsets.size() << ")";
}

// A one-second clip, half red and half blue, played as the camera: a four-second movie shows
// the change from red to blue at least three times, so the clip started over.
TEST(HostCamera, FileInputLoops) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    const std::string clip = dir.file("clip.avi");
    ASSERT_EQ(
        testpics::run("ffmpeg -nostdin -v error -y -f lavfi -i color=c=red:s=320x240:r=25:d=0.5"
                      " -f lavfi -i color=c=blue:s=320x240:r=25:d=0.5 -filter_complex "
                      "'[0][1]concat=n=2' -c:v mjpeg -q:v 3 '" +
                      clip + "'")
            .exitCode,
        0);
    ASSERT_EQ(run(dir, movie(4000), {"--camera", "file:" + clip}), 0) << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const auto m = movieoracle::readMovie(files[0]);
    const std::string rgb = files[0] + ".rgb";
    testpics::run("ffmpeg -nostdin -v error -y -i '" + files[0] +
                  "' -map 0:v -fps_mode passthrough -vf scale=2:2 -f rawvideo -pix_fmt rgb24 '" +
                  rgb + "'");
    const std::vector<uint8_t> colours = testpics::readFile(rgb);
    int changes = 0;
    bool wasRed = true;
    for (size_t at = 0; at + 12 <= colours.size(); at += 12) {
        const bool red = colours[at] > colours[at + 2];
        if (wasRed && !red) ++changes;
        wasRed = red;
    }
    EXPECT_GE(changes, 3) << m.pictureTicks.size() << " pictures";
}

// ALSA itself, without a kernel device: a libasound configuration whose PCM is a `file` plugin
// reading a raw 1 kHz tone, over the `null` plugin for its timing.
TEST(HostMicrophone, AlsaThroughAFilePluginPcm) {
    REQUIRE_FFMPEG();
    TempFolder dir;
    const std::string raw = dir.file("tone.raw");
    ASSERT_EQ(testpics::run("ffmpeg -nostdin -v error -y -f lavfi -i "
                            "sine=frequency=1000:sample_rate=44100:duration=30 -f s16le -ac 1 '" +
                            raw + "'")
                  .exitCode,
              0);
    dir.write(".asoundrc",
              "pcm.lumotone {\n  type file\n  slave.pcm null\n  file \"/dev/null\"\n"
              "  infile \"" +
                  raw + "\"\n  format raw\n}\n");
    const char* home = getenv("HOME");
    const std::string savedHome = home ? home : "";
    setenv("HOME", dir.path().c_str(), 1);
    const int status =
        run(dir, movie(3000),
            {"--camera", kRed, "--microphone", "alsa,sample_rate=44100,channels=1:lumotone"});
    if (home)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
    ASSERT_EQ(status, 0) << readText(dir.file("out"));
    const auto files = madeFiles(dir.file(kVideos), ".avi");
    ASSERT_EQ(files.size(), 1u);
    const auto m = movieoracle::readMovie(files[0]);
    ASSERT_TRUE(m.sound);
    // libavdevice reads ALSA a period at a time (about 0.19 s here), so the sound ends up to a
    // period before the picture; its length is not compared.
    EXPECT_GT(m.soundSamples, 8000);
    EXPECT_NEAR(movieoracle::toneFrequency(movieoracle::soundSamples(files[0])), 1000.0, 5.0);
}

// Bad input: one line naming the device and the reason, exit 2, in bounded time.
TEST(HostInputs, BadInputIsOneClearLine) {
    TempFolder dir;
    dir.write("notvideo.txt", "this is not a video\n");
    dir.write("bad.profile", "based-on = ph10c\ncamera-input = nocolon\n");
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"--camera", "v4l2:/dev/lumo-no-such-camera"},
         "lumovatrix: camera v4l2:/dev/lumo-no-such-camera: No such file or directory"},
        {{"--camera", "nosuchformat:x"},
         "lumovatrix: camera nosuchformat:x: no FFmpeg input format 'nosuchformat' (ffmpeg "
         "-formats lists them)"},
        {{"--camera", "lavfi:nosuchfilter=1"},
         "lumovatrix: camera lavfi:nosuchfilter=1: the filter graph cannot be made (Invalid "
         "argument)"},
        {{"--camera", "file:" + dir.file("notvideo.txt")},
         "lumovatrix: camera file:" + dir.file("notvideo.txt") +
             ": Invalid data found when processing input"},
        {{"--microphone", "alsa:lumo-no-such-pcm"},
         "lumovatrix: microphone alsa:lumo-no-such-pcm: Input/output error"},
        {{"--microphone", "lavfi:color=c=red"},
         "lumovatrix: microphone lavfi:color=c=red: no sound in it"},
        // --help does not cover profile keys, so a profile's error has no pointer to it.
        {{"--profile", dir.file("bad.profile")},
         "lumovatrix: " + dir.file("bad.profile") +
             ":2: camera-input: 'nocolon' is not FORMAT:INPUT (for example lavfi:testsrc2 or "
             "v4l2:/dev/video0) or 'scene'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(runScript(dir, "wait 100\n", c.args, 30), 2) << c.line;
        EXPECT_EQ(readText(dir.file("out")), c.line + "\n");
    }
}

// Without a kernel camera (this machine, CI): --list-cameras says so, and the host profile names
// its missing camera.
TEST(HostInputs, NoKernelCamera) {
    if (std::filesystem::exists("/dev/video0")) GTEST_SKIP() << "this machine has a camera";
    TempFolder dir;
    EXPECT_EQ(runProgram({"--list-cameras"}, dir.file("out"), 30), 0);
    EXPECT_EQ(readText(dir.file("out")),
              "No cameras found (no video4linux2 device on this computer).\n");
    EXPECT_EQ(runScript(dir, "wait 100\n", {"--profile", "host"}, 30), 2);
    EXPECT_EQ(readText(dir.file("out")),
              "lumovatrix: camera v4l2:/dev/video0: No such file or directory\n");
}

}  // namespace
