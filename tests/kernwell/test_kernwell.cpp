// The convolution plug-in, loaded as the program loads it, against a plain convolution written here.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include "TestSupport.h"
#include "bindings/ConvolutionEffect.h"
#include "bindings/PluginEntryTable.h"
#include "framework/ClassRegistry.h"
#include "framework/FolderItem.h"
#include "framework/Picture.h"
#include "framework/PluginHost.h"
#include "framework/PluginObject.h"
#include "imagefilter/MPImageFilter.h"

namespace {

using fw::RGB;
using testing_support::MakePicture;
using testing_support::TempDir;

using FilterFn = REALpicture (*)(REALobject, REALpicture, REALpicture);
using SmoothFn = REALpicture (*)(REALobject, REALpicture, int32_t, REALpicture);
using MatrixFn = REALpicture (*)(REALobject, REALpicture, REALobject, REALpicture);

const std::array<std::string, 7> kDeclarations = {
    "Smooth(source as Picture,weight as Integer,mask as Picture) as Picture",
    "Sharpen(source as Picture,mask as Picture) as Picture",
    "EdgeDetect(source as Picture,mask as Picture) as Picture",
    "Blur(source as Picture,mask as Picture) as Picture",
    "MeanRemoval(source as Picture,mask as Picture) as Picture",
    "Emboss(source as Picture,mask as Picture) as Picture",
    "ApplyMatrix(source as Picture,matrix as Object,mask as Picture) as Picture",
};

constexpr std::uint32_t kMatrixTag = 0xAB00F208u;

// A matrix object as a caller makes one: an object of a class whose own data, right behind the object
// header, holds the tag, a word the filter skips, nine coefficients, the divisor and the offset.
using MatrixObject = fw::PluginObject;
REALclassDefinition gMatrixClass = {
    .version = kREALClassDefinitionVersion, .name = "TestMatrix", .superName = nullptr, .dataSize = 13 * 4};
// Room for the tag alone.
REALclassDefinition gTagOnlyClass = {
    .version = kREALClassDefinitionVersion, .name = "TestTagOnly", .superName = nullptr, .dataSize = 4};

// Registered as a plug-in registers its classes, once per process.
void RegisterMatrixClasses() {
  static const bool registered = [] {
    auto registerClass = reinterpret_cast<PluginRegisterClassProc>(fw::FrameworkResolve("PluginRegisterClass"));
    registerClass(&gMatrixClass);
    registerClass(&gTagOnlyClass);
    fw::RegisterPluginClassRecords();
    return true;
  }();
  (void)registered;
}

std::int32_t* MatrixWords(MatrixObject& m) { return reinterpret_cast<std::int32_t*>(m.Data()); }

// A framework that reports exactly 5.5 and keeps the names of the classes it is asked to register.
std::vector<std::string> gRegisteredAt55;
double Version55() { return 5.5; }
void RecordClass(REALclassDefinition* definition) { gRegisteredAt55.emplace_back(definition->name); }
void* ResolverOf55(const char* name) {
  if (std::string(name) == "REALGetRBVersion") return reinterpret_cast<void*>(&Version55);
  if (std::string(name) == "PluginRegisterClass") return reinterpret_cast<void*>(&RecordClass);
  return nullptr;
}

// Words 3 and 4 of the last record handed to the dispatcher, which then runs every band on this thread.
std::int32_t gDispatchedHint = 0;
std::int32_t gDispatchedFourthWord = 0;
void RecordingDispatcher(void* params, MPBandRoutine band, int32_t) {
  std::int32_t words[5];
  std::memcpy(words, params, sizeof words);
  gDispatchedHint = words[3];
  gDispatchedFourthWord = words[4];
  MPParamBlock all{0, words[1], params};
  band(&all);
}

// The kernel in the test's own terms, wide enough for any coefficients.
struct Kernel {
  std::array<std::int64_t, 9> c;
  std::int64_t divisor;
  std::int64_t offset;
};

const Kernel kSharpen{{-1, -2, -1, -2, 16, -2, -1, -2, -1}, 4, 0};
const Kernel kEdgeDetect{{-1, -1, -1, -1, 8, -1, -1, -1, -1}, 1, 0};
const Kernel kBlur{{1, 2, 1, 2, 4, 2, 1, 2, 1}, 16, 0};
const Kernel kMeanRemoval{{-1, -1, -1, -1, 9, -1, -1, -1, -1}, 1, 0};
const Kernel kEmboss{{-1, 0, -1, 0, 4, 0, -1, 0, -1}, 1, 127};

Kernel SmoothKernel(std::int32_t weight) {
  return {{1, 1, 1, 1, weight, 1, 1, 1, 1}, static_cast<std::int32_t>(static_cast<std::uint32_t>(weight) + 8u), 0};
}

std::int32_t Channel(fw::Color c, int ch) { return ch == 0 ? fw::Red(c) : (ch == 1 ? fw::Green(c) : fw::Blue(c)); }

// The convolution written out plainly: exact sums, neighbours outside the picture taken from its edge.
fw::Ref<fw::Picture> Reference(fw::Picture& source, const Kernel& k, fw::Picture* mask = nullptr) {
  const int w = source.Width();
  const int h = source.Height();
  fw::Ref<fw::Picture> out = fw::NewPicture(w, h, 32);
  fw::Ref<fw::RGBSurface> s = source.RGBSurface();
  fw::Ref<fw::RGBSurface> m = mask ? mask->RGBSurface() : nullptr;
  fw::Ref<fw::RGBSurface> o = out->RGBSurface();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::int64_t v[3];
      for (int ch = 0; ch < 3; ++ch) {
        std::int64_t sum = 0;
        int i = 0;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            sum += k.c[static_cast<std::size_t>(i++)] *
                   Channel(s->Pixel(std::clamp(x + dx, 0, w - 1), std::clamp(y + dy, 0, h - 1)), ch);
        v[ch] = std::clamp<std::int64_t>(sum / k.divisor + k.offset, 0, 255);
        if (m && m->Pixel(x, y) != 0) {
          const std::int64_t red = fw::Red(m->Pixel(x, y));
          v[ch] = ((255 - red) * v[ch] + red * Channel(s->Pixel(x, y), ch)) >> 8;
        }
      }
      o->SetPixel(x, y, RGB(static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2])));
    }
  }
  return out;
}

