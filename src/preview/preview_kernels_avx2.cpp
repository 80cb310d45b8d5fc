// AVX2 variants of the preview conversion kernels. None yet: processors with AVX2 run the SSE2
// variants (kernel_variants.h falls back a level at a time).
#include "preview/kernel_variants.h"

namespace preview_kernels {
const KernelSet kAvx2Kernels = {.name = "avx2"};
}
