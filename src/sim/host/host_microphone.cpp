// The host microphone's reading thread: decode, resample with libswresample, cut into blocks,
// deliver at the input's pace.
#include "sim/host/host_microphone.h"

#include <cstring>

#include "sim/microphone.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr auto kReopenDelay = std::chrono::seconds(1);
constexpr auto kBlockTime =
    std::chrono::milliseconds(kMicrophoneBlockSamples / kMicrophoneSamplesPerMs);

class HostWaveSource final : public WaveSource {
  public:
    explicit HostWaveSource(std::shared_ptr<HostMicrophone> microphone)
        : microphone_(std::move(microphone)) {}
    ~HostWaveSource() override { stop(); }
    bool start(Sink sink) override { return sink && microphone_->attach(std::move(sink)); }
    void stop() override { microphone_->detach(); }

  private:
    std::shared_ptr<HostMicrophone> microphone_;
};

}  // namespace

std::unique_ptr<WaveSource> openHostWaveSource(std::shared_ptr<HostMicrophone> microphone) {
    return std::make_unique<HostWaveSource>(std::move(microphone));
}

HostMicrophone::HostMicrophone(std::string spec, Clock::time_point origin)
    : spec_(std::move(spec)), origin_(origin) {}

std::shared_ptr<HostMicrophone> HostMicrophone::open(const std::string& spec,
                                                     Clock::time_point origin, std::string& error) {
    std::shared_ptr<HostMicrophone> microphone(new HostMicrophone(spec, origin));
    if (!microphone->input_.open(spec, HostMedia::Audio, error)) return nullptr;
    microphone->thread_ = std::thread(&HostMicrophone::run, microphone.get());
    return microphone;
}

HostMicrophone::~HostMicrophone() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    input_.interrupt();
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    swr_free(&resampler_);
}

bool HostMicrophone::attach(WaveSource::Sink sink) {
    std::lock_guard lock(sinkMutex_);
    if (sink_) return false;
    sink_ = std::move(sink);
    return true;
}

void HostMicrophone::detach() {
    std::lock_guard lock(sinkMutex_);
    sink_ = nullptr;
}

void HostMicrophone::deliver(const int16_t* block) {
    std::lock_guard lock(sinkMutex_);
    // A copy, so that a sink that detaches itself (stop() from its own callback) is not
    // destroyed while it runs.
    const WaveSource::Sink sink = sink_;
    if (sink) sink(block, kMicrophoneBlockSamples);
}

bool HostMicrophone::waitUntil(Clock::time_point when) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_until(lock, when, [this] { return stopping_; });
}

bool HostMicrophone::resample(AVFrame* frame) {
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    if (!resampler_) {
        if (swr_alloc_set_opts2(&resampler_, &mono, AV_SAMPLE_FMT_S16, kMicrophoneRate,
                                &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                frame->sample_rate, 0, nullptr) < 0 ||
            swr_init(resampler_) < 0) {
            swr_free(&resampler_);
            return false;
        }
    }
    const int room = swr_get_out_samples(resampler_, frame->nb_samples);
    if (room < 0) return false;
    converted_.resize(static_cast<size_t>(room));
    auto* out = reinterpret_cast<uint8_t*>(converted_.data());
    const int made =
        swr_convert(resampler_, &out, room, const_cast<const uint8_t**>(frame->extended_data),
                    frame->nb_samples);
    if (made < 0) return false;
    pending_.insert(pending_.end(), converted_.begin(), converted_.begin() + made);
    return true;
}

void HostMicrophone::run() {
    AVFrame* frame = av_frame_alloc();
    const int16_t silence[kMicrophoneBlockSamples] = {};
    uint64_t blocks = 0;                // delivered since `since`
    Clock::time_point since = origin_;  // when block 0 began
    bool paced = input_.paced();
    Clock::time_point retry{};
    while (frame) {
        if (!input_.isOpen()) {
            // Silence, one block every 10 ms, while the input is gone.
            if (!waitUntil(since + kBlockTime * (blocks + 1))) break;
            deliver(silence);
            ++blocks;
            if (Clock::now() < retry) continue;
            std::string error;
            if (!input_.open(spec_, HostMedia::Audio, error)) {
                retry = Clock::now() + kReopenDelay;
                continue;
            }
            swr_free(&resampler_);
            pending_.clear();
            since = Clock::now();
            blocks = 0;
            paced = input_.paced();
        }
        double seconds = 0;
        if (input_.next(frame, seconds) <= 0 || !resample(frame)) {
            input_.close();
            since = Clock::now();
            blocks = 0;
            retry = since + kReopenDelay;
            continue;
        }
        av_frame_unref(frame);
        size_t used = 0;
        bool stopped = false;
        for (; used + kMicrophoneBlockSamples <= pending_.size(); used += kMicrophoneBlockSamples) {
            if (paced && !waitUntil(since + kBlockTime * (blocks + 1))) {
                stopped = true;
                break;
            }
            deliver(pending_.data() + used);
            ++blocks;
        }
        if (stopped) break;
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(used));
    }
    av_frame_free(&frame);
}
