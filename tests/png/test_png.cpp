// The PNG plug-in family, loaded as the program loads it: SaveAsPNGQZB, PNGOptimizerQZB, BundleFolderQZB.
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PngCodec.h"
#include "TestSupport.h"
#include "framework/FolderItem.h"
#include "framework/Picture.h"
#include "framework/PictureFile.h"
#include "framework/PluginHost.h"
#include "framework/PluginObject.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr const char* kSaveKey = "Folderitem.SaveAsPNGQZB(pic as picture, gamma as single) as boolean";
constexpr const char* kOptimizeKey = "PNGOptimizerQZB.Optimize as boolean";
constexpr const char* kOptimizerInitKey = "PNGOptimizerQZB.__init";
constexpr const char* kOptimizerExitKey = "PNGOptimizerQZB.__exit";
constexpr const char* kBundleKey = "application.BundleFolderQZB as folderitem";

using SaveFn = bool (*)(REALfolderItem, REALpicture, float);
using OptimizeFn = bool (*)(REALobject);
using BundleFn = REALfolderItem (*)(REALobject);

// ---- PNG files seen from outside ----

std::uint32_t Be32(const std::string& s, std::size_t at) {
  return (std::uint32_t{static_cast<unsigned char>(s[at])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(s[at + 1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(s[at + 2])} << 8) | static_cast<unsigned char>(s[at + 3]);
}

struct Chunk {
  std::string type;
  std::string data;
};

std::vector<Chunk> Chunks(const std::string& file) {
  std::vector<Chunk> chunks;
  for (std::size_t at = 8; at + 12 <= file.size();) {
    const std::uint32_t length = Be32(file, at);
    if (at + 12 + length > file.size()) break;
    chunks.push_back({file.substr(at + 4, 4), file.substr(at + 8, length)});
    at += 12 + length;
  }
  return chunks;
}

std::vector<std::string> ChunkTypes(const std::string& file) {
  std::vector<std::string> types;
  for (const Chunk& c : Chunks(file)) types.push_back(c.type);
  return types;
}

bool HasChunk(const std::string& file, const std::string& type) {
  const auto types = ChunkTypes(file);
  return std::find(types.begin(), types.end(), type) != types.end();
}

struct Header {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bitDepth = 0;
  int colorType = -1;
};

Header HeaderOf(const std::string& file) {
  Header h;
  const auto chunks = Chunks(file);
  if (file.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0 || chunks.empty() || chunks[0].type != "IHDR" ||
      chunks[0].data.size() != 13)
    return h;
  h.width = Be32(chunks[0].data, 0);
  h.height = Be32(chunks[0].data, 4);
  h.bitDepth = static_cast<unsigned char>(chunks[0].data[8]);
  h.colorType = static_cast<unsigned char>(chunks[0].data[9]);
  return h;
}

std::optional<std::uint32_t> GammaOf(const std::string& file) {
  for (const Chunk& c : Chunks(file))
    if (c.type == "gAMA" && c.data.size() == 4) return Be32(c.data, 0);
  return std::nullopt;
}

// Pixels as 16-bit RGBA, 8-bit samples widened by repetition, so files of any format compare.
struct Rgba16 {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint16_t> samples;
  bool operator==(const Rgba16&) const = default;
};

struct Reader {
  const std::string* bytes;
  std::size_t at;
};

[[noreturn]] void JumpOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep out, png_size_t length) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (r->bytes->size() - r->at < length) png_error(png, "short");
  std::memcpy(out, r->bytes->data() + r->at, length);
  r->at += length;
}

// Only plain locals in the frame that jumps; the pixel vector belongs to the caller.
bool DecodeInto(const std::string& bytes, Rgba16& out, std::vector<png_bytep>& rows) {
  Reader reader{&bytes, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, &JumpOnError, &IgnoreWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, &ReadBytes);
  png_read_info(png, info);
  out.width = png_get_image_width(png, info);
  out.height = png_get_image_height(png, info);
  const int colorType = png_get_color_type(png, info);
  png_set_expand(png);
  png_set_expand_16(png);
  png_set_gray_to_rgb(png);
  if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS))
    png_set_filler(png, 0xffff, PNG_FILLER_AFTER);
  if (std::endian::native == std::endian::little) png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != std::size_t{out.width} * 8) png_error(png, "layout");
  out.samples.assign(std::size_t{out.width} * out.height * 4, 0);
  rows.resize(out.height);
  for (std::uint32_t y = 0; y < out.height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(out.samples.data() + std::size_t{y} * out.width * 4);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

std::optional<Rgba16> Decode(const std::string& bytes) {
  Rgba16 out;
  std::vector<png_bytep> rows;
  if (!DecodeInto(bytes, out, rows)) return std::nullopt;
  return out;
}

// ---- PNG files made for the optimiser ----

// A PNG to make: its header, its rows as stored, and the chunks that go with them.
struct StoredPng {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colorType = PNG_COLOR_TYPE_RGB;
  int bitDepth = 8;
  bool interlace = false;
  std::vector<std::uint8_t> raw;  // stored rows
  std::vector<png_color> palette;
  std::vector<png_byte> paletteAlpha;
  std::optional<png_color_16> key;
  std::optional<png_fixed_point> gamma;
};

int Channels(int colorType) {
  switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB:
      return 3;
    default:
      return 4;
  }
}

std::size_t RowBytes(const StoredPng& s) {
  return (std::size_t{s.width} * static_cast<std::size_t>(Channels(s.colorType) * s.bitDepth) + 7) / 8;
}

// A PNG whose stored sample (x, y, channel) is sample(x, y, channel), masked to the bit depth.
StoredPng MakeStored(std::uint32_t width, std::uint32_t height, int colorType, int bitDepth,
                     const std::function<std::uint32_t(std::uint32_t, std::uint32_t, int)>& sample) {
  StoredPng s;
  s.width = width;
  s.height = height;
  s.colorType = colorType;
  s.bitDepth = bitDepth;
  const std::size_t rowBytes = RowBytes(s);
  s.raw.assign(rowBytes * height, 0);
  const int channels = Channels(colorType);
  const std::uint32_t mask = bitDepth == 16 ? 0xFFFF : (1u << bitDepth) - 1;
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* row = s.raw.data() + rowBytes * y;
    std::size_t bit = 0;
    for (std::uint32_t x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c, bit += static_cast<std::size_t>(bitDepth)) {
        const std::uint32_t v = sample(x, y, c) & mask;
        if (bitDepth == 16) {
          row[bit / 8] = static_cast<std::uint8_t>(v >> 8);
          row[bit / 8 + 1] = static_cast<std::uint8_t>(v);
        } else if (bitDepth == 8) {
          row[bit / 8] = static_cast<std::uint8_t>(v);
        } else {
          row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - bitDepth - static_cast<int>(bit % 8)));
        }
      }
  }
  return s;
}

// The rows of a PNG to make, as the codec holds them.
pngfamily::StoredRows StoredRowsOf(const StoredPng& s) {
  pngfamily::StoredRows rows;
  rows.width = s.width;
  rows.height = s.height;
  rows.rowBytes = RowBytes(s);
  rows.bytes = s.raw;
  return rows;
}

struct Writer {
  std::string* out;
};

void WriteBytes(png_structp png, png_bytep data, png_size_t length) {
  static_cast<Writer*>(png_get_io_ptr(png))->out->append(reinterpret_cast<const char*>(data), length);
}
void FlushNothing(png_structp) {}