// Same size, 32-bit, every byte of every pixel equal; names the first difference.
::testing::AssertionResult SamePixels(const fw::Ref<fw::Picture>& got, const fw::Ref<fw::Picture>& want) {
  if (!got) return ::testing::AssertionFailure() << "no picture";
  if (got->Width() != want->Width() || got->Height() != want->Height() || got->Depth() != want->Depth())
    return ::testing::AssertionFailure() << "got " << got->Width() << "x" << got->Height() << "x" << got->Depth()
                                         << ", want " << want->Width() << "x" << want->Height() << "x"
                                         << want->Depth();
  for (int y = 0; y < got->Height(); ++y)
    for (int i = 0; i < got->Width() * got->BytesPerPixel(); ++i)
      if (got->Row(y)[i] != want->Row(y)[i])
        return ::testing::AssertionFailure() << "pixel (" << i / got->BytesPerPixel() << ", " << y << ") byte "
                                             << i % got->BytesPerPixel() << ": got " << int{got->Row(y)[i]}
                                             << ", want " << int{want->Row(y)[i]};
  return ::testing::AssertionSuccess();
}

bool AllZero(const fw::Picture& p) {
  for (int y = 0; y < p.Height(); ++y)
    for (int i = 0; i < p.RowBytes(); ++i)
      if (p.Row(y)[i] != 0) return false;
  return true;
}

fw::Ref<fw::Picture> Flat(int w, int h, fw::Color c, int depth = 32) {
  return MakePicture(w, h, [&](int, int) { return c; }, depth);
}

fw::Ref<fw::Picture> Noise(int w, int h, unsigned start, int depth = 32) {
  std::mt19937 rng(start);
  return MakePicture(w, h, [&](int, int) { return static_cast<fw::Color>(rng() & 0xffffff); }, depth);
}

// The same pixels at another depth, through the framework's own pixel access.
fw::Ref<fw::Picture> AtDepth(fw::Picture& p, int depth) {
  fw::Ref<fw::RGBSurface> s = p.RGBSurface();
  return MakePicture(p.Width(), p.Height(), [&](int x, int y) { return s->Pixel(x, y); }, depth);
}

// A photograph-like picture: soft gradients, a hard-edged shape and sensor noise, written to a real PNG
// file and read back as the program would.
fw::Ref<fw::Picture> Photograph() {
  static fw::Ref<fw::Picture> photo = [] {
    QImage image(203, 149, QImage::Format_RGB32);
    QPainter painter(&image);
    QRadialGradient sky(QPointF(60, 40), 220);
    sky.setColorAt(0, QColor(250, 230, 180));
    sky.setColorAt(1, QColor(20, 40, 90));
    painter.fillRect(image.rect(), sky);
    QLinearGradient ground(QPointF(0, 90), QPointF(0, 149));
    ground.setColorAt(0, QColor(90, 140, 60));
    ground.setColorAt(1, QColor(30, 50, 10));
    painter.setBrush(ground);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(140, 130), 110, 50);
    painter.setBrush(QColor(255, 255, 255));
    painter.drawRect(20, 100, 12, 30);
    painter.end();
    std::mt19937 rng(11);
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        const int n = static_cast<int>(rng() % 41) - 20;
        image.setPixel(x, y, qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                                  std::clamp(qBlue(p) + n, 0, 255)));
      }
    TempDir dir;
    QImageWriter writer(QString::fromStdString((dir / "photo.png").string()), "png");
    if (!writer.write(image)) return fw::Ref<fw::Picture>();
    return fw::MakeRef<fw::FolderItem>(dir / "photo.png")->OpenAsPicture();
  }();
  return photo;
}

class Kernwell : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing_support::LoadBundlePlugins();
    RegisterMatrixClasses();
  }

  void SetUp() override {
    ASSERT_TRUE(fw::FindClass("ConvolutionEffect")) << "the convolution plug-in isn't loaded";
    effect_ = fw::PluginObject::New("ConvolutionEffect");
  }

  template <typename Fn>
  static Fn Routine(std::size_t slot) {
    void* address = fw::RuntimeLookupPluginEntrypoint("ConvolutionEffect." + kDeclarations[slot]);
    EXPECT_NE(address, nullptr) << kDeclarations[slot];
    return reinterpret_cast<Fn>(address);
  }

  static REALpicture ToREAL(fw::Picture* p) { return reinterpret_cast<REALpicture>(static_cast<fw::Object*>(p)); }

  static fw::Ref<fw::Picture> Adopt(REALpicture result) {
    auto* object = reinterpret_cast<fw::Object*>(result);
    if (!object) return nullptr;
    auto* picture = dynamic_cast<fw::Picture*>(object);
    EXPECT_NE(picture, nullptr);
    return fw::Ref<fw::Picture>::Adopt(picture);
  }

  MPImageFilterData* Words() { return MPImageFilterDataBefore(effect_->Data()); }
  std::int32_t ErrorCode() { return Words()->errorCode; }
  REALobject Self() { return fw::ToREAL(effect_.get()); }

  fw::Ref<fw::Picture> Smooth(const fw::Ref<fw::Picture>& source, std::int32_t weight,
                              const fw::Ref<fw::Picture>& mask = nullptr) {
    return Adopt(Routine<SmoothFn>(0)(Self(), ToREAL(source.get()), weight, ToREAL(mask.get())));
  }
  // Slots 1 to 5.
  fw::Ref<fw::Picture> Fixed(std::size_t slot, const fw::Ref<fw::Picture>& source,
                             const fw::Ref<fw::Picture>& mask = nullptr) {
    return Adopt(Routine<FilterFn>(slot)(Self(), ToREAL(source.get()), ToREAL(mask.get())));
  }
  fw::Ref<fw::Picture> Sharpen(const fw::Ref<fw::Picture>& s, const fw::Ref<fw::Picture>& m = nullptr) {
    return Fixed(1, s, m);
  }
  fw::Ref<fw::Picture> EdgeDetect(const fw::Ref<fw::Picture>& s, const fw::Ref<fw::Picture>& m = nullptr) {
    return Fixed(2, s, m);
  }
  fw::Ref<fw::Picture> Blur(const fw::Ref<fw::Picture>& s, const fw::Ref<fw::Picture>& m = nullptr) {
    return Fixed(3, s, m);
  }
  fw::Ref<fw::Picture> MeanRemoval(const fw::Ref<fw::Picture>& s, const fw::Ref<fw::Picture>& m = nullptr) {
    return Fixed(4, s, m);
  }
  fw::Ref<fw::Picture> Emboss(const fw::Ref<fw::Picture>& s, const fw::Ref<fw::Picture>& m = nullptr) {
    return Fixed(5, s, m);
  }
  fw::Ref<fw::Picture> Matrix(const fw::Ref<fw::Picture>& source, fw::Object* matrix,
                              const fw::Ref<fw::Picture>& mask = nullptr) {
    return Adopt(Routine<MatrixFn>(6)(Self(), ToREAL(source.get()), fw::ToREAL(matrix), ToREAL(mask.get())));
  }

  static fw::Ref<MatrixObject> MakeMatrix(const std::array<std::int32_t, 9>& c, std::int32_t divisor,
                                          std::int32_t offset) {
    fw::Ref<MatrixObject> m = fw::PluginObject::New("TestMatrix");
    std::int32_t* words = MatrixWords(*m);
    words[0] = static_cast<std::int32_t>(kMatrixTag);
    words[1] = static_cast<std::int32_t>(0xDEADBEEFu);  // never read
    std::copy(c.begin(), c.end(), words + 2);
    words[11] = divisor;
    words[12] = offset;
    return m;
  }

  // Nothing a call locked is still locked.
  static ::testing::AssertionResult Unlocked(const fw::Ref<fw::Picture>& p) {
    if (!p) return ::testing::AssertionSuccess();
    const int description = p->DescriptionLocks();
    const int pixels = p->GWorld()->pixMap.lockCount.load();
    if (description == 0 && pixels == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << description << " description locks and " << pixels
                                         << " pixel locks left";
  }

  fw::Ref<fw::PluginObject> effect_;
};

