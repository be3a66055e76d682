#include "PictureWriter.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Deflate.h"
#include "Files.h"
#include "PngCodec.h"
#include "kit/Kit.h"
#include "kit/LockedPixels.h"
#include "platform/PixMap.h"

namespace pngfamily {
namespace {

using kit::KnownDepth;
using kit::LockedPixels;

// libpng's own IDAT size, the least worth asking for.
constexpr std::size_t kMinIdatBytes = 8192;

// The red, green and blue bytes of a 32-bit pixel read as one word.
constexpr std::uint32_t kRgbMask = std::endian::native == std::endian::little ? 0xFFFFFF00u : 0x00FFFFFFu;

template <int Depth>
bool RowIsBlackWhite(const std::uint8_t* row, std::int32_t width) noexcept {
  if constexpr (Depth == 32) {
    std::uint32_t bad = 0;
    for (std::int32_t x = 0; x < width; ++x) {
      std::uint32_t v;
      std::memcpy(&v, row + static_cast<std::ptrdiff_t>(x) * 4, 4);
      v &= kRgbMask;
      bad |= static_cast<std::uint32_t>(v != 0 && v != kRgbMask);
    }
    return bad == 0;
  } else if constexpr (Depth == 24) {
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 3;
      if (p[0] != p[1] || p[1] != p[2] || (p[0] != 0 && p[0] != 255)) return false;
    }
    return true;
  } else if constexpr (Depth == 16) {
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint32_t v = ((std::uint32_t{row[2 * x]} << 8) | row[2 * x + 1]) & 0x7FFF;
      if (v != 0 && v != 0x7FFF) return false;
    }
    return true;
  } else {
    for (std::int32_t x = 0; x < width; ++x)
      if (row[x] != 0 && row[x] != 255) return false;
    return true;
  }
}

template <int Depth>
bool IsBlackWhite(const LockedPixels& pixels) noexcept {
  for (std::int32_t y = 0; y < pixels.Height(); ++y)
    if (!RowIsBlackWhite<Depth>(pixels.Base() + static_cast<std::ptrdiff_t>(y) * pixels.RowBytes(),
                                pixels.Width()))
      return false;
  return true;
}

bool IsBlackWhite(const LockedPixels& pixels) noexcept {
  switch (pixels.Depth()) {
    case 32:
      return IsBlackWhite<32>(pixels);
    case 24:
      return IsBlackWhite<24>(pixels);
    case 16:
      return IsBlackWhite<16>(pixels);
    default:
      return IsBlackWhite<8>(pixels);
  }
}

// Whether a pixel of a black-and-white picture is white: any colour byte tells.
template <int Depth>
inline bool White(const std::uint8_t* row, std::int32_t x) noexcept {
  if constexpr (Depth == 32)
    return row[static_cast<std::ptrdiff_t>(x) * 4 + 1] != 0;
  else if constexpr (Depth == 24)
    return row[static_cast<std::ptrdiff_t>(x) * 3] != 0;
  else if constexpr (Depth == 16)
    return (row[static_cast<std::ptrdiff_t>(x) * 2] & 0x7C) != 0;
  else
    return row[x] != 0;
}

template <int Depth>
void PackBits(const std::uint8_t* row, std::int32_t width, std::uint8_t* out) noexcept {
  std::int32_t x = 0;
  for (; x + 8 <= width; x += 8) {
    std::uint32_t byte = 0;
    for (int bit = 0; bit < 8; ++bit)
      byte = (byte << 1) | static_cast<std::uint32_t>(White<Depth>(row, x + bit));
    *out++ = static_cast<std::uint8_t>(byte);
  }
  if (x < width) {
    std::uint32_t byte = 0;
    for (int bit = 0; bit < 8; ++bit)
      byte = (byte << 1) | static_cast<std::uint32_t>(x + bit < width && White<Depth>(row, x + bit));
    *out = static_cast<std::uint8_t>(byte);
  }
}

void PackBits(std::int32_t depth, const std::uint8_t* row, std::int32_t width, std::uint8_t* out) noexcept {
  switch (depth) {
    case 32:
      return PackBits<32>(row, width, out);
    case 24:
      return PackBits<24>(row, width, out);
    case 16:
      return PackBits<16>(row, width, out);
    default:
      return PackBits<8>(row, width, out);
  }
}

