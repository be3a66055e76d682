// The convolution's rows, included once per instruction set by Rows*.cpp, each of which defines
// KERNWELL_ROWS (its namespace) and KERNWELL_VECTOR_BYTES (its register width). Everything here but
// FilterRows has internal linkage and no inline function from a library header is used, so code built for
// one instruction set can never be picked by the linker for another.
//
// Every arithmetic kind computes the same thing: the exact sum of the nine products, divided with
// truncation toward zero, plus the offset, clamped to a byte. They differ in lane width, chosen per job from
// the largest sum the kernel can reach, so ordinary kernels run in 16-bit lanes and no kernel overflows.
// Divisors are a shift when they are a power of two, else a multiply by a rounded-up reciprocal, which is
// exact for dividends below 2^bits when the reciprocal carries bits + ceil(log2 divisor) bits of fraction.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ConvolutionParams.h"

#if !defined(KERNWELL_ROWS) || !defined(KERNWELL_VECTOR_BYTES)
#error "define KERNWELL_ROWS and KERNWELL_VECTOR_BYTES before including RowKernels.h"
#endif

namespace kernwell::KERNWELL_ROWS {
namespace {

constexpr int kVectorBytes = KERNWELL_VECTOR_BYTES;

template <typename T, int N>
using Vec [[gnu::vector_size(N * sizeof(T))]] = T;

using std::int16_t;
using std::int32_t;
using std::int64_t;
using std::ptrdiff_t;
using std::uint32_t;
using std::uint64_t;
using std::uint8_t;

inline uint8_t ClampByte(int64_t v) noexcept { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

template <typename C>
inline int64_t Sum(const C (&c)[9], const uint8_t* a, const uint8_t* h, const uint8_t* b, ptrdiff_t l, ptrdiff_t m,
                   ptrdiff_t r) noexcept {
  return int64_t{c[0]} * a[l] + int64_t{c[1]} * a[m] + int64_t{c[2]} * a[r] + int64_t{c[3]} * h[l] +
         int64_t{c[4]} * h[m] + int64_t{c[5]} * h[r] + int64_t{c[6]} * b[l] + int64_t{c[7]} * b[m] +
         int64_t{c[8]} * b[r];
}

struct Reciprocal {
  uint64_t multiplier;
  int shift;
};

// For dividends below 2^bits and 1 <= divisor <= 2^bits: q = n * multiplier >> shift.
Reciprocal ReciprocalOf(uint64_t divisor, int bits) noexcept {
  const int log = divisor == 1 ? 0 : 64 - __builtin_clzll(divisor - 1);
  return {((uint64_t{1} << (bits + log)) + divisor - 1) / divisor, bits + log};
}

// Sums within 16 bits, divisor 2^shift: negative sums are biased first so the shift truncates toward 0.
struct NarrowShift {
  static constexpr int kStep = kVectorBytes;  // row bytes per vector step
  int16_t c[9];
  int16_t bias;
  int16_t offset;
  int shift;

  uint8_t operator()(const uint8_t* a, const uint8_t* h, const uint8_t* b, ptrdiff_t l, ptrdiff_t m,
                     ptrdiff_t r) const noexcept {
    const int64_t s = Sum(c, a, h, b, l, m, r);
    return ClampByte(((s + (s < 0 ? bias : 0)) >> shift) + offset);
  }
};

// Sums within 16 bits, any divisor up to 16 bits: the magnitude through the reciprocal, then the sign.
struct NarrowReciprocal {
  static constexpr int kStep = kVectorBytes;
  int16_t c[9];
  uint32_t multiplier;
  int shift;
  int16_t negative;  // -1 for a negative divisor
  int16_t offset;

  uint8_t operator()(const uint8_t* a, const uint8_t* h, const uint8_t* b, ptrdiff_t l, ptrdiff_t m,
                     ptrdiff_t r) const noexcept {
    const int64_t s = Sum(c, a, h, b, l, m, r);
    const auto q = static_cast<int64_t>((static_cast<uint64_t>(s < 0 ? -s : s) * multiplier) >> shift);
    return ClampByte(((s < 0) != (negative != 0) ? -q : q) + offset);
  }
};

// Sums within 32 bits, any divisor.
struct WideReciprocal {
  static constexpr int kStep = kVectorBytes / 2;
  int32_t c[9];
  uint64_t multiplier;
  int shift;
  int32_t negative;
  int32_t offset;

  uint8_t operator()(const uint8_t* a, const uint8_t* h, const uint8_t* b, ptrdiff_t l, ptrdiff_t m,
                     ptrdiff_t r) const noexcept {
    const int64_t s = Sum(c, a, h, b, l, m, r);
    const auto q = static_cast<int64_t>((static_cast<uint64_t>(s < 0 ? -s : s) * multiplier) >> shift);
    return ClampByte(((s < 0) != (negative != 0) ? -q : q) + offset);
  }
};

// Kernels whose sums leave 32 bits: 64-bit arithmetic, one byte at a time.
struct Huge {
  static constexpr int kStep = 0;
  int32_t c[9];
  int64_t divisor;
  int64_t offset;

  uint8_t operator()(const uint8_t* a, const uint8_t* h, const uint8_t* b, ptrdiff_t l, ptrdiff_t m,
                     ptrdiff_t r) const noexcept {
    return ClampByte(Sum(c, a, h, b, l, m, r) / divisor + offset);
  }
};

template <typename C>
void CopyTaps(C (&to)[9], const ConvMatrix& m) {
  for (int i = 0; i < 9; ++i) to[i] = static_cast<C>(m.coefficient[i]);
}

// Calls run(kind) with the narrowest kind that can't overflow for this matrix.
template <typename Run>
void WithArithmetic(const ConvMatrix& m, Run&& run) {
  int64_t weight = 0;
  for (int32_t c : m.coefficient) weight += c < 0 ? -int64_t{c} : int64_t{c};
  const int64_t maxSum = 255 * weight;
  const int64_t divisor = m.divisor;
  const int64_t magnitude = divisor < 0 ? -divisor : divisor;
  const int64_t maxValue = maxSum / magnitude + (m.offset < 0 ? -int64_t{m.offset} : int64_t{m.offset});
  const bool powerOfTwo = divisor > 0 && (divisor & (divisor - 1)) == 0;

  if (maxSum <= INT16_MAX && maxValue <= INT16_MAX) {
    if (powerOfTwo && divisor <= (1 << 14)) {
      NarrowShift f{};
      CopyTaps(f.c, m);
      f.bias = static_cast<int16_t>(divisor - 1);
      f.offset = static_cast<int16_t>(m.offset);
      f.shift = __builtin_ctzll(static_cast<uint64_t>(divisor));
      run(f);
      return;
    }
    if (magnitude <= INT16_MAX) {
      const Reciprocal reciprocal = ReciprocalOf(static_cast<uint64_t>(magnitude), 15);
      NarrowReciprocal f{};
      CopyTaps(f.c, m);
      f.multiplier = static_cast<uint32_t>(reciprocal.multiplier);
      f.shift = reciprocal.shift;
      f.negative = divisor < 0 ? -1 : 0;
      f.offset = static_cast<int16_t>(m.offset);
      run(f);
      return;
    }
  }
  if (maxSum <= INT32_MAX && maxValue <= INT32_MAX) {
    const Reciprocal reciprocal = ReciprocalOf(static_cast<uint64_t>(magnitude), 31);
    WideReciprocal f{};
    CopyTaps(f.c, m);
    f.multiplier = reciprocal.multiplier;
    f.shift = reciprocal.shift;
    f.negative = divisor < 0 ? -1 : 0;
    f.offset = m.offset;
    run(f);
    return;
  }
  Huge f{};
  CopyTaps(f.c, m);
  f.divisor = divisor;
  f.offset = m.offset;
  run(f);
}

// ---- vector steps: kStep bytes of a 32-bit row's inner columns at once ----

template <typename V, int S>
inline void Widen(V& out, const uint8_t* p) noexcept {
  Vec<uint8_t, S> bytes;
  std::memcpy(&bytes, p, S);
  out = __builtin_convertvector(bytes, V);
}

// Stores lanes 0..255 as bytes; byte 0 of each pixel is written as the new picture has it, 0.
template <typename V, int S>
inline void Store(uint8_t* p, const V& v, const V& keep) noexcept {
  const Vec<uint8_t, S> bytes = __builtin_convertvector(v & keep, Vec<uint8_t, S>);
  std::memcpy(p, &bytes, S);
}

// The neighbours of byte i are bytes i-4 and i+4 of the three rows.
template <typename V, int S>
inline void SumTaps(V& s, const V (&k)[9], const uint8_t* a, const uint8_t* h, const uint8_t* b, ptrdiff_t i) noexcept {
  V x;
  Widen<V, S>(x, a + i - 4);
  s = x * k[0];
  Widen<V, S>(x, a + i);
  s += x * k[1];
  Widen<V, S>(x, a + i + 4);
  s += x * k[2];
  Widen<V, S>(x, h + i - 4);
  s += x * k[3];
  Widen<V, S>(x, h + i);
  s += x * k[4];
  Widen<V, S>(x, h + i + 4);
  s += x * k[5];
  Widen<V, S>(x, b + i - 4);
  s += x * k[6];
  Widen<V, S>(x, b + i);
  s += x * k[7];
  Widen<V, S>(x, b + i + 4);
  s += x * k[8];
}

template <typename V, int S, typename C>
inline void Broadcast(V (&k)[9], V& keep, const C (&c)[9]) noexcept {
  for (int j = 0; j < 9; ++j) k[j] = V{} + c[j];
  for (int j = 0; j < S; ++j) keep[j] = (j & 3) != 0 ? -1 : 0;
}

// Bytes [4, end) in steps of S, the last step moved back to end where S doesn't divide the run: those
// bytes are computed twice, to the same values. Needs end - 4 >= S; every step starts on a pixel.
template <int S, typename Step>
inline void Steps(ptrdiff_t end, Step&& step) {
  ptrdiff_t i = 4;
  for (; i + S <= end; i += S) step(i);
  if (i < end) step(end - S);
}

template <int S>
void Inner(const NarrowShift& f, const uint8_t* a, const uint8_t* h, const uint8_t* b, uint8_t* dst, ptrdiff_t end) {
  using V = Vec<int16_t, S>;
  V k[9];
  V keep;
  Broadcast<V, S>(k, keep, f.c);
  const V bias = V{} + f.bias;
  const V offset = V{} + f.offset;
  const V zero{};
  const V top = V{} + static_cast<int16_t>(255);
  const int shift = f.shift;
  Steps<S>(end, [&](ptrdiff_t i) {
    V s;
    SumTaps<V, S>(s, k, a, h, b, i);
    V v = ((s + ((s >> 15) & bias)) >> shift) + offset;
    v = v < zero ? zero : v;
    v = v > top ? top : v;
    Store<V, S>(dst + i, v, keep);
  });
}

template <int S>
void Inner(const NarrowReciprocal& f, const uint8_t* a, const uint8_t* h, const uint8_t* b, uint8_t* dst,
           ptrdiff_t end) {
  using V = Vec<int16_t, S>;
  using W = Vec<uint32_t, S>;
  V k[9];
  V keep;
  Broadcast<V, S>(k, keep, f.c);
  const W multiplier = W{} + f.multiplier;
  const V negative = V{} + f.negative;
  const V offset = V{} + f.offset;
  const V zero{};
  const V top = V{} + static_cast<int16_t>(255);
  const int shift = f.shift;
  Steps<S>(end, [&](ptrdiff_t i) {
    V s;
    SumTaps<V, S>(s, k, a, h, b, i);
    const V sign = s >> 15;
    const V magnitude = (s ^ sign) - sign;
    const W quotient = (__builtin_convertvector(magnitude, W) * multiplier) >> shift;
    const V flip = sign ^ negative;
    V v = ((__builtin_convertvector(quotient, V) ^ flip) - flip) + offset;
    v = v < zero ? zero : v;
    v = v > top ? top : v;
    Store<V, S>(dst + i, v, keep);
  });
}

template <int S>
void Inner(const WideReciprocal& f, const uint8_t* a, const uint8_t* h, const uint8_t* b, uint8_t* dst,
           ptrdiff_t end) {
  using V = Vec<int32_t, S>;
  using W = Vec<uint64_t, S>;
  V k[9];
  V keep;
  Broadcast<V, S>(k, keep, f.c);
  const W multiplier = W{} + f.multiplier;
  const V negative = V{} + f.negative;
  const V offset = V{} + f.offset;
  const V zero{};
  const V top = V{} + 255;
  const int shift = f.shift;
  Steps<S>(end, [&](ptrdiff_t i) {
    V s;
    SumTaps<V, S>(s, k, a, h, b, i);
    const V sign = s >> 31;
    const V magnitude = (s ^ sign) - sign;
    const W quotient = (__builtin_convertvector(magnitude, W) * multiplier) >> shift;
    const V flip = sign ^ negative;
    V v = ((__builtin_convertvector(quotient, V) ^ flip) - flip) + offset;
    v = v < zero ? zero : v;
    v = v > top ? top : v;
    Store<V, S>(dst + i, v, keep);
  });
}

// ---- rows ----

struct Rows {
  const uint8_t* above;
  const uint8_t* here;
  const uint8_t* below;
};

// Colour bytes start at 1 in a 32-bit pixel and at 0 in a 24-bit one.
template <int Bpp>
constexpr ptrdiff_t kRed = Bpp == 4 ? 1 : 0;

// One destination pixel from columns xl, x and xr of the source.
template <int Bpp, typename Kind>
inline void FilterPixel(const Kind& f, const Rows& r, uint8_t* dst, int32_t xl, int32_t x, int32_t xr) noexcept {
  const ptrdiff_t l = ptrdiff_t{xl} * Bpp + kRed<Bpp>;
  const ptrdiff_t m = ptrdiff_t{x} * Bpp + kRed<Bpp>;
  const ptrdiff_t rr = ptrdiff_t{xr} * Bpp + kRed<Bpp>;
  uint8_t* out = dst + ptrdiff_t{x} * 4;
  for (int ch = 0; ch < 3; ++ch) out[1 + ch] = f(r.above, r.here, r.below, l + ch, m + ch, rr + ch);
}

// `maskRed` points at the red byte of the mask pixel. A black mask pixel keeps the filtered value; any
// other blends it with the source by the mask's red.
template <int Bpp, typename Kind>
inline void MaskedPixel(const Kind& f, const Rows& r, uint8_t* dst, int32_t xl, int32_t x, int32_t xr,
                        const uint8_t* maskRed) noexcept {
  const ptrdiff_t l = ptrdiff_t{xl} * Bpp + kRed<Bpp>;
  const ptrdiff_t m = ptrdiff_t{x} * Bpp + kRed<Bpp>;
  const ptrdiff_t rr = ptrdiff_t{xr} * Bpp + kRed<Bpp>;
  const bool blend = (maskRed[0] | maskRed[1] | maskRed[2]) != 0;
  const uint32_t k = maskRed[0];
  uint8_t* out = dst + ptrdiff_t{x} * 4;
  for (int ch = 0; ch < 3; ++ch) {
    uint32_t v = f(r.above, r.here, r.below, l + ch, m + ch, rr + ch);
    if (blend) v = ((255 - k) * v + k * r.here[m + ch]) >> 8;
    out[1 + ch] = static_cast<uint8_t>(v);
  }
}

// Edge columns repeat their neighbour across the picture's border; the inner columns of a 32-bit row go
// through the vector steps when there are enough of them.
template <int Bpp, typename Kind>
void FilterRow(const Kind& f, const Rows& r, uint8_t* dst, int32_t width) {
  if (width == 1) {
    FilterPixel<Bpp>(f, r, dst, 0, 0, 0);
    return;
  }
  FilterPixel<Bpp>(f, r, dst, 0, 0, 1);
  const ptrdiff_t end = ptrdiff_t{4} * (width - 1);
  if constexpr (Bpp == 4 && Kind::kStep > 0) {
    if (end - 4 >= Kind::kStep) {
      Inner<Kind::kStep>(f, r.above, r.here, r.below, dst, end);
      FilterPixel<Bpp>(f, r, dst, width - 2, width - 1, width - 1);
      return;
    }
  }
  for (int32_t x = 1; x < width - 1; ++x) FilterPixel<Bpp>(f, r, dst, x - 1, x, x + 1);
  FilterPixel<Bpp>(f, r, dst, width - 2, width - 1, width - 1);
}

template <int Bpp, typename Kind>
void MaskedRow(const Kind& f, const Rows& r, uint8_t* dst, int32_t width, const uint8_t* mask, int32_t maskBpp) {
  const uint8_t* red = mask + (maskBpp == 4 ? 1 : 0);
  auto at = [&](int32_t x) { return red + ptrdiff_t{x} * maskBpp; };
  if (width == 1) {
    MaskedPixel<Bpp>(f, r, dst, 0, 0, 0, at(0));
    return;
  }
  MaskedPixel<Bpp>(f, r, dst, 0, 0, 1, at(0));
  for (int32_t x = 1; x < width - 1; ++x) MaskedPixel<Bpp>(f, r, dst, x - 1, x, x + 1, at(x));
  MaskedPixel<Bpp>(f, r, dst, width - 2, width - 1, width - 1, at(width - 1));
}

template <int Bpp, bool Masked, typename Kind>
void Filter(const Kind& f, const ConvolutionParams& p, int32_t first, int32_t end) {
  auto row = [&](int32_t y) { return p.srcBase + ptrdiff_t{y} * p.srcRowBytes; };
  const int32_t last = p.height - 1;
  for (int32_t y = first; y < end; ++y) {
    // Rows past the top and bottom edges repeat the edge row.
    const Rows r{row(y > 0 ? y - 1 : 0), row(y), row(y < last ? y + 1 : y)};
    uint8_t* dst = p.dstBase + ptrdiff_t{y} * p.dstRowBytes;
    if constexpr (Masked) {
      MaskedRow<Bpp>(f, r, dst, p.width, p.maskBase + ptrdiff_t{y} * p.maskRowBytes, p.maskBytesPerPixel);
    } else {
      FilterRow<Bpp>(f, r, dst, p.width);
    }
  }
}

}  // namespace

void FilterRows(const ConvolutionParams& params, int32_t first, int32_t end, bool masked) {
  // A copy of the job: stores through the destination could alias the record as far as the compiler knows.
  const ConvolutionParams p = params;
  const ConvMatrix matrix = *p.matrix;
  WithArithmetic(matrix, [&](const auto& f) {
    if (p.srcBytesPerPixel == 4) {
      if (masked)
        Filter<4, true>(f, p, first, end);
      else
        Filter<4, false>(f, p, first, end);
    } else {
      if (masked)
        Filter<3, true>(f, p, first, end);
      else
        Filter<3, false>(f, p, first, end);
    }
  });
}

}  // namespace kernwell::KERNWELL_ROWS
