// Hostile picture files: valid pictures written by Qt, then cut, flipped and spliced, and a set of
// decompression bombs and impossible headers. Shared by the corpus test, the refusal benchmark and the
// fuzzer's starting corpus.
#pragma once

#include <zlib.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace hostile {

inline std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}
inline std::string Le16(std::uint32_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
inline std::string Le32(std::uint32_t v) { return Le16(v & 0xffff) + Le16(v >> 16); }

inline std::string Chunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const auto crc = static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
  return Be32(static_cast<std::uint32_t>(data.size())) + body + Be32(crc);
}

inline const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

// `count` zero bytes, deflated a megabyte at a time so that nothing large is ever held. Run-length
// matching is all zeros need, and it is the fastest strategy.
inline std::string DeflatedZeros(std::uint64_t count) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_RLE) != Z_OK) throw std::runtime_error("deflateInit2");
  static const std::vector<unsigned char> zeros(1u << 20, 0);
  std::vector<unsigned char> buffer(1u << 16);
  std::string out;
  std::uint64_t left = count;
  int flush = Z_NO_FLUSH;
  do {
    const auto n = static_cast<uInt>(std::min<std::uint64_t>(left, zeros.size()));
    left -= n;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = n;
    flush = left ? Z_NO_FLUSH : Z_FINISH;
    do {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      deflate(&z, flush);
      out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - z.avail_out);
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&z);
  return out;
}

// A PNG of the given size whose pixel data is all zero bytes, compressed: tiny on disk, huge decoded.
inline std::string PngOfZeros(std::uint32_t w, std::uint32_t h, int bitDepth, int colourType) {
  const int channels = colourType == 6 ? 4 : colourType == 2 ? 3 : colourType == 4 ? 2 : 1;
  const std::uint64_t rowBytes = 1 + (std::uint64_t{w} * static_cast<std::uint64_t>(channels * bitDepth) + 7) / 8;
  const std::string ihdr =
      Be32(w) + Be32(h) + std::string{static_cast<char>(bitDepth), static_cast<char>(colourType), 0, 0, 0};
  return kPngSignature + Chunk("IHDR", ihdr) + Chunk("IDAT", DeflatedZeros(rowBytes * h)) + Chunk("IEND", "");
}

// A PNG that declares the given size and holds a few bytes of pixel data only.
inline std::string PngDeclaring(std::uint32_t w, std::uint32_t h) {
  const std::string ihdr = Be32(w) + Be32(h) + std::string("\x08\x02\x00\x00\x00", 5);
  return kPngSignature + Chunk("IHDR", ihdr) + Chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) +
         Chunk("IEND", "");
}

// The chunks placed right behind a PNG's header chunk (signature 8 bytes, IHDR 25).
inline std::string WithChunksAfterHeader(const std::string& png, const std::string& chunks) {
  return png.substr(0, 33) + chunks + png.substr(33);
}

// A GIF89a of one frame, w x h on a screen of the same size, every pixel colour `index` of a table of
// four. Each code is 3 bits wide, a clear code before each pixel; with more than one pixel the data runs
// out early, which is just what a hostile header wants.
inline std::string Gif(std::uint16_t w, std::uint16_t h, unsigned char index) {
  std::string g = "GIF89a" + Le16(w) + Le16(h) + std::string("\xF1\x00\x00", 3);
  g += std::string("\xFF\x00\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF", 12);
  g += std::string("\x2C\x00\x00\x00\x00", 5) + Le16(w) + Le16(h) + std::string(1, '\0');
  g += '\x02';
  const unsigned codes[] = {4, index, 4, index, 5};
  unsigned long bits = 0;
  int count = 0;
  for (unsigned c : codes) {
    bits |= static_cast<unsigned long>(c) << count;
    count += 3;
  }
  std::string data;
  for (int i = 0; i < (count + 7) / 8; ++i) data += static_cast<char>((bits >> (8 * i)) & 0xff);
  g += static_cast<char>(data.size());
  g += data;
  g += '\x00';
  g += ';';
  return g;
}