// libpng with its own defaults throughout: what a plain write gives.
bool EncodeInto(const StoredPng& s, std::string& out, std::vector<png_bytep>& rows) {
  Writer writer{&out};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, &JumpOnError, &IgnoreWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &writer, &WriteBytes, &FlushNothing);
  png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colorType,
               s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (s.gamma) png_set_gAMA_fixed(png, info, *s.gamma);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.paletteAlpha.empty())
    png_set_tRNS(png, info, s.paletteAlpha.data(), static_cast<int>(s.paletteAlpha.size()), nullptr);
  if (s.key) png_set_tRNS(png, info, nullptr, 0, &*s.key);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

std::string Encode(StoredPng s) {
  std::string out;
  std::vector<png_bytep> rows(s.height);
  for (std::uint32_t y = 0; y < s.height; ++y) rows[y] = s.raw.data() + RowBytes(s) * y;
  EXPECT_TRUE(EncodeInto(s, out, rows));
  return out;
}

// Chunks laid in directly behind IHDR.
std::string WithChunksAfterHeader(const std::string& png, const std::string& chunks) {
  return png.substr(0, 33) + chunks + png.substr(33);
}

std::uint32_t Mix(std::uint32_t x, std::uint32_t y, int c) {
  std::uint32_t v =
      x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ static_cast<std::uint32_t>(c) * 0xC2B2AE3Du;
  v ^= v >> 15;
  v *= 0x2C1B3C6Du;
  return v ^ (v >> 13);
}

// Smooth with some noise, as photographs are: compressible, yet not trivially.
std::uint32_t Photo(std::uint32_t x, std::uint32_t y, int c) {
  return (x * (2 + static_cast<std::uint32_t>(c)) + y * 3 + (Mix(x, y, c) & 7)) & 255;
}

std::vector<png_color> Palette(int count) {
  std::vector<png_color> palette;
  for (int i = 0; i < count; ++i)
    palette.push_back(png_color{static_cast<png_byte>(i * 37), static_cast<png_byte>(i * 91 + 7),
                                static_cast<png_byte>(i * 173 + 50)});
  return palette;
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(022);
  umask(mask);
  return mask;
}

// File sizes beyond `bytes` fail with EFBIG, as on a full disk, while this lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &small) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, SIG_DFL);
  }
  bool Active() const { return active_; }

 private:
  rlimit saved_{};
  bool active_ = false;
};

// ---- the fixture ----

// The optimiser's four flags, all off unless named.
struct Settings {
  bool noColorType = false;
  bool noBitDepth = false;
  bool noPalette = false;
  bool force = false;
};

class PngFamilyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::LoadBundlePlugins(); }

  template <typename Fn>
  static Fn Routine(const std::string& key) {
    void* address = fw::RuntimeLookupPluginEntrypoint(key);
    EXPECT_NE(address, nullptr) << key;
    return reinterpret_cast<Fn>(address);
  }

  static fw::Ref<fw::FolderItem> Item(const fs::path& path) { return fw::MakeRef<fw::FolderItem>(path); }

  static REALfolderItem ToREAL(const fw::Ref<fw::FolderItem>& item) {
    return reinterpret_cast<REALfolderItem>(static_cast<fw::Object*>(item.get()));
  }
  static REALpicture ToREAL(const fw::Ref<fw::Picture>& picture) {
    return reinterpret_cast<REALpicture>(static_cast<fw::Object*>(picture.get()));
  }

  static bool Save(const fs::path& target, const fw::Ref<fw::Picture>& picture, float gamma = 1.0f) {
    return Routine<SaveFn>(kSaveKey)(ToREAL(Item(target)), ToREAL(picture), gamma);
  }

  static fw::Ref<fw::PluginObject> Optimizer(const fs::path& input, const fs::path& output, Settings s = {}) {
    fw::Ref<fw::PluginObject> optimizer = fw::PluginObject::New("PNGOptimizerQZB");
    optimizer->SetStoredBoolean("NoColorTypeReduction", s.noColorType);
    optimizer->SetStoredBoolean("NoBitDepthReduction", s.noBitDepth);
    optimizer->SetStoredBoolean("NoPaletteReduction", s.noPalette);
    optimizer->SetStoredBoolean("Force", s.force);
    optimizer->SetStoredObject("InputFile", Item(input));
    optimizer->SetStoredObject("OutputFile", Item(output));
    return optimizer;
  }

  static bool Run(const fw::Ref<fw::PluginObject>& optimizer) {
    return Routine<OptimizeFn>(kOptimizeKey)(fw::ToREAL(optimizer.get()));
  }

  static bool Optimize(const fs::path& input, const fs::path& output, Settings s = {}) {
    return Run(Optimizer(input, output, s));
  }

  // What the picture shows, as the framework reads it, in 16-bit RGBA.
  static Rgba16 Expected(const fw::Ref<fw::Picture>& picture) {
    Rgba16 out;
    out.width = static_cast<std::uint32_t>(picture->Width());
    out.height = static_cast<std::uint32_t>(picture->Height());
    auto surface = picture->RGBSurface();
    for (std::int32_t y = 0; y < picture->Height(); ++y)
      for (std::int32_t x = 0; x < picture->Width(); ++x) {
        const fw::Color c = surface->Pixel(x, y);
        for (int v : {fw::Red(c), fw::Green(c), fw::Blue(c), 255})
          out.samples.push_back(static_cast<std::uint16_t>(v * 257));
      }
    return out;
  }

  static fw::Color BlackWhite(int x, int y) {
    return (Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0) & 1) ? 0xFFFFFF : 0;
  }
  static fw::Color Colourful(int x, int y) {
    return fw::RGB((x * 37 + y * 11) & 255, (x * 5 + y * 71 + 13) & 255, (x * 113 + y * 3 + 200) & 255);
  }
  static fw::Color Noise(int x, int y) {
    return Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 1) & 0xFFFFFF;
  }

  static void ExpectUnlocked(const fw::Ref<fw::Picture>& picture) {
    EXPECT_EQ(picture->DescriptionLocks(), 0);
    EXPECT_EQ(picture->GWorld()->pixMap.lockCount.load(), 0);
  }
};

// ---- registration ----

TEST_F(PngFamilyTest, RegistersItsKeys) {
  const auto keys = fw::PluginKeys();
  const char* iconKey =
      "folderitem.DrawWideIconQZB(g as Graphics,x as integer,y as integer,width as integer, WindowsIconIndex "
      "as integer)";
  for (const char* key :
       {kSaveKey, kOptimizeKey, kOptimizerInitKey, kOptimizerExitKey, kBundleKey, iconKey}) {
    EXPECT_NE(std::find(keys.begin(), keys.end(), key), keys.end()) << key;
    EXPECT_NE(fw::RuntimeLookupPluginEntrypoint(key), nullptr) << key;
  }
  EXPECT_EQ(fw::PluginVersionOf(fs::path(SPECKMOOR_PLUGIN_DIR) / "libPNGFamily.so"), 6);
  for (const auto& failure : fw::PluginLoadFailures())
    EXPECT_NE(failure.file, "libPNGFamily.so") << failure.reason;
}

TEST_F(PngFamilyTest, OptimizerStartsWithEveryReductionOnAndNoFiles) {
  fw::Ref<fw::PluginObject> optimizer = fw::PluginObject::New("PNGOptimizerQZB");
  for (const char* name : {"NoColorTypeReduction", "NoBitDepthReduction", "NoPaletteReduction", "Force"})
    EXPECT_FALSE(optimizer->StoredBoolean(name)) << name;
  EXPECT_FALSE(optimizer->StoredObject("InputFile"));
  EXPECT_FALSE(optimizer->StoredObject("OutputFile"));
  EXPECT_FALSE(Run(optimizer));

  // The object holds its folder items' references and gives them back when it goes.
  fw::Ref<fw::FolderItem> item = Item("/nowhere/in.png");
  optimizer->SetStoredObject("InputFile", item);
  EXPECT_EQ(item->RefCount(), 2);
  optimizer = nullptr;
  EXPECT_EQ(item->RefCount(), 1);
}

