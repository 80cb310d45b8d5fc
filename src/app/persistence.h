// The settings stored in the registry and the configuration file next to the program.
#pragma once

#include "platform/types.h"

// Reads the 49 stored indices; false when the block was unusable and every slot was reset.
bool loadSettings();
// Writes the 49 indices to the registry.
void saveSettings();
// Reads "WebcamIP:" and "CaptureWindow:" from the file; false when it could not be read.
bool readConfigFile(LPCWSTR path);
