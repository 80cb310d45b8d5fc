// The host camera's reading thread and the conversion to the sensor picture.
//
// Conversion: the newest frame is referenced (not copied) under the lock, cut to the sensor's
// aspect around its centre by moving its plane pointers (av_frame_apply_cropping), and scaled
// (sim/host/host_scale.h) straight into the sensor picture as packed 4:2:2 with BT.601 studio
// levels, the scene's format. Full-range sources (MJPEG cameras) have their levels mapped.
#include "sim/host/host_camera.h"

#include <atomic>

#include "sim/host_feed.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

constexpr auto kReopenDelay = std::chrono::seconds(1);

std::mutex gInstalledMutex;  // guards gInstalled
std::condition_variable gInstalledChanged;
std::shared_ptr<HostCamera> gInstalled;
std::atomic_bool gCameraInstalled{false};

std::shared_ptr<HostCamera> installed() {
    std::lock_guard lock(gInstalledMutex);
    return gInstalled;
}

uint64_t feedNewest(void*) {
    const std::shared_ptr<HostCamera> camera = installed();
    return camera ? camera->newest() : 0;
}

uint64_t feedWaitNewer(void*, uint64_t seen, uint32_t timeoutMs) {
    if (const std::shared_ptr<HostCamera> camera = installed())
        return camera->waitNewer(seen, timeoutMs);
    // No camera (the handheld went away): wait as a camera without frames would.
    std::unique_lock lock(gInstalledMutex);
    gInstalledChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [] { return gInstalled != nullptr; });
    return seen;
}

uint64_t feedRead(void*, uint8_t* uyvy, uint32_t width, uint32_t height) {
    const std::shared_ptr<HostCamera> camera = installed();
    return camera ? camera->read(uyvy, width, height) : 0;
}

const HostCameraFeed kFeed{
    .context = nullptr,
    .newest = feedNewest,
    .waitNewer = feedWaitNewer,
    .read = feedRead,
};

}  // namespace

// Exported from the executable for the OEM camera library, which looks it up by name.
extern "C" __attribute__((visibility("default"), used)) const HostCameraFeed* lumoHostCameraFeed() {
    return gCameraInstalled.load() ? &kFeed : nullptr;
}

void installHostCamera(std::shared_ptr<HostCamera> camera) {
    std::shared_ptr<HostCamera> previous;
    {
        std::lock_guard lock(gInstalledMutex);
        previous = std::exchange(gInstalled, std::move(camera));
        gCameraInstalled.store(gInstalled != nullptr);
    }
    gInstalledChanged.notify_all();
    // `previous` is released here, outside the lock; a sensor may still hold it for one read.
}

const HostCameraFeed* hostCameraFeed() {
    return lumoHostCameraFeed();
}

HostCamera::HostCamera(std::string spec, Clock::time_point origin)
    : spec_(std::move(spec)), origin_(origin) {}

std::shared_ptr<HostCamera> HostCamera::open(const std::string& spec, Clock::time_point origin,
                                             std::string& error) {
    std::shared_ptr<HostCamera> camera(new HostCamera(spec, origin));
    if (!camera->input_.open(spec, HostMedia::Video, error)) return nullptr;
    camera->latest_ = av_frame_alloc();
    camera->work_ = av_frame_alloc();
    if (!camera->latest_ || !camera->work_) {
        error = spec + ": out of memory";
        return nullptr;
    }
    camera->thread_ = std::thread(&HostCamera::run, camera.get());
    return camera;
}

HostCamera::~HostCamera() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    input_.interrupt();
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    av_frame_free(&latest_);
    av_frame_free(&work_);
    freeHostScaler(scaler_);
}

bool HostCamera::waitUntil(Clock::time_point when) {
    std::unique_lock lock(mutex_);
    return !changed_.wait_until(lock, when, [this] { return stopping_; });
}

void HostCamera::run() {
    AVFrame* frame = av_frame_alloc();
    std::string error;
    while (frame) {
        if (!input_.isOpen()) {
            if (!waitUntil(Clock::now() + kReopenDelay)) break;
            if (!input_.open(spec_, HostMedia::Video, error)) continue;
            origin_ = Clock::now();  // a paced input plays again from its start
        }
        double seconds = 0;
        if (input_.next(frame, seconds) <= 0) {
            input_.close();  // the frames stop until the input opens again
            continue;
        }
        if (input_.paced() && !waitUntil(origin_ + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(seconds))))
            break;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
            av_frame_unref(latest_);
            av_frame_move_ref(latest_, frame);
            ++number_;
        }
        changed_.notify_all();
    }
    av_frame_free(&frame);
}

uint64_t HostCamera::newest() {
    std::lock_guard lock(mutex_);
    return number_;
}

uint64_t HostCamera::waitNewer(uint64_t seen, uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return number_ != seen || stopping_; });
    return number_;
}

uint64_t HostCamera::read(uint8_t* uyvy, uint32_t width, uint32_t height) {
    if (!uyvy || width < 2 || height == 0) return 0;
    std::lock_guard convert(convertMutex_);
    uint64_t number;
    {
        std::lock_guard lock(mutex_);
        if (number_ == 0 || av_frame_ref(work_, latest_) < 0) return 0;
        number = number_;
    }
    const bool converted = convertHostFrame(work_, scaler_, uyvy, width, height);
    av_frame_unref(work_);
    return converted ? number : 0;
}

bool convertHostFrame(AVFrame* frame, HostScaler& scaler, uint8_t* uyvy, uint32_t width,
                      uint32_t height) {
    // The centre of the frame in the sensor's aspect.
    const int64_t w = frame->width, h = frame->height;
    if (w * height > int64_t{width} * h) {
        const int64_t keep = h * width / height;
        frame->crop_left = static_cast<size_t>((w - keep) / 2);
        frame->crop_right = static_cast<size_t>(w - keep - (w - keep) / 2);
    } else {
        const int64_t keep = w * height / width;
        frame->crop_top = static_cast<size_t>((h - keep) / 2);
        frame->crop_bottom = static_cast<size_t>(h - keep - (h - keep) / 2);
    }
    return av_frame_apply_cropping(frame, AV_FRAME_CROP_UNALIGNED) >= 0 &&
           scaleHostFrame(frame, scaler, uyvy, width, height);
}