// ---- SaveAsPNGQZB ----

TEST_F(PngFamilyTest, BlackAndWhiteBecomesOneBitGrey) {
  TempDir dir;
  auto picture = testing_support::MakePicture(37, 23, BlackWhite);
  ASSERT_TRUE(Save(dir / "bw.png", picture, 1.0f));
  const std::string file = ReadFile(dir / "bw.png");
  const Header h = HeaderOf(file);
  EXPECT_EQ(h.width, 37u);
  EXPECT_EQ(h.height, 23u);
  EXPECT_EQ(h.bitDepth, 1);
  EXPECT_EQ(h.colorType, PNG_COLOR_TYPE_GRAY);
  EXPECT_EQ(GammaOf(file), std::optional<std::uint32_t>(100000));
  const auto decoded = Decode(file);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, Expected(picture));
  ExpectUnlocked(picture);
}

TEST_F(PngFamilyTest, ColourBecomesEightBitRgb) {
  TempDir dir;
  auto picture = testing_support::MakePicture(41, 17, Colourful);
  ASSERT_TRUE(Save(dir / "colour.png", picture));
  const std::string file = ReadFile(dir / "colour.png");
  EXPECT_EQ(HeaderOf(file).bitDepth, 8);
  EXPECT_EQ(HeaderOf(file).colorType, PNG_COLOR_TYPE_RGB);
  const auto decoded = Decode(file);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, Expected(picture));
  ExpectUnlocked(picture);
}

TEST_F(PngFamilyTest, OneGreyPixelIsEnoughForRgb) {
  TempDir dir;
  auto picture = testing_support::MakePicture(
      16, 16, [](int x, int y) { return x == 9 && y == 4 ? fw::RGB(128, 128, 128) : BlackWhite(x, y); });
  ASSERT_TRUE(Save(dir / "almost.png", picture));
  const std::string file = ReadFile(dir / "almost.png");
  EXPECT_EQ(HeaderOf(file).colorType, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(Decode(file), Expected(picture));
}

TEST_F(PngFamilyTest, EveryPictureDepthIsWritten) {
  TempDir dir;
  for (std::int32_t depth : {8, 16, 24, 32}) {
    SCOPED_TRACE(depth);
    for (bool blackWhite : {true, false}) {
      auto picture = testing_support::MakePicture(29, 13, blackWhite ? BlackWhite : Colourful, depth);
      ASSERT_TRUE(picture);
      const fs::path target = dir.path() / (blackWhite ? "bw" : "colour") / (std::to_string(depth) + ".png");
      fs::create_directories(target.parent_path());
      ASSERT_TRUE(Save(target, picture));
      const std::string file = ReadFile(target);
      EXPECT_EQ(HeaderOf(file).bitDepth, blackWhite ? 1 : 8);
      EXPECT_EQ(HeaderOf(file).colorType, blackWhite ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB);
      const auto decoded = Decode(file);
      ASSERT_TRUE(decoded);
      EXPECT_EQ(*decoded, Expected(picture));
      ExpectUnlocked(picture);
    }
  }
}

TEST_F(PngFamilyTest, GammaIsWrittenOnlyWhenPositiveAndFinite) {
  TempDir dir;
  auto picture = testing_support::MakePicture(8, 8, Colourful);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (float gamma : {0.0f, -1.0f, nan, inf, -inf}) {
    SCOPED_TRACE(gamma);
    ASSERT_TRUE(Save(dir / "g.png", picture, gamma));
    EXPECT_FALSE(HasChunk(ReadFile(dir / "g.png"), "gAMA"));
  }
  ASSERT_TRUE(Save(dir / "g.png", picture, 0.45455f));
  EXPECT_EQ(GammaOf(ReadFile(dir / "g.png")), std::optional<std::uint32_t>(45455));
  ASSERT_TRUE(Save(dir / "g.png", picture, 2.2f));
  EXPECT_EQ(GammaOf(ReadFile(dir / "g.png")), std::optional<std::uint32_t>(220000));
}

TEST_F(PngFamilyTest, ReplacesAnExistingFileKeepingItsMode) {
  TempDir dir;
  const fs::path target = dir / "old.png";
  WriteFile(target, "not a picture at all");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  auto picture = testing_support::MakePicture(19, 7, Colourful);
  ASSERT_TRUE(Save(target, picture));
  EXPECT_EQ(Decode(ReadFile(target)), Expected(picture));
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"old.png"});
}

TEST_F(PngFamilyTest, NewFileGetsTheOrdinaryMode) {
  TempDir dir;
  ASSERT_TRUE(Save(dir / "new.png", testing_support::MakePicture(4, 4, BlackWhite)));
  struct stat st;
  ASSERT_EQ(stat((dir / "new.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u & ~CurrentUmask());
}

TEST_F(PngFamilyTest, SavingThroughALinkReplacesWhatItPointsAt) {
  TempDir dir;
  WriteFile(dir / "real.png", "old");
  fs::create_symlink("real.png", dir / "link.png");
  auto picture = testing_support::MakePicture(5, 5, Colourful);
  ASSERT_TRUE(Save(dir / "link.png", picture));
  EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
  EXPECT_EQ(Decode(ReadFile(dir / "real.png")), Expected(picture));
}

TEST_F(PngFamilyTest, NilArgumentsFail) {
  TempDir dir;
  auto save = Routine<SaveFn>(kSaveKey);
  auto picture = testing_support::MakePicture(4, 4, BlackWhite);
  EXPECT_FALSE(save(ToREAL(Item(dir / "a.png")), nullptr, 1.0f));
  EXPECT_FALSE(save(nullptr, ToREAL(picture), 1.0f));
  // Not a folder item: a picture where the folder item belongs.
  EXPECT_FALSE(save(reinterpret_cast<REALfolderItem>(ToREAL(picture)), ToREAL(picture), 1.0f));
  EXPECT_TRUE(Entries(dir.path()).empty());
  ExpectUnlocked(picture);
}

TEST_F(PngFamilyTest, MissingFolderFails) {
  TempDir dir;
  auto picture = testing_support::MakePicture(4, 4, BlackWhite);
  EXPECT_FALSE(Save(dir / "absent" / "a.png", picture));
  EXPECT_TRUE(Entries(dir.path()).empty());
  ExpectUnlocked(picture);
}

TEST_F(PngFamilyTest, FolderAsTargetFailsAndStaysAFolder) {
  TempDir dir;
  fs::create_directory(dir / "taken.png");
  WriteFile(dir / "taken.png" / "inside", "x");
  auto picture = testing_support::MakePicture(4, 4, Colourful);
  EXPECT_FALSE(Save(dir / "taken.png", picture));
  EXPECT_TRUE(fs::is_directory(dir / "taken.png"));
  EXPECT_EQ(ReadFile(dir / "taken.png" / "inside"), "x");
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"taken.png"});
  ExpectUnlocked(picture);
}

TEST_F(PngFamilyTest, ReadOnlyFolderFails) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions don't bind root";
  TempDir dir;
  WriteFile(dir / "keep.png", "original");
  ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
  EXPECT_FALSE(Save(dir / "keep.png", testing_support::MakePicture(4, 4, Colourful)));
  chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(ReadFile(dir / "keep.png"), "original");
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"keep.png"});
}

TEST_F(PngFamilyTest, DeviceAsTargetFailsWithoutTouchingIt) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const auto before = Entries("/dev");
  auto picture = testing_support::MakePicture(64, 64, Noise);
  EXPECT_FALSE(Save("/dev/full", picture));
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  EXPECT_EQ(Entries("/dev"), before);
  ExpectUnlocked(picture);
}

