// One adjustable setting: a short list of selectable values with a current choice and a default.
// Every part of the program reads and changes settings through these three operations only; what
// is stored and reset is always the index, never the value.
#pragma once

#include <atomic>
#include <cstdint>

struct ValueEntry {
    const char* label;
    int32_t value;
};

struct ValueList {
    // Read by the capture thread while the window thread steps it.
    std::atomic<int32_t> current{-1};  // chosen index; -1: the default applies
    int32_t defaultIndex = 0;          // index used while `current` is -1
    int32_t count = 0;                 // entries; 0 makes the setting unavailable
    const ValueEntry* table = nullptr;  // labelled values, or null for base + step x index
    int32_t base = 0;
    int32_t step = 0;
};

// `current` when it is 0 or more, else `defaultIndex`.
int32_t effectiveIndex(const ValueList& list);
// The value at the effective index.
int32_t valueOf(const ValueList& list);
// Delta 0 resets to the default; otherwise moves by delta, clamped to the list (no wrap-around).
// True when the effective choice changed.
bool stepValue(ValueList& list, int32_t delta);
