// Webcam streaming until it lands: a run starts and stops, and frames go nowhere.
#include "net/webcam.h"

uint32_t startWebcam() {
    return 1;
}
uint32_t stopWebcam() {
    return 1;
}
void webcamConsumeFrame(uint8_t*) {}