TEST_F(PngFamilyTest, FullDiskLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const fs::path target = dir / "keep.png";
  WriteFile(target, "original bytes");
  auto picture = testing_support::MakePicture(256, 256, Noise);
  bool saved = true;
  {
    FileSizeLimit limit(4096);
    ASSERT_TRUE(limit.Active());
    saved = Save(target, picture);
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadFile(target), "original bytes");
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"keep.png"});
  ExpectUnlocked(picture);
}

// ---- PNGOptimizerQZB ----

struct Case {
  const char* name;
  StoredPng stored;
};

std::vector<Case> EveryKindOfPng() {
  std::vector<Case> cases;
  const std::uint32_t w = 45, h = 31;
  for (int depth : {1, 2, 4, 8}) {
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_PALETTE, depth, [](std::uint32_t x, std::uint32_t y, int) {
      return (x / 3 + y / 2) ^ (Mix(x, y, 0) & 1);
    });
    s.palette = Palette(1 << depth);
    s.paletteAlpha = {0, 128};
    cases.push_back({"palette", s});
  }
  for (int depth : {1, 2, 4, 8, 16})
    cases.push_back(
        {"grey", MakeStored(w, h, PNG_COLOR_TYPE_GRAY, depth,
                            [](std::uint32_t x, std::uint32_t y, int c) { return Photo(x, y, c) * 257u; })});
  {
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_GRAY, 8, Photo);
    s.key = png_color_16{0, 0, 0, 0, 17};
    cases.push_back({"grey key", s});
  }
  for (std::uint16_t key : {0, 1}) {
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_GRAY, 1, Mix);
    s.key = png_color_16{0, 0, 0, 0, key};
    cases.push_back({"one-bit key", s});
  }
  {
    // A file may fill the bits behind a row's last pixel as it likes.
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_GRAY, 1, Mix);
    for (std::size_t end = RowBytes(s); end <= s.raw.size(); end += RowBytes(s))
      s.raw[end - 1] |= 0xFF >> (w % 8);
    cases.push_back({"one-bit padding", s});
  }
  {
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_GRAY, 1, Mix);
    s.interlace = true;
    cases.push_back({"interlaced one-bit", s});
  }
  for (int depth : {8, 16}) {
    cases.push_back({"grey alpha", MakeStored(w, h, PNG_COLOR_TYPE_GRAY_ALPHA, depth,
                                              [](std::uint32_t x, std::uint32_t y, int c) {
                                                return Photo(x, y, c) * 259u;
                                              })});
    cases.push_back(
        {"rgb", MakeStored(w, h, PNG_COLOR_TYPE_RGB, depth,
                           [](std::uint32_t x, std::uint32_t y, int c) { return Photo(x, y, c) * 263u; })});
    cases.push_back(
        {"rgba", MakeStored(w, h, PNG_COLOR_TYPE_RGB_ALPHA, depth,
                            [](std::uint32_t x, std::uint32_t y, int c) { return Photo(x, y, c) * 269u; })});
  }
  {
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_RGB, 16,
                             [](std::uint32_t x, std::uint32_t y, int c) { return Photo(x, y, c) * 257u; });
    s.key = png_color_16{0, 5 * 257, 6 * 257, 9 * 257, 0};
    cases.push_back({"rgb16 key", s});
  }
  {
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8, Mix);
    s.interlace = true;
    cases.push_back({"interlaced rgba", s});
  }
  {
    StoredPng s = MakeStored(w, h, PNG_COLOR_TYPE_PALETTE, 4,
                             [](std::uint32_t x, std::uint32_t y, int) { return x * y; });
    s.palette = Palette(16);
    s.interlace = true;
    cases.push_back({"interlaced palette", s});
  }
  return cases;
}

TEST_F(PngFamilyTest, EveryKindOfPngComesOutWithTheSamePixels) {
  TempDir dir;
  int n = 0;
  for (const Case& c : EveryKindOfPng()) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.stored.bitDepth));
    const std::string input = Encode(c.stored);
    const fs::path in = dir / ("in" + std::to_string(n) + ".png");
    const fs::path out = dir / ("out" + std::to_string(n) + ".png");
    ++n;
    WriteFile(in, input);
    ASSERT_TRUE(Optimize(in, out));
    const std::string output = ReadFile(out);
    EXPECT_LE(output.size(), input.size());
    EXPECT_EQ(ReadFile(in), input);
    const auto before = Decode(input);
    const auto after = Decode(output);
    ASSERT_TRUE(before && after);
    EXPECT_EQ(*after, *before);

    // Forced, the optimised form itself: still the same pixels, and never interlaced.
    ASSERT_TRUE(Optimize(in, out, {.force = true}));
    const std::string forced = ReadFile(out);
    EXPECT_EQ(Decode(forced), before);
    EXPECT_EQ(static_cast<unsigned char>(Chunks(forced)[0].data[12]), 0);
  }
  EXPECT_EQ(Entries(dir.path()).size(), static_cast<std::size_t>(2 * n));
}

TEST_F(PngFamilyTest, NeverLargerThanAPlainLibpngWrite) {
  TempDir dir;
  const std::vector<StoredPng> pngs = {
      MakeStored(200, 150, PNG_COLOR_TYPE_RGB, 8, Photo),
      MakeStored(200, 150, PNG_COLOR_TYPE_GRAY, 8, Photo),
      MakeStored(200, 150, PNG_COLOR_TYPE_RGB_ALPHA, 8, Photo),
      MakeStored(256, 256, PNG_COLOR_TYPE_GRAY, 1,
                 [](std::uint32_t x, std::uint32_t y, int) { return Mix(x, y, 3); }),
  };
  for (const StoredPng& stored : pngs) {
    const std::string plain = Encode(stored);
    WriteFile(dir / "in.png", plain);
    ASSERT_TRUE(Optimize(dir / "in.png", dir / "out.png", {.force = true}));
    const std::string optimised = ReadFile(dir / "out.png");
    EXPECT_LE(optimised.size(), plain.size()) << stored.colorType;
    EXPECT_EQ(Decode(optimised), Decode(plain));
  }
}

TEST_F(PngFamilyTest, OptimisedSaveOfADitherIsNeverLarger) {
  TempDir dir;
  auto picture = testing_support::MakePicture(300, 200, [](int x, int y) {
    return ((x / 4 + y / 4) % 3 == 0) !=
                   ((Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 2) & 7) == 0)
               ? 0xFFFFFF
               : 0;
  });
  ASSERT_TRUE(Save(dir / "saved.png", picture));
  ASSERT_TRUE(Optimize(dir / "saved.png", dir / "small.png"));
  const std::string saved = ReadFile(dir / "saved.png");
  const std::string small = ReadFile(dir / "small.png");
  EXPECT_LE(small.size(), saved.size());
  EXPECT_EQ(HeaderOf(small).bitDepth, 1);
  EXPECT_EQ(HeaderOf(small).colorType, PNG_COLOR_TYPE_GRAY);
  EXPECT_EQ(GammaOf(small), std::optional<std::uint32_t>(100000));
  EXPECT_EQ(Decode(small), Expected(picture));
}

// Forced, as File > "Save..." runs it, the optimiser never gives a file larger than the copy it was handed.
TEST_F(PngFamilyTest, AForcedSaveOfSmallNoiseIsNeverLargerThanItsCopy) {
  TempDir dir;
  for (int variant = 0; variant < 200; ++variant) {
    const auto u = static_cast<std::uint32_t>(variant);
    const int width = 3 + static_cast<int>(Mix(u, 0, 9) % 40),
              height = 3 + static_cast<int>(Mix(u, 1, 9) % 80);
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " variant " + std::to_string(variant));
    auto picture = testing_support::MakePicture(width, height, [variant](int x, int y) {
      return Mix(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), variant) & 1 ? 0xFFFFFF : 0;
    });
    ASSERT_TRUE(Save(dir / "saved.png", picture));
    ASSERT_TRUE(Optimize(dir / "saved.png", dir / "optimised.png", {.force = true}));
    const std::string optimised = ReadFile(dir / "optimised.png");
    EXPECT_LE(optimised.size(), ReadFile(dir / "saved.png").size());
    EXPECT_EQ(Decode(optimised), Expected(picture));
  }
}