// A 24-bit BMP that declares w x h and carries `dataBytes` bytes of pixels.
inline std::string BmpDeclaring(std::uint32_t w, std::uint32_t h, std::uint32_t dataBytes) {
  const std::uint64_t imageSize = std::uint64_t{(w * 3 + 3) / 4 * 4} * h;
  std::string info = Le32(40) + Le32(w) + Le32(h) + Le16(1) + Le16(24) + Le32(0) +
                     Le32(static_cast<std::uint32_t>(std::min<std::uint64_t>(imageSize, 0xffffffffu))) + Le32(2835) +
                     Le32(2835) + Le32(0) + Le32(0);
  std::string file = "BM" + Le32(14 + 40 + dataBytes) + Le32(0) + Le32(14 + 40);
  return file + info + std::string(dataBytes, '\x7f');
}

inline std::string ToString(const QByteArray& a) { return {a.constData(), static_cast<std::size_t>(a.size())}; }

// A smooth picture with a little texture, so every encoder has something to say.
inline QImage Smooth(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < w; ++x)
      row[x] = qRgb(x * 255 / std::max(w - 1, 1), y * 255 / std::max(h - 1, 1), ((x / 4 + y / 4) % 2) * 60 + 90);
  }
  return image;
}

inline std::string Encode(const QImage& image, const char* format, bool progressive = false, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  if (progressive) writer.setProgressiveScanWrite(true);
  if (quality >= 0) writer.setQuality(quality);
  if (!writer.write(image)) throw std::runtime_error(std::string("cannot write ") + format);
  return ToString(bytes);
}

struct Valid {
  std::string name;       // short, for file names
  std::string extension;  // with the dot
  std::string bytes;
};

// One small valid file of each format the program reads.
inline std::vector<Valid> ValidFiles() {
  const QImage image = Smooth(48, 32);
  QImage alpha = image.convertToFormat(QImage::Format_ARGB32);
  alpha.setPixel(3, 3, qRgba(10, 20, 30, 40));
  return {
      {"png", ".png", Encode(alpha, "png")},
      {"jpeg", ".jpg", Encode(image, "jpeg", false, 85)},
      {"progressive", ".jpg", Encode(image, "jpeg", true, 85)},
      {"gif", ".gif", Gif(1, 1, 2)},
      {"bmp", ".bmp", Encode(image, "bmp")},
      {"ppm", ".ppm", Encode(image, "ppm")},
      {"xpm", ".xpm", Encode(image.scaled(12, 8), "xpm")},
      {"tiff", ".tif", Encode(image, "tiff")},
      {"webp", ".webp", Encode(image, "webp", false, 80)},
  };
}

struct Hostile {
  std::string name;  // a file name, extension included
  std::string bytes;
};

// Each valid file cut at 8 bytes, at half and one byte short.
inline std::vector<Hostile> Truncations(const std::vector<Valid>& valid) {
  std::vector<Hostile> out;
  for (const Valid& v : valid) {
    out.push_back({"cut8-" + v.name + v.extension, v.bytes.substr(0, 8)});
    out.push_back({"cuthalf-" + v.name + v.extension, v.bytes.substr(0, v.bytes.size() / 2)});
    out.push_back({"cutone-" + v.name + v.extension, v.bytes.substr(0, v.bytes.size() - 1)});
  }
  return out;
}

