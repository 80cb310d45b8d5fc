// lumo-bench-host: what a host camera costs.
//
// Part 1, processor time per frame on one thread (the best of several rounds, taken in turns):
//   decode  reading and decoding one 1280x720 camera frame (a YUYV camera: the raw frame; an
//           MJPEG camera: libavcodec's JPEG decoder), from a clip ffmpeg made beforehand;
//   convert the sensor's conversion of that frame into a 640x480 picture (centre cut, scaled);
//   encode  the built-in encoder on the converted 640x480 frame, 4:2:2 at quality 85, which the
//           program does for every photo, movie and webcam frame.
// The ratio convert/encode is the figure to watch: the YUYV conversion costs no more than the
// encode.
//
// Part 2, the program itself: lumovatrix records a 640x480 movie with sound for 30 s from a
// 30 fps 1280x720 host camera (each clip played as `file:`, looping) and a lavfi sine; its
// processor time (user + system, all threads) over the wall time of the run.
//
// Usage: lumo-bench-host [seconds of recording, default 30]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jpeg/encoder.h"
#include "sim/host/host_camera.h"
#include "sim/host/host_input.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr uint32_t kSensorW = 640, kSensorH = 480;
constexpr int kRounds = 7;
constexpr int kFramesPerRound = 30;
constexpr uint32_t kQuality = 85, kFormat422 = 2;
volatile uint32_t gBytes = 0;  // the encoded length, kept so the work is not optimised away

double threadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Best per-call processor time in ms of each job, rounds taken in turns.
std::vector<double> bestMs(const std::vector<std::function<void()>>& jobs) {
    std::vector<double> best(jobs.size(), 1e30);
    for (int round = 0; round < kRounds; ++round)
        for (size_t j = 0; j < jobs.size(); ++j) {
            const double t0 = threadMs();
            for (int i = 0; i < kFramesPerRound; ++i) jobs[j]();
            best[j] = std::min(best[j], (threadMs() - t0) / kFramesPerRound);
        }
    return best;
}

bool makeClip(const std::string& path, const std::string& codec) {
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=30 -t 1 " + codec +
        " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

struct Figures {
    double decode, convert, encode;
};

Figures measureCamera(const std::string& clip, JpegEncoder& encoder) {
    HostInput input;
    std::string error;
    if (!input.open("file:" + clip, HostMedia::Video, error)) {
        std::fprintf(stderr, "lumo-bench-host: %s\n", error.c_str());
        std::exit(1);
    }
    AVFrame* frame = av_frame_alloc();
    AVFrame* work = av_frame_alloc();
    HostScaler scaler;
    std::vector<uint8_t> sensor(size_t{kSensorW} * kSensorH * 2);
    std::vector<uint8_t> jpeg(sensor.size() * 2 + 65536);
    double seconds = 0;
    input.next(frame, seconds);
    auto decode = [&] {
        av_frame_unref(frame);
        input.next(frame, seconds);
    };
    auto convert = [&] {
        av_frame_ref(work, frame);
        convertHostFrame(work, scaler, sensor.data(), kSensorW, kSensorH);
        av_frame_unref(work);
    };
    auto encode = [&] {
        gBytes = encodeImage(encoder, jpeg.data(), sensor.data(), 1, SourcePixelFormat::Uyvy,
                             jpeg.size());
    };
    convert();
    const std::vector<double> ms = bestMs({decode, convert, encode});
    if (gBytes == 0) std::fprintf(stderr, "lumo-bench-host: the encoder made nothing\n");
    freeHostScaler(scaler);
    av_frame_free(&work);
    av_frame_free(&frame);
    return {ms[0], ms[1], ms[2]};
}

// Runs the program recording for `seconds`; its processor time over the wall time.
double recordingShare(const std::string& clip, int seconds, const std::string& folder) {
    mkdir(folder.c_str(), 0755);
    const std::string script = folder + "/record.lumo";
    if (FILE* f = std::fopen(script.c_str(), "w")) {
        // Movie mode, the Video page's "Size" two steps down to 640x480, record, save.
        std::fprintf(
            f,
            "wait 800\nkey Right\nwait 500\nkey A\nkey Down\nkey Start\nkey Start\n"
            "key Down\nkey Down\nkey Start\nkey A\nwait 300\nkey Start\nwait %d\nkey Start\n"
            "wait 300\nkey Down\nkey Start\nwait 300\n",
            seconds * 1000);
        std::fclose(f);
    }
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string root = folder + "/device", camera = "file:" + clip;
        std::freopen("/dev/null", "w", stdout);
        execl(LUMOVATRIX_EXECUTABLE, "lumovatrix", "--root", root.c_str(), "--script",
              script.c_str(), "--camera", camera.c_str(), "--microphone",
              "lavfi:sine=frequency=1000:sample_rate=44100", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "lumo-bench-host: the recording run failed (status %d)\n", status);
    const std::string probe =
        "ffprobe -v error -select_streams v -show_entries "
        "stream=width,height,nb_read_packets -count_packets -of csv=p=0 \"$(find '" +
        folder + "/device' -name '*.avi' | head -1)\"";
    std::printf("  movie (width,height,pictures): ");
    std::fflush(stdout);
    std::system(probe.c_str());
    return cpu / wall;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(0, std::atoi(argv[1])) : 30;  // 0: part 1 only
    char pattern[] = "/tmp/lumo-bench-host-XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string yuyv = folder + "/yuyv.nut", mjpeg = folder + "/mjpeg.avi";
    if (!makeClip(yuyv, "-c:v rawvideo -pix_fmt yuyv422") ||
        !makeClip(mjpeg, "-c:v mjpeg -pix_fmt yuvj422p -q:v 3")) {
        std::fprintf(stderr, "lumo-bench-host: ffmpeg could not make the clips\n");
        return 1;
    }
    std::unique_ptr<JpegEncoder, void (*)(JpegEncoder*)> encoder(createJpegEncoder(),
                                                                 freeJpegEncoder);
    configureJpegEncoder(*encoder, kSensorW, kSensorH, kQuality, kFormat422, 1, 1, 0);

    std::printf(
        "Host camera path, 1280x720 into a 640x480 sensor picture, ms of processor time "
        "per frame (best of %d rounds)\n",
        kRounds);
    std::printf("%-8s %8s %8s %8s %16s %22s\n", "camera", "decode", "convert", "encode",
                "convert/encode", "(decode+convert)/encode");
    for (const auto& [name, clip] : {std::pair{"YUYV", yuyv}, std::pair{"MJPEG", mjpeg}}) {
        const Figures f = measureCamera(clip, *encoder);
        std::printf("%-8s %8.3f %8.3f %8.3f %16.2f %22.2f\n", name, f.decode, f.convert, f.encode,
                    f.convert / f.encode, (f.decode + f.convert) / f.encode);
    }

    if (seconds == 0) return 0;
    std::printf(
        "\nRecording %d s of 640x480 movie with sound from a 30 fps 1280x720 host camera:\n",
        seconds);
    for (const auto& [name, clip] : {std::pair{"YUYV", yuyv}, std::pair{"MJPEG", mjpeg}}) {
        const double share = recordingShare(clip, seconds, folder + "/" + name);
        std::printf("  %-6s camera: %.1f%% of one core over the whole run\n", name, share * 100);
    }
    std::system(("rm -rf '" + folder + "'").c_str());
    return 0;
}