// The arithmetic tests run on the rows this processor picks and on the baseline rows every processor
// runs, which the plug-in uses when SPECKMOOR_CONVOLUTION_BASELINE is set. The plug-in reads it once per
// process; CTest runs each case in a process of its own.
class KernwellRows : public Kernwell, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    if (GetParam())
      setenv("SPECKMOOR_CONVOLUTION_BASELINE", "1", 1);
    else
      unsetenv("SPECKMOOR_CONVOLUTION_BASELINE");
    Kernwell::SetUp();
    void* self = dlopen((std::filesystem::path(SPECKMOOR_PLUGIN_DIR) / "libKernwell.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_TRUE(self);
    auto baselineAsked = reinterpret_cast<bool (*)()>(dlsym(self, "KernwellBaselineRowsAsked"));
    ASSERT_TRUE(baselineAsked);
    const bool asked = baselineAsked();
    dlclose(self);
    if (asked != GetParam()) GTEST_SKIP() << "this process chose its rows in an earlier case; run this case alone";
  }
  void TearDown() override { unsetenv("SPECKMOOR_CONVOLUTION_BASELINE"); }
};

INSTANTIATE_TEST_SUITE_P(Rows, KernwellRows, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Baseline" : "Widest");
                         });

// ---- registration ----

TEST_F(Kernwell, RegistersTheSevenMethodsInSlotOrder) {
  const std::vector<std::string> keys = fw::PluginKeys();
  std::vector<std::size_t> at;
  for (const std::string& declaration : kDeclarations) {
    auto it = std::find(keys.begin(), keys.end(), "ConvolutionEffect." + declaration);
    ASSERT_NE(it, keys.end()) << declaration;
    at.push_back(static_cast<std::size_t>(it - keys.begin()));
  }
  for (std::size_t i = 1; i < at.size(); ++i) EXPECT_EQ(at[i], at[i - 1] + 1) << kDeclarations[i];

  const fw::ClassRecord* cls = fw::FindClass("ConvolutionEffect");
  ASSERT_TRUE(cls);
  EXPECT_EQ(cls->operations, std::vector<std::string>(kDeclarations.begin(), kDeclarations.end()));
  ASSERT_TRUE(cls->super);
  EXPECT_EQ(cls->super->name, "MPImageFilter");
  // Behind the header and MPImageFilter's 28 bytes.
  EXPECT_EQ(cls->dataOffset, fw::kObjectHeaderSize + sizeof(MPImageFilterData));
  EXPECT_EQ(cls->instanceSize, cls->dataOffset + 4);
  EXPECT_EQ(cls->plugin->name, std::string("ConvolutionEffect"));
  EXPECT_EQ(cls->plugin->superName, std::string("MPImageFilter"));
  EXPECT_EQ(cls->plugin->version, 6);
  EXPECT_EQ(cls->plugin->dataSize, 4);
  EXPECT_EQ(cls->plugin->methodCount, 7);
  EXPECT_EQ(cls->plugin->propertyCount, 0);
  EXPECT_EQ(cls->plugin->constructor, nullptr);
  EXPECT_EQ(cls->plugin->destructor, nullptr);

  // The program's table finds every slot.
  bindings::BindPluginEntryTable();
  for (auto e = static_cast<std::size_t>(bindings::PluginEntry::ConvolutionSmooth);
       e <= static_cast<std::size_t>(bindings::PluginEntry::ConvolutionApplyMatrix); ++e)
    EXPECT_EQ(bindings::PluginEntryAddress(static_cast<bindings::PluginEntry>(e)),
              fw::RuntimeLookupPluginEntrypoint(std::string(bindings::kPluginEntryKeys[e])));

  // The bundle's copy registered: the matrix offset and the data's place are set.
  void* self = dlopen((std::filesystem::path(SPECKMOOR_PLUGIN_DIR) / "libKernwell.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(self);
  EXPECT_EQ(*static_cast<std::int32_t*>(dlsym(self, "gClassOffset")), 24);
  using ClassFn = const REALclassDefinition* (*)();
  EXPECT_EQ(reinterpret_cast<ClassFn>(dlsym(self, "KernwellClassRecord"))(), cls->plugin);
  EXPECT_EQ(cls->plugin->forSystemUse, static_cast<std::int32_t>(cls->dataOffset));
  dlclose(self);
}

TEST_F(Kernwell, AFrameworkOlderThan55GetsNoClass) {
  TempDir dir;
  const std::filesystem::path copy = dir / "libKernwellEarly.so";
  std::filesystem::copy_file(std::filesystem::path(SPECKMOOR_PLUGIN_DIR) / "libKernwell.so", copy);
  const std::size_t keysBefore = fw::PluginKeys().size();

  fw::SetReportedFrameworkVersion(5.49);
  const bool loaded = fw::LoadPlugin(copy);
  fw::SetReportedFrameworkVersion(fw::kFrameworkVersion);
  ASSERT_TRUE(loaded);  // a second registration of the class would have failed the load
  EXPECT_EQ(fw::PluginKeys().size(), keysBefore);
  EXPECT_EQ(fw::PluginVersionOf(copy), 6);

  void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_TRUE(handle);
  EXPECT_EQ(*static_cast<std::int32_t*>(dlsym(handle, "gClassOffset")), 0);
  using ClassFn = const REALclassDefinition* (*)();
  auto record = reinterpret_cast<ClassFn>(dlsym(handle, "KernwellClassRecord"));
  ASSERT_TRUE(record);
  EXPECT_EQ(record()->forSystemUse, 0);
  EXPECT_NE(record(), fw::FindClass("ConvolutionEffect")->plugin);
  EXPECT_NE(dlsym(handle, "gResolver"), nullptr);
  EXPECT_EQ(*static_cast<REALResolver*>(dlsym(handle, "gResolver")), &fw::FrameworkResolve);
  dlclose(handle);
}

TEST_F(Kernwell, AFrameworkOfExactly55GetsTheClass) {
  TempDir dir;
  const std::filesystem::path copy = dir / "libKernwell55.so";
  std::filesystem::copy_file(std::filesystem::path(SPECKMOOR_PLUGIN_DIR) / "libKernwell.so", copy);
  void* handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_TRUE(handle) << dlerror();
  auto entry = reinterpret_cast<void (*)(REALResolver)>(dlsym(handle, "REALPluginMain"));
  ASSERT_TRUE(entry);
  gRegisteredAt55.clear();
  entry(&ResolverOf55);
  EXPECT_EQ(gRegisteredAt55, std::vector<std::string>{"ConvolutionEffect"});
  EXPECT_EQ(*static_cast<std::int32_t*>(dlsym(handle, "gClassOffset")), 24);
  dlclose(handle);
}

// ---- the fixed kernels ----

TEST_P(KernwellRows, EachFixedKernelOnAPhotograph) {
  const fw::Ref<fw::Picture> photo = Photograph();
  ASSERT_TRUE(photo);
  ASSERT_EQ(photo->Depth(), 32);
  EXPECT_TRUE(SamePixels(Sharpen(photo), Reference(*photo, kSharpen)));
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_TRUE(SamePixels(EdgeDetect(photo), Reference(*photo, kEdgeDetect)));
  EXPECT_TRUE(SamePixels(Blur(photo), Reference(*photo, kBlur)));
  EXPECT_TRUE(SamePixels(MeanRemoval(photo), Reference(*photo, kMeanRemoval)));
  EXPECT_TRUE(SamePixels(Emboss(photo), Reference(*photo, kEmboss)));
  for (std::int32_t weight : {0, 1, 2, 5, 8, 24, -1, -3, -7, -9, -20, 1000, 40000})
    EXPECT_TRUE(SamePixels(Smooth(photo, weight), Reference(*photo, SmoothKernel(weight)))) << "weight " << weight;
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_TRUE(Unlocked(photo));
}

TEST_F(Kernwell, TheProgramsClassTableCallsTheSameRoutines) {
  testing_support::LoadBundlePlugins();
  bindings::BindPluginEntryTable();
  const fw::Ref<fw::Picture> photo = Photograph();
  fw::Ref<bindings::ConvolutionEffect> effect = bindings::ConvolutionEffect::New();
  EXPECT_TRUE(SamePixels(effect->Sharpen(photo, nullptr), Reference(*photo, kSharpen)));
  EXPECT_TRUE(SamePixels(effect->Smooth(photo, 3, nullptr), Reference(*photo, SmoothKernel(3))));
  EXPECT_TRUE(SamePixels(effect->Emboss(photo, nullptr), Reference(*photo, kEmboss)));
  fw::Ref<MatrixObject> identity = MakeMatrix({0, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0);
  EXPECT_TRUE(SamePixels(effect->ApplyMatrix(photo, identity, nullptr), photo));
}

TEST_P(KernwellRows, TwentyFourBitSourcesAreReadAsThreeBytePixels) {
  const fw::Ref<fw::Picture> photo24 = AtDepth(*Photograph(), 24);
  ASSERT_EQ(photo24->Depth(), 24);
  for (const Kernel* k : {&kSharpen, &kEdgeDetect, &kBlur, &kMeanRemoval, &kEmboss}) {
    const std::size_t slot = k == &kSharpen ? 1 : k == &kEdgeDetect ? 2 : k == &kBlur ? 3 : k == &kMeanRemoval ? 4 : 5;
    fw::Ref<fw::Picture> got = Fixed(slot, photo24);
    ASSERT_TRUE(got) << "slot " << slot;
    EXPECT_EQ(got->Depth(), 32);
    EXPECT_TRUE(SamePixels(got, Reference(*photo24, *k))) << "slot " << slot;
  }
  EXPECT_TRUE(SamePixels(Smooth(photo24, 2), Reference(*photo24, SmoothKernel(2))));
  // Same result as the 32-bit picture of the same colours.
  EXPECT_TRUE(SamePixels(Sharpen(photo24), Sharpen(Photograph())));
  EXPECT_TRUE(Unlocked(photo24));
}

TEST_P(KernwellRows, FlatAreas) {
  const fw::Color c = RGB(100, 37, 250);
  const fw::Ref<fw::Picture> flat = Flat(9, 7, c);
  EXPECT_TRUE(SamePixels(Emboss(flat), Flat(9, 7, RGB(127, 127, 127))));
  EXPECT_TRUE(SamePixels(EdgeDetect(flat), Flat(9, 7, 0)));
  EXPECT_TRUE(SamePixels(MeanRemoval(flat), flat));
  EXPECT_TRUE(SamePixels(Sharpen(flat), flat));
  EXPECT_TRUE(SamePixels(Blur(flat), flat));
  EXPECT_TRUE(SamePixels(Smooth(flat, 0), flat));
  EXPECT_TRUE(SamePixels(Smooth(flat, 13), flat));

  // Weight 0 ignores the centre: the mean of the eight neighbours, truncated.
  fw::Ref<fw::Picture> ring = MakePicture(3, 3, [](int x, int y) {
    if (x == 1 && y == 1) return RGB(255, 0, 255);
    const int v = 10 * (y * 3 + x) + 1;
    return RGB(v, 200, 0);
  });
  fw::Ref<fw::Picture> smooth = Smooth(ring, 0);
  ASSERT_TRUE(smooth);
  // 1+11+21+31+51+61+71+81 = 328, /8 = 41.
  EXPECT_EQ(smooth->RGBSurface()->Pixel(1, 1), RGB(41, 200, 0));
}

TEST_F(Kernwell, TheCornerPixelRepeatsItsEdges) {
  fw::Ref<fw::Picture> p = MakePicture(3, 3, [](int x, int y) {
    const int v = 10 * (y * 3 + x + 1);
    return RGB(v, 255 - v, v / 2);
  });
  fw::Ref<fw::Picture> blur = Blur(p);
  ASSERT_TRUE(blur);
  // Around (0, 0): 10 10 20 / 10 10 20 / 40 40 50 weighted 1 2 1 / 2 4 2 / 1 2 1 = 320; /16 = 20.
  EXPECT_EQ(fw::Red(blur->RGBSurface()->Pixel(0, 0)), 20);
  // Around (2, 2): 50 60 60 / 80 90 90 / 80 90 90 = 1280; /16 = 80.
  EXPECT_EQ(fw::Red(blur->RGBSurface()->Pixel(2, 2)), 80);
  // A single tap shows which neighbour each corner reads.
  fw::Ref<MatrixObject> aboveLeft = MakeMatrix({1, 0, 0, 0, 0, 0, 0, 0, 0}, 1, 0);
  fw::Ref<fw::Picture> shifted = Matrix(p, aboveLeft.get());
  ASSERT_TRUE(shifted);
  fw::Ref<fw::RGBSurface> s = shifted->RGBSurface();
  fw::Ref<fw::RGBSurface> src = p->RGBSurface();
  EXPECT_EQ(s->Pixel(0, 0), src->Pixel(0, 0));
  EXPECT_EQ(s->Pixel(2, 0), src->Pixel(1, 0));
  EXPECT_EQ(s->Pixel(0, 2), src->Pixel(0, 1));
  EXPECT_EQ(s->Pixel(2, 2), src->Pixel(1, 1));
  fw::Ref<MatrixObject> belowRight = MakeMatrix({0, 0, 0, 0, 0, 0, 0, 0, 1}, 1, 0);
  fw::Ref<fw::Picture> back = Matrix(p, belowRight.get());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->RGBSurface()->Pixel(2, 2), src->Pixel(2, 2));
  EXPECT_EQ(back->RGBSurface()->Pixel(0, 0), src->Pixel(1, 1));
  EXPECT_EQ(back->RGBSurface()->Pixel(2, 0), src->Pixel(2, 1));
}

TEST_P(KernwellRows, OnePixelWideAndHighSources) {
  for (int depth : {32, 24}) {
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 9}, std::pair{9, 1}, std::pair{2, 1}, std::pair{1, 2},
                        std::pair{2, 2}, std::pair{3, 1}}) {
      fw::Ref<fw::Picture> p = Noise(w, h, static_cast<unsigned>(w * 31 + h), depth);
      const std::string what = std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(depth);
      EXPECT_TRUE(SamePixels(Sharpen(p), Reference(*p, kSharpen))) << what;
      EXPECT_TRUE(SamePixels(Blur(p), Reference(*p, kBlur))) << what;
      EXPECT_TRUE(SamePixels(Emboss(p), Reference(*p, kEmboss))) << what;
      EXPECT_TRUE(SamePixels(Smooth(p, 3), Reference(*p, SmoothKernel(3)))) << what;
      fw::Ref<fw::Picture> mask = Noise(w, h, 5, depth);
      EXPECT_TRUE(SamePixels(EdgeDetect(p, mask), Reference(*p, kEdgeDetect, mask.get()))) << what;
      EXPECT_TRUE(Unlocked(p));
    }
  }
  // One pixel: every tap is the pixel itself.
  fw::Ref<fw::Picture> one = Flat(1, 1, RGB(7, 8, 9));
  EXPECT_TRUE(SamePixels(Sharpen(one), one));
  EXPECT_TRUE(SamePixels(EdgeDetect(one), Flat(1, 1, 0)));
}

