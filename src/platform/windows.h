// Everything the application may call on the handheld platform, as <windows.h>, <gx.h>,
// <aygshell.h>, <mmsystem.h> and <winsock2.h> would give it on the device.
#pragma once

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/gx.h"
#include "platform/kernel.h"
#include "platform/mmsystem.h"
#include "platform/note_prj.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/types.h"
#include "platform/window.h"
