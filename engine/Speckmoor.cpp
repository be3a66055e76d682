#include "engine/Speckmoor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <stdexcept>

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

  const std::optional<DitherOptions> pinned = PinnedOptions();
  const bool contrast = pinned ? pinned->contrast : fw::NonNil(OptionsContrast(), "no Contrast item")->Checked();
  const double factor = contrast ? kContrastFactor : kFullFactor;

  fw::Ref<fw::Picture> working = bindings::EnsurePictureBits(input, 32);
  working = bindings::GrayScale(fw::NonNil(working, "no 32-bit picture"), 3, nullptr, nullptr);
  if (pinned ? pinned->sharpen : fw::NonNil(OptionSharpen(), "no Sharpen item")->Checked()) {
    fw::Ref<bindings::ConvolutionEffect> filter = bindings::ConvolutionEffect::New();
    working = filter->Sharpen(fw::NonNil(working, "no grey picture"), nullptr);
  }
  fw::NonNil(working, "no working picture");
  if (working->Depth() != 32) throw fw::RuntimeException("the working picture is not 32-bit");

  fw::Ref<fw::Picture> result = fw::NewPicture(working->Width(), working->Height(), 32);
  if (!result) throw fw::OutOfMemoryException("no memory for the dithered picture");
  // Published once whole: a window may paint `buffer` on another thread while a batch dithers.
  DiffuseError(*working, *result, factor);
  buffer.Store(result);
}

void Speckmoor::PinOptions(std::optional<DitherOptions> options) {
  std::lock_guard lock(optionsMutex_);
  pinned_ = options;
}

std::optional<DitherOptions> Speckmoor::PinnedOptions() const {
  std::lock_guard lock(optionsMutex_);
  return pinned_;
}

DitherOptions MenuDitherOptions() {
  return {fw::NonNil(OptionsContrast(), "no Contrast item")->Checked(),
          fw::NonNil(OptionSharpen(), "no Sharpen item")->Checked()};
}

namespace {

// 32-bit pixels are the bytes unused, red, green, blue; the grey level is the red byte.
inline int Grey(const std::uint8_t* row, int x) { return row[4 * x + 1]; }

// Writes the colour RGB(v, v, v): byte 0 zero, the three channels v.
inline void PutGrey(std::uint8_t* row, int x, int v) {
  const std::uint32_t bytes = static_cast<std::uint32_t>(v) * 0x01010100u;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(row + 4 * x, &bytes, 4);
  } else {
    std::uint8_t* p = row + 4 * x;
    p[0] = 0;
    p[1] = p[2] = p[3] = static_cast<std::uint8_t>(v);
  }
}

// The same clamp as one load, for the sums off the chain from one pixel to the next: a level plus a
// share lies within -21..276.
constexpr int kClampBias = 32;
constexpr auto kClamped = [] {
  std::array<std::uint8_t, 256 + 2 * kClampBias> table{};
  for (int v = -kClampBias; v < 256 + kClampBias; ++v)
    table[static_cast<std::size_t>(v + kClampBias)] = static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
  return table;
}();
inline int ClampByTable(int v) { return kClamped[static_cast<std::size_t>(v + kClampBias)]; }

// One row. Each neighbour's level is clamped to 0..255 after every share, as a colour made with RGB and
// stored in 8-bit components would be. The levels of the two pixels to the right and of the three below
// that are still receiving shares ride in registers; each is written to the working picture once it is
// final for this row. Shares aimed outside the picture are dropped.
template <bool kBelow, bool kTwoBelow>
class RowDiffuser {
 public:
  RowDiffuser(std::uint8_t* row, std::uint8_t* below, std::uint8_t* twoBelow, std::uint8_t* out, int width,
              const int* shareOfSum)
      : row_(row), below_(below), twoBelow_(twoBelow), out_(out), shareOfSum_(shareOfSum) {
    sum_ = static_cast<unsigned>(Grey(row, 0) + kClampBias);
    right_ = width > 1 ? Grey(row, 1) : 0;
    belowHere_ = kBelow ? Grey(below, 0) : 0;
  }