TEST_P(KernwellRows, SizesAroundTheVectorWidths) {
  // Widths that leave every possible remainder after the vector loop, and tall and short pictures.
  for (int w = 1; w <= 40; ++w) {
    fw::Ref<fw::Picture> p = Noise(w, 5, static_cast<unsigned>(w));
    ASSERT_TRUE(SamePixels(Sharpen(p), Reference(*p, kSharpen))) << "width " << w;
    ASSERT_TRUE(SamePixels(Smooth(p, 1), Reference(*p, SmoothKernel(1)))) << "width " << w;
  }
}

// ---- arithmetic ----

TEST_P(KernwellRows, TheQuotientTruncatesTowardZeroBeforeTheOffset) {
  // Only the centre tap, -1: the sum is -7; -7 / 2 is -3, not -4; plus 127 gives 124.
  fw::Ref<MatrixObject> m = MakeMatrix({0, 0, 0, 0, -1, 0, 0, 0, 0}, 2, 127);
  fw::Ref<fw::Picture> result = Matrix(Flat(4, 3, RGB(7, 7, 7)), m.get());
  ASSERT_TRUE(result);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_TRUE(SamePixels(result, Flat(4, 3, RGB(124, 124, 124))));
  // The same with a divisor that is not a power of two and one that is negative.
  fw::Ref<MatrixObject> three = MakeMatrix({0, 0, 0, 0, -1, 0, 0, 0, 0}, 3, 127);
  EXPECT_TRUE(SamePixels(Matrix(Flat(2, 2, RGB(7, 8, 9)), three.get()), Flat(2, 2, RGB(125, 125, 124))));
  fw::Ref<MatrixObject> negative = MakeMatrix({0, 0, 0, 0, 1, 0, 0, 0, 0}, -2, 127);
  EXPECT_TRUE(SamePixels(Matrix(Flat(2, 2, RGB(7, 8, 9)), negative.get()), Flat(2, 2, RGB(124, 123, 123))));
}

