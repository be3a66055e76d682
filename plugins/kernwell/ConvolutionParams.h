// The kernel and the job record the band routines read, and the row routines built for each instruction
// set. Kept free of library inlines: RowKernels.h includes it once per instruction set.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kernwell {

// Coefficients row by row from above-left to below-right, then the divisor and the offset.
struct ConvMatrix {
  std::int32_t coefficient[9];
  std::int32_t divisor;
  std::int32_t offset;
};
static_assert(sizeof(ConvMatrix) == 11 * sizeof(std::int32_t), "a matrix is eleven 32-bit words");

// Filled once before a dispatch and only read by the bands. The dispatcher reads word 1 (rows) and
// word 3 (thread hint) as 32-bit words.
struct ConvolutionParams {
  std::int32_t width;
  std::int32_t height;
  std::int32_t unused;
  std::int32_t multiprocessingHint;
  std::int32_t reserved;
  const std::uint8_t* srcBase;
  std::uint8_t* dstBase;
  std::int32_t srcRowBytes;
  std::int32_t dstRowBytes;
  std::int32_t dstRowPadding;
  std::int32_t srcBytesPerPixel;
  const ConvMatrix* matrix;
  const std::uint8_t* maskBase;
  std::int32_t maskRowBytes;
  std::int32_t maskBytesPerPixel;
  std::int32_t maskRowPadding;
};
static_assert(offsetof(ConvolutionParams, width) == 0 && offsetof(ConvolutionParams, height) == 4 &&
                  offsetof(ConvolutionParams, unused) == 8 && offsetof(ConvolutionParams, multiprocessingHint) == 12 &&
                  offsetof(ConvolutionParams, reserved) == 16,
              "the dispatcher reads the rows from word 1 and the hint from word 3");

// Destination rows [first, end) of a job whose divisor is not 0; `masked` blends by the mask words.
namespace baseline {
void FilterRows(const ConvolutionParams& params, std::int32_t first, std::int32_t end, bool masked);
}
namespace avx2 {
void FilterRows(const ConvolutionParams& params, std::int32_t first, std::int32_t end, bool masked);
}

}  // namespace kernwell
