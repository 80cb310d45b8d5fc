// Opening the host's inputs through FFmpeg's input devices (libavdevice): a camera or microphone
// named by a spec "FORMAT:INPUT", where FORMAT is an FFmpeg input format (v4l2, alsa, pulse,
// lavfi, ...) optionally followed by ",OPTION=VALUE" pairs for it, and INPUT is what that format
// opens (split at the first colon only). "file:PATH" plays a media file and loops it.
//
// Devices deliver in real time by nature; every other input (a lavfi graph, a file) is paced by
// its own timestamps against a clock its owner gives it; the camera and the microphone of one
// handheld share that clock, so two inputs opened together play together.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;

// The profile values that keep the simulated scene and tone.
constexpr const char* kSceneCameraInput = "scene";
constexpr const char* kToneMicrophoneInput = "tone";

struct HostInputSpec {
    std::string format;  // an FFmpeg input format name, or "file"
    std::vector<std::pair<std::string, std::string>> options;
    std::string input;
    bool file() const { return format == "file"; }
};

// Splits "FORMAT[,OPTION=VALUE...]:INPUT". False with `error` for a malformed spec.
bool parseHostInputSpec(const std::string& spec, HostInputSpec& out, std::string& error);
// A spec's shape check for profiles and options ("scene"/"tone" pass as `keep`).
std::string checkHostInputSpec(const std::string& spec, const char* keep);

enum class HostMedia { Video, Audio };

// One opened input: the demuxer, the chosen stream and its decoder. Reads are bounded: a device
// that does not answer within the time limit fails the read instead of blocking forever.
class HostInput {
  public:
    HostInput() = default;
    ~HostInput();
    HostInput(const HostInput&) = delete;
    HostInput& operator=(const HostInput&) = delete;

    // Opens `spec` and its best stream of `media`. On failure: false, with `error` one line
    // naming the spec and the reason.
    bool open(const std::string& spec, HostMedia media, std::string& error);
    void close();
    bool isOpen() const { return format_ != nullptr; }
    // True when the input is paced by its timestamps (not a device).
    bool paced() const { return paced_; }

    // Decodes the next frame of the stream into `frame`. Returns 1 for a frame, 0 at the end of
    // the input (a file restarts by itself: 0 is then not returned), -1 on a failure (a device
    // gone). `seconds` receives the frame's time from the input's start, loops included.
    int next(AVFrame* frame, double& seconds);
    // Asks a read in progress to give up (from another thread).
    void interrupt() { interrupted_ = true; }

  private:
    static int interruptCallback(void* self);
    bool rewind();

    HostInputSpec spec_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    AVPacket* packet_ = nullptr;
    int stream_ = -1;
    bool paced_ = false;
    bool draining_ = false;
    double firstSeconds_ = -1;  // timestamp of the first frame
    double lastSeconds_ = 0, lastDuration_ = 0, loopOffset_ = 0;
    std::chrono::steady_clock::time_point deadline_{};
    std::atomic_bool interrupted_{false};
};

// Lines describing the host's cameras (v4l2 devices) with the sizes they offer; empty when the
// host has none.
std::vector<std::string> listHostCameras();