TEST_P(KernwellRows, MatrixObjectsOfEveryRangeMatchThePlainConvolution) {
  const fw::Ref<fw::Picture> photo = Photograph();
  struct Case {
    std::array<std::int32_t, 9> c;
    std::int32_t divisor;
    std::int32_t offset;
  };
  const Case cases[] = {
      {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0},
      {{1, 1, 1, 1, 1, 1, 1, 1, 1}, 9, 0},
      {{1, 1, 1, 1, 1, 1, 1, 1, 1}, -9, 255},
      {{-3, 5, -7, 11, 13, -17, 19, -23, 29}, 7, 60},
      {{-1, 0, 1, -2, 0, 2, -1, 0, 1}, 1, 128},
      {{200, -100, 50, 25, -300, 75, 10, 20, 30}, 64, -40},
      {{200, -100, 50, 25, -300, 75, 10, 20, 30}, 1 << 20, 100},
      {{8000000, 0, 0, 0, 0, 0, 0, 0, 0}, 8000001, 0},           // sums past 24 bits
      {{0, 0, 0, 0, 8000000, 0, 0, 0, 0}, -7999999, 255},
      {{0, 0, 0, 0, INT32_MIN, 0, 0, 0, 0}, INT32_MIN, 0},       // sums past 32 bits
      {{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX},
       INT32_MAX, 128},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 1, INT32_MIN},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 1, INT32_MAX},
      {{1, 2, 3, 4, -5, 6, 7, 8, 9}, -1, INT32_MAX},
      {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 1 << 30, 3},
      {{-1000, 1000, -1000, 1000, 1, 1000, -1000, 1000, -1000}, 1 << 14, 128},
      {{-1000, 1000, -1000, 1000, 1, 1000, -1000, 1000, -1000}, 1 << 15, 128},
      {{128, 0, 0, 0, 0, 0, 0, 0, 0}, 1, -32500},
  };
  for (const Case& c : cases) {
    fw::Ref<MatrixObject> m = MakeMatrix(c.c, c.divisor, c.offset);
    Kernel k{{}, c.divisor, c.offset};
    std::copy(c.c.begin(), c.c.end(), k.c.begin());
    EXPECT_TRUE(SamePixels(Matrix(photo, m.get()), Reference(*photo, k)))
        << "divisor " << c.divisor << " offset " << c.offset << " first " << c.c[0];
    EXPECT_EQ(ErrorCode(), 0);
  }
}

