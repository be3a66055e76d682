#include "Optimizer.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "Deflate.h"
#include "Files.h"
#include "PngCodec.h"

namespace pngfamily {
namespace {

// Larger files are refused unread, so a huge file can't take all the memory.
constexpr std::size_t kMaxInputBytes = std::size_t{1} << 31;

std::uint32_t PackRgba8(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) noexcept {
  return (r << 24) | (g << 16) | (b << 8) | a;
}

// Up to 256 RGBA colours, each with the number it was added under and a value of the caller's.
class ColourTable {
 public:
  static constexpr int kLimit = 256;

  ColourTable() { slots_.fill(-1); }

  // The colour's number, adding it when new; -1 when it is new and the table is full.
  int Add(std::uint32_t colour, std::uint8_t value = 0) noexcept {
    std::size_t s = Slot(colour);
    for (; slots_[s] >= 0; s = (s + 1) & (kSlots - 1))
      if (keys_[s] == colour) return slots_[s];
    if (count_ == kLimit) return -1;
    keys_[s] = colour;
    slots_[s] = static_cast<std::int16_t>(count_);
    colours_[static_cast<std::size_t>(count_)] = colour;
    values_[static_cast<std::size_t>(count_)] = value;
    return count_++;
  }

  int Find(std::uint32_t colour) const noexcept {
    for (std::size_t s = Slot(colour); slots_[s] >= 0; s = (s + 1) & (kSlots - 1))
      if (keys_[s] == colour) return slots_[s];
    return -1;
  }

  int Count() const noexcept { return count_; }
  std::uint32_t Colour(int number) const noexcept { return colours_[static_cast<std::size_t>(number)]; }
  std::uint8_t Value(int number) const noexcept { return values_[static_cast<std::size_t>(number)]; }

 private:
  static constexpr std::size_t kSlots = 1024;  // at most a quarter full
  static std::size_t Slot(std::uint32_t colour) noexcept { return (colour * 2654435761u) >> 22; }

  std::array<std::uint32_t, kSlots> keys_{};
  std::array<std::int16_t, kSlots> slots_{};
  std::array<std::uint32_t, kLimit> colours_{};
  std::array<std::uint8_t, kLimit> values_{};
  int count_ = 0;
};

// The fewest grey bits that give back an 8-bit level exactly: 1-bit levels are multiples of 255, 2-bit
// of 85, 4-bit of 17.
constexpr std::array<std::uint8_t, 256> kGreyBits = [] {
  std::array<std::uint8_t, 256> bits{};
  for (int v = 0; v < 256; ++v)
    bits[static_cast<std::size_t>(v)] = v % 255 == 0 ? 1 : v % 85 == 0 ? 2 : v % 17 == 0 ? 4 : 8;
  return bits;
}();

struct Stats {
  bool grey = true;
  bool opaque = true;
  bool binaryAlpha = true;  // every alpha none or full
  bool narrow = true;       // every 16-bit sample repeats its byte, so 8 bits hold it
  bool anyTransparent = false;
  bool keyShared = true;  // the transparent pixels have one colour...
  bool keyClash = false;  // ...which no opaque pixel has
  std::array<std::uint32_t, 3> key{};
  int greyBits = 1;  // of the 8-bit levels
  ColourTable colours;
  bool manyColours = false;
};

template <typename T>
constexpr std::uint32_t kFull = sizeof(T) == 1 ? 255u : 65535u;

template <typename T>
std::uint32_t Top8(std::uint32_t v) noexcept {
  return sizeof(T) == 1 ? v : v >> 8;
}

template <typename T>
std::uint64_t PixelWord(const T* p) noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, p, 4 * sizeof(T));
  return word;
}

