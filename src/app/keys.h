// The hardware-key lists and how they follow the screen orientation; the keys actions can be
// bound to.
#pragma once

#include "settings/value_list.h"

// "None" and the 21 named hardware keys, as the value table of the key-binding settings.
constexpr int kNamedKeyCount = 22;
extern const ValueEntry kNamedKeyTable[kNamedKeyCount];

// Rebuilds the active key list and the text placement from the "Orientation" setting.
void applyOrientation();
