// The settings stored in the registry and the configuration file next to the program.
#pragma once

#include <cstddef>

#include "platform/types.h"

// Reads the 49 stored indices; false when the block was unusable and every slot was reset.
bool loadSettings();
// Writes the 49 indices to the registry.
void saveSettings();
// Reads "WebcamIP:" and "CaptureWindow:" from the file; false when it could not be read.
bool readConfigFile(LPCWSTR path);

// The parsers behind them, for any bytes at all:
// `data` is the stored value as the registry returned it (UTF-16 text, `size` bytes, with or
// without a terminator); the indices go to the 49 slots. False when every slot was reset.
bool applySettingsBlock(const BYTE* data, DWORD size);
// `text` is the file's bytes and a terminator; sets the webcam server and the capture window.
void applyConfigText(const char* text);
