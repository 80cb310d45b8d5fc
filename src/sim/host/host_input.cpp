// FFmpeg's demuxers and decoders behind one small reader. Every blocking FFmpeg call runs under an
// interrupt callback with a deadline, so a device that stops answering fails the read within the
// limit instead of hanging the thread that waits on it.
#include "sim/host/host_input.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <alsa/asoundlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace {

constexpr auto kOpenLimit = std::chrono::seconds(5);  // opening a device, reading stream info
constexpr auto kReadLimit = std::chrono::seconds(2);  // one packet; a camera gives several a second

// libasound prints its own complaints on stderr (an unknown PCM, say) before FFmpeg's open
// fails; our one line says it.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

void registerDevices() {
    static std::once_flag once;
    std::call_once(once, [] {
        avdevice_register_all();
        // Failures are reported as one line of our own; FFmpeg's log would repeat them.
        av_log_set_level(AV_LOG_QUIET);
        snd_lib_error_set_handler(quietAlsa);
    });
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Devices deliver in real time; lavfi lives among the devices but generates as fast as it is read.
bool isDevice(const AVInputFormat* format) {
    if (!format || std::string(format->name) == "lavfi") return false;
    for (const AVInputFormat* d = av_input_video_device_next(nullptr); d;
         d = av_input_video_device_next(d))
        if (d == format) return true;
    for (const AVInputFormat* d = av_input_audio_device_next(nullptr); d;
         d = av_input_audio_device_next(d))
        if (d == format) return true;
    return false;
}

}  // namespace

bool parseHostInputSpec(const std::string& spec, HostInputSpec& out, std::string& error) {
    const size_t colon = spec.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == spec.size()) {
        error =
            "'" + spec + "' is not FORMAT:INPUT (for example lavfi:testsrc2 or v4l2:/dev/video0)";
        return false;
    }
    HostInputSpec parsed;
    parsed.input = spec.substr(colon + 1);
    const std::string head = spec.substr(0, colon);
    size_t start = 0;
    for (size_t comma = 0; comma != std::string::npos; start = comma + 1) {
        comma = head.find(',', start);
        const std::string part = head.substr(start, comma - start);
        if (start == 0) {
            parsed.format = part;
            continue;
        }
        const size_t eq = part.find('=');
        if (eq == std::string::npos || eq == 0) {
            error = "'" + spec + "': option '" + part + "' is not OPTION=VALUE";
            return false;
        }
        parsed.options.emplace_back(part.substr(0, eq), part.substr(eq + 1));
    }
    if (parsed.format.empty()) {
        error = "'" + spec + "' names no input format";
        return false;
    }
    out = std::move(parsed);
    return true;
}

std::string checkHostInputSpec(const std::string& spec, const char* keep) {
    if (spec == keep) return "";
    HostInputSpec parsed;
    std::string error;
    return parseHostInputSpec(spec, parsed, error) ? "" : error;
}

HostInput::~HostInput() {
    close();
}

void HostInput::close() {
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
    av_packet_free(&packet_);
    stream_ = -1;
}

int HostInput::interruptCallback(void* self) {
    auto* input = static_cast<HostInput*>(self);
    return input->interrupted_ || std::chrono::steady_clock::now() > input->deadline_;
}

bool HostInput::open(const std::string& spec, HostMedia media, std::string& error) {
    registerDevices();
    close();
    if (!parseHostInputSpec(spec, spec_, error)) return false;
    auto fail = [&](const std::string& why) {
        error = spec + ": " + why;
        close();
        return false;
    };
    const AVInputFormat* format = nullptr;
    if (!spec_.file() && !(format = av_find_input_format(spec_.format.c_str())))
        return fail("no FFmpeg input format '" + spec_.format + "' (ffmpeg -formats lists them)");
    paced_ = !isDevice(format);

    format_ = avformat_alloc_context();
    packet_ = av_packet_alloc();
    if (!format_ || !packet_) return fail("out of memory");
    format_->interrupt_callback = {interruptCallback, this};
    deadline_ = std::chrono::steady_clock::now() + kOpenLimit;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : spec_.options)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    int result = avformat_open_input(&format_, spec_.input.c_str(), format, &options);
    av_dict_free(&options);
    if (result < 0)  // format_ is freed on failure
        return fail(spec_.format == "lavfi"
                        ? "the filter graph cannot be made (" + errorText(result) + ")"
                        : errorText(result));
    if ((result = avformat_find_stream_info(format_, nullptr)) < 0) return fail(errorText(result));

    const AVMediaType type = media == HostMedia::Video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    const AVCodec* codec = nullptr;
    stream_ = av_find_best_stream(format_, type, -1, -1, &codec, 0);
    if (stream_ < 0 || !codec)
        return fail(media == HostMedia::Video ? "no video in it" : "no sound in it");
    decoder_ = avcodec_alloc_context3(codec);
    if (!decoder_) return fail("out of memory");
    avcodec_parameters_to_context(decoder_, format_->streams[stream_]->codecpar);
    decoder_->thread_count = 1;  // frame threads would hold pictures back
    if ((result = avcodec_open2(decoder_, codec, nullptr)) < 0)
        return fail("cannot decode it: " + errorText(result));
    draining_ = false;
    firstSeconds_ = -1;
    lastSeconds_ = lastDuration_ = loopOffset_ = 0;
    return true;
}

