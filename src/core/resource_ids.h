// The numbers of the program's resources (its texts and the font bitmap), shared by start-up,
// which registers the window class, and the overlay, which loads the font.
#pragma once

#include <cstdint>

#include "platform/types.h"

constexpr UINT kStringTitle = 1;
constexpr UINT kStringClassName = 2;
constexpr uintptr_t kBitmapFont = 139;
