// lumo-bench-capture: the capture thread's work for one 640 x 480 movie frame on one core,
// beside the physical floor measured in the same run.
//
//   whole frame   onFrame as a fast device runs it while a movie records: the preview picture
//                 (integer-factor path onto a 240 x 320 display), the overlay, the copy to the
//                 display memory (a buffer here), then the frame consumer: the frame encoded at
//                 "Quality" 75, 4:2:0, into the photo buffer and stored in the AVI file;
//   movie step    the frame consumer's movie step alone (encode + AVI write);
//   floor         the raw frame copied into the photo buffer and stored through the same AVI
//                 writes (614,400 bytes a frame instead of the JPEG picture).
//
// Every frame is one tick of "Max FPS" "25" (the tick counter is moved 40 ms a frame), so each
// stores a new picture. Times are the thread's processor time (file writes included), the best
// of several batches taken in turns; the idle share is what is left of the 40 ms a frame has at
// 25 frames a second.
//
// Usage: lumo-bench-capture [frames per batch, default 60]
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/process_objects.h"
#include "app/program_resources.h"
#include "camera/device_info.h"
#include "core/app_state.h"
#include "core/frame.h"
#include "jpeg/jpeg_encoder.h"
#include "media/avi_writer.h"
#include "media/record_frame.h"
#include "media/storage.h"
#include "platform/hooks.h"
#include "preview/overlay.h"
#include "preview/preview_loop.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"
#include "sim/scene/scene_generator.h"

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480, kFrameBytes = kWidth * kHeight * 2;
constexpr int kDisplayW = 240, kDisplayH = 320;
constexpr uint32_t kFrameMs = 40;  // "Max FPS" "25"
constexpr uint32_t kQuality = 75, kFormat420 = 1;
constexpr int kRounds = 5;
constexpr uint32_t kFramesPerMovie = 600;  // a fresh file now and then keeps the files small