TEST_P(KernwellRows, EveryDivisorTruncatesExactly) {
  // Sums spread around 0, in 16-bit range and well past it, against divisors of every size and sign.
  const fw::Ref<fw::Picture> p = Noise(41, 3, 17);
  std::vector<std::int32_t> divisors;
  for (std::int32_t d = 1; d <= 70; ++d) divisors.push_back(d);
  for (std::int32_t d : {127, 128, 129, 255, 256, 257, 1000, 4095, 4096, 4097, 16383, 16384, 16385, 32767, 32768,
                         32769, 65535, 65536, 65537, (1 << 20) - 1, 1 << 20, (1 << 20) + 1, 999999937,
                         1 << 30, INT32_MAX})
    divisors.push_back(d);
  const std::size_t positive = divisors.size();
  for (std::size_t i = 0; i < positive; ++i) divisors.push_back(-divisors[i]);
  divisors.push_back(INT32_MIN);
  const std::array<std::int32_t, 9> shapes[] = {
      {-1, 2, -3, 4, 5, -6, 7, -8, 9},
      {-12, 9, -3, 14, 1, -6, 7, -8, -2},
      {-50000, 120000, -3, 4, 5, -60000, 7000, -8, 90000},
      {-5000000, 1200000, -3, 400000, 5, -600000, 700000, -8, 900000},
  };
  for (const auto& shape : shapes) {
    for (std::int32_t d : divisors) {
      for (std::int32_t offset : {0, 128}) {
        fw::Ref<MatrixObject> m = MakeMatrix(shape, d, offset);
        Kernel k{{}, d, offset};
        std::copy(shape.begin(), shape.end(), k.c.begin());
        ASSERT_TRUE(SamePixels(Matrix(p, m.get()), Reference(*p, k)))
            << "divisor " << d << " offset " << offset << " first tap " << shape[0];
      }
    }
  }
}

TEST_F(Kernwell, SmoothWeightMinusEightIsADivisorOfZero) {
  EXPECT_EQ(Smooth(Photograph(), -8), nullptr);
  EXPECT_EQ(ErrorCode(), 4);
  EXPECT_TRUE(Unlocked(Photograph()));
}

TEST_P(KernwellRows, SmoothWeightsWhoseDivisorOverflows) {
  const fw::Ref<fw::Picture> photo = Photograph();
  for (std::int32_t weight : {INT32_MAX, INT32_MAX - 7, INT32_MAX - 8, INT32_MIN, INT32_MIN + 3}) {
    fw::Ref<fw::Picture> result = Smooth(photo, weight);
    ASSERT_TRUE(result) << weight;
    EXPECT_EQ(ErrorCode(), 0);
    EXPECT_TRUE(SamePixels(result, Reference(*photo, SmoothKernel(weight)))) << weight;
  }
  // INT32_MAX - 8 gives the largest positive divisor: the centre carries almost all the weight.
  const fw::Ref<fw::Picture> flat = Flat(5, 5, RGB(200, 100, 3));
  EXPECT_TRUE(SamePixels(Smooth(flat, INT32_MAX - 8), flat));
}

