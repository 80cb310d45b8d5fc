#include "core/preview_state.h"

#include "core/app_state.h"

std::atomic<uint32_t> previewMode{Live};
std::atomic<uint32_t> frameStartTick{0};
std::atomic<uint32_t> frameWorkMillis{0};
std::atomic<uint32_t> frameCaptureMode{0};
std::atomic<uint32_t> seenActivity{About};
std::atomic<uint8_t> activityChanged{0};
std::atomic<uint8_t> intervalLastFrame{0};
std::atomic<uint8_t> intervalFirstFrame{0};