// Saved and optimised, a one-bit picture of any width, dithered or drawn (rows the optimiser filters, and at
// the largest size rows flat enough for its zlib trials), opens in Qt, as the program reads it, with its
// pixels.
TEST_F(PngFamilyTest, OneBitFilesOfEveryWidthOpenInQt) {
  TempDir dir;
  const auto drawn = [](int x, int y) -> fw::Color { return y % 4 == 1 || x == y || x == 0 ? 0 : 0xFFFFFF; };
  for (auto [width, height] :
       {std::pair{1, 1}, {7, 5}, {9, 1}, {63, 4}, {64, 48}, {333, 1}, {17, 40}, {1000, 700}})
    for (fw::Color (*pixel)(int, int) : {&BlackWhite, +drawn}) {
      SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
      auto picture = testing_support::MakePicture(width, height, pixel);
      ASSERT_TRUE(Save(dir / "saved.png", picture));
      ASSERT_TRUE(Optimize(dir / "saved.png", dir / "optimised.png", {.force = true}));
      for (const char* name : {"saved.png", "optimised.png"}) {
        SCOPED_TRACE(name);
        const std::string file = ReadFile(dir / name);
        EXPECT_EQ(HeaderOf(file).bitDepth, 1);
        EXPECT_EQ(Decode(file), Expected(picture));
        fw::Ref<fw::Picture> opened = fw::DecodePictureFile(dir / name);
        ASSERT_TRUE(opened);
        EXPECT_EQ(Expected(opened), Expected(picture));
      }
    }
}

struct Reduction {
  const char* name;
  StoredPng stored;
  int colorType;
  int bitDepth;
};

StoredPng FewColours() {
  static const std::uint8_t kColours[5][3] = {
      {200, 10, 10}, {10, 200, 10}, {10, 10, 200}, {90, 30, 160}, {250, 250, 0}};
  return MakeStored(40, 30, PNG_COLOR_TYPE_RGB, 8,
                    [](std::uint32_t x, std::uint32_t y, int c) { return kColours[(x / 5 + y / 3) % 5][c]; });
}

StoredPng GreyInRgb() {
  return MakeStored(64, 20, PNG_COLOR_TYPE_RGB, 8,
                    [](std::uint32_t x, std::uint32_t y, int) { return x * 4 + (y & 3); });
}

StoredPng LosslessSixteen() {
  return MakeStored(40, 30, PNG_COLOR_TYPE_RGB, 16,
                    [](std::uint32_t x, std::uint32_t y, int c) { return Photo(x, y, c) * 257u; });
}

StoredPng BlackWhiteGrey8() {
  return MakeStored(50, 20, PNG_COLOR_TYPE_GRAY, 8,
                    [](std::uint32_t x, std::uint32_t y, int) { return (Mix(x, y, 0) & 1) * 255u; });
}

TEST_F(PngFamilyTest, ReducesWhatIsExact) {
  std::vector<Reduction> reductions = {
      {"grey rgb to grey", GreyInRgb(), PNG_COLOR_TYPE_GRAY, 8},
      {"few colours to a 4-bit palette", FewColours(), PNG_COLOR_TYPE_PALETTE, 4},
      {"16 bits holding 8", LosslessSixteen(), PNG_COLOR_TYPE_RGB, 8},
      {"16 bits that need 16",
       MakeStored(40, 30, PNG_COLOR_TYPE_RGB, 16,
                  [](std::uint32_t x, std::uint32_t y, int c) { return Photo(x, y, c) * 257u + (x & 1); }),
       PNG_COLOR_TYPE_RGB, 16},
      {"opaque alpha dropped",
       MakeStored(40, 30, PNG_COLOR_TYPE_RGB_ALPHA, 8,
                  [](std::uint32_t x, std::uint32_t y, int c) { return c == 3 ? 255u : Photo(x, y, c); }),
       PNG_COLOR_TYPE_RGB, 8},
      {"black and white grey to 1 bit", BlackWhiteGrey8(), PNG_COLOR_TYPE_GRAY, 1},
      {"four grey levels to 2 bits",
       MakeStored(50, 20, PNG_COLOR_TYPE_GRAY, 8,
                  [](std::uint32_t x, std::uint32_t y, int) { return (Mix(x, y, 0) & 3) * 85u; }),
       PNG_COLOR_TYPE_GRAY, 2},
      {"grey alpha 16 holding 8",
       MakeStored(40, 30, PNG_COLOR_TYPE_GRAY_ALPHA, 16,
                  [](std::uint32_t x, std::uint32_t y, int c) {
                    return (c ? Mix(x, y, c) & 255 : Photo(x, y, c)) * 257u;
                  }),
       PNG_COLOR_TYPE_GRAY_ALPHA, 8},
  };
  {
    StoredPng s = MakeStored(64, 32, PNG_COLOR_TYPE_PALETTE, 8,
                             [](std::uint32_t x, std::uint32_t y, int) { return 7 + ((x ^ y) & 1) * 200; });
    s.palette = Palette(256);
    s.palette[7] = png_color{0, 0, 0};
    s.palette[207] = png_color{255, 255, 255};
    reductions.push_back({"black and white palette to 1-bit grey", s, PNG_COLOR_TYPE_GRAY, 1});
  }
  {
    StoredPng s = MakeStored(64, 32, PNG_COLOR_TYPE_PALETTE, 8,
                             [](std::uint32_t x, std::uint32_t y, int) { return (x + y) % 3 * 50; });
    s.palette = Palette(256);
    reductions.push_back({"unused palette entries dropped", s, PNG_COLOR_TYPE_PALETTE, 2});
  }
  TempDir dir;
  for (const Reduction& r : reductions) {
    SCOPED_TRACE(r.name);
    const std::string input = Encode(r.stored);
    WriteFile(dir / "in.png", input);
    ASSERT_TRUE(Optimize(dir / "in.png", dir / "out.png", {.force = true}));
    const std::string output = ReadFile(dir / "out.png");
    EXPECT_EQ(HeaderOf(output).colorType, r.colorType);
    EXPECT_EQ(HeaderOf(output).bitDepth, r.bitDepth);
    EXPECT_EQ(Decode(output), Decode(input));
  }
}

TEST_F(PngFamilyTest, BinaryAlphaWithOneTransparentColourBecomesAKey) {
  TempDir dir;
  const StoredPng stored =
      MakeStored(60, 40, PNG_COLOR_TYPE_RGB_ALPHA, 8, [](std::uint32_t x, std::uint32_t y, int c) {
        const bool hole = (x / 7 + y / 5) % 4 == 0;
        if (c == 3) return hole ? 0u : 255u;
        return hole ? 1u : Photo(x, y, c) | 2u;  // the hole's colour (1, 1, 1) occurs nowhere else
      });
  const std::string input = Encode(stored);
  WriteFile(dir / "in.png", input);
  ASSERT_TRUE(Optimize(dir / "in.png", dir / "out.png", {.force = true}));
  const std::string output = ReadFile(dir / "out.png");
  EXPECT_EQ(HeaderOf(output).colorType, PNG_COLOR_TYPE_RGB);
  EXPECT_TRUE(HasChunk(output, "tRNS"));
  EXPECT_EQ(Decode(output), Decode(input));
}

