// The hardware-key lists and how they follow the screen orientation (the keys actions can be
// bound to are a settings table, kNamedKeyTable in settings/value_tables.h).
#pragma once

#include "settings/value_tables.h"

// Rebuilds the active key list and the text placement from the "Orientation" setting.
void applyOrientation();
