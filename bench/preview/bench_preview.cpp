// Per-frame time of the preview kernels doing the preview's jobs on a 240 x 320 display with
// "Rotation" "None" (turn 1), against libswscale converting packed UYVY422 to RGB565 at the same
// output size with SWS_FAST_BILINEAR and SWS_POINT. Our jobs include the quarter turn; swscale's
// do not (it cannot rotate). Times are microseconds per frame on one core, the best of several
// batches taken in turns; ratios are swscale's time over ours, measured in the same run.
//
// The second table times the whole per-frame entry, onFrame, on the same jobs: the picture by
// the path the preview chooses, the overlay's texts, and the copy to the display memory (a
// buffer here), with the frame consumer left out. Fast devices take the kernel paths ("Full" is
// style 5), slow devices the portable one (style 3).
//
// Usage: lumo-bench-preview [milliseconds per job, default 600]
extern "C" {
#include <libswscale/swscale.h>
}

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/program_resources.h"
#include "camera/device_info.h"
#include "core/app_state.h"
#include "core/frame.h"
#include "platform/hooks.h"
#include "preview/kernel_variants.h"
#include "preview/overlay.h"
#include "preview/preview_kernels.h"
#include "preview/preview_loop.h"
#include "preview/resize_rotate.h"
#include "settings/camera_controller.h"
#include "settings/settings_model.h"
#include "simd/cpu.h"

namespace {

constexpr int kDisplayW = 240;
constexpr int kDisplayH = 320;
constexpr int kPitch = kDisplayW * 2;
constexpr int kBatches = 60;

double gBudgetMs = 600;

// Mean time per call in microseconds of each job, the best of several batches. Batches of the
// contenders take turns, so a burst of load elsewhere on the machine hits them alike.
std::vector<double> timeUs(const std::vector<std::function<void()>>& jobs) {
    using Clock = std::chrono::steady_clock;
    std::vector<int> calls;
    for (const auto& job : jobs) {
        for (int i = 0; i < 3; ++i) job();
        const auto t0 = Clock::now();
        job();
        const double once = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
        calls.push_back(std::max(
            1, static_cast<int>(gBudgetMs * 1000 / kBatches / jobs.size() / std::max(once, 1.0))));
    }
    std::vector<double> best(jobs.size(), 1e30);
    for (int b = 0; b < kBatches; ++b) {
        for (size_t j = 0; j < jobs.size(); ++j) {
            const auto start = Clock::now();
            for (int i = 0; i < calls[j]; ++i) jobs[j]();
            const double us =
                std::chrono::duration<double, std::micro>(Clock::now() - start).count() / calls[j];
            best[j] = std::min(best[j], us);
        }
    }
    return best;
}

// A camera frame of random-ish but plausible content.
std::vector<uint8_t> makeFrame(int w, int h) {
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 2);
    std::mt19937 rng(w * 7 + h);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>((i % 4 == 1 || i % 4 == 3) ? 16 + (i / 2 + rng() % 16) % 220
                                                                   : 64 + rng() % 128);
    return frame;
}

struct Swscale {
    SwsContext* context = nullptr;
    int srcW, srcH;
    Swscale(int sw, int sh, int dw, int dh, int flags) : srcW(sw), srcH(sh) {
        context = sws_getContext(sw, sh, AV_PIX_FMT_UYVY422, dw, dh, AV_PIX_FMT_RGB565LE, flags,
                                 nullptr, nullptr, nullptr);
        if (!context) {
            std::fprintf(stderr, "lumo-bench-preview: sws_getContext failed for %dx%d -> %dx%d\n",
                         sw, sh, dw, dh);
            std::exit(1);
        }
    }
    ~Swscale() { sws_freeContext(context); }
    void run(const uint8_t* src, uint16_t* dst, int dstW) const {
        const uint8_t* const planes[1] = {src};
        const int strides[1] = {srcW * 2};
        uint8_t* const outPlanes[1] = {reinterpret_cast<uint8_t*>(dst)};
        const int outStrides[1] = {dstW * 2};
        sws_scale(context, planes, strides, 0, srcH, outPlanes, outStrides);
    }
};

