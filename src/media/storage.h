// Where photos and movies go, under which names, and the frame consumer.
#pragma once

#include <cstdint>

#include "platform/windows.h"

uint32_t buildStoragePlaces();
// Run on the capture thread after the preview has drawn the frame. Returns 0.
int consumeFrame(uint8_t* pixels);
