#include "simd/cpu.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace simd {
namespace {

Level detectProcessor() {
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

// The tiers x86 code is built in, lowest first; a cap keeps the processor's tier when it is
// lower. Neon has no variants yet and runs the scalar code either way.
Level capped(Level processor, Level cap) {
    if (cap == Level::Scalar) return Level::Scalar;
    if (processor == Level::Neon) return processor;
    return static_cast<int>(cap) < static_cast<int>(processor) ? cap : processor;
}

Level detect() {
    const Level processor = detectProcessor();
    const char* off = std::getenv("LUMO_NO_SIMD");
    if (off && *off && std::strcmp(off, "0") != 0) return Level::Scalar;
    const char* want = std::getenv("LUMO_SIMD");
    if (!want || !*want) return processor;
    for (Level l : {Level::Scalar, Level::Sse2, Level::Avx2})
        if (std::strcmp(want, levelName(l)) == 0) return capped(processor, l);
    std::fprintf(stderr, "LUMO_SIMD: unknown tier '%s' (scalar, sse2 or avx2); using %s\n", want,
                 levelName(processor));
    return processor;
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
