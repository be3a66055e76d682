// Whole buffers deflated into zlib streams, by zlib with a level and strategy or by libdeflate.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

namespace pngfamily {

struct Deflater {
  enum class Library { kZlib, kLibdeflate };
  Library library = Library::kZlib;
  int level = 9;
  int strategy = Z_DEFAULT_STRATEGY;  // zlib's, as its window; libdeflate's are fixed
  int windowBits = 15;
};

// The zlib stream of `data`, with zlib's largest memory; replaces `out`. False when out of memory.
bool Deflate(const std::vector<std::uint8_t>& data, const Deflater& deflater, std::vector<std::uint8_t>& out);

}  // namespace pngfamily
