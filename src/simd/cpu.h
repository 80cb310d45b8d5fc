// Which vector instructions the kernels may use. Each kernel family picks its variant once, at
// first use. The environment can lower the tier, never raise it above what the processor has:
// LUMO_SIMD=scalar|sse2|avx2 caps it (so every tier can be tested on one machine), and
// LUMO_NO_SIMD=1 is the same as LUMO_SIMD=scalar.
#pragma once

namespace simd {

enum class Level { Scalar, Sse2, Avx2, Neon };

// The level the kernels should use: the best the processor offers, capped by the environment as
// above. Read once per process; thread-safe. An unknown LUMO_SIMD value is reported on stderr
// once and ignored.
Level level();

const char* levelName(Level l);

}  // namespace simd