template <typename T>
void Analyse(const T* samples, std::size_t count, Stats& s) {
  // Every statistic depends only on which pixel values occur, so a value met lately is passed over.
  constexpr std::size_t kRecent = 64;
  std::array<std::uint64_t, kRecent> recent;
  recent.fill(PixelWord(samples));
  bool first = true;
  for (std::size_t i = 0; i < count; ++i) {
    const T* p = samples + i * 4;
    const std::uint64_t word = PixelWord(p);
    std::uint64_t& seen = recent[(word ^ (word >> 29) ^ (word >> 41)) * 0x9E3779B97F4A7C15ull >> 58];
    if (seen == word && !first) continue;
    seen = word;
    first = false;
    const std::uint32_t r = p[0], g = p[1], b = p[2], a = p[3];
    if (r != g || g != b) s.grey = false;
    if (a != kFull<T>) {
      s.opaque = false;
      if (a != 0) s.binaryAlpha = false;
    }
    if (a == 0) {
      if (!s.anyTransparent) {
        s.anyTransparent = true;
        s.key = {r, g, b};
      } else if (s.key[0] != r || s.key[1] != g || s.key[2] != b) {
        s.keyShared = false;
      }
    }
    if constexpr (sizeof(T) == 2) {
      for (std::uint32_t v : {r, g, b, a})
        if ((v >> 8) != (v & 255)) s.narrow = false;
    }
    s.greyBits = std::max<int>(s.greyBits, kGreyBits[Top8<T>(r)]);
    if (!s.manyColours && s.colours.Add(PackRgba8(Top8<T>(r), Top8<T>(g), Top8<T>(b), Top8<T>(a))) < 0)
      s.manyColours = true;
  }
  if (!s.opaque && s.binaryAlpha && s.keyShared) {
    for (std::size_t i = 0; i < count && !s.keyClash; ++i) {
      const T* p = samples + i * 4;
      s.keyClash = p[3] == kFull<T> && p[0] == s.key[0] && p[1] == s.key[1] && p[2] == s.key[2];
    }
  }
}

// A sample of the image at a stored bit depth (the depth already known to hold it exactly).
template <typename T>
std::uint32_t Stored(std::uint32_t v, int depth) noexcept {
  if (depth == 16) return v;
  return Top8<T>(v) >> (8 - depth);
}