// One preview job: ours (the active variants and the scalar reference) and swscale's.
struct Job {
    std::string name;
    int frameW, frameH;  // camera frame
    int outW, outH;      // picture size in the camera's axes (what swscale produces)
    std::function<void(const uint8_t*, uint16_t*)> ours;
    std::function<void(const uint8_t*, uint16_t*)> oursScalar;  // null: not measured
};

void report(const Job& job) {
    std::vector<uint8_t> frame = makeFrame(job.frameW, job.frameH);
    std::vector<uint16_t> screen(kDisplayW * kDisplayH);
    std::vector<uint16_t> swsOut(static_cast<size_t>(job.outW) * job.outH);
    const Swscale fast(job.frameW, job.frameH, job.outW, job.outH, SWS_FAST_BILINEAR);
    const Swscale point(job.frameW, job.frameH, job.outW, job.outH, SWS_POINT);
    std::vector<std::function<void()>> contenders = {
        [&] { job.ours(frame.data(), screen.data()); },
        [&] { fast.run(frame.data(), swsOut.data(), job.outW); },
        [&] { point.run(frame.data(), swsOut.data(), job.outW); },
    };
    if (job.oursScalar) contenders.push_back([&] { job.oursScalar(frame.data(), screen.data()); });
    const std::vector<double> us = timeUs(contenders);
    const double ours = us[0], fastUs = us[1], pointUs = us[2];
    char scalar[16] = "-";
    if (job.oursScalar) std::snprintf(scalar, sizeof scalar, "%.1f", us[3]);
    std::printf("%-52s %8.1f %8s %10.1f %10.1f %8.2fx %8.2fx %8.2fx\n", job.name.c_str(), ours,
                scalar, fastUs, pointUs, fastUs / ours, pointUs / ours,
                std::min(fastUs, pointUs) / ours);
}

// --- The whole frame -----------------------------------------------------------------------

std::vector<uint16_t> gDisplayMemory(kDisplayW* kDisplayH);

int noConsumer(uint8_t*) {
    return 0;
}

// A 240 x 320 device in photo mode, Idle, full screen, "Rotation" "None", "Portrait" text, with
// the photo buffer of a 1280 x 960 camera (the general path's scratch).
void prepareWholeFrames() {
    gApp.instance = createProgramModule(kProgramDevicePath, &kProgramResources);
    gDeviceInfo.display = {};
    gDeviceInfo.display.wBPP = 16;
    gDeviceInfo.display.cxPixels = kDisplayW;
    gDeviceInfo.display.cyPixels = kDisplayH;
    gDeviceInfo.display.pFramePointer = gDisplayMemory.data();
    ensureImage(gApp.screenImage, kDisplayW, kDisplayH);
    ensureImage(gApp.auxScreenImage, kDisplayW, kDisplayH);
    ensureImage(gApp.photoImage, 1280, 960);
    gApp.fullScreen.store(1);
    gApp.activity.store(Idle);
    previewMode.store(Live);
    frameConsumer = noConsumer;
    loadFont();
    setTextOrientation(1);
    for (int slot = 0; slot < kSettingsCount; ++slot) setting(slot).current.store(-1);
    refreshStatusTexts();
}

// onFrame as a fast (kernel paths) or slow (portable path) device runs it, "Full" style.
std::function<void(const uint8_t*, uint16_t*)> wholeFrame(bool fast, int w, int h) {
    return [=](const uint8_t* f, uint16_t*) {
        gDeviceInfo.isPxa27x = fast ? 1 : 0;
        completeDeviceLists(gDeviceInfo);  // the device's style table; index 0 is "Full"
        CaptureGeometry& g = gController.streamGeometry;
        g = {};
        g.sensorWidth = static_cast<uint32_t>(w);
        g.sensorHeight = static_cast<uint32_t>(h);
        g.cropRight = static_cast<uint32_t>(w - 1);
        g.cropBottom = static_cast<uint32_t>(h - 1);
        onFrame(const_cast<uint8_t*>(f), static_cast<uint32_t>(w * h * 2), nullptr);
    };
}