TEST_F(PngFamilyTest, FlagsHoldReductionsBack) {
  struct Held {
    const char* name;
    StoredPng stored;
    Settings settings;
    int colorType;
    int bitDepth;
  };
  const StoredPng opaqueRgba = MakeStored(
      40, 30, PNG_COLOR_TYPE_RGB_ALPHA, 16,
      [](std::uint32_t x, std::uint32_t y, int c) { return c == 3 ? 65535u : Photo(x, y, c) * 257u; });
  const std::vector<Held> cases = {
      {"grey rgb stays rgb", GreyInRgb(), {.noColorType = true}, PNG_COLOR_TYPE_RGB, 8},
      {"few colours stay rgb without palettes", FewColours(), {.noPalette = true}, PNG_COLOR_TYPE_RGB, 8},
      {"few colours stay rgb without colour type changes",
       FewColours(),
       {.noColorType = true},
       PNG_COLOR_TYPE_RGB,
       8},
      {"16 bits stay 16", LosslessSixteen(), {.noBitDepth = true}, PNG_COLOR_TYPE_RGB, 16},
      {"black and white grey stays 8 bits", BlackWhiteGrey8(), {.noBitDepth = true}, PNG_COLOR_TYPE_GRAY, 8},
      {"alpha kept, depth reduced", opaqueRgba, {.noColorType = true}, PNG_COLOR_TYPE_RGB_ALPHA, 8},
      {"alpha dropped, depth kept", opaqueRgba, {.noBitDepth = true}, PNG_COLOR_TYPE_RGB, 16},
      {"nothing changes",
       opaqueRgba,
       {.noColorType = true, .noBitDepth = true, .noPalette = true},
       PNG_COLOR_TYPE_RGB_ALPHA,
       16},
  };
  TempDir dir;
  for (const Held& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string input = Encode(c.stored);
    WriteFile(dir / "in.png", input);
    Settings settings = c.settings;
    settings.force = true;
    ASSERT_TRUE(Optimize(dir / "in.png", dir / "out.png", settings));
    const std::string output = ReadFile(dir / "out.png");
    EXPECT_EQ(HeaderOf(output).colorType, c.colorType);
    EXPECT_EQ(HeaderOf(output).bitDepth, c.bitDepth);
    EXPECT_EQ(Decode(output), Decode(input));
  }
}

TEST_F(PngFamilyTest, KeepsGammaAndDropsOtherAncillaryChunks) {
  TempDir dir;
  StoredPng stored = MakeStored(30, 20, PNG_COLOR_TYPE_RGB, 8, Photo);
  stored.gamma = 45455;
  const std::string extras =
      testing_support::PngChunk("tEXt", std::string("Comment\0hello", 13)) +
      testing_support::PngChunk("tIME", std::string("\x07\xe8\x01\x02\x03\x04\x05", 7)) +
      testing_support::PngChunk("prVt", "private") +
      testing_support::PngChunk("pHYs", std::string("\0\0\x0b\x13\0\0\x0b\x13\x01", 9));
  const std::string input = WithChunksAfterHeader(Encode(stored), extras);
  ASSERT_TRUE(Decode(input));
  WriteFile(dir / "in.png", input);
  ASSERT_TRUE(Optimize(dir / "in.png", dir / "out.png"));
  const std::string output = ReadFile(dir / "out.png");
  EXPECT_EQ(GammaOf(output), std::optional<std::uint32_t>(45455));
  for (const std::string& type : ChunkTypes(output))
    EXPECT_TRUE(type == "IHDR" || type == "gAMA" || type == "IDAT" || type == "IEND" || type == "PLTE" ||
                type == "tRNS")
        << type;
  EXPECT_EQ(Decode(output), Decode(input));

  // Without gAMA in the input there is none in the output either.
  WriteFile(dir / "in.png",
            WithChunksAfterHeader(Encode(MakeStored(30, 20, PNG_COLOR_TYPE_RGB, 8, Photo)), extras));
  ASSERT_TRUE(Optimize(dir / "in.png", dir / "out.png", {.force = true}));
  EXPECT_FALSE(GammaOf(ReadFile(dir / "out.png")));
}

TEST_F(PngFamilyTest, DamagedInputFailsAndWritesNothing) {
  TempDir dir;
  const std::string good = Encode(MakeStored(40, 30, PNG_COLOR_TYPE_RGB, 8, Photo));
  std::string badCrc = good;
  const auto idat = good.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  badCrc[idat + 10] = static_cast<char>(badCrc[idat + 10] ^ 0x55);
  std::string badHeader = good;
  badHeader[20] = 0x7F;  // width beyond any limit, and the CRC no longer matches
  const std::vector<std::pair<const char*, std::string>> inputs = {
      {"empty", ""},
      {"not a png", "GIF89a this is not a PNG file"},
      {"signature only", good.substr(0, 8)},
      {"cut in the middle", good.substr(0, good.size() / 2)},
      {"no IEND", good.substr(0, good.size() - 12)},
      {"bad IDAT", badCrc},
      {"bad header", badHeader},
  };
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    WriteFile(dir / "in.png", bytes);
    EXPECT_FALSE(Optimize(dir / "in.png", dir / "out.png"));
    EXPECT_FALSE(Optimize(dir / "in.png", dir / "out.png", {.force = true}));
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"in.png"});
    // An output that exists already stays as it is.
    WriteFile(dir / "kept.png", "kept");
    EXPECT_FALSE(Optimize(dir / "in.png", dir / "kept.png"));
    EXPECT_EQ(ReadFile(dir / "kept.png"), "kept");
    fs::remove(dir / "kept.png");
    EXPECT_EQ(ReadFile(dir / "in.png"), bytes);
  }
  EXPECT_FALSE(Optimize(dir / "absent.png", dir / "out.png"));
  fs::create_directory(dir / "folder.png");
  EXPECT_FALSE(Optimize(dir / "folder.png", dir / "out.png"));
  EXPECT_FALSE(fs::exists(dir / "out.png"));
}

TEST_F(PngFamilyTest, HugePicturesAreRefusedBeforeDecoding) {
  TempDir dir;
  auto be32 = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  // 20000 x 20000 pixels, more than the optimiser takes, with hardly any data behind the header.
  const std::string header = be32(20000) + be32(20000) + std::string("\x08\x02\x00\x00\x00", 5);
  const std::string file =
      std::string("\x89PNG\r\n\x1a\n", 8) + testing_support::PngChunk("IHDR", header) +
      testing_support::PngChunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) +
      testing_support::PngChunk("IEND", "");
  WriteFile(dir / "huge.png", file);
  EXPECT_FALSE(Optimize(dir / "huge.png", dir / "out.png", {.force = true}));
  EXPECT_FALSE(fs::exists(dir / "out.png"));
}

TEST_F(PngFamilyTest, NilFilesFail) {
  TempDir dir;
  WriteFile(dir / "in.png", Encode(MakeStored(8, 8, PNG_COLOR_TYPE_RGB, 8, Photo)));
  fw::Ref<fw::PluginObject> optimizer = Optimizer(dir / "in.png", dir / "out.png");
  optimizer->SetStoredObject("OutputFile", nullptr);
  EXPECT_FALSE(Run(optimizer));
  optimizer->SetStoredObject("OutputFile", Item(dir / "out.png"));
  optimizer->SetStoredObject("InputFile", nullptr);
  EXPECT_FALSE(Run(optimizer));
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"in.png"});
}

