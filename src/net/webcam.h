// Webcam streaming: the sender thread's start and stop (window thread) and the webcam branch of
// the frame consumer (capture thread).
#pragma once

#include <cstdint>

// 1 when the link was started, 0 when the socket library cannot start.
uint32_t startWebcam();
// Ends the link from any state; 1.
uint32_t stopWebcam();
// The frame consumer's branch for capture mode 3 while a webcam run is active.
void webcamConsumeFrame(uint8_t* pixels);
