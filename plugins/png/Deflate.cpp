#include "Deflate.h"

#include <libdeflate.h>

#include <limits>
#include <memory>

namespace pngfamily {
namespace {

constexpr int kMemLevel = 9;

// Room for the largest stream, not cleared first: a flat picture's stream fills a small part of it, and the
// rest is never touched. Nil when out of memory.
std::unique_ptr<std::uint8_t[]> Untouched(std::size_t bytes) noexcept {
  try {
    return std::make_unique_for_overwrite<std::uint8_t[]>(bytes);
  } catch (...) {
    return nullptr;
  }
}

bool Keep(const std::uint8_t* stream, std::size_t size, std::vector<std::uint8_t>& out) noexcept {
  try {
    out.assign(stream, stream + size);
    return true;
  } catch (...) {
    return false;
  }
}

bool DeflateWithZlib(const std::vector<std::uint8_t>& data, const Deflater& deflater,
                     std::vector<std::uint8_t>& out) {
  z_stream z{};
  if (deflateInit2(&z, deflater.level, Z_DEFLATED, deflater.windowBits, kMemLevel, deflater.strategy) != Z_OK)
    return false;
  const uLong bound = deflateBound(&z, data.size());
  // One call does it all: the family's largest pictures stay within zlib's 32-bit counts.
  bool ok = data.size() <= std::numeric_limits<uInt>::max() && bound <= std::numeric_limits<uInt>::max();
  std::unique_ptr<std::uint8_t[]> buffer = ok ? Untouched(bound) : nullptr;
  if (buffer) {
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = buffer.get();
    z.avail_out = static_cast<uInt>(bound);
    ok = deflate(&z, Z_FINISH) == Z_STREAM_END && Keep(buffer.get(), z.total_out, out);
  }
  deflateEnd(&z);
  return buffer && ok;
}

bool DeflateWithLibdeflate(const std::vector<std::uint8_t>& data, int level, std::vector<std::uint8_t>& out) {
  const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(level), &libdeflate_free_compressor);
  if (!compressor) return false;
  const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), data.size());
  const std::unique_ptr<std::uint8_t[]> buffer = Untouched(bound);
  if (!buffer) return false;
  const std::size_t size =
      libdeflate_zlib_compress(compressor.get(), data.data(), data.size(), buffer.get(), bound);
  return size > 0 && Keep(buffer.get(), size, out);
}

}  // namespace

bool Deflate(const std::vector<std::uint8_t>& data, const Deflater& deflater,
             std::vector<std::uint8_t>& out) {
  return deflater.library == Deflater::Library::kLibdeflate ? DeflateWithLibdeflate(data, deflater.level, out)
                                                            : DeflateWithZlib(data, deflater, out);
}

}  // namespace pngfamily