// `count` files made from the valid ones by bit flips and splices, the same on every run: flips fall
// mostly into the first 64 bytes, where the headers are; splices join the head of one file to the tail of
// another, or copy a stretch of a file over another place in it.
inline std::vector<Hostile> Mutations(const std::vector<Valid>& valid, int count) {
  std::mt19937 random(0x5eed1e55u);
  auto below = [&](std::size_t n) { return n ? static_cast<std::size_t>(random() % n) : 0; };
  std::vector<Hostile> out;
  for (int i = 0; i < count; ++i) {
    const Valid& v = valid[below(valid.size())];
    std::string bytes = v.bytes;
    std::string kind;
    if (i % 3 != 2) {
      kind = "flip";
      const std::size_t flips = 1 + below(8);
      for (std::size_t f = 0; f < flips; ++f) {
        const std::size_t at = random() % 4 ? below(std::min<std::size_t>(bytes.size(), 64)) : below(bytes.size());
        bytes[at] = static_cast<char>(bytes[at] ^ (1 << below(8)));
      }
    } else if (random() % 2) {
      kind = "join";
      const Valid& other = valid[below(valid.size())];
      const std::size_t head = below(bytes.size() + 1);
      const std::size_t tail = below(other.bytes.size() + 1);
      bytes = bytes.substr(0, head) + other.bytes.substr(tail);
    } else {
      kind = "copy";
      const std::size_t from = below(bytes.size());
      const std::size_t to = below(bytes.size());
      const std::size_t n = std::min({below(256) + 1, bytes.size() - from, bytes.size() - to});
      const std::string stretch = bytes.substr(from, n);
      bytes.replace(to, n, stretch);
    }
    std::string number = std::to_string(i);
    number.insert(0, 4 - std::min<std::size_t>(number.size(), 4), '0');
    out.push_back({"m" + number + "-" + kind + "-" + v.name + v.extension, std::move(bytes)});
  }
  return out;
}

// Decompression bombs and impossible headers: every one must be refused, and quickly.
inline std::vector<Hostile> Bombs() {
  return {
      {"bomb-mono-30000.png", PngOfZeros(30000, 30000, 1, 0)},
      {"bomb-rgba-12000.png", PngOfZeros(12000, 12000, 8, 6)},
      {"header-png-0x10.png", PngDeclaring(0, 10)},
      {"header-png-7fffffff.png", PngDeclaring(0x7fffffff, 0x7fffffff)},
      {"header-gif-65535.gif", Gif(65535, 65535, 1)},
      {"header-bmp-50000.bmp", BmpDeclaring(50000, 50000, 16)},
      {"header-ppm-60000.ppm", "P6 60000 60000 255\n" + std::string(16, '\0')},
  };
}

// Hostile but small: these may open or not, as long as nothing goes wrong.
inline std::vector<Hostile> Oddities(const std::vector<Valid>& valid) {
  const std::string png = valid.front().bytes;
  std::string ztxt = "Comment";
  ztxt += '\0';
  ztxt += '\0';  // compression method 0
  ztxt += DeflatedZeros(200ull << 20);
  std::string texts;
  for (int i = 0; i < 10000; ++i) texts += Chunk("tEXt", "Comment" + std::string(1, '\0') + std::to_string(i));
  std::string badCrc = png;
  const std::size_t idat = badCrc.find("IDAT");
  const std::size_t length = (std::size_t{static_cast<unsigned char>(badCrc[idat - 4])} << 24) |
                             (std::size_t{static_cast<unsigned char>(badCrc[idat - 3])} << 16) |
                             (std::size_t{static_cast<unsigned char>(badCrc[idat - 2])} << 8) |
                             std::size_t{static_cast<unsigned char>(badCrc[idat - 1])};
  badCrc[idat + 4 + length] = static_cast<char>(badCrc[idat + 4 + length] ^ 0x55);
  std::mt19937 random(0x0dd1e5u);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string jpeg;
  for (const Valid& v : valid)
    if (v.name == "jpeg") jpeg = v.bytes;
  return {
      {"ztxt-200mb.png", WithChunksAfterHeader(png, Chunk("zTXt", ztxt))},
      {"text-10000.png", WithChunksAfterHeader(png, texts)},
      {"bad-crc.png", badCrc},
      {"empty.png", ""},
      {"empty.jpg", ""},
      {"noise.png", noise},
      {"jpeg-named.png", jpeg},
  };
}

}  // namespace hostile
