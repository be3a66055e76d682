#include "engine/Speckmoor.h"

#include <array>

#include "bindings/ConvolutionEffect.h"
#include "bindings/ImageFilter.h"
#include "engine/MenuOptions.h"
#include "framework/Application.h"
#include "framework/Convert.h"
#include "framework/Exceptions.h"

namespace engine {

void Speckmoor::Dither(const fw::Ref<fw::Picture>& input) {
  fw::DisableAutoWaitCursor();
  struct WaitCursorBack {
    ~WaitCursorBack() { fw::EnableAutoWaitCursor(); }
  } waitCursorBack;

  fw::Ref<fw::MenuItem> contrast = OptionsContrast();
  const double factor = fw::NonNil(contrast, "no Contrast item")->Checked() ? kContrastFactor : kFullFactor;

  fw::Ref<fw::Picture> working = bindings::EnsurePictureBits(input, 32);
  working = bindings::GrayScale(fw::NonNil(working, "no 32-bit picture"), 3, nullptr, nullptr);
  fw::Ref<fw::MenuItem> sharpen = OptionSharpen();
  if (fw::NonNil(sharpen, "no Sharpen item")->Checked()) {
    fw::Ref<bindings::ConvolutionEffect> filter = bindings::ConvolutionEffect::New();
    working = filter->Sharpen(fw::NonNil(working, "no grey picture"), nullptr);
  }
  fw::NonNil(working, "no working picture");
  if (working->Depth() != 32) throw fw::RuntimeException("the working picture is not 32-bit");

  fw::Ref<fw::Picture> result = fw::NewPicture(working->Width(), working->Height(), 32);
  if (!result) throw fw::OutOfMemoryException("no memory for the dithered picture");
  buffer.Store(result);
  DiffuseError(*working, *result, factor);
}

namespace {

// 32-bit pixels are the bytes unused, red, green, blue; the grey level is the red byte.
inline int Grey(const std::uint8_t* row, int x) { return row[4 * x + 1]; }

inline void PutGrey(std::uint8_t* row, int x, int v) {
  std::uint8_t* p = row + 4 * x;
  p[0] = 0;
  p[1] = p[2] = p[3] = static_cast<std::uint8_t>(v);
}

inline int Clamp(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// One row. Each neighbour's level is clamped to 0..255 after every share, as a colour made with RGB and
// stored in 8-bit components would be. The levels of the two pixels to the right and of the three below
// that are still receiving shares ride in registers; each is written to the working picture once it is
// final for this row. Shares aimed outside the picture are dropped.
template <bool kBelow, bool kTwoBelow>
void DiffuseRow(std::uint8_t* row, std::uint8_t* below, std::uint8_t* twoBelow, std::uint8_t* out, int width,
                const int* shareOf) {
  int level = Grey(row, 0);
  int right = width > 1 ? Grey(row, 1) : 0;
  int belowLeft = 0;
  int belowHere = kBelow ? Grey(below, 0) : 0;
  for (int x = 0; x < width; ++x) {
    const int white = level > kThreshold ? 255 : 0;
    PutGrey(out, x, white);
    const int share = shareOf[level - white + 127];
    right = Clamp(right + share);
    const int twoRight = Clamp((x + 2 < width ? Grey(row, x + 2) : 0) + share);
    if constexpr (kBelow) {
      belowLeft = Clamp(belowLeft + share);
      if (x > 0) PutGrey(below, x - 1, belowLeft);
      belowHere = Clamp(belowHere + share);
      const int belowRight = Clamp((x + 1 < width ? Grey(below, x + 1) : 0) + share);
      belowLeft = belowHere;
      belowHere = belowRight;
    }
    if constexpr (kTwoBelow) PutGrey(twoBelow, x, Clamp(Grey(twoBelow, x) + share));
    level = right;
    right = twoRight;
  }
  if constexpr (kBelow) PutGrey(below, width - 1, belowLeft);
}

}  // namespace

void DiffuseError(fw::Picture& working, fw::Picture& result, double factor) {
  // The share of every possible error, each from the same double product the per-pixel step would make.
  std::array<int, 255> shareOf{};
  for (int err = -127; err <= 127; ++err) shareOf[err + 127] = fw::DoubleToInt32(static_cast<double>(err) * factor);

  const int width = working.Width();
  const int height = working.Height();
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = working.Row(y);
    std::uint8_t* out = result.Row(y);
    if (y + 2 < height)
      DiffuseRow<true, true>(row, working.Row(y + 1), working.Row(y + 2), out, width, shareOf.data());
    else if (y + 1 < height)
      DiffuseRow<true, false>(row, working.Row(y + 1), nullptr, out, width, shareOf.data());
    else
      DiffuseRow<false, false>(row, nullptr, nullptr, out, width, shareOf.data());
  }
  working.Touch();
  result.Touch();
}

}  // namespace engine
