// libpng behind plain calls: a PNG in memory decoded to RGBA, and RGBA rows encoded with given settings.
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

// Decodes a whole PNG (interlaced or not). 16-bit files, and every file when `wantWide`, give wide
// samples. Ancillary chunks other than gAMA and tRNS are skipped unread. False for anything libpng
// refuses, trailing damage included, and for pictures beyond kMaxSide or kMaxPixels.
bool Decode(const std::uint8_t* data, std::size_t size, bool wantWide, Decoded& out);

// Whether a non-interlaced PNG decodes to exactly these pixels, compared row by row as it is read.
bool DecodesTo(const std::uint8_t* data, std::size_t size, const Rgba& expected);

struct Compression {
  bool libraryDefaults = false;  // libpng's own filter and zlib choices
  int filters = PNG_ALL_FILTERS;
  int level = 9;
  int strategy = 0;
  int memLevel = 9;
  int windowBits = 15;
};

// Encodes stored rows (already in `format`, big-endian where 16-bit) into `out`, replacing its contents.
// gamma 0: no gAMA.
bool Encode(const Format& format, std::uint32_t width, std::uint32_t height, png_bytep* rows,
            png_fixed_point gamma, const Compression& compression, std::vector<std::uint8_t>& out);

// libpng's error and warning hooks for the family: errors jump back to the setjmp of the caller,
// warnings are dropped.
[[noreturn]] void OnPngError(png_structp png, png_const_charp message);
void OnPngWarning(png_structp png, png_const_charp message);

}  // namespace pngfamily
