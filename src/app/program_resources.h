// The program's own resources (its strings and the font bitmap), as compiled into the module.
#pragma once

#include "platform/hooks.h"

extern const ModuleResources kProgramResources;
// The program's path on the device.
extern const WCHAR* const kProgramDevicePath;
