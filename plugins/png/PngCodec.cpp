#include "PngCodec.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace pngfamily {
namespace {

// The longest chunk a PNG may hold.
constexpr std::size_t kMaxChunkBytes = 0x7FFFFFFF;

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

bool AllocateStored(StoredRows& stored, std::vector<png_bytep>& rows) noexcept {
  try {
    stored.bytes.resize(stored.rowBytes * stored.height);
    rows.resize(stored.height);
    for (std::uint32_t y = 0; y < stored.height; ++y) rows[y] = stored.Row(y);
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
  StoredRows* stored;  // when set, rows are kept as stored instead of widened to RGBA
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
  if (job.stored) {
    StoredRows& stored = *job.stored;
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    stored.width = pixels.width;
    stored.height = pixels.height;
    stored.rowBytes = png_get_rowbytes(png, info);
    if (!AllocateStored(stored, *job.rows)) png_error(png, "out of memory");
    png_read_image(png, job.rows->data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
  }
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
  const StoredRows* rows;
  png_bytep* rowPointers;
  png_fixed_point gamma;
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
  png_set_write_fn(png, job.out, &WriteToMemory, &FlushNothing);
  png_set_compression_buffer_size(png, kIdatBytes);
  png_set_IHDR(png, info, job.rows->width, job.rows->height, format.bitDepth, format.colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
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
  png_write_image(png, job.rowPointers);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// Clears what lies beyond the last pixel of every row, which a file may fill as it likes.
void ClearPadding(StoredRows& rows, int bitsPerPixel) noexcept {
  const std::size_t usedBits = std::size_t{rows.width} * static_cast<std::size_t>(bitsPerPixel) % 8;
  if (usedBits == 0 || rows.rowBytes == 0) return;
  const auto keep = static_cast<std::uint8_t>(0xFF00u >> usedBits);
  for (std::uint32_t y = 0; y < rows.height; ++y) rows.Row(y)[rows.rowBytes - 1] &= keep;
}

std::uint8_t Paeth(int a, int b, int c) noexcept {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// One row filtered against the row above it (zeros above the first row); `bpp` is the distance to the
// byte of the pixel on the left.
void FilterRow(RowFilter filter, const std::uint8_t* row, const std::uint8_t* prior, std::size_t n,
               std::size_t bpp, std::uint8_t* out) noexcept {
  const std::size_t first = std::min(bpp, n);
  switch (filter) {
    case RowFilter::kSub:
      std::memcpy(out, row, first);
      for (std::size_t i = first; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
      break;
    case RowFilter::kUp:
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prior[i]);
      break;
    case RowFilter::kAverage:
      for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prior[i] / 2);
      for (std::size_t i = first; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - (row[i - bpp] + prior[i]) / 2);
      break;
    case RowFilter::kPaeth:
      for (std::size_t i = 0; i < first; ++i) out[i] = static_cast<std::uint8_t>(row[i] - prior[i]);
      for (std::size_t i = first; i < n; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - Paeth(row[i - bpp], prior[i], prior[i - bpp]));
      break;
    default:
      std::memcpy(out, row, n);
      break;
  }
}

// libpng's measure of how well a filtered row will compress: small when its bytes lie near zero.
std::size_t AbsoluteSum(const std::uint8_t* bytes, std::size_t n) noexcept {
  std::size_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += bytes[i] < 128 ? bytes[i] : 256u - bytes[i];
  return sum;
}

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(std::vector<std::uint8_t>& out, const char (&type)[5], const std::uint8_t* data,
              std::size_t size) {
  PutWord(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  PutWord(out, static_cast<std::uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(size + 4))));
}

}  // namespace

void OnPngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void OnPngWarning(png_structp, png_const_charp) {}

bool Decode(const std::uint8_t* data, std::size_t size, bool wantWide, Decoded& out) {
  if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
  MemoryReader reader{data, size, 0};
  std::vector<png_bytep> rows;
  return DecodeWithLibpng(DecodeJob{&reader, wantWide, &out, &rows, nullptr, nullptr, nullptr});
}

bool DecodesTo(const std::uint8_t* data, std::size_t size, const Rgba& expected) {
  if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
  MemoryReader reader{data, size, 0};
  Decoded header;
  std::vector<png_bytep> rows;
  std::vector<png_byte> row;
  return DecodeWithLibpng(DecodeJob{&reader, expected.wide, &header, &rows, &expected, &row, nullptr});
}

int BitsPerPixel(const Format& format) noexcept {
  switch (format.colorType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2 * format.bitDepth;
    case PNG_COLOR_TYPE_RGB:
      return 3 * format.bitDepth;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return 4 * format.bitDepth;
    default:
      return format.bitDepth;
  }
}

bool DeclaresOneBitGrey(const std::uint8_t* data, std::size_t size) noexcept {
  // Signature, IHDR's length and type, width, height, then bit depth and colour type.
  constexpr std::size_t kBitDepth = 24, kColourType = 25;
  return data && size > kColourType && png_sig_cmp(data, 0, 8) == 0 &&
         std::memcmp(data + 12, "IHDR", 4) == 0 && data[kBitDepth] == 1 &&
         data[kColourType] == PNG_COLOR_TYPE_GRAY;
}

bool WrittenPlainly(const std::uint8_t* data, std::size_t size) noexcept {
  // Signature, IHDR's length and type, width, height, bit depth, colour type, compression, filter method,
  // then the interlace method.
  constexpr std::size_t kInterlace = 28;
  if (!data || size <= kInterlace || png_sig_cmp(data, 0, 8) != 0 || std::memcmp(data + 12, "IHDR", 4) != 0 ||
      data[kInterlace] != PNG_INTERLACE_NONE)
    return false;
  const auto word = [data](std::size_t at) {
    return std::uint32_t{data[at]} << 24 | std::uint32_t{data[at + 1]} << 16 |
           std::uint32_t{data[at + 2]} << 8 | data[at + 3];
  };
  for (std::size_t at = 8; size - at >= 12;) {
    const std::uint32_t length = word(at);
    if (length > size - at - 12) return false;
    const std::uint8_t* type = data + at + 4;
    const auto is = [type](const char* name) { return std::memcmp(type, name, 4) == 0; };
    if (!(is("IHDR") || is("PLTE") || is("tRNS") || is("IDAT") || is("IEND") ||
          (is("gAMA") && length == 4 && word(at + 8) > 0)))
      return false;
    at += 12 + std::size_t{length};
    if (is("IEND")) return at == size;
  }
  return false;
}

bool DecodeStored(const std::uint8_t* data, std::size_t size, DecodedRows& out) {
  if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0) return false;
  MemoryReader reader{data, size, 0};
  Decoded header;
  std::vector<png_bytep> rows;
  if (!DecodeWithLibpng(DecodeJob{&reader, false, &header, &rows, nullptr, nullptr, &out.rows})) return false;
  out.format = std::move(header.format);
  out.gamma = header.hasGamma ? header.gamma : 0;
  ClearPadding(out.rows, BitsPerPixel(out.format));
  return true;
}

void FilterRows(const StoredRows& rows, int bitsPerPixel, RowFilter filter, std::vector<std::uint8_t>& out) {
  const std::size_t n = rows.rowBytes;
  const std::size_t bpp = std::max(1, bitsPerPixel / 8);
  out.resize((n + 1) * rows.height);
  const std::vector<std::uint8_t> zeros(n, 0);
  // The adaptive choice tries every type in a row of its own, and keeps the first with the smallest sum.
  constexpr RowFilter kTried[] = {RowFilter::kSub, RowFilter::kUp, RowFilter::kAverage, RowFilter::kPaeth};
  std::vector<std::uint8_t> trial(filter == RowFilter::kAdaptive ? n : 0);
  for (std::uint32_t y = 0; y < rows.height; ++y) {
    const std::uint8_t* row = rows.Row(y);
    const std::uint8_t* prior = y > 0 ? rows.Row(y - 1) : zeros.data();
    std::uint8_t* o = out.data() + (n + 1) * y;
    RowFilter type = filter;
    if (filter == RowFilter::kAdaptive) {
      type = RowFilter::kNone;
      std::size_t best = AbsoluteSum(row, n);
      for (RowFilter t : kTried) {
        FilterRow(t, row, prior, n, bpp, trial.data());
        const std::size_t sum = AbsoluteSum(trial.data(), n);
        if (sum < best) {
          best = sum;
          type = t;
        }
      }
    }
    o[0] = static_cast<std::uint8_t>(type);
    FilterRow(type, row, prior, n, bpp, o + 1);
  }
}

bool Assemble(const Format& format, std::uint32_t width, std::uint32_t height, png_fixed_point gamma,
              const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out) {
  if (format.colorType == PNG_COLOR_TYPE_PALETTE && (format.palette.empty() || format.palette.size() > 256))
    return false;
  try {
    out.clear();
    out.reserve(stream.size() + 3 * format.palette.size() + format.paletteAlpha.size() + 128);
    static constexpr std::uint8_t kSignature[8] = {137, 'P', 'N', 'G', '\r', '\n', 26, '\n'};
    out.assign(kSignature, kSignature + 8);
    std::vector<std::uint8_t> data;
    PutWord(data, width);
    PutWord(data, height);
    data.insert(data.end(),
                {static_cast<std::uint8_t>(format.bitDepth), static_cast<std::uint8_t>(format.colorType),
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE, PNG_INTERLACE_NONE});
    PutChunk(out, "IHDR", data.data(), data.size());
    if (gamma > 0) {
      data.clear();
      PutWord(data, static_cast<std::uint32_t>(gamma));
      PutChunk(out, "gAMA", data.data(), data.size());
    }
    data.clear();
    if (format.colorType == PNG_COLOR_TYPE_PALETTE) {
      for (const png_color& c : format.palette) data.insert(data.end(), {c.red, c.green, c.blue});
      PutChunk(out, "PLTE", data.data(), data.size());
      data.assign(format.paletteAlpha.begin(), format.paletteAlpha.end());
    } else if (format.hasKey) {
      const auto level = [&](png_uint_16 v) {
        data.insert(data.end(), {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
      };
      if (format.colorType & PNG_COLOR_MASK_COLOR) {
        level(format.key.red);
        level(format.key.green);
        level(format.key.blue);
      } else {
        level(format.key.gray);
      }
    }
    if (!data.empty()) PutChunk(out, "tRNS", data.data(), data.size());
    for (std::size_t at = 0; at < stream.size(); at += kMaxChunkBytes)
      PutChunk(out, "IDAT", stream.data() + at, std::min(kMaxChunkBytes, stream.size() - at));
    PutChunk(out, "IEND", nullptr, 0);
    return true;
  } catch (...) {
    return false;
  }
}

bool Encode(const Format& format, const StoredRows& rows, png_fixed_point gamma,
            std::vector<std::uint8_t>& out) {
  if (format.colorType == PNG_COLOR_TYPE_PALETTE && (format.palette.empty() || format.palette.size() > 256))
    return false;
  std::vector<png_bytep> pointers;
  try {
    out.clear();
    pointers.resize(rows.height);
  } catch (...) {
    return false;
  }
  // libpng copies each row before filtering it, so the rows themselves are only read.
  for (std::uint32_t y = 0; y < rows.height; ++y) pointers[y] = const_cast<png_bytep>(rows.Row(y));
  return EncodeWithLibpng(EncodeJob{&format, &rows, pointers.data(), gamma, &out});
}

}  // namespace pngfamily