// Grey or colour, with alpha, a transparent key or neither, at the smallest exact depth allowed.
std::optional<Format> TruecolourFormat(const Decoded& source, const Stats& s,
                                       const OptimizeOptions& options) {
  const Format& in = source.format;
  const bool wide = source.pixels.wide;
  bool grey, alpha, key;
  if (options.colorTypeReduction) {
    grey = s.grey;
    key = !s.opaque && s.binaryAlpha && s.keyShared && !s.keyClash;
    alpha = !s.opaque && !key;
  } else {
    if (in.colorType == PNG_COLOR_TYPE_PALETTE) return std::nullopt;
    grey = !(in.colorType & PNG_COLOR_MASK_COLOR);
    alpha = (in.colorType & PNG_COLOR_MASK_ALPHA) != 0;
    key = in.hasKey && !s.opaque;  // a key nothing matches is no transparency at all
  }
  int depth = wide && !(options.bitDepthReduction && s.narrow) ? 16 : 8;
  if (depth == 8 && grey && !alpha && options.bitDepthReduction) depth = s.greyBits;
  if (!options.bitDepthReduction && depth != in.bitDepth) {
    // Below 8 bits only grey without alpha exists, and only if its levels fit the stored depth.
    if (in.bitDepth > 8 || depth > 8 || !grey || alpha || s.greyBits > in.bitDepth) return std::nullopt;
    depth = in.bitDepth;
  }
  Format out;
  out.colorType = grey ? (alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                       : (alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
  out.bitDepth = depth;
  if (key) {
    const auto level = [&](std::uint32_t v) {
      return static_cast<png_uint_16>(wide ? Stored<std::uint16_t>(v, depth)
                                           : Stored<std::uint8_t>(v, depth));
    };
    out.hasKey = true;
    out.key.gray = level(s.key[0]);
    out.key.red = level(s.key[0]);
    out.key.green = level(s.key[1]);
    out.key.blue = level(s.key[2]);
  }
  return out;
}

// The image's own colours as a palette, transparent ones first so tRNS stays short.
std::optional<Format> PaletteFormat(const Decoded& source, const Stats& s, const OptimizeOptions& options) {
  const Format& in = source.format;
  if (!options.paletteReduction || s.manyColours || !s.narrow) return std::nullopt;
  if (!options.colorTypeReduction && in.colorType != PNG_COLOR_TYPE_PALETTE) return std::nullopt;
  const int count = s.colours.Count();
  int depth = 1;
  while ((1 << depth) < count) depth *= 2;
  if (!options.bitDepthReduction) {
    if (in.bitDepth > 8 || (1 << in.bitDepth) < count) return std::nullopt;
    depth = in.bitDepth;
  }
  std::vector<std::uint32_t> colours;
  for (int i = 0; i < count; ++i) colours.push_back(s.colours.Colour(i));
  std::sort(colours.begin(), colours.end(), [](std::uint32_t a, std::uint32_t b) {
    return (a & 255) != (b & 255) ? (a & 255) < (b & 255) : a < b;
  });
  Format out;
  out.colorType = PNG_COLOR_TYPE_PALETTE;
  out.bitDepth = depth;
  for (std::uint32_t c : colours) {
    out.palette.push_back(png_color{static_cast<png_byte>(c >> 24), static_cast<png_byte>(c >> 16),
                                    static_cast<png_byte>(c >> 8)});
    if ((c & 255) != 255) out.paletteAlpha.push_back(static_cast<png_byte>(c));
  }
  return out;
}

// The image's rows in a format's stored layout.
template <typename T>
bool Pack(const Rgba& image, const T* samples, const Format& format, StoredRows& out) {
  const int depth = format.bitDepth;
  const std::size_t rowBytes =
      (std::size_t{image.width} * static_cast<std::size_t>(BitsPerPixel(format)) + 7) / 8;
  out.width = image.width;
  out.height = image.height;
  out.rowBytes = rowBytes;
  out.bytes.assign(rowBytes * image.height, 0);

  ColourTable lookup;
  if (format.colorType == PNG_COLOR_TYPE_PALETTE) {
    // A palette may list a colour twice; the first entry stands for it.
    for (std::size_t i = 0; i < format.palette.size(); ++i) {
      const png_color& c = format.palette[i];
      const std::uint32_t alpha = i < format.paletteAlpha.size() ? format.paletteAlpha[i] : 255;
      lookup.Add(PackRgba8(c.red, c.green, c.blue, alpha), static_cast<std::uint8_t>(i));
    }
  }
  // Neighbours mostly share a colour, so the last answer is kept. -1: a colour the palette lacks.
  std::uint32_t lastColour = 0;
  int lastIndex = -1;
  auto indexOf = [&](const T* p) {
    const std::uint32_t colour = PackRgba8(Top8<T>(p[0]), Top8<T>(p[1]), Top8<T>(p[2]), Top8<T>(p[3]));
    if (colour != lastColour || lastIndex < 0) {
      const int number = lookup.Find(colour);
      if (number < 0) return -1;
      lastColour = colour;
      lastIndex = lookup.Value(number);
    }
    return lastIndex;
  };
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::uint8_t* row = out.Row(y);
    const T* p = samples + std::size_t{y} * image.width * 4;
    if (depth < 8) {
      const int perByte = 8 / depth;
      for (std::uint32_t x = 0; x < image.width; ++x, p += 4) {
        std::uint32_t v;
        if (format.colorType == PNG_COLOR_TYPE_PALETTE) {
          const int index = indexOf(p);
          if (index < 0) return false;
          v = static_cast<std::uint32_t>(index);
        } else {
          v = Stored<T>(p[0], depth);
        }
        const int shift = 8 - depth * (1 + static_cast<int>(x % static_cast<std::uint32_t>(perByte)));
        row[x / static_cast<std::uint32_t>(perByte)] |= static_cast<std::uint8_t>(v << shift);
      }
      continue;
    }
    std::uint8_t* o = row;
    auto put = [&](std::uint32_t v) {
      if (depth == 16) {
        *o++ = static_cast<std::uint8_t>(v >> 8);
        *o++ = static_cast<std::uint8_t>(v);
      } else {
        *o++ = static_cast<std::uint8_t>(Top8<T>(v));
      }
    };
    for (std::uint32_t x = 0; x < image.width; ++x, p += 4) {
      switch (format.colorType) {
        case PNG_COLOR_TYPE_PALETTE: {
          const int index = indexOf(p);
          if (index < 0) return false;
          *o++ = static_cast<std::uint8_t>(index);
          break;
        }
        case PNG_COLOR_TYPE_GRAY:
          put(p[0]);
          break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
          put(p[0]);
          put(p[3]);
          break;
        case PNG_COLOR_TYPE_RGB:
          put(p[0]);
          put(p[1]);
          put(p[2]);
          break;
        default:
          put(p[0]);
          put(p[1]);
          put(p[2]);
          put(p[3]);
          break;
      }
    }
  }
  return true;
}

bool Pack(const Rgba& image, const Format& format, StoredRows& out) {
  if (format.bitDepth == 16 && !image.wide) return false;
  return image.wide ? Pack(image, image.samples16.data(), format, out)
                    : Pack(image, image.narrow.data(), format, out);
}

// Runs job(0) to job(count - 1) on up to one thread per hardware thread, the caller's among them. A job
// that throws (out of memory) is dropped; the others still run.
void SideBySide(std::size_t count, const std::function<void(std::size_t)>& job) {
  const std::size_t workers = std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), count);
  std::atomic<std::size_t> next{0};
  auto work = [&]() noexcept {
    for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) {
      try {
        job(i);
      } catch (...) {
      }
    }
  };
  std::vector<std::thread> threads;
  try {
    for (std::size_t t = 1; t < workers; ++t) threads.emplace_back(work);
  } catch (...) {
    // No more threads to be had: the others take up the jobs.
  }
  work();
  for (std::thread& t : threads) t.join();
}

