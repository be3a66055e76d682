// The rows for any processor of the target: 16-byte vectors.
#define KERNWELL_ROWS baseline
#define KERNWELL_VECTOR_BYTES 16
#include "RowKernels.h"
