// The dithering engine: turns a picture into one-bit black and white by error diffusion over six
// neighbours, each handed the same share of a pixel's error.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "framework/Object.h"
#include "framework/Picture.h"

namespace engine {

// The two options of a run: "Contrast" (spread six eighths of the error) and "Sharpen".
struct DitherOptions {
  bool contrast = true;
  bool sharpen = false;
  friend bool operator==(const DitherOptions&, const DitherOptions&) = default;
};

// The options as the menu's check marks stand now.
DitherOptions MenuDitherOptions();

class Speckmoor : public fw::Object {
 public:
  // The last result: 32-bit, only black and white pixels; nil until the first run. Read and emptied by
  // the window directly; a batch thread may replace it while the main thread reads it.
  fw::GuardedRef<fw::Picture> buffer;

  // Makes a new result from the picture with the options as they stand and puts it in `buffer`.
  // The input is never written. Raises what the conversions raise; `buffer` then keeps the previous
  // result unless the failure came after it was replaced.
  virtual void Dither(const fw::Ref<fw::Picture>& input);

  // While options are pinned, every run uses them instead of the menu's check marks, so a batch keeps
  // the options it started with whatever other windows do meanwhile. Nil unpins.
  void PinOptions(std::optional<DitherOptions> options);
  std::optional<DitherOptions> PinnedOptions() const;

 private:
  mutable std::mutex optionsMutex_;
  std::optional<DitherOptions> pinned_;
};

// The share each neighbour receives: 1/8 with "Contrast" checked, else 1/6.
inline constexpr double kContrastFactor = 0.125;
inline constexpr double kFullFactor = 1.0 / 6.0;
inline constexpr std::int32_t kThreshold = 127;

// The error diffusion itself, on a 32-bit grey working picture whose red bytes hold the grey levels;
// writes the shares into the working picture and black or white into the result (same size, 32-bit).
// Raises std::invalid_argument for pictures of other depths or sizes, and for a factor outside 0 to
// 0.25 (what the engine uses, 1/8 and 1/6, and a margin).
void DiffuseError(fw::Picture& working, fw::Picture& result, double factor);

}  // namespace engine