int gBatch = 60;
std::string gFolder;
std::vector<uint16_t> gDisplayMemory(kDisplayW* kDisplayH);
std::vector<std::vector<uint8_t>> gFrames;  // the moving scene, taken in turn
uint32_t gNow = 100000;
uint32_t gMovieFrames = 0;

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A movie open on a file in the bench folder; reopened (untimed) every kFramesPerMovie frames.
void ensureMovie() {
    if (gAviWriter.file.ops && gMovieFrames < kFramesPerMovie) return;
    if (gAviWriter.file.ops) aviClose(gAviWriter);
    gAviWriter.frameMs.store(kFrameMs);
    const std::string path = gFolder + "/movie.avi";
    if (!aviOpen(gAviWriter, path.c_str(), kWidth, kHeight, false)) {
        std::fprintf(stderr, "lumo-bench-capture: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    gAviWriter.moviePicture = gApp.photoImage.pixels;
    gAviWriter.moviePictureSize = 0;
    gMovieFrames = 0;
}

// A fast 240 x 320 device recording a 640 x 480 movie: video mode, "Full" style, active.
void prepare() {
    resetProcessState();
    gApp.instance = createProgramModule(kProgramDevicePath, &kProgramResources);
    gDeviceInfo.isPxa27x = 1;
    gDeviceInfo.display = {};
    gDeviceInfo.display.wBPP = 16;
    gDeviceInfo.display.cxPixels = kDisplayW;
    gDeviceInfo.display.cyPixels = kDisplayH;
    gDeviceInfo.display.pFramePointer = gDisplayMemory.data();
    ensureImage(gApp.screenImage, kDisplayW, kDisplayH);
    ensureImage(gApp.auxScreenImage, kDisplayW, kDisplayH);
    ensureImage(gApp.photoImage, kWidth, kHeight);
    for (int slot = 0; slot < kSettingsCount; ++slot) setting(slot).current.store(-1);
    completeDeviceLists(gDeviceInfo);
    setting(kSlotCaptureMode).current.store(kModeVideo);
    loadFont();
    setTextOrientation(1);
    refreshStatusTexts();
    CaptureGeometry& g = gController.streamGeometry;
    g = {};
    g.sensorWidth = kWidth;
    g.sensorHeight = kHeight;
    g.cropRight = kWidth - 1;
    g.cropBottom = kHeight - 1;
    gFrame = Frame{kWidth, kHeight, Uyvy, nullptr};
    gEncoderSetup.encoder = createJpegEncoder();
    if (!gEncoderSetup.encoder ||
        !configureEncoder(gEncoderSetup, kWidth, kHeight, kQuality, kFormat420, 1, 1, 0)) {
        std::fprintf(stderr, "lumo-bench-capture: no encoder\n");
        std::exit(1);
    }
    gApp.freeSpaceMargin = UINT32_MAX;
    gApp.fullScreen.store(1);
    gApp.activity.store(Active);

    SceneGenerator scene;
    sceneInit(scene, kWidth, kHeight);
    for (uint32_t i = 0; i < 8; ++i) {
        gFrames.emplace_back(kFrameBytes);
        sceneRender(scene, gFrames.back().data(), i, 200 + i * 130, SceneLook{});
    }
}

// The three contenders; each takes a frame and moves the movie clock one tick.
void wholeFrame(uint8_t* frame) {
    advanceTickCount(kFrameMs);  // onFrame reads the tick counter itself
    onFrame(frame, kFrameBytes, nullptr);
}

void movieStep(uint8_t* frame) {
    gNow += kFrameMs;
    frameStartTick.store(gNow);
    gAviWriter.pictureChanged = 1;
    recordFrame(frame, 0);
}

void floorStep(uint8_t* frame) {
    gNow += kFrameMs;
    AviWriter& w = gAviWriter;
    aviWriteFrame(w, w.moviePicture, w.moviePictureSize, gNow, 1);
    std::memcpy(w.moviePicture, frame, kFrameBytes);
    w.moviePictureSize = kFrameBytes;
    w.pictureChanged = 1;
    aviWriteFrame(w, w.moviePicture, w.moviePictureSize, gNow, 0);
}

// Microseconds per frame of each contender: the best batch of several, taken in turns.
std::vector<double> timeUs(const std::vector<std::function<void(uint8_t*)>>& contenders) {
    std::vector<double> best(contenders.size(), 1e30);
    std::vector<uint8_t> frame(kFrameBytes);
    uint32_t next = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (size_t c = 0; c < contenders.size(); ++c) {
            // Each contender starts its batches on a movie of its own kind.
            if (gAviWriter.file.ops) aviClose(gAviWriter);
            ensureMovie();
            contenders[c](gFrames[next++ % gFrames.size()].data());  // the clock starts
            double total = 0;
            for (int i = 0; i < gBatch; ++i) {
                ensureMovie();
                // The camera's frame is fresh each time (the preview may change it in place).
                std::memcpy(frame.data(), gFrames[next++ % gFrames.size()].data(), kFrameBytes);
                const double start = threadSeconds();
                contenders[c](frame.data());
                total += threadSeconds() - start;
                ++gMovieFrames;
            }
            best[c] = std::min(best[c], total / gBatch * 1e6);
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) gBatch = std::max(5, std::atoi(argv[1]));
    cpu_set_t one;  // one core: stay on the one we started on
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);
    char pattern[] = "/tmp/lumo-bench-capture-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    gFolder = pattern;

    prepare();
    const std::vector<double> us = timeUs({wholeFrame, movieStep, floorStep});
    aviClose(gAviWriter);
    std::filesystem::remove_all(gFolder);

    const double frameUs = kFrameMs * 1000.0;
    std::printf(
        "One 640x480 movie frame on the capture thread, one core, \"Quality\" 75 4:2:0, "
        "a tick of 40 ms (25 frames a second)\n\n");
    std::printf("%-58s %10s %12s %9s\n", "", "us/frame", "idle at 25/s", "x floor");
    const char* names[] = {"whole frame: preview, overlay, display, encode, AVI write",
                           "movie step: encode + AVI write",
                           "floor: the raw frame through the same AVI writes"};
    for (size_t i = 0; i < us.size(); ++i)
        std::printf("%-58s %10.0f %11.1f%% %8.2fx\n", names[i], us[i],
                    100.0 * (1.0 - us[i] / frameUs), us[i] / us[2]);
    std::printf("\nTarget: at least 80%% idle for the whole frame.\n");
    return 0;
}
