// Scaling a host camera frame into the sensor's packed 4:2:2 picture without libswscale's packed
// output stage, which costs three times its planar one.
#pragma once

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

// What one sensor's conversions keep between frames: libswscale's context and its planar picture.
struct HostScaler {
    SwsContext* context = nullptr;  // owned; freed by freeHostScaler
    std::vector<uint8_t> planar;    // width x height 4:2:2 planar: Y, then Cb, then Cr
    std::vector<uint16_t> rows;     // the area kernel's two weighted source rows
};
void freeHostScaler(HostScaler& scaler);

// Scales `frame` (already cut to the picture's aspect) into width x height packed 4:2:2 (Cb Y0 Cr
// Y1, BT.601 studio levels). A 4:2:2 frame exactly three halves of the picture each way (the centre
// of a 1280x720 camera in a 640x480 picture) takes the area kernel below; the rest go through
// libswscale's bilinear scaler into planar 4:2:2 and are interleaved. False when it cannot.
bool scaleHostFrame(const AVFrame* frame, HostScaler& scaler, uint8_t* uyvy, uint32_t width,
                    uint32_t height);
