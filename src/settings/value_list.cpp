#include "settings/value_list.h"

int32_t effectiveIndex(const ValueList& list) {
    int32_t current = list.current.load(std::memory_order_relaxed);
    return current >= 0 ? current : list.defaultIndex;
}

int32_t valueOf(const ValueList& list) {
    int32_t index = effectiveIndex(list);
    if (list.table) return list.table[index].value;
    return list.base + list.step * index;
}

bool stepValue(ValueList& list, int32_t delta) {
    int32_t old = effectiveIndex(list);
    if (delta == 0) {
        list.current.store(-1, std::memory_order_relaxed);
        return old != list.defaultIndex;
    }
    int32_t next = old + delta;
    if (next > list.count - 1) next = list.count - 1;
    if (next < 0) next = 0;
    list.current.store(next, std::memory_order_relaxed);
    return next != old;
}
