#include "Deflate.h"

#include <libdeflate.h>

#include <limits>
#include <memory>

namespace pngfamily {
namespace {

constexpr int kMemLevel = 9;

bool DeflateWithZlib(const std::vector<std::uint8_t>& data, const Deflater& deflater,
                     std::vector<std::uint8_t>& out) {
  z_stream z{};
  if (deflateInit2(&z, deflater.level, Z_DEFLATED, deflater.windowBits, kMemLevel, deflater.strategy) != Z_OK)
    return false;
  const uLong bound = deflateBound(&z, data.size());
  // One call does it all: the family's largest pictures stay within zlib's 32-bit counts.
  bool ok = data.size() <= std::numeric_limits<uInt>::max() && bound <= std::numeric_limits<uInt>::max();
  if (ok) {
    try {
      out.resize(bound);
    } catch (...) {
      ok = false;
    }
  }
  if (ok) {
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    ok = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(z.total_out);
  }
  deflateEnd(&z);
  return ok;
}

bool DeflateWithLibdeflate(const std::vector<std::uint8_t>& data, int level, std::vector<std::uint8_t>& out) {
  const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
      libdeflate_alloc_compressor(level), &libdeflate_free_compressor);
  if (!compressor) return false;
  try {
    out.resize(libdeflate_zlib_compress_bound(compressor.get(), data.size()));
  } catch (...) {
    return false;
  }
  const std::size_t size =
      libdeflate_zlib_compress(compressor.get(), data.data(), data.size(), out.data(), out.size());
  out.resize(size);
  return size > 0;
}

}  // namespace

bool Deflate(const std::vector<std::uint8_t>& data, const Deflater& deflater,
             std::vector<std::uint8_t>& out) {
  return deflater.library == Deflater::Library::kLibdeflate ? DeflateWithLibdeflate(data, deflater.level, out)
                                                            : DeflateWithZlib(data, deflater, out);
}

}  // namespace pngfamily
