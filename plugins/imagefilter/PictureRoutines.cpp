#include "PictureRoutines.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "Dispatcher.h"
#include "kit/Kit.h"
#include "kit/LockedPixels.h"
#include "platform/PixMap.h"

namespace imagefilter {
namespace {

// Bands per thread for the pixel routines: enough to even out rows of unequal cost and threads that
// arrive late.
constexpr std::int32_t kBandsPerThread = 4;

using kit::KnownDepth;
using kit::LockedPixels;

// The job record both routines hand the dispatcher; it reads word 1 and word 3.
struct PixelJob {
  std::int32_t width;
  std::int32_t height;
  std::int32_t reserved;
  std::int32_t threadHint;  // 0: all threads
  const std::uint8_t* src;
  long srcRowBytes;
  std::uint8_t* dst;
  long dstRowBytes;
};
static_assert(offsetof(PixelJob, height) == 4 && offsetof(PixelJob, threadHint) == 12,
              "the dispatcher reads the rows from word 1 and the hint from word 3");

// BT.601 luma in 16-bit fixed point; the weights sum to 65536, so grey maps to itself.
inline std::uint32_t Luma(std::uint32_t r, std::uint32_t g, std::uint32_t b) noexcept {
  return (19595 * r + 38470 * g + 7471 * b + 32768) >> 16;
}

struct Rgb {
  std::uint32_t r, g, b;
};

// Reads and writes the framework's pixel layouts; 16-bit components widen and narrow as the framework's
// own pixel access does, so a round trip through the framework agrees with these.
template <int Depth>
inline Rgb ReadPixel(const std::uint8_t* row, std::int32_t x) noexcept {
  if constexpr (Depth == 32) {
    const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 4;
    return {p[1], p[2], p[3]};
  } else if constexpr (Depth == 24) {
    const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 3;
    return {p[0], p[1], p[2]};
  } else if constexpr (Depth == 16) {
    const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 2;
    const std::uint32_t v = (std::uint32_t{p[0]} << 8) | p[1];
    auto widen = [](std::uint32_t c5) { return (c5 << 3) | (c5 >> 2); };
    return {widen((v >> 10) & 31), widen((v >> 5) & 31), widen(v & 31)};
  } else {
    const std::uint32_t grey = row[x];
    return {grey, grey, grey};
  }
}

template <int Depth>
inline void WritePixel(std::uint8_t* row, std::int32_t x, Rgb c) noexcept {
  if constexpr (Depth == 32) {
    std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 4;
    p[0] = 0;
    p[1] = static_cast<std::uint8_t>(c.r);
    p[2] = static_cast<std::uint8_t>(c.g);
    p[3] = static_cast<std::uint8_t>(c.b);
  } else if constexpr (Depth == 24) {
    std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 3;
    p[0] = static_cast<std::uint8_t>(c.r);
    p[1] = static_cast<std::uint8_t>(c.g);
    p[2] = static_cast<std::uint8_t>(c.b);
  } else if constexpr (Depth == 16) {
    std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 2;
    const std::uint32_t v = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
  } else {
    row[x] = static_cast<std::uint8_t>(Luma(c.r, c.g, c.b));
  }
}

// The band routines copy the job into locals: pixel stores are byte stores, which may alias the job as far
// as the compiler knows, and would reload it on every pixel and keep the loops from vectorising.
template <int SrcDepth, int DstDepth>
void ConvertBand(MPParamBlock* block) {
  const PixelJob job = *static_cast<const PixelJob*>(block->params);
  for (std::int32_t y = block->firstRow, end = block->endRow; y < end; ++y) {
    const std::uint8_t* src = job.src + static_cast<std::ptrdiff_t>(y) * job.srcRowBytes;
    std::uint8_t* dst = job.dst + static_cast<std::ptrdiff_t>(y) * job.dstRowBytes;
    for (std::int32_t x = 0; x < job.width; ++x) WritePixel<DstDepth>(dst, x, ReadPixel<SrcDepth>(src, x));
  }
}

template <int SrcDepth>
MPBandRoutine ConverterTo(std::int32_t dstDepth) {
  switch (dstDepth) {
    case 8: return &ConvertBand<SrcDepth, 8>;
    case 16: return &ConvertBand<SrcDepth, 16>;
    case 24: return &ConvertBand<SrcDepth, 24>;
    default: return &ConvertBand<SrcDepth, 32>;
  }
}

MPBandRoutine Converter(std::int32_t srcDepth, std::int32_t dstDepth) {
  switch (srcDepth) {
    case 8: return ConverterTo<8>(dstDepth);
    case 16: return ConverterTo<16>(dstDepth);
    case 24: return ConverterTo<24>(dstDepth);
    default: return ConverterTo<32>(dstDepth);
  }
}

// A 32-bit pixel as one word: bytes 0 (unused), red, green, blue in memory order.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;
constexpr int kRedShift = kLittleEndian ? 8 : 16;
constexpr int kGreenShift = kLittleEndian ? 16 : 8;
constexpr int kBlueShift = kLittleEndian ? 24 : 0;

void GreyBand(MPParamBlock* block) {
  const PixelJob job = *static_cast<const PixelJob*>(block->params);
  for (std::int32_t y = block->firstRow, end = block->endRow; y < end; ++y) {
    const std::uint8_t* src = job.src + static_cast<std::ptrdiff_t>(y) * job.srcRowBytes;
    std::uint8_t* dst = job.dst + static_cast<std::ptrdiff_t>(y) * job.dstRowBytes;
    for (std::int32_t x = 0; x < job.width; ++x) {
      std::uint32_t v;
      std::memcpy(&v, src + static_cast<std::ptrdiff_t>(x) * 4, 4);
      const std::uint32_t grey = Luma((v >> kRedShift) & 255, (v >> kGreenShift) & 255, (v >> kBlueShift) & 255);
      const std::uint32_t out = (grey << kRedShift) | (grey << kGreenShift) | (grey << kBlueShift);
      std::memcpy(dst + static_cast<std::ptrdiff_t>(x) * 4, &out, 4);
    }
  }
}

// A new picture of the source's size and the given depth, filled by `band` on the dispatcher.
REALpicture Transform(const LockedPixels& source, std::int32_t depth, MPBandRoutine band) {
  REALpicture result = kit::REALNewPicture(source.Width(), source.Height(), depth);
  if (!result) return nullptr;
  {
    LockedPixels target(result);
    if (target.Usable() && target.Depth() == depth && target.Width() == source.Width() &&
        target.Height() == source.Height()) {
      PixelJob job{source.Width(), source.Height(), 0, 0, source.Base(), source.RowBytes(),
                   target.Base(), target.RowBytes()};
      Dispatch(&job, band, kBandsPerThread);
      return result;
    }
  }
  kit::REALUnlockObject(reinterpret_cast<REALobject>(result));
  return nullptr;
}

}  // namespace

REALpicture EnsurePictureBits(REALpicture src, std::int32_t depth) {
  if (!src || !KnownDepth(depth)) return nullptr;
  LockedPixels source(src);
  if (!source.Usable()) return nullptr;
  if (source.Depth() == depth) {
    kit::REALLockObject(reinterpret_cast<REALobject>(src));
    return src;
  }
  return Transform(source, depth, Converter(source.Depth(), depth));
}

REALpicture GrayScale(REALpicture src, std::int32_t type, REALpicture mask, REALobject /*progress*/) {
  if (!src || type != 3 || mask) return nullptr;
  LockedPixels source(src);
  if (!source.Usable() || source.Depth() != 32) return nullptr;
  return Transform(source, 32, &GreyBand);
}

}  // namespace imagefilter
