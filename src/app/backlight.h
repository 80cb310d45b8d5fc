// Keeping the display lit while the program is in front, and giving the user's time-outs back.
#pragma once

#include <cstdint>

void readUserBacklight();
// 0 "Normal": the saved time-outs; 1 "Always On": the always-on time-out.
void applyBacklight(uint32_t mode);
void restoreBacklight();