TEST_F(PngFamilyTest, UnwritableOutputFails) {
  TempDir dir;
  WriteFile(dir / "in.png", Encode(MakeStored(40, 30, PNG_COLOR_TYPE_RGB, 8, Photo)));
  EXPECT_FALSE(Optimize(dir / "in.png", dir / "absent" / "out.png"));
  fs::create_directory(dir / "out.png");
  EXPECT_FALSE(Optimize(dir / "in.png", dir / "out.png", {.force = true}));
  EXPECT_TRUE(fs::is_directory(dir / "out.png"));
  if (fs::exists("/dev/full")) {
    const auto before = Entries("/dev");
    EXPECT_FALSE(Optimize(dir / "in.png", "/dev/full", {.force = true}));
    EXPECT_EQ(Entries("/dev"), before);
  }
  {
    WriteFile(dir / "big.png", Encode(MakeStored(300, 300, PNG_COLOR_TYPE_RGB, 8, Mix)));
    WriteFile(dir / "keep.png", "original");
    bool written = true;
    {
      FileSizeLimit limit(4096);
      ASSERT_TRUE(limit.Active());
      written = Optimize(dir / "big.png", dir / "keep.png", {.force = true});
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile(dir / "keep.png"), "original");
  }
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"big.png", "in.png", "keep.png", "out.png"}));
}

TEST_F(PngFamilyTest, WithoutForceAResultThatIsNotSmallerLeavesTheInputBytes) {
  TempDir dir;
  WriteFile(dir / "in.png", Encode(LosslessSixteen()));
  ASSERT_TRUE(Optimize(dir / "in.png", dir / "best.png"));
  const std::string best = ReadFile(dir / "best.png");
  ASSERT_LT(best.size(), ReadFile(dir / "in.png").size());

  // Optimising the best form again finds nothing smaller: another path gets its bytes as they are.
  ASSERT_TRUE(Optimize(dir / "best.png", dir / "copy.png"));
  EXPECT_EQ(ReadFile(dir / "copy.png"), best);

  // In place, nothing is written at all...
  struct stat before, after;
  ASSERT_EQ(stat((dir / "best.png").c_str(), &before), 0);
  ASSERT_TRUE(Optimize(dir / "best.png", dir / "best.png"));
  ASSERT_EQ(stat((dir / "best.png").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadFile(dir / "best.png"), best);

  // ...unless forced: then the file is replaced, with the same pixels.
  ASSERT_TRUE(Optimize(dir / "best.png", dir / "best.png", {.force = true}));
  ASSERT_EQ(stat((dir / "best.png").c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(Decode(ReadFile(dir / "best.png")), Decode(best));
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"best.png", "copy.png", "in.png"}));
}

TEST_F(PngFamilyTest, OptimisesInPlace) {
  TempDir dir;
  const std::string input =
      Encode(MakeStored(80, 60, PNG_COLOR_TYPE_RGB_ALPHA, 16, [](std::uint32_t x, std::uint32_t y, int c) {
        return c == 3 ? 65535u : Photo(x, y, c) * 257u;
      }));
  WriteFile(dir / "same.png", input);
  ASSERT_TRUE(Optimize(dir / "same.png", dir / "same.png"));
  const std::string output = ReadFile(dir / "same.png");
  EXPECT_LT(output.size(), input.size());
  EXPECT_EQ(Decode(output), Decode(input));
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"same.png"});
}

TEST_F(PngFamilyTest, FourOptimisationsAtOnce) {
  TempDir dir;
  const std::vector<StoredPng> pngs = {
      MakeStored(150, 120, PNG_COLOR_TYPE_RGB, 8, Photo),
      MakeStored(150, 120, PNG_COLOR_TYPE_GRAY, 16,
                 [](std::uint32_t x, std::uint32_t y, int c) { return Photo(x, y, c) * 257u; }),
      FewColours(),
      MakeStored(150, 120, PNG_COLOR_TYPE_RGB_ALPHA, 8, Mix),
  };
  std::vector<fw::Ref<fw::PluginObject>> optimizers;
  for (std::size_t i = 0; i < pngs.size(); ++i) {
    WriteFile(dir / ("in" + std::to_string(i) + ".png"), Encode(pngs[i]));
    optimizers.push_back(
        Optimizer(dir / ("in" + std::to_string(i) + ".png"), dir / ("out" + std::to_string(i) + ".png")));
  }
  const OptimizeFn optimize = Routine<OptimizeFn>(kOptimizeKey);
  std::atomic<int> ready{0};
  std::vector<char> results(pngs.size(), 0);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < pngs.size(); ++i)
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < static_cast<int>(pngs.size())) std::this_thread::yield();
      results[i] = optimize(fw::ToREAL(optimizers[i].get()));
    });
  for (std::thread& t : threads) t.join();
  for (std::size_t i = 0; i < pngs.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(results[i]);
    EXPECT_EQ(Decode(ReadFile(dir / ("out" + std::to_string(i) + ".png"))), Decode(Encode(pngs[i])));
  }
}

// Every row filter, on packed rows of odd widths at every depth below 8 bits: each row is marked with the
// filter asked for, and the file made of them decodes to exactly the rows filtered.
TEST(PngRowFilters, PackedRowsOfOddWidthsComeBackExactly) {
  using pngfamily::RowFilter;
  for (int depth : {1, 2, 4})
    for (std::uint32_t width : {1u, 7u, 9u, 17u}) {
      SCOPED_TRACE(std::to_string(depth) + " bits, " + std::to_string(width) + " wide");
      // Noise, and rows that repeat the one above or shift it, so every predictor has ties and zeros too.
      const StoredPng stored =
          MakeStored(width, 24, PNG_COLOR_TYPE_GRAY, depth, [](std::uint32_t x, std::uint32_t y, int) {
            return y % 3 == 0 ? Mix(x, y, 4) : Mix(x + y % 3 - 1, y - y % 3, 4);
          });
      const std::string expected = Encode(stored);
      const pngfamily::StoredRows rows = StoredRowsOf(stored);
      pngfamily::Format format;
      format.colorType = PNG_COLOR_TYPE_GRAY;
      format.bitDepth = depth;
      for (RowFilter filter : {RowFilter::kNone, RowFilter::kSub, RowFilter::kUp, RowFilter::kAverage,
                               RowFilter::kPaeth, RowFilter::kAdaptive}) {
        SCOPED_TRACE(static_cast<int>(filter));
        std::vector<std::uint8_t> filtered;
        pngfamily::FilterRows(rows, depth, filter, filtered);
        ASSERT_EQ(filtered.size(), (rows.rowBytes + 1) * rows.height);
        if (filter != RowFilter::kAdaptive) {
          for (std::uint32_t y = 0; y < rows.height; ++y)
            EXPECT_EQ(filtered[(rows.rowBytes + 1) * y], static_cast<int>(filter));
        }
        std::vector<std::uint8_t> stream(compressBound(static_cast<uLong>(filtered.size())));
        uLongf streamSize = static_cast<uLongf>(stream.size());
        ASSERT_EQ(
            compress2(stream.data(), &streamSize, filtered.data(), static_cast<uLong>(filtered.size()), 9),
            Z_OK);
        stream.resize(streamSize);
        std::vector<std::uint8_t> png;
        ASSERT_TRUE(pngfamily::Assemble(format, rows.width, rows.height, 0, stream, png));
        EXPECT_EQ(Decode(std::string(png.begin(), png.end())), Decode(expected));
      }
    }
}

// ---- one-bit pages ----

// A one-bit grey page, white where `ink` is false.
StoredPng OneBitPage(std::uint32_t width, std::uint32_t height, const std::vector<bool>& ink) {
  return MakeStored(width, height, PNG_COLOR_TYPE_GRAY, 1, [&](std::uint32_t x, std::uint32_t y, int) {
    return ink[std::size_t{y} * width + x] ? 0u : 1u;
  });
}

