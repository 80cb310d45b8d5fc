// The action key's commands by capture mode (photo, movie, interval run, webcam), the end of an
// interval run, and screen taps.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Every operation returns 1 while the program goes on and 0 when it must end.
int runAction(int key);
int runEnded(uint32_t failed);
int dispatchTap(WPARAM flags, int x, int y, int screenWidth, int screenHeight);