constexpr RowFilter kFilters[] = {RowFilter::kNone,    RowFilter::kSub,   RowFilter::kUp,
                                  RowFilter::kAverage, RowFilter::kPaeth, RowFilter::kAdaptive};

// Filters are ranked by a quick deflate, which mostly ranks them as a thorough one would, at a fraction of
// the cost.
constexpr Deflater kQuick{.library = Deflater::Library::kLibdeflate, .level = 1};

constexpr Deflater kNearOptimal{.library = Deflater::Library::kLibdeflate, .level = 12};

// Dithered rows hold few repeats worth a match: there zlib wins by dropping short matches, or with runs
// alone; elsewhere libdeflate's near-optimal parsing mostly does.
constexpr Deflater kThorough[] = {
    {.library = Deflater::Library::kZlib, .level = 9, .strategy = Z_FILTERED},
    {.library = Deflater::Library::kZlib, .level = 9, .strategy = Z_RLE},
    {.library = Deflater::Library::kZlib, .level = 9, .strategy = Z_DEFAULT_STRATEGY},
    kNearOptimal,
};

// Packed rows that the quick deflate brings under a thirty-second of their size are flat: white pages,
// stripes, drawings, a few lines of text. On them the quick ranking of filters misleads, and zlib, cheap
// there, tries every filter. libdeflate's near-optimal parse takes some thirty times as long (0.7 s on
// a white 4000 x 4000 page against 20 ms) and, past a quarter megabyte of rows, mostly comes out larger
// (white pages 7 %, a few lines of text 15 %); below, it is quick and often smaller (a drawn disc 3 to 10 %),
// so it tries the rows unfiltered and the quick choice. Wider rows as flat (screenshots) keep the thorough
// trials: libdeflate makes them 5 to 12 % smaller.
constexpr std::size_t kFlatShare = 32;
constexpr std::size_t kFlatParseLimit = std::size_t{1} << 18;
constexpr Deflater kFlat{.library = Deflater::Library::kZlib, .level = 9};

