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

// The capture thread (the overlay) reads lists while the window thread changes them: the chosen
// index and the table (the size lists switch to the labels of a new aspect) are atomic. Counts,
// defaults, base and step are settled at start-up, or changed only while the camera is closed.
struct ValueList {
    std::atomic<int32_t> current{-1};               // chosen index; -1: the default applies
    int32_t defaultIndex = 0;                       // index used while `current` is -1
    int32_t count = 0;                              // entries; 0 makes the setting unavailable
    std::atomic<const ValueEntry*> table{nullptr};  // labelled values, or null: base + step x index
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

// For drawing a list: the label of entry `index`, or null when the list has no labels or the
// index is outside it; and the value of entry `index` (0 outside the list).
const char* entryLabel(const ValueList& list, int32_t index);
int32_t entryValue(const ValueList& list, int32_t index);
