#include "PngCodec.h"

#include <bit>
#include <csetjmp>
#include <cstring>

namespace pngfamily {
namespace {

// Ancillary chunks the decoder skips unread: the family keeps only gAMA (and tRNS, which is pixels).
constexpr png_byte kSkippedChunks[] =
    "cHRM\0sRGB\0iCCP\0bKGD\0hIST\0pHYs\0sBIT\0sPLT\0tIME\0tEXt\0zTXt\0iTXt\0oFFs\0pCAL\0sCAL\0eXIf";
constexpr int kSkippedChunkCount = static_cast<int>(sizeof kSkippedChunks / 5);

struct MemoryReader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t offset;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (reader->size - reader->offset < length) png_error(png, "truncated");
  std::memcpy(out, reader->data + reader->offset, length);
  reader->offset += length;
}

bool Append(std::vector<std::uint8_t>& out, const png_byte* data, std::size_t length) noexcept {
  try {
    out.insert(out.end(), data, data + length);
    return true;
  } catch (...) {
    return false;
  }
}

void WriteToMemory(png_structp png, png_bytep data, png_size_t length) {
  if (!Append(*static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png)), data, length))
    png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

// The C++ steps of a decode. Each finishes (or fails) before libpng runs again, so no jump crosses them.
bool CaptureFormat(png_structp png, png_infop info, Decoded& out) noexcept {
  try {
    Format& format = out.format;
    format = Format{};
    format.colorType = png_get_color_type(png, info);
    format.bitDepth = png_get_bit_depth(png, info);
    png_colorp palette = nullptr;
    int paletteSize = 0;
    if (png_get_PLTE(png, info, &palette, &paletteSize) && palette && paletteSize > 0)
      format.palette.assign(palette, palette + paletteSize);
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    png_color_16p key = nullptr;
    if (png_get_tRNS(png, info, &alpha, &alphaCount, &key)) {
      if (format.colorType == PNG_COLOR_TYPE_PALETTE) {
        if (alpha && alphaCount > 0) format.paletteAlpha.assign(alpha, alpha + alphaCount);
      } else if (key) {
        format.hasKey = true;
        format.key = *key;
      }
    }
    out.hasGamma = false;
    out.gamma = 0;
    png_fixed_point gamma = 0;
    if (png_get_valid(png, info, PNG_INFO_gAMA) && png_get_gAMA_fixed(png, info, &gamma) && gamma > 0) {
      out.hasGamma = true;
      out.gamma = gamma;
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool AllocatePixels(Rgba& pixels, std::vector<png_bytep>& rows) noexcept {
  try {
    const std::size_t samples = std::size_t{pixels.width} * pixels.height * 4;
    std::size_t rowBytes = std::size_t{pixels.width} * 4;
    png_bytep base = nullptr;
    if (pixels.wide) {
      pixels.narrow = {};
      pixels.samples16.resize(samples);
      base = reinterpret_cast<png_bytep>(pixels.samples16.data());
      rowBytes *= 2;
    } else {
      pixels.samples16 = {};
      pixels.narrow.resize(samples);
      base = pixels.narrow.data();
    }
    rows.resize(pixels.height);
    for (std::uint32_t y = 0; y < pixels.height; ++y) rows[y] = base + rowBytes * y;
    return true;
  } catch (...) {
    return false;
  }
}

bool AllocateRow(std::vector<png_byte>& row, std::size_t bytes) noexcept {
  try {
    row.resize(bytes);
    return true;
  } catch (...) {
    return false;
  }
}

struct DecodeJob {
  MemoryReader* reader;
  bool wantWide;
  Decoded* out;
  std::vector<png_bytep>* rows;
  const Rgba* expected;  // when set, rows are compared with it instead of kept
  std::vector<png_byte>* row;
};

// From setjmp on, this frame holds nothing with a destructor.
bool DecodeWithLibpng(const DecodeJob& job) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &OnPngError, &OnPngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, job.reader, &ReadFromMemory);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, kSkippedChunkCount);
  png_read_info(png, info);

  Rgba& pixels = job.out->pixels;
  pixels.width = png_get_image_width(png, info);
  pixels.height = png_get_image_height(png, info);
  if (pixels.width == 0 || pixels.height == 0 || std::uint64_t{pixels.width} * pixels.height > kMaxPixels)
    png_error(png, "too large");
  if (!CaptureFormat(png, info, *job.out)) png_error(png, "out of memory");
  pixels.wide = job.wantWide || job.out->format.bitDepth == 16;

  png_set_expand(png);
  if (pixels.wide) png_set_expand_16(png);
  png_set_gray_to_rgb(png);
  const int colorType = job.out->format.colorType;
  if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_filler(png, pixels.wide ? 0xffff : 0xff, PNG_FILLER_AFTER);
  if (pixels.wide && std::endian::native == std::endian::little) png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = std::size_t{pixels.width} * 4 * (pixels.wide ? 2 : 1);
  if (png_get_channels(png, info) != 4 || png_get_bit_depth(png, info) != (pixels.wide ? 16 : 8) ||
      png_get_rowbytes(png, info) != rowBytes)
    png_error(png, "unexpected row layout");

  if (job.expected) {
    const Rgba& expected = *job.expected;
    if (expected.width != pixels.width || expected.height != pixels.height || expected.wide != pixels.wide ||
        png_get_interlace_type(png, info) != PNG_INTERLACE_NONE || !AllocateRow(*job.row, rowBytes))
      png_error(png, "not comparable");
    const png_byte* want =
        expected.wide ? reinterpret_cast<const png_byte*>(expected.samples16.data()) : expected.narrow.data();
    for (std::uint32_t y = 0; y < pixels.height; ++y, want += rowBytes) {
      png_read_row(png, job.row->data(), nullptr);
      if (std::memcmp(job.row->data(), want, rowBytes) != 0) png_error(png, "different pixels");
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
  }
  if (!AllocatePixels(pixels, *job.rows)) png_error(png, "out of memory");
  png_read_image(png, job.rows->data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

struct EncodeJob {
  const Format* format;
  std::uint32_t width;
  std::uint32_t height;
  png_bytep* rows;
  png_fixed_point gamma;
  const Compression* compression;
  std::vector<std::uint8_t>* out;
};

// From setjmp on, this frame holds nothing with a destructor.
bool EncodeWithLibpng(const EncodeJob& job) {
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
  const Format& format = *job.format;
  const Compression& compression = *job.compression;
  png_set_write_fn(png, job.out, &WriteToMemory, &FlushNothing);
  png_set_compression_buffer_size(png, kIdatBytes);
  if (!compression.libraryDefaults) {
    png_set_filter(png, PNG_FILTER_TYPE_BASE, compression.filters);
    png_set_compression_level(png, compression.level);
    png_set_compression_strategy(png, compression.strategy);
    png_set_compression_mem_level(png, compression.memLevel);
    png_set_compression_window_bits(png, compression.windowBits);
  }
  png_set_IHDR(png, info, job.width, job.height, format.bitDepth, format.colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (job.gamma > 0) png_set_gAMA_fixed(png, info, job.gamma);
  if (format.colorType == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, format.palette.data(), static_cast<int>(format.palette.size()));
    if (!format.paletteAlpha.empty())
      png_set_tRNS(png, info, format.paletteAlpha.data(), static_cast<int>(format.paletteAlpha.size()),
                   nullptr);
  } else if (format.hasKey) {
    png_set_tRNS(png, info, nullptr, 0, &format.key);
  }
  png_write_info(png, info);
  png_write_image(png, job.rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void OnPngWarning(png_structp, png_const_charp) {}

bool Decode(const std::uint8_t* data, std::size_t size, bool wantWide, Decoded& out) {
  if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
  MemoryReader reader{data, size, 0};
  std::vector<png_bytep> rows;
  return DecodeWithLibpng(DecodeJob{&reader, wantWide, &out, &rows, nullptr, nullptr});
}

bool DecodesTo(const std::uint8_t* data, std::size_t size, const Rgba& expected) {
  if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
  MemoryReader reader{data, size, 0};
  Decoded header;
  std::vector<png_bytep> rows;
  std::vector<png_byte> row;
  return DecodeWithLibpng(DecodeJob{&reader, expected.wide, &header, &rows, &expected, &row});
}

bool Encode(const Format& format, std::uint32_t width, std::uint32_t height, png_bytep* rows,
            png_fixed_point gamma, const Compression& compression, std::vector<std::uint8_t>& out) {
  if (format.colorType == PNG_COLOR_TYPE_PALETTE && (format.palette.empty() || format.palette.size() > 256))
    return false;
  out.clear();
  return EncodeWithLibpng(EncodeJob{&format, width, height, rows, gamma, &compression, &out});
}

}  // namespace pngfamily
