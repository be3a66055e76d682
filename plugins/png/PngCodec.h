// libpng behind plain calls: a PNG in memory decoded to RGBA or to its stored rows, stored rows filtered
// for compression, and PNG files put together around a compressed stream or written by libpng itself.
// libpng reports errors by longjmp, so only the functions in PngCodec.cpp ever see a jump.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pngfamily {

// Largest picture the family decodes, so a crafted header can't ask for unbounded memory.
inline constexpr std::uint32_t kMaxSide = 1u << 24;
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// IDAT chunks this long cost a few bytes of framing per megabyte instead of per 8 KB.
inline constexpr std::size_t kIdatBytes = std::size_t{1} << 20;

// How pixels are stored in a file.
struct Format {
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  std::vector<png_color> palette;
  std::vector<png_byte> paletteAlpha;  // leading entries' alpha; the rest are opaque
  bool hasKey = false;                 // grey or RGB tRNS
  png_color_16 key{};
};

// Every pixel as red, green, blue, alpha: 8-bit samples, or 16-bit ones in native order when `wide`.
struct Rgba {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool wide = false;
  std::vector<std::uint8_t> narrow;
  std::vector<std::uint16_t> samples16;
};

struct Decoded {
  Rgba pixels;
  Format format;  // as the file stores it
  bool hasGamma = false;
  png_fixed_point gamma = 0;
};

// Rows in a format's stored layout, one after another: packed below 8 bits, big-endian at 16.
struct StoredRows {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::size_t rowBytes = 0;
  std::vector<std::uint8_t> bytes;

  std::uint8_t* Row(std::uint32_t y) noexcept { return bytes.data() + rowBytes * y; }
  const std::uint8_t* Row(std::uint32_t y) const noexcept { return bytes.data() + rowBytes * y; }
};

struct DecodedRows {
  StoredRows rows;
  Format format;
  png_fixed_point gamma = 0;  // 0: no gAMA
};

// Decodes a whole PNG (interlaced or not). 16-bit files, and every file when `wantWide`, give wide
// samples. Ancillary chunks other than gAMA and tRNS are skipped unread. False for anything libpng
// refuses, trailing damage included, and for pictures beyond kMaxSide or kMaxPixels.
bool Decode(const std::uint8_t* data, std::size_t size, bool wantWide, Decoded& out);

// Whether a non-interlaced PNG decodes to exactly these pixels, compared row by row as it is read.
bool DecodesTo(const std::uint8_t* data, std::size_t size, const Rgba& expected);

// Bits a pixel takes in the format's stored layout.
int BitsPerPixel(const Format& format) noexcept;

// Whether a PNG in memory declares 1-bit grey in its header, which comes first in every PNG. Unchecked:
// decoding tells whether the file is sound.
bool DeclaresOneBitGrey(const std::uint8_t* data, std::size_t size) noexcept;

// Whether a PNG in memory is laid out as the optimiser writes its own: not interlaced, and no chunks but
// IHDR, PLTE, tRNS, gAMA (holding a gamma), IDAT and IEND, with nothing after IEND. Unchecked otherwise:
// decoding tells whether the file is sound.
bool WrittenPlainly(const std::uint8_t* data, std::size_t size) noexcept;

// Decodes a whole PNG (interlaced or not) to its stored rows, with bits beyond a row's last pixel cleared.
// False as for Decode.
bool DecodeStored(const std::uint8_t* data, std::size_t size, DecodedRows& out);

// PNG's row filters (types 0 to 4), and libpng's choice of one per row: the smallest sum of the bytes
// read as signed.
enum class RowFilter { kNone, kSub, kUp, kAverage, kPaeth, kAdaptive };

// The data a PNG compresses: every row filtered and preceded by its filter type. Replaces `out`.
void FilterRows(const StoredRows& rows, int bitsPerPixel, RowFilter filter, std::vector<std::uint8_t>& out);

// A whole PNG around a zlib stream of filtered rows: header, gAMA (when gamma > 0), palette and
// transparency as the format has them, the stream in one IDAT, IEND. Replaces `out`.
bool Assemble(const Format& format, std::uint32_t width, std::uint32_t height, png_fixed_point gamma,
              const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out);

// What a plain libpng write of the stored rows makes, with libpng's own filter and zlib choices.
// Replaces `out`.
bool Encode(const Format& format, const StoredRows& rows, png_fixed_point gamma,
            std::vector<std::uint8_t>& out);

// libpng's error and warning hooks for the family: errors jump back to the setjmp of the caller,
// warnings are dropped.
[[noreturn]] void OnPngError(png_structp png, png_const_charp message);
void OnPngWarning(png_structp png, png_const_charp message);

}  // namespace pngfamily