// Up to `lines` lines of made-up words, ragged on the right, in letters of strokes on a 5 x 7 grid (stems,
// bars and diagonals) drawn at twice that size.
std::vector<bool> TextInk(std::uint32_t width, std::uint32_t height, int lines) {
  std::vector<bool> ink(std::size_t{width} * height, false);
  constexpr int kScale = 2, kAdvance = 5 * kScale + 2, kLineHeight = 24, kMargin = 96;
  const auto letter = [&](std::uint32_t which, int left, int top) {
    const std::uint32_t strokes = Mix(which, 0, 5) | 1u << (which % 3);
    for (int v = 0; v < 7 * kScale; ++v)
      for (int u = 0; u < 5 * kScale; ++u) {
        const int cx = u / kScale, cy = v / kScale, diagonal = (cy * 4 + 3) / 6;
        if (((strokes & 1) && cx == 0) || ((strokes & 2) && cx == 4) || ((strokes & 4) && cx == 2) ||
            ((strokes & 8) && cy == 0) || ((strokes & 16) && cy == 3) || ((strokes & 32) && cy == 6) ||
            ((strokes & 64) && cx == diagonal) || ((strokes & 128) && 4 - cx == diagonal))
          ink[static_cast<std::size_t>(top + v) * width + static_cast<std::size_t>(left + u)] = true;
      }
  };
  std::uint32_t word = 0;
  for (int line = 0; line < lines; ++line) {
    const int top = kMargin + line * kLineHeight;
    if (top + kLineHeight > static_cast<int>(height) - kMargin) break;
    // A paragraph's last line stops about half-way.
    const bool last = Mix(static_cast<std::uint32_t>(line), 1, 6) % 7 == 0;
    const int right = static_cast<int>(width) - kMargin - (last ? static_cast<int>(width) / 2 : 0);
    for (int x = kMargin;; ++word) {
      const int letters = 2 + static_cast<int>(Mix(word, 2, 6) % 8);
      if (x + letters * kAdvance > right) break;
      for (int i = 0; i < letters; ++i, x += kAdvance)
        letter(Mix(word, static_cast<std::uint32_t>(i), 7) % 40, x, top);
      x += 8;
    }
  }
  return ink;
}

// A drawing hatched with steep strokes a pixel wide: each row is the one above with a few strokes moved a
// pixel, which Up turns into zeros and an unfiltered deflate can only match in pieces.
std::vector<bool> HatchedInk(std::uint32_t width, std::uint32_t height, std::uint32_t strokes) {
  std::vector<bool> ink(std::size_t{width} * height, false);
  for (std::uint32_t i = 0; i < strokes; ++i) {
    const std::int64_t from = Mix(i, 0, 9) % width,
                       slant = static_cast<std::int64_t>(Mix(i, 1, 9) % 600) - 300;
    for (std::uint32_t y = 0; y < height; ++y) {
      const std::int64_t x = from + slant * y / height;
      if (x >= 0 && x < width) ink[std::size_t{y} * width + static_cast<std::size_t>(x)] = true;
    }
  }
  return ink;
}

// Error diffusion of a shaded scene (light and shadow in broad curves, a little grain), as photographs are
// dithered.
std::vector<bool> DitheredInk(std::uint32_t width, std::uint32_t height) {
  std::vector<double> grey(std::size_t{width} * height);
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x)
      grey[std::size_t{y} * width + x] = 128 + 90 * std::sin(x / 37.0) * std::cos(y / 53.0) +
                                         30 * std::sin((x + 2 * y) / 91.0) + (Mix(x, y, 8) & 15) - 7.5;
  std::vector<bool> ink(grey.size());
  for (std::uint32_t y = 0; y < height; ++y)
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::size_t i = std::size_t{y} * width + x;
      ink[i] = grey[i] < 128;
      const double error = grey[i] - (ink[i] ? 0 : 255);
      if (x + 1 < width) grey[i + 1] += error * 7 / 16;
      if (y + 1 == height) continue;
      if (x > 0) grey[i + width - 1] += error * 3 / 16;
      grey[i + width] += error * 5 / 16;
      if (x + 1 < width) grey[i + width + 1] += error / 16;
    }
  return ink;
}

// The size of the PNG the codec makes of a one-bit page under one filter, deflated by zlib at its
// strongest as the optimiser runs it.
std::size_t FixedFilterSize(const StoredPng& page, pngfamily::RowFilter filter) {
  std::vector<std::uint8_t> filtered;
  pngfamily::FilterRows(StoredRowsOf(page), 1, filter, filtered);
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<std::uint8_t> stream(deflateBound(&z, static_cast<uLong>(filtered.size())));
  z.next_in = filtered.data();
  z.avail_in = static_cast<uInt>(filtered.size());
  z.next_out = stream.data();
  z.avail_out = static_cast<uInt>(stream.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  stream.resize(z.total_out);
  deflateEnd(&z);
  pngfamily::Format format;
  format.colorType = PNG_COLOR_TYPE_GRAY;
  format.bitDepth = 1;
  std::vector<std::uint8_t> png;
  EXPECT_TRUE(pngfamily::Assemble(format, page.width, page.height, 0, stream, png));
  return png.size();
}

// Whichever filter suits a page (all of them on a white page, none on text or a dithered photograph, Up on
// a hatched drawing), the optimiser finds it: its file is no larger than the one any single filter makes.
TEST_F(PngFamilyTest, OneBitPagesComeOutNoLargerThanUnderAnyOneFilter) {
  using pngfamily::RowFilter;
  TempDir dir;
  // A letter page at 200 dots an inch: more rows than the near-optimal parse is tried on, fewer than a
  // megabyte.
  constexpr std::uint32_t kWidth = 1700, kHeight = 2200;
  const struct {
    const char* name;
    StoredPng page;
  } pages[] = {
      {"white", OneBitPage(kWidth, kHeight, std::vector<bool>(std::size_t{kWidth} * kHeight, false))},
      {"a few lines", OneBitPage(kWidth, kHeight, TextInk(kWidth, kHeight, 6))},
      {"text", OneBitPage(kWidth, kHeight, TextInk(kWidth, kHeight, 80))},
      {"hatched", OneBitPage(kWidth, kHeight, HatchedInk(kWidth, kHeight, 200))},
      {"dithered", OneBitPage(kWidth / 2, kHeight / 2, DitheredInk(kWidth / 2, kHeight / 2))},
  };
  for (const auto& [name, page] : pages) {
    SCOPED_TRACE(name);
    const std::string plain = Encode(page);
    WriteFile(dir / "page.png", plain);
    ASSERT_TRUE(Optimize(dir / "page.png", dir / "optimised.png", {.force = true}));
    const std::string optimised = ReadFile(dir / "optimised.png");
    for (RowFilter filter : {RowFilter::kNone, RowFilter::kSub, RowFilter::kUp, RowFilter::kAverage,
                             RowFilter::kPaeth, RowFilter::kAdaptive})
      EXPECT_LE(optimised.size(), FixedFilterSize(page, filter)) << "filter " << static_cast<int>(filter);
    EXPECT_EQ(Decode(optimised), Decode(plain));
  }
}

// ---- BundleFolderQZB ----

TEST_F(PngFamilyTest, BundleFolderIsTwoLevelsAboveTheProgram) {
  REALfolderItem result = Routine<BundleFn>(kBundleKey)(nullptr);
  ASSERT_NE(result, nullptr);
  auto* object = reinterpret_cast<fw::Object*>(result);
  fw::Ref<fw::Object> owned = fw::Ref<fw::Object>::Adopt(object);
  auto* folder = dynamic_cast<fw::FolderItem*>(object);
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(object->RefCount(), 1);
  EXPECT_TRUE(fs::is_directory(folder->NativePath()));
  EXPECT_EQ(folder->NativePath(), fs::read_symlink("/proc/self/exe").parent_path().parent_path());
}

}  // namespace
