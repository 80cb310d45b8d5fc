// The registry store's text as it may lie on a card or in a damaged device root: any bytes. The
// reader must stay inside them, never throw, and keep only keys and values it could read: every
// value it kept is written back and read again the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    RegistryStore store;
    const RegistryReadResult r = readRegistryText(text, store);
    if (!r.recognised && !store.empty()) __builtin_trap();
    if (r.problems.size() > kMaxRegistryProblems || r.problems.size() > r.badLines)
        __builtin_trap();
    for (const auto& [path, key] : store) {
        if (key.name.empty()) __builtin_trap();
        for (const auto& [name, value] : key.values)
            if (value.name.empty() && !name.empty()) __builtin_trap();
    }
    return 0;
}