// ---- masks ----

TEST_F(Kernwell, MaskBlendsByItsRedByte) {
  const fw::Ref<fw::Picture> white = Flat(6, 4, RGB(255, 255, 255));
  // Red 0 but green set: a blend with k = 0, so 255 becomes (255 * 255) >> 8 = 254.
  fw::Ref<fw::Picture> blur = Blur(white, Flat(6, 4, RGB(0, 1, 0)));
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_TRUE(SamePixels(blur, Flat(6, 4, RGB(254, 254, 254))));
  // A black mask keeps the filtered value.
  EXPECT_TRUE(SamePixels(Blur(white, Flat(6, 4, 0)), white));
  // Red 255: (255 * source) >> 8 whatever the filter made.
  const fw::Ref<fw::Picture> grey = Flat(6, 4, RGB(200, 100, 1));
  EXPECT_TRUE(SamePixels(EdgeDetect(grey, Flat(6, 4, RGB(255, 0, 0))), Flat(6, 4, RGB(199, 99, 0))));
  // Red 128 halves between the two: EdgeDetect of a flat area is 0.
  EXPECT_TRUE(SamePixels(EdgeDetect(grey, Flat(6, 4, RGB(128, 7, 7))), Flat(6, 4, RGB(100, 50, 0))));
}

TEST_P(KernwellRows, MasksOnAPhotographAtEachDepth) {
  const fw::Ref<fw::Picture> photo = Photograph();
  const fw::Ref<fw::Picture> photo24 = AtDepth(*photo, 24);
  // A mask with black, red-only, green-only and mixed areas, a little larger than the source.
  fw::Ref<fw::Picture> mask32 = MakePicture(photo->Width() + 3, photo->Height() + 2, [](int x, int y) {
    if (x < 40) return fw::Color{0};
    if (x < 80) return RGB((x * 7 + y) & 255, 0, 0);
    if (x < 120) return RGB(0, (y & 1) * 9, 0);
    return RGB((x + y * 3) & 255, x & 255, y & 255);
  });
  const fw::Ref<fw::Picture> mask24 = AtDepth(*mask32, 24);
  for (const auto& source : {photo, photo24}) {
    for (const auto& mask : {mask32, mask24}) {
      const std::string what = std::to_string(source->Depth()) + "-bit source, " + std::to_string(mask->Depth()) +
                               "-bit mask";
      EXPECT_TRUE(SamePixels(Sharpen(source, mask), Reference(*source, kSharpen, mask.get()))) << what;
      EXPECT_EQ(ErrorCode(), 0);
      EXPECT_TRUE(SamePixels(Smooth(source, 5, mask), Reference(*source, SmoothKernel(5), mask.get()))) << what;
      EXPECT_TRUE(SamePixels(Emboss(source, mask), Reference(*source, kEmboss, mask.get()))) << what;
      EXPECT_TRUE(Unlocked(mask)) << what;
      EXPECT_TRUE(Unlocked(source)) << what;
    }
  }
}

TEST_F(Kernwell, AnUnusableMaskGivesAnUnfilteredPicture) {
  const fw::Ref<fw::Picture> source = Noise(12, 10, 3);
  const fw::Ref<fw::Picture> masks[] = {
      Noise(11, 10, 4),      // one pixel narrower
      Noise(12, 9, 4),       // one row shorter
      Noise(12, 10, 4, 16),  // depth 16
      Noise(12, 10, 4, 8),   // depth 8
      Noise(1, 1, 4),
  };
  for (const auto& mask : masks) {
    const std::string what = std::to_string(mask->Width()) + "x" + std::to_string(mask->Height()) + "x" +
                             std::to_string(mask->Depth());
    fw::Ref<fw::Picture> result = Sharpen(source, mask);
    ASSERT_TRUE(result) << what;
    EXPECT_EQ(ErrorCode(), 1) << what;
    EXPECT_EQ(result->Width(), 12);
    EXPECT_EQ(result->Height(), 10);
    EXPECT_EQ(result->Depth(), 32);
    EXPECT_TRUE(AllZero(*result)) << what;
    EXPECT_TRUE(Unlocked(mask)) << what;
    EXPECT_TRUE(Unlocked(source)) << what;
    EXPECT_TRUE(Unlocked(result)) << what;
    EXPECT_EQ(result->RefCount(), 1);
  }
  // The next good call clears the code.
  EXPECT_TRUE(Sharpen(source, Noise(12, 10, 4)));
  EXPECT_EQ(ErrorCode(), 0);
}

// ---- refusals ----

TEST_F(Kernwell, SourcesOfDepthEightAndSixteenAreRefused) {
  for (int depth : {8, 16}) {
    fw::Ref<fw::Picture> source = Noise(8, 8, 1, depth);
    for (std::size_t slot = 1; slot <= 5; ++slot) {
      EXPECT_EQ(Fixed(slot, source), nullptr) << depth;
      EXPECT_EQ(ErrorCode(), 2) << depth;
    }
    EXPECT_EQ(Smooth(source, 1), nullptr);
    EXPECT_EQ(ErrorCode(), 2);
    fw::Ref<fw::Picture> mask = Noise(8, 8, 2);
    EXPECT_EQ(Sharpen(source, mask), nullptr);
    EXPECT_EQ(ErrorCode(), 2);
    EXPECT_TRUE(Unlocked(source)) << depth;
    EXPECT_TRUE(Unlocked(mask)) << depth;
    EXPECT_EQ(source->RefCount(), 1);
  }
}

