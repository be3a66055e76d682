// The dithering engine: turns a picture into one-bit black and white by error diffusion over six
// neighbours, each handed the same share of a pixel's error.
#pragma once

#include <cstdint>

#include "framework/Object.h"
#include "framework/Picture.h"

namespace engine {

class Speckmoor : public fw::Object {
 public:
  // The last result: 32-bit, only black and white pixels; nil until the first run. Read and emptied by
  // the window directly; a batch thread may replace it while the main thread reads it.
  fw::GuardedRef<fw::Picture> buffer;

  // Makes a new result from the picture with the options as they stand and puts it in `buffer`.
  // The input is never written. Raises what the conversions raise; `buffer` then keeps the previous
  // result unless the failure came after it was replaced.
  virtual void Dither(const fw::Ref<fw::Picture>& input);
};

// The share each neighbour receives: 1/8 with "Contrast" checked, else 1/6.
inline constexpr double kContrastFactor = 0.125;
inline constexpr double kFullFactor = 1.0 / 6.0;
inline constexpr std::int32_t kThreshold = 127;

// The error diffusion itself, on a 32-bit grey working picture whose red bytes hold the grey levels;
// writes the shares into the working picture and black or white into the result (same size, 32-bit).
void DiffuseError(fw::Picture& working, fw::Picture& result, double factor);

}  // namespace engine