// 16-bit and 8-bit rows widened to 8-bit RGB, 5-bit components as the framework widens them.
void WidenRow(std::int32_t depth, const std::uint8_t* row, std::int32_t width, std::uint8_t* out) noexcept {
  if (depth == 16) {
    for (std::int32_t x = 0; x < width; ++x, out += 3) {
      const std::uint32_t v = (std::uint32_t{row[2 * x]} << 8) | row[2 * x + 1];
      const std::uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      out[0] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
      out[1] = static_cast<std::uint8_t>((g << 3) | (g >> 2));
      out[2] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
    }
  } else {
    for (std::int32_t x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = row[x];
  }
}

// Dithered rows hold few repeats worth a match. Two quick deflates suit them: zlib's runs alone, with its
// largest blocks, and libdeflate's fastest matching, which finds what flat areas repeat. Both together
// cost less than one zlib level 3, and the smaller of the two beats it.
constexpr Deflater kOneBitDeflaters[] = {
    {.library = Deflater::Library::kZlib, .level = 1, .strategy = Z_RLE},
    {.library = Deflater::Library::kLibdeflate, .level = 1},
};

// A black-and-white picture as 1-bit grey, deflated whole.
bool WriteOneBit(std::FILE* stream, const LockedPixels& pixels, png_fixed_point gamma) {
  const std::size_t rowBytes = (static_cast<std::size_t>(pixels.Width()) + 7) / 8;
  // Every row unfiltered: filter type 0, then the row.
  std::vector<std::uint8_t> filtered((rowBytes + 1) * static_cast<std::size_t>(pixels.Height()), 0);
  for (std::int32_t y = 0; y < pixels.Height(); ++y)
    PackBits(pixels.Depth(), pixels.Base() + static_cast<std::ptrdiff_t>(y) * pixels.RowBytes(),
             pixels.Width(), filtered.data() + (rowBytes + 1) * static_cast<std::size_t>(y) + 1);
  std::vector<std::uint8_t> best, deflated;
  for (const Deflater& deflater : kOneBitDeflaters)
    if (Deflate(filtered, deflater, deflated) && (best.empty() || deflated.size() < best.size()))
      best.swap(deflated);
  Format format;
  format.colorType = PNG_COLOR_TYPE_GRAY;
  format.bitDepth = 1;
  std::vector<std::uint8_t> png;
  return !best.empty() &&
         Assemble(format, static_cast<std::uint32_t>(pixels.Width()),
                  static_cast<std::uint32_t>(pixels.Height()), gamma, best, png) &&
         std::fwrite(png.data(), 1, png.size(), stream) == png.size();
}

struct WriteJob {
  std::FILE* stream;
  const std::uint8_t* base;
  long rowBytes;
  std::int32_t width;
  std::int32_t height;
  std::int32_t depth;
  png_fixed_point gamma;  // 0: no gAMA
  std::uint8_t* scratch;  // one widened row
  std::size_t idatBytes;  // libpng's compression buffer, and so the IDAT size
};

// A picture as 8-bit RGB, row by row. From setjmp on, this frame holds nothing with a destructor.
bool WriteWithLibpng(const WriteJob& job) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &OnPngError, &OnPngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, job.stream);
  png_set_compression_buffer_size(png, job.idatBytes);
  // A quick zlib level: batches write many files, and saved pictures go through the optimiser anyway.
  png_set_compression_level(png, 3);
  png_set_IHDR(png, info, static_cast<png_uint_32>(job.width), static_cast<png_uint_32>(job.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (job.gamma > 0) png_set_gAMA_fixed(png, info, job.gamma);
  png_write_info(png, info);
  // 32-bit rows go to libpng as they lie, the unused byte dropped on the way.
  if (job.depth == 32) png_set_filler(png, 0, PNG_FILLER_BEFORE);
  for (std::int32_t y = 0; y < job.height; ++y) {
    const std::uint8_t* row = job.base + static_cast<std::ptrdiff_t>(y) * job.rowBytes;
    if (job.depth == 16 || job.depth == 8) {
      WidenRow(job.depth, row, job.width, job.scratch);
      row = job.scratch;
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool WriteRgb(std::FILE* stream, const LockedPixels& pixels, png_fixed_point gamma) {
  const std::size_t rowBytes = static_cast<std::size_t>(pixels.Width()) * 3;
  std::vector<std::uint8_t> scratch(rowBytes);
  // A buffer as large as the rows, up to a limit, puts a small picture's data in one IDAT.
  const std::size_t rawBytes = (rowBytes + 1) * static_cast<std::size_t>(pixels.Height());
  return WriteWithLibpng(WriteJob{stream, pixels.Base(), pixels.RowBytes(), pixels.Width(), pixels.Height(),
                                  pixels.Depth(), gamma, scratch.data(),
                                  std::clamp(rawBytes, kMinIdatBytes, kIdatBytes)});
}

// The gAMA value for a gamma, or 0 for none: not positive, not finite, or beyond what the chunk holds.
png_fixed_point FixedGamma(float gamma) {
  if (!std::isfinite(gamma) || gamma <= 0.0f) return 0;
  const double fixed = std::round(static_cast<double>(gamma) * 100000.0);
  if (fixed < 16.0 || fixed > 625000000.0) return 0;
  return static_cast<png_fixed_point>(fixed);
}

}  // namespace

bool SaveAsPNG(REALfolderItem target, REALpicture picture, float gamma) {
  // errno tells the caller why a save failed: the failing call's own error, 0 when no call failed.
  int why = 0;
  try {
    std::string path;
    LockedPixels pixels(picture);
    if (target && picture && PathOf(target, path) && pixels.Usable()) {
      const bool oneBit = IsBlackWhite(pixels);
      AtomicFile file;
      if (file.Open(path)) {
        const bool written = oneBit ? WriteOneBit(file.Stream(), pixels, FixedGamma(gamma))
                                    : WriteRgb(file.Stream(), pixels, FixedGamma(gamma));
        if (!written && std::ferror(file.Stream())) file.NoteFailure();
        // Renamed whole into place, so no crash leaves a part under the name; not waited onto the disk:
        // this is either a copy the optimiser rewrites durably, or one of a batch's files, which the batch
        // waits onto the disk itself before it gives them their names.
        if (written && file.Commit(AtomicFile::Durability::Renamed)) {
          errno = 0;
          return true;
        }
      }
      why = file.Error();
    }
  } catch (...) {
    why = ENOMEM;
  }
  errno = why;
  return false;
}

}  // namespace pngfamily
