// Screenshots: RGB565 pictures written as PNG files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes `width` x `height` RGB565 pixels (rows of width x 2 bytes) as an 8-bit RGB PNG.
bool writePng565(const std::string& path, const uint16_t* pixels, int width, int height,
                 std::string& error);
// The display memory of the installed device as the display hardware scans it out, RGB565.
std::vector<uint16_t> displayPixels();
// Copies the display memory of the installed device (as the display hardware scans it out) and
// writes it as a PNG.
bool writeDisplayPng(const std::string& path, std::string& error);