// Packed rows that the quick deflate can't bring under a quarter of their size unfiltered are dithered
// photographs: filtered they came out no smaller (twelve photographs and the engine's result), so the other
// filters aren't ranked for them.
constexpr std::size_t kDitheredShare = 4;

// Past a megabyte of rows zlib searches half its window: the far half costs half as much time again and
// has given dithered rows nothing back (the engine's 4096 x 4096 result comes out 33 bytes smaller without).
constexpr std::size_t kWideWindowLimit = std::size_t{1} << 20;
constexpr int kWideWindowBits = 15, kNarrowWindowBits = 14;

// The smallest PNG of the rows found: the filter that deflates best quickly, deflated thoroughly in each
// way (flat packed rows get the trials told above), beside a plain libpng write so the result is never
// worse than one. The filters work on bytes at every depth, so packed rows of 1, 2 or 4 bits are filtered
// too: under Up, a white page's rows become zeros.
bool SmallestEncoding(const Format& format, const StoredRows& rows, png_fixed_point gamma,
                      std::vector<std::uint8_t>& best) {
  const int bits = BitsPerPixel(format);
  // Packed rows, small, are kept filtered for the thorough trials; wider ones are filtered again, so no
  // thread holds more than one filtered copy of them at a time.
  constexpr std::size_t kFilterCount = std::size(kFilters);
  std::array<std::vector<std::uint8_t>, kFilterCount> filtered;
  std::array<bool, kFilterCount> made{};
  std::array<std::size_t, kFilterCount> quick;
  quick.fill(SIZE_MAX);
  const auto rank = [&](std::size_t i) {
    FilterRows(rows, bits, kFilters[i], filtered[i]);
    std::vector<std::uint8_t> stream;
    if (Deflate(filtered[i], kQuick, stream)) quick[i] = stream.size();
    if (bits < 8)
      made[i] = true;
    else
      filtered[i] = {};
  };
  const std::size_t filteredSize = (rows.rowBytes + 1) * rows.height;
  static_assert(kFilters[0] == RowFilter::kNone);
  std::size_t ranked = 0;
  if (bits < 8) {
    rank(0);
    ranked = quick[0] < filteredSize / kDitheredShare ? 1 : kFilterCount;
  }
  SideBySide(kFilterCount - ranked, [&](std::size_t i) { rank(ranked + i); });
  const std::size_t chosen =
      static_cast<std::size_t>(std::min_element(quick.begin(), quick.end()) - quick.begin());
  const bool flat = bits < 8 && quick[chosen] < filteredSize / kFlatShare;
  const int windowBits = filteredSize > kWideWindowLimit ? kNarrowWindowBits : kWideWindowBits;

  struct Trial {
    std::size_t filter;
    Deflater deflater;
  };
  std::vector<Trial> trials;
  if (flat) {
    for (std::size_t i = 0; i < kFilterCount; ++i) trials.push_back({i, kFlat});
    if (filteredSize <= kFlatParseLimit) {
      trials.push_back({0, kNearOptimal});
      if (chosen != 0) trials.push_back({chosen, kNearOptimal});
    }
  } else {
    for (const Deflater& deflater : kThorough) trials.push_back({chosen, deflater});
    for (std::size_t i = 0; i < kFilterCount; ++i)
      if (i != chosen) filtered[i] = {};
    if (!made[chosen]) {
      FilterRows(rows, bits, kFilters[chosen], filtered[chosen]);
      made[chosen] = true;
    }
  }

  std::vector<std::vector<std::uint8_t>> results(trials.size() + 1);
  SideBySide(results.size(), [&](std::size_t i) {
    std::vector<std::uint8_t>& out = results[i];
    if (i == trials.size()) {
      if (!Encode(format, rows, gamma, out)) out.clear();
      return;
    }
    const Trial& trial = trials[i];
    Deflater deflater = trial.deflater;
    deflater.windowBits = windowBits;
    std::vector<std::uint8_t> stream;
    if (!made[trial.filter] || !Deflate(filtered[trial.filter], deflater, stream) ||
        !Assemble(format, rows.width, rows.height, gamma, stream, out))
      out.clear();
  });
  // Ties go to the earlier trial, so the result doesn't depend on which thread ran what.
  std::size_t winner = results.size();
  for (std::size_t i = 0; i < results.size(); ++i)
    if (!results[i].empty() && (winner == results.size() || results[i].size() < results[winner].size()))
      winner = i;
  if (winner == results.size()) return false;
  best = std::move(results[winner]);
  return true;
}

