// Which vector instructions the kernels may use. Each kernel family picks its variant once, at
// first use; setting LUMO_NO_SIMD=1 in the environment forces the scalar reference code.
#pragma once

namespace simd {

enum class Level { Scalar, Sse2, Avx2, Neon };

// The level the kernels should use: the best the processor offers, or Scalar when LUMO_NO_SIMD is
// set to anything but "0" or empty. Read once per process; thread-safe.
Level level();

const char* levelName(Level l);

}  // namespace simd