TEST_F(Kernwell, NilSourceAndZeroDivisor) {
  EXPECT_EQ(Sharpen(nullptr), nullptr);
  EXPECT_EQ(ErrorCode(), 2);
  EXPECT_EQ(Smooth(nullptr, 1), nullptr);
  EXPECT_EQ(ErrorCode(), 2);
  // The divisor is checked before the source.
  fw::Ref<MatrixObject> zero = MakeMatrix({1, 1, 1, 1, 1, 1, 1, 1, 1}, 0, 0);
  EXPECT_EQ(Matrix(nullptr, zero.get()), nullptr);
  EXPECT_EQ(ErrorCode(), 4);
  EXPECT_EQ(Smooth(nullptr, -8), nullptr);
  EXPECT_EQ(ErrorCode(), 4);
  fw::Ref<fw::Picture> p = Noise(4, 4, 9);
  EXPECT_EQ(Matrix(p, zero.get()), nullptr);
  EXPECT_EQ(ErrorCode(), 4);
  EXPECT_TRUE(Unlocked(p));
  // A picture that isn't one: refused like nil.
  fw::Ref<MatrixObject> notAPicture = MakeMatrix({0, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0);
  EXPECT_EQ(Adopt(Routine<FilterFn>(1)(Self(), reinterpret_cast<REALpicture>(static_cast<fw::Object*>(notAPicture.get())),
                                       nullptr)),
            nullptr);
  EXPECT_EQ(ErrorCode(), 2);
}

TEST_F(Kernwell, NilUntaggedOrTooSmallMatrixObjectsLeaveTheErrorCode) {
  const fw::Ref<fw::Picture> p = Noise(5, 5, 2);
  for (std::int32_t previous : {2, 4, 0, 1}) {
    // Each previous code made by a real failure (or success) of the call before.
    if (previous == 2) { EXPECT_EQ(Sharpen(nullptr), nullptr); }
    if (previous == 4) { EXPECT_EQ(Smooth(p, -8), nullptr); }
    if (previous == 0) { EXPECT_TRUE(Sharpen(p)); }
    if (previous == 1) { EXPECT_TRUE(Sharpen(p, Noise(4, 5, 1))); }
    ASSERT_EQ(ErrorCode(), previous);
    EXPECT_EQ(Matrix(p, nullptr), nullptr);
    EXPECT_EQ(ErrorCode(), previous);
    fw::Ref<MatrixObject> untagged = MakeMatrix({0, 0, 0, 0, 1, 0, 0, 0, 0}, 1, 0);
    MatrixWords(*untagged)[0] = static_cast<std::int32_t>(kMatrixTag ^ 1u);
    EXPECT_EQ(Matrix(p, untagged.get()), nullptr);
    EXPECT_EQ(ErrorCode(), previous);
    // An untagged matrix with a zero divisor is still only untagged.
    MatrixWords(*untagged)[11] = 0;
    EXPECT_EQ(Matrix(nullptr, untagged.get()), nullptr);
    EXPECT_EQ(ErrorCode(), previous);
    // Nothing is read past the data of an object too small to be a matrix, whatever its first word.
    fw::Ref<MatrixObject> tagOnly = fw::PluginObject::New("TestTagOnly");
    MatrixWords(*tagOnly)[0] = static_cast<std::int32_t>(kMatrixTag);
    EXPECT_EQ(Matrix(p, tagOnly.get()), nullptr);
    EXPECT_EQ(ErrorCode(), previous);
    fw::Ref<fw::Object> plain = fw::MakeRef<fw::Object>();
    EXPECT_EQ(Matrix(p, plain.get()), nullptr);
    EXPECT_EQ(ErrorCode(), previous);
    EXPECT_TRUE(Unlocked(p));
  }
}

// ---- threads ----

TEST_P(KernwellRows, OneThreadAndAllThreadsAgree) {
  const fw::Ref<fw::Picture> big = Noise(517, 389, 77);
  const fw::Ref<fw::Picture> mask = Noise(517, 389, 78);
  Words()->multiprocessingHint = 1;
  fw::Ref<fw::Picture> single = Sharpen(big);
  fw::Ref<fw::Picture> singleMasked = Smooth(big, 3, mask);
  fw::Ref<fw::Picture> singlePhoto = Emboss(Photograph());
  Words()->multiprocessingHint = 0;
  EXPECT_EQ(Words()->multiprocessingHint, 0);
  EXPECT_TRUE(SamePixels(Sharpen(big), single));
  EXPECT_TRUE(SamePixels(Smooth(big, 3, mask), singleMasked));
  EXPECT_TRUE(SamePixels(Emboss(Photograph()), singlePhoto));
  EXPECT_TRUE(SamePixels(single, Reference(*big, kSharpen)));
  Words()->multiprocessingHint = 3;
  EXPECT_TRUE(SamePixels(Sharpen(big), single));
  EXPECT_TRUE(Unlocked(big));
  EXPECT_TRUE(Unlocked(mask));
}

TEST_F(Kernwell, TheDispatcherGetsTheFiltersHintAndFourthWord) {
  Words()->dispatcher = &RecordingDispatcher;
  Words()->multiprocessingHint = 3;
  Words()->reserved = 0x5EED;
  const fw::Ref<fw::Picture> photo = Photograph();
  EXPECT_TRUE(SamePixels(Sharpen(photo), Reference(*photo, kSharpen)));
  EXPECT_EQ(gDispatchedHint, 3);
  EXPECT_EQ(gDispatchedFourthWord, 0x5EED);
}

TEST_F(Kernwell, ResultsCarryOneReferenceAndTheSourceIsUntouched) {
  const fw::Ref<fw::Picture> p = Noise(33, 17, 12);
  const fw::Ref<fw::Picture> before = Noise(33, 17, 12);
  const std::uint64_t generation = p->Generation();
  fw::Ref<fw::Picture> result = Sharpen(p);
  ASSERT_TRUE(result);
  EXPECT_NE(result.get(), p.get());
  EXPECT_EQ(result->RefCount(), 1);
  EXPECT_EQ(p->RefCount(), 1);
  EXPECT_TRUE(SamePixels(p, before));
  EXPECT_TRUE(Unlocked(result));
  // Each description unlock counts as a change of the picture, as for every plug-in.
  EXPECT_GT(p->Generation(), generation);
}

}  // namespace
