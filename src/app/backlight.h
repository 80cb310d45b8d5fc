// Keeping the display lit while the program is in front, and giving the user's time-outs back.
#pragma once

#include <cstdint>

// Reads the user's backlight time-outs (once, at start-up).
void readUserBacklight();
// 0 "Normal": the saved time-outs; 1 "Always On": the always-on time-out.
void applyBacklight(uint32_t mode);
// Writes the saved time-outs back (deactivation and shutdown).
void restoreBacklight();

// The time-out "Always On" writes, in seconds (about four years).
constexpr uint32_t kAlwaysOnTimeout = 0x8000000;
