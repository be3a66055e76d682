// The rows for processors with AVX2 (built with -mavx2, called only where the processor has it).
#define KERNWELL_ROWS avx2
#define KERNWELL_VECTOR_BYTES 32
#include "RowKernels.h"