bool HostInput::rewind() {
    if (lastSeconds_ <= 0 && lastDuration_ <= 0) return false;  // nothing played: no endless loop
    if (av_seek_frame(format_, -1, 0, AVSEEK_FLAG_BACKWARD) < 0 &&
        avformat_seek_file(format_, -1, INT64_MIN, 0, INT64_MAX, 0) < 0)
        return false;
    avcodec_flush_buffers(decoder_);
    loopOffset_ += lastSeconds_ + lastDuration_;  // each pass plays after the ones before
    firstSeconds_ = -1;
    lastSeconds_ = lastDuration_ = 0;
    draining_ = false;
    return true;
}

int HostInput::next(AVFrame* frame, double& seconds) {
    if (!isOpen()) return -1;
    for (;;) {
        int result = avcodec_receive_frame(decoder_, frame);
        if (result == 0) {
            const AVRational base = format_->streams[stream_]->time_base;
            const int64_t pts = frame->best_effort_timestamp;
            double t = pts == AV_NOPTS_VALUE ? lastSeconds_ + lastDuration_
                                             : static_cast<double>(pts) * av_q2d(base);
            if (firstSeconds_ < 0) firstSeconds_ = t;
            t -= firstSeconds_;
            if (decoder_->codec_type == AVMEDIA_TYPE_AUDIO && frame->sample_rate > 0)
                lastDuration_ = static_cast<double>(frame->nb_samples) / frame->sample_rate;
            else if (t > lastSeconds_)
                lastDuration_ = t - lastSeconds_;
            lastSeconds_ = t;
            seconds = t + loopOffset_;
            return 1;
        }
        if (result == AVERROR_EOF) {
            if (spec_.file() && rewind()) continue;
            return 0;
        }
        if (result != AVERROR(EAGAIN) || interrupted_) return -1;
        deadline_ = std::chrono::steady_clock::now() + kReadLimit;
        result = av_read_frame(format_, packet_);
        if (result == AVERROR_EOF) {
            avcodec_send_packet(decoder_, nullptr);  // drain what the decoder holds
            draining_ = true;
            continue;
        }
        if (result == AVERROR(EAGAIN)) continue;
        if (result < 0) return -1;
        if (packet_->stream_index == stream_) avcodec_send_packet(decoder_, packet_);
        av_packet_unref(packet_);  // a damaged packet is skipped, the next one decodes
    }
}

namespace {

std::mutex gListMutex;
std::vector<std::string>* gListLines = nullptr;

// FFmpeg's log callback: `format` is FFmpeg's own printf format for `args`.
__attribute__((format(printf, 3, 0))) void collectLog(void*, int level, const char* format,
                                                      va_list args) {
    if (level > AV_LOG_INFO) return;
    char line[1024];
    vsnprintf(line, sizeof line, format, args);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (gListLines && !text.empty()) gListLines->push_back("    " + text);
}

}  // namespace

std::vector<std::string> listHostCameras() {
    registerDevices();
    std::vector<std::string> lines;
    const AVInputFormat* v4l2 = av_find_input_format("v4l2");
    AVDeviceInfoList* devices = nullptr;
    if (!v4l2 || avdevice_list_input_sources(v4l2, nullptr, nullptr, &devices) < 0 || !devices)
        return lines;
    std::lock_guard lock(gListMutex);
    for (int i = 0; i < devices->nb_devices; ++i) {
        const AVDeviceInfo* device = devices->devices[i];
        lines.push_back(std::string("v4l2:") + device->device_name + "  (" +
                        (device->device_description ? device->device_description : "") + ")");
        // The v4l2 input lists a device's formats and sizes through the log when asked to.
        AVFormatContext* context = nullptr;
        AVDictionary* options = nullptr;
        av_dict_set(&options, "list_formats", "all", 0);
        gListLines = &lines;
        av_log_set_level(AV_LOG_INFO);
        av_log_set_callback(collectLog);
        avformat_open_input(&context, device->device_name, v4l2, &options);
        av_log_set_callback(av_log_default_callback);
        av_log_set_level(AV_LOG_QUIET);
        gListLines = nullptr;
        av_dict_free(&options);
        avformat_close_input(&context);
        // What it opens with by default: size and frame rate.
        if (avformat_open_input(&context, device->device_name, v4l2, nullptr) == 0) {
            if (context->nb_streams > 0) {
                const AVStream* s = context->streams[0];
                char text[128];
                snprintf(text, sizeof text, "    opens at %dx%d, %.4g frames a second",
                         s->codecpar->width, s->codecpar->height, av_q2d(s->r_frame_rate));
                lines.push_back(text);
            }
            avformat_close_input(&context);
        }
    }
    avdevice_free_list_devices(&devices);
    return lines;
}
