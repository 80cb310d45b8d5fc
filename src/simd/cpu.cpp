#include "simd/cpu.h"

#include <cstdlib>
#include <cstring>

namespace simd {
namespace {

Level detect() {
    const char* off = std::getenv("LUMO_NO_SIMD");
    if (off && *off && std::strcmp(off, "0") != 0) return Level::Scalar;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return Level::Avx2;
    return Level::Sse2;  // part of the x86-64 baseline
#elif defined(__aarch64__) || defined(__ARM_NEON)
    return Level::Neon;
#else
    return Level::Scalar;
#endif
}

}  // namespace

Level level() {
    static const Level detected = detect();
    return detected;
}

const char* levelName(Level l) {
    switch (l) {
        case Level::Scalar:
            return "scalar";
        case Level::Sse2:
            return "sse2";
        case Level::Avx2:
            return "avx2";
        case Level::Neon:
            return "neon";
    }
    return "?";
}

}  // namespace simd