// The rows of the summary table, as indices into main's job list, with their names.
struct TableRow {
    int job;
    const char* name;
};
const TableRow kTable[] = {
    {0, "preview 640x480 integer factor"}, {2, "preview 640x480 portable"},
    {1, "preview 352x288 general"},        {3, "preview 320x240 general"},
    {5, "preview 800x600 general"},        {4, "preview 320x240 portable"},
};
constexpr int kTableRows = sizeof kTable / sizeof kTable[0];

// The frames callgrind counts (--toggle-collect=benchFrames): nothing else is measured.
__attribute__((noinline)) void benchFrames(const std::function<void()>& call, int frames) {
    for (int i = 0; i < frames; ++i) call();
}

int usage() {
    std::fprintf(stderr,
                 "usage: lumo-bench-preview [milliseconds per job] | --table | "
                 "--row N --side ours|peer --frames F\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool table = false;
    int row = -1, callgrindFrames = 1;
    std::string side;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--table") {
            table = true;
        } else if (a == "--row" && i + 1 < argc) {
            row = std::atoi(argv[++i]);
        } else if (a == "--side" && i + 1 < argc) {
            side = argv[++i];
        } else if (a == "--frames" && i + 1 < argc) {
            callgrindFrames = std::max(1, std::atoi(argv[++i]));
        } else if (i == 1 && std::atof(argv[1]) > 0) {
            gBudgetMs = std::max(10.0, std::atof(argv[1]));
        } else {
            std::fprintf(stderr, "lumo-bench-preview: unknown argument '%s'\n", argv[i]);
            return usage();
        }
    }
    if (row >= kTableRows || (row >= 0 && side != "ours" && side != "peer")) return usage();
    // One core: stay on the one we started on.
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);

    using namespace preview_kernels;

    // The planar scratch of the general path (the preview borrows the photo buffer).
    std::vector<uint8_t> scratch(1024 * 1024 * 3);
    auto planesFor = [&](int pw, int ph) {
        PlanarYuv p;
        p.y = scratch.data();
        p.cb = p.y + static_cast<size_t>(pw) * ph;
        p.cr = p.cb + static_cast<size_t>(pw / 2) * (ph / 2);
        p.yStride = pw;
        p.cbStride = p.crStride = pw / 2;
        return p;
    };
    // 16.16 steps of the general path: first and last samples on the even-rounded edges.
    auto stepFor = [](int source, int output) {
        return static_cast<int32_t>((int64_t{(source & ~1) - 1} << 16) / ((output & ~1) - 1));
    };

    std::vector<Job> jobs;
    // (i) 640 x 480, step exactly 2.0: the integer-factor kernel.
    jobs.push_back({"640x480 -> 240x320 scaleDownByFactor 2, turn 1", 640, 480, 320, 240,
                    [](const uint8_t* f, uint16_t* s) {
                        scaleDownByFactor(f, 1280, s, kPitch, 640, 480, 2, TurnRightEdgeUp);
                    },
                    [&](const uint8_t* f, uint16_t* s) {
                        kScalarKernels.scaleDown[0][TurnRightEdgeUp](f, 1280, s, kPitch, 640, 480);
                    }});
    // (ii) 352 x 288: step 78643, picture 292 x 240 at 16 rows down; a small frame, so turned
    // while converting (scratch 288 x 352) and resized unturned to 240 wide, 292 high.
    {
        const PlanarYuv planes = planesFor(288, 352);
        const int32_t stepH = stepFor(288, 240), stepV = stepFor(352, 292);
        const int offset = 16 * kDisplayW;
        jobs.push_back({"352x288 -> 240x292 convertToPlanar + resizeRotate", 352, 288, 292, 240,
                        [=](const uint8_t* f, uint16_t* s) {
                            convertToPlanar(f, 704, planes, 352, 288, TurnRightEdgeUp);
                            resizeRotate(planes, 288, 352, s + offset, kPitch, 240, 292, TurnNone,
                                         stepH, stepV);
                        },
                        [=](const uint8_t* f, uint16_t* s) {
                            kScalarKernels.convertToPlanar[TurnRightEdgeUp](f, 704, planes, 352,
                                                                            288);
                            kScalarResizers.resizeRotate[TurnNone](planes, 288, 352, s + offset,
                                                                   kPitch, 240, 292, stepH, stepV);
                        }});
    }
    // (iii) the portable path of the slow devices: 640 x 480 at step 2.0, walking the frame
    // from the last pixel of its first row down the columns ("None").
    jobs.push_back({"640x480 -> 240x320 drawFullColour step 2.0", 640, 480, 320, 240,
                    [](const uint8_t* f, uint16_t* s) {
                        drawFullColour(s, kPitch, 240, 320, f + 639 * 2, 640, -1, 0x20000);
                    },
                    [&](const uint8_t* f, uint16_t* s) {
                        kScalarKernels.drawFullColour(s, kPitch, 240, 320, f + 639 * 2, 640, -1,
                                                      0x20000);
                    }});
    // 320 x 240 fills the display at step 1.0: the general path and the portable path.
    {
        const PlanarYuv planes = planesFor(240, 320);
        const int32_t step = stepFor(240, 240);
        jobs.push_back(
            {"320x240 -> 240x320 convertToPlanar + resizeRotate", 320, 240, 320, 240,
             [=](const uint8_t* f, uint16_t* s) {
                 convertToPlanar(f, 640, planes, 320, 240, TurnRightEdgeUp);
                 resizeRotate(planes, 240, 320, s, kPitch, 240, 320, TurnNone, step, step);
             },
             [=](const uint8_t* f, uint16_t* s) {
                 kScalarKernels.convertToPlanar[TurnRightEdgeUp](f, 640, planes, 320, 240);
                 kScalarResizers.resizeRotate[TurnNone](planes, 240, 320, s, kPitch, 240, 320, step,
                                                        step);
             }});
    }
    jobs.push_back({"320x240 -> 240x320 drawFullColour step 1.0", 320, 240, 320, 240,
                    [](const uint8_t* f, uint16_t* s) {
                        drawFullColour(s, kPitch, 240, 320, f + 319 * 2, 320, -1, 0x10000);
                    },
                    [&](const uint8_t* f, uint16_t* s) {
                        kScalarKernels.drawFullColour(s, kPitch, 240, 320, f + 319 * 2, 320, -1,
                                                      0x10000);
                    }});
    // A large frame (131072 pixels or more) at a step that is no integer: converted unturned, only
    // the rows the resizer samples, and turned while resizing. 800 x 600 at step 2.5 fills the
    // display. The scalar column is the scalar code doing the same.
    {
        const PlanarYuv planes = planesFor(800, 600);
        const int32_t stepH = stepFor(800, 320), stepV = stepFor(600, 240);
        jobs.push_back(
            {"800x600 -> 240x320 convertSampledRows + resizeRotate", 800, 600, 320, 240,
             [=](const uint8_t* f, uint16_t* s) {
                 convertSampledRows(f, 1600, planes, 800, 600, 240, stepV);
                 resizeRotate(planes, 800, 600, s, kPitch, 320, 240, TurnRightEdgeUp, stepH, stepV);
             },
             [=](const uint8_t* f, uint16_t* s) {
                 for (int32_t j = 0; j < 120; ++j) {  // the same rows, scalar
                     const int64_t a = int64_t{2} * j * stepV;
                     for (int64_t r : {(a + 0x8000) >> 16, (a + 0x8000 + stepV) >> 16})
                         kScalarKernels.lumaRow(f + r * 1600, planes.y + r * 800, 800);
                     const int64_t c = (a + 0x10000) >> 17;
                     kScalarKernels.chromaRow(f + 2 * c * 1600, f + (2 * c + 1) * 1600,
                                              planes.cb + c * 400, planes.cr + c * 400, 400);
                 }
                 kScalarResizers.resizeRotate[TurnRightEdgeUp](planes, 800, 600, s, kPitch, 320,
                                                               240, stepH, stepV);
             }});
    }

    if (row >= 0) {  // one contender of one row, for callgrind
        const Job& job = jobs[static_cast<size_t>(kTable[row].job)];
        std::vector<uint8_t> frame = makeFrame(job.frameW, job.frameH);
        std::vector<uint16_t> out(static_cast<size_t>(kDisplayW) * kDisplayH);
        const Swscale point(job.frameW, job.frameH, job.outW, job.outH, SWS_POINT);
        const std::function<void()> call =
            side == "ours"
                ? std::function<void()>([&] { job.ours(frame.data(), out.data()); })
                : std::function<void()>([&] { point.run(frame.data(), out.data(), job.outW); });
        call();  // first-use set-up outside the count
        benchFrames(call, callgrindFrames);
        return 0;
    }
    if (table) {  // name|peer|our seconds|peer seconds, one line a row
        for (const TableRow& r : kTable) {
            const Job& job = jobs[static_cast<size_t>(r.job)];
            std::vector<uint8_t> frame = makeFrame(job.frameW, job.frameH);
            std::vector<uint16_t> screen(static_cast<size_t>(kDisplayW) * kDisplayH);
            std::vector<uint16_t> swsOut(static_cast<size_t>(job.outW) * job.outH);
            const Swscale point(job.frameW, job.frameH, job.outW, job.outH, SWS_POINT);
            const std::vector<double> us = timeUs({
                [&] { job.ours(frame.data(), screen.data()); },
                [&] { point.run(frame.data(), swsOut.data(), job.outW); },
            });
            std::printf("%s|swscale, nearest sample|%.9f|%.9f|-|-\n", r.name, us[0] * 1e-6,
                        us[1] * 1e-6);
        }
        return 0;
    }

    std::printf("lumo-bench-preview: kernels %s / %s (simd level %s), display 240x320, turn 1\n",
                activeKernels().name, activeResizers().name, simd::levelName(simd::level()));
    std::printf("swscale: UYVY422 -> RGB565LE at the picture size, unturned (it cannot rotate)\n");
    std::printf("%-52s %8s %8s %10s %10s %9s %9s %9s\n", "job (us per frame)", "ours", "scalar",
                "sws fast", "sws point", "fast/ours", "point/ours", "best/ours");
    for (const Job& job : jobs) report(job);

    // The whole per-frame entry on the same jobs (the scalar column is not measured here).
    prepareWholeFrames();
    const std::vector<Job> frames = {
        {"onFrame 640x480, fast: integer factor", 640, 480, 320, 240, wholeFrame(true, 640, 480),
         nullptr},
        {"onFrame 352x288, fast: general planar", 352, 288, 292, 240, wholeFrame(true, 352, 288),
         nullptr},
        {"onFrame 640x480, slow: portable", 640, 480, 320, 240, wholeFrame(false, 640, 480),
         nullptr},
        {"onFrame 320x240, fast: general planar", 320, 240, 320, 240, wholeFrame(true, 320, 240),
         nullptr},
        {"onFrame 320x240, slow: portable", 320, 240, 320, 240, wholeFrame(false, 320, 240),
         nullptr},
    };
    std::printf("\nwhole frame: picture, overlay and display copy (frame consumer left out)\n");
    std::printf("%-52s %8s %8s %10s %10s %9s %9s %9s\n", "job (us per frame)", "ours", "scalar",
                "sws fast", "sws point", "fast/ours", "point/ours", "best/ours");
    for (const Job& job : frames) report(job);
    return 0;
}
