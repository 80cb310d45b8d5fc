// What ffprobe and ffmpeg read in a movie the program made: the streams, the header's tick count
// and frame rate, each stored picture's tick (packet timestamps: ffmpeg folds a repeated picture
// into the packet of the tick it was stored at, so ticks are counted from the header and the
// timestamps, not from the packets), the decoded pictures, the sound samples, and whether every
// frame decodes without error.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "media/test_pictures.h"

namespace movieoracle {

struct Movie {
    bool read = false;
    int streams = 0;
    int width = 0, height = 0;
    std::string videoCodec;          // ffprobe's name for the video stream's codec: "mjpeg"
    std::string frameRate;           // "25/1"
    long ticks = 0;                  // the header's frame count: one per tick
    double duration = 0;             // seconds, of the video stream
    bool sound = false;              // an 8 kHz mono 16-bit PCM stream is there
    long soundSamples = 0;           // its length in samples
    std::vector<long> pictureTicks;  // the tick of each stored picture, in file order
    std::string decodeErrors;        // ffmpeg's complaints when decoding everything; "" when none
};

inline Movie readMovie(const std::string& path) {
    Movie m;
    auto s =
        testpics::probe(path, "-show_streams -show_format -show_entries packet=stream_index,pts");
    if (s.find("format.nb_streams") == s.end()) return m;
    m.read = true;
    m.streams = std::atoi(s["format.nb_streams"].c_str());
    int videoStream = -1;
    for (int i = 0; i < m.streams; ++i) {
        const std::string k = "streams.stream." + std::to_string(i) + ".";
        if (s[k + "codec_type"] == "video") {
            videoStream = i;
            m.width = std::atoi(s[k + "width"].c_str());
            m.height = std::atoi(s[k + "height"].c_str());
            m.videoCodec = s[k + "codec_name"];
            m.frameRate = s[k + "r_frame_rate"];
            m.ticks = std::atol(s[k + "nb_frames"].c_str());
            m.duration = std::atof(s[k + "duration"].c_str());
        } else if (s[k + "codec_name"] == "pcm_s16le" && s[k + "sample_rate"] == "8000" &&
                   s[k + "channels"] == "1") {
            m.sound = true;
            m.soundSamples = std::atol(s[k + "nb_frames"].c_str());
        }
    }
    for (int i = 0;; ++i) {
        const std::string k = "packets.packet." + std::to_string(i) + ".";
        auto index = s.find(k + "stream_index");
        if (index == s.end()) break;
        if (std::atoi(index->second.c_str()) == videoStream)
            m.pictureTicks.push_back(std::atol(s[k + "pts"].c_str()));
    }
    const auto d = testpics::run("ffmpeg -nostdin -v error -i '" + path + "' -f null -");
    m.decodeErrors =
        d.exitCode == 0 ? d.output : "exit " + std::to_string(d.exitCode) + ": " + d.output;
    return m;
}

// Every stored picture decoded to 8-bit gray, in file order (one per packet).
inline std::vector<std::vector<uint8_t>> grayPictures(const std::string& path, int width,
                                                      int height) {
    const std::string out = path + ".gray";
    testpics::run("ffmpeg -nostdin -v error -y -i '" + path +
                  "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt gray '" + out + "'");
    const std::vector<uint8_t> all = testpics::readFile(out);
    std::filesystem::remove(out);
    std::vector<std::vector<uint8_t>> pictures;
    const size_t size = size_t(width) * height;
    for (size_t at = 0; size && at + size <= all.size(); at += size)
        pictures.emplace_back(all.begin() + long(at), all.begin() + long(at + size));
    return pictures;
}

// The sound stream as 16-bit samples.
// The frequency of a tone in 8 kHz samples, Hz: upward zero crossings over the length they span;
// 0 when there are fewer than two.
inline double toneFrequency(const std::vector<int16_t>& samples) {
    long crossings = 0, first = -1, last = -1;
    for (size_t i = 1; i < samples.size(); ++i)
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            if (first < 0) first = long(i);
            last = long(i);
            ++crossings;
        }
    return crossings > 1 ? (crossings - 1) * 8000.0 / double(last - first) : 0;
}

inline std::vector<int16_t> soundSamples(const std::string& path) {
    const std::string out = path + ".pcm";
    testpics::run("ffmpeg -nostdin -v error -y -i '" + path + "' -map 0:a -f s16le '" + out + "'");
    const std::vector<uint8_t> bytes = testpics::readFile(out);
    std::filesystem::remove(out);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = int16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return samples;
}

}  // namespace movieoracle
