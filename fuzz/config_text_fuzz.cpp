// Config.txt as any bytes: the text the parser sees is the file's bytes and a terminator.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/persistence.h"
#include "core/app_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back(0);
    applyConfigText(text.data());
    if (std::memchr(gApp.webcamServer, 0, kServerTextBytes) == nullptr) __builtin_trap();
    return 0;
}
