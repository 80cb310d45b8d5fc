// The action key's commands by capture mode (photo, movie, interval run, webcam), the end of an
// interval run, and screen taps.
#pragma once

#include <cstdint>

#include "platform/types.h"

// Every operation returns 1 while the program goes on and 0 when it must end.
int runAction(int key);
int runEnded(uint32_t failed);
int dispatchTap(WPARAM flags, int x, int y, int screenWidth, int screenHeight);

// The capture thread's way to pause a recording that cannot go on (a failed write, the card
// full): the same pause as the action key's, but only while the recording is still active, so
// a stop the user made meanwhile is never turned into anything else. True when it paused.
bool pauseRecordingFromCapture();
