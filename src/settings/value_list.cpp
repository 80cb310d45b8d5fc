#include "settings/value_list.h"

int32_t effectiveIndex(const ValueList& list) {
    int32_t current = list.current.load(std::memory_order_relaxed);
    return current >= 0 ? current : list.defaultIndex;
}

int32_t entryValue(const ValueList& list, int32_t index) {
    // Outside the list there is no entry to read; a list without entries (count 0) is never
    // shown, and its value is never sent.
    if (index < 0 || index >= list.count) return 0;
    const ValueEntry* table = list.table.load(std::memory_order_acquire);
    if (table) return table[index].value;
    return list.base + list.step * index;
}

const char* entryLabel(const ValueList& list, int32_t index) {
    if (index < 0 || index >= list.count) return nullptr;
    const ValueEntry* table = list.table.load(std::memory_order_acquire);
    return table ? table[index].label : nullptr;
}

int32_t valueOf(const ValueList& list) {
    return entryValue(list, effectiveIndex(list));
}

bool stepValue(ValueList& list, int32_t delta) {
    int32_t old = effectiveIndex(list);
    if (delta == 0) {
        list.current.store(-1, std::memory_order_relaxed);
        return old != list.defaultIndex;
    }
    // A list without entries has no index to choose.
    if (list.count <= 0) return false;
    int32_t next = old + delta;
    if (next > list.count - 1) next = list.count - 1;
    if (next < 0) next = 0;
    list.current.store(next, std::memory_order_relaxed);
    return next != old;
}
