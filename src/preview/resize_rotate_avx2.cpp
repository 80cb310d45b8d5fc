// AVX2 variant of the rotate-resizer. None yet: processors with AVX2 run the SSE2 variant
// (kernel_variants.h falls back a level at a time).
#include "preview/kernel_variants.h"

namespace preview_kernels {
const ResizerSet kAvx2Resizers = {.name = "avx2"};
}