  // Pixel x; the flags say which neighbours to the right and below-left lie inside the picture.
  template <bool kTwoRightInside, bool kBelowRightInside, bool kBelowLeftInside>
  inline void Step(int x) {
    // The pixel's level is the clamp of sum_, and the clamp keeps the side of the threshold.
    PutGrey(out_, x, sum_ > static_cast<unsigned>(kThreshold + kClampBias) ? 255 : 0);
    const int share = shareOfSum_[sum_];
    sum_ = static_cast<unsigned>(right_ + share + kClampBias);
    right_ = ClampByTable((kTwoRightInside ? Grey(row_, x + 2) : 0) + share);
    if constexpr (kBelow) {
      const int belowLeft = ClampByTable(belowLeft_ + share);
      if constexpr (kBelowLeftInside) PutGrey(below_, x - 1, belowLeft);
      belowLeft_ = ClampByTable(belowHere_ + share);
      belowHere_ = ClampByTable((kBelowRightInside ? Grey(below_, x + 1) : 0) + share);
    }
    if constexpr (kTwoBelow) PutGrey(twoBelow_, x, ClampByTable(Grey(twoBelow_, x) + share));
  }

  void Finish(int width) {
    if constexpr (kBelow) PutGrey(below_, width - 1, belowLeft_);
  }

 private:
  std::uint8_t* row_;
  std::uint8_t* below_;
  std::uint8_t* twoBelow_;
  std::uint8_t* out_;
  const int* shareOfSum_;
  // The next pixel's level before its clamp, biased into the table: keeping the clamp out of the way
  // shortens the chain from one pixel to the next to a load and an add.
  unsigned sum_ = 0;
  int right_ = 0, belowLeft_ = 0, belowHere_ = 0;
};

template <bool kBelow, bool kTwoBelow>
void DiffuseRow(std::uint8_t* row, std::uint8_t* below, std::uint8_t* twoBelow, std::uint8_t* out, int width,
                const int* shareOfSum) {
  RowDiffuser<kBelow, kTwoBelow> d(row, below, twoBelow, out, width, shareOfSum);
  // The first pixel has no neighbour below-left; the last two lack some to the right.
  if (width >= 3) {
    d.template Step<true, true, false>(0);
    for (int x = 1; x < width - 2; ++x) d.template Step<true, true, true>(x);
    d.template Step<false, true, true>(width - 2);
    d.template Step<false, false, true>(width - 1);
  } else if (width == 2) {
    d.template Step<false, true, false>(0);
    d.template Step<false, false, true>(1);
  } else {
    d.template Step<false, false, false>(0);
  }
  d.Finish(width);
}

}  // namespace

void DiffuseError(fw::Picture& working, fw::Picture& result, double factor) {
  // The tables below hold a share only for the sums that stay within the clamp's bias.
  constexpr double kMaxFactor = 0.25;
  static_assert(kMaxFactor * 127 < kClampBias);
  if (!(factor >= 0.0 && factor <= kMaxFactor)) throw std::invalid_argument("the error share's factor lies outside 0 to 0.25");
  if (working.Depth() != 32 || result.Depth() != 32 || working.Width() != result.Width() ||
      working.Height() != result.Height())
    throw std::invalid_argument("the working picture and the result must be 32-bit and of one size");
  // The share a pixel of each level hands on: its error, old minus new, times the factor, converted from
  // the same double product the per-pixel step would make. A table by level keeps the threshold test
  // off the chain from one pixel to the next.
  std::array<int, 256> shareOf{};
  for (int level = 0; level <= 255; ++level) {
    const int err = level - (level > kThreshold ? 255 : 0);
    shareOf[static_cast<std::size_t>(level)] = fw::DoubleToInt32(static_cast<double>(err) * factor);
  }
  // The same by the unclamped sum that becomes a level, biased as the clamp table is.
  std::array<int, kClamped.size()> shareOfSum{};
  for (std::size_t i = 0; i < shareOfSum.size(); ++i) shareOfSum[i] = shareOf[kClamped[i]];

  const int width = working.Width();
  const int height = working.Height();
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = working.Row(y);
    std::uint8_t* out = result.Row(y);
    if (y + 2 < height)
      DiffuseRow<true, true>(row, working.Row(y + 1), working.Row(y + 2), out, width, shareOfSum.data());
    else if (y + 1 < height)
      DiffuseRow<true, false>(row, working.Row(y + 1), nullptr, out, width, shareOfSum.data());
    else
      DiffuseRow<false, false>(row, nullptr, nullptr, out, width, shareOfSum.data());
  }
  working.Touch();
  result.Touch();
}

}  // namespace engine