// The smallest encoding of 1-bit grey rows without transparency, checked to decode to the same rows.
// Nothing in such rows can be reduced, so they are encoded as they are stored.
bool SmallestOneBitGrey(const DecodedRows& source, std::vector<std::uint8_t>& result) {
  if (!SmallestEncoding(source.format, source.rows, source.gamma, result)) return false;
  DecodedRows check;
  return DecodeStored(result.data(), result.size(), check) && check.format.colorType == PNG_COLOR_TYPE_GRAY &&
         check.format.bitDepth == 1 && !check.format.hasKey && check.rows.width == source.rows.width &&
         check.rows.height == source.rows.height && check.rows.bytes == source.rows.bytes;
}

// The smallest encoding in the formats the options allow for the input's pixels, checked to decode to them.
bool SmallestReduced(const std::vector<std::uint8_t>& input, const OptimizeOptions& options,
                     std::vector<std::uint8_t>& result) {
  Decoded source;
  if (!Decode(input.data(), input.size(), false, source)) return false;
  const Rgba& image = source.pixels;
  const std::size_t pixelCount = std::size_t{image.width} * image.height;

  Stats stats;
  if (image.wide)
    Analyse(image.samples16.data(), pixelCount, stats);
  else
    Analyse(image.narrow.data(), pixelCount, stats);

  // Fewest bits a pixel first; on a tie truecolour (no palette to store), then the new palette.
  std::vector<Format> formats;
  if (auto f = TruecolourFormat(source, stats, options)) formats.push_back(std::move(*f));
  if (auto f = PaletteFormat(source, stats, options)) formats.push_back(std::move(*f));
  formats.push_back(source.format);  // as stored: always allowed
  std::stable_sort(formats.begin(), formats.end(),
                   [](const Format& a, const Format& b) { return BitsPerPixel(a) < BitsPerPixel(b); });

  const png_fixed_point gamma = source.hasGamma ? source.gamma : 0;
  for (const Format& format : formats) {
    StoredRows rows;
    if (Pack(image, format, rows) && SmallestEncoding(format, rows, gamma, result) &&
        DecodesTo(result.data(), result.size(), image))
      return true;
  }
  return false;
}

}  // namespace

bool OptimizeFile(const std::string& inputPath, const std::string& outputPath,
                  const OptimizeOptions& options) {
  // errno tells the caller why: a failed write's own error, 0 for an input that isn't a PNG it can read.
  errno = 0;
  std::vector<std::uint8_t> input;
  if (inputPath.empty() || outputPath.empty() || !ReadWholeFile(inputPath, kMaxInputBytes, input)) {
    errno = 0;
    return false;
  }
  // The family's own saves are 1-bit grey: they skip the widening to RGBA and back that reductions need.
  std::vector<std::uint8_t> result;
  DecodedRows oneBit;
  const bool irreducible = DeclaresOneBitGrey(input.data(), input.size()) &&
                           DecodeStored(input.data(), input.size(), oneBit) && !oneBit.format.hasKey;
  if (!(irreducible ? SmallestOneBitGrey(oneBit, result) : SmallestReduced(input, options, result))) {
    errno = 0;
    return false;
  }
  // Forced, the file is written anew all the same, but never larger than an input already laid out plainly.
  if (options.force && input.size() < result.size() && WrittenPlainly(input.data(), input.size()))
    result.swap(input);

  if (options.force || result.size() < input.size())
    return WriteFileAtomically(outputPath, result.data(), result.size());
  if (SameFile(inputPath, outputPath)) return true;
  return WriteFileAtomically(outputPath, input.data(), input.size());
}

}  // namespace pngfamily
