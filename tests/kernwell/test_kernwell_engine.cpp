// The engine's Sharpen step with the convolution plug-in present.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "AppFixture.h"
#include "bindings/ConvolutionEffect.h"
#include "bindings/ImageFilter.h"
#include "engine/Speckmoor.h"
#include "framework/ClassRegistry.h"
#include "framework/PluginObject.h"

namespace {

using fw::RGB;
using testing_support::MakePicture;
using testing_support::SetOption;

fw::Ref<fw::Picture> Noise(int w, int h, unsigned start) {
  std::mt19937 rng(start);
  return MakePicture(w, h, [&](int, int) { return static_cast<fw::Color>(rng() & 0xffffff); });
}

// A soft ramp with a little noise, so dithering the sharpened and the plain picture differs.
fw::Ref<fw::Picture> Ramp(int w, int h) {
  std::mt19937 rng(5);
  return MakePicture(w, h, [&](int x, int y) {
    const int n = static_cast<int>(rng() % 31) - 15;
    const int v = std::clamp((x * 255) / w + n, 0, 255);
    return RGB(v, std::clamp(v + y % 40, 0, 255), std::clamp(255 - v, 0, 255));
  });
}

bool SamePixels(const fw::Picture& a, const fw::Picture& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Depth() != b.Depth()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<std::size_t>(a.Width() * a.BytesPerPixel())) != 0) return false;
  return true;
}

// Sharpen written out plainly on a grey picture (its red bytes): -1 -2 -1 / -2 16 -2 / -1 -2 -1, / 4,
// truncated toward zero, edges repeated.
fw::Ref<fw::Picture> PlainSharpen(const fw::Picture& grey) {
  static const int kTaps[3][3] = {{-1, -2, -1}, {-2, 16, -2}, {-1, -2, -1}};
  const int w = grey.Width();
  const int h = grey.Height();
  fw::Ref<fw::Picture> out = fw::NewPicture(w, h, 32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sum = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          sum += kTaps[dy + 1][dx + 1] * grey.Row(std::clamp(y + dy, 0, h - 1))[4 * std::clamp(x + dx, 0, w - 1) + 1];
      const int v = std::clamp(sum / 4, 0, 255);
      std::uint8_t* p = out->Row(y) + 4 * x;
      p[1] = p[2] = p[3] = static_cast<std::uint8_t>(v);
    }
  return out;
}

class KernwellEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::StartApplication();
    ASSERT_TRUE(fw::FindClass("ConvolutionEffect")) << "the convolution plug-in isn't loaded";
    SetOption("OptionSharpen", false);
    SetOption("OptionsContrast", false);
  }
  void TearDown() override { SetOption("OptionSharpen", false); }

  fw::Ref<engine::Speckmoor> engine_ = fw::MakeRef<engine::Speckmoor>();
};

}  // namespace

TEST_F(KernwellEngine, SharpenCheckedMakesOneConvolutionEffectPerRunAndNoneUnchecked) {
  const fw::Ref<fw::Picture> input = Noise(23, 17, 4);
  const std::uint64_t before = fw::PluginObjectsMade("ConvolutionEffect");
  engine_->Dither(input);
  engine_->Dither(input);
  EXPECT_EQ(fw::PluginObjectsMade("ConvolutionEffect"), before);

  SetOption("OptionSharpen", true);
  engine_->Dither(input);
  EXPECT_EQ(fw::PluginObjectsMade("ConvolutionEffect"), before + 1);
  engine_->Dither(input);
  EXPECT_EQ(fw::PluginObjectsMade("ConvolutionEffect"), before + 2);
  SetOption("OptionsContrast", true);
  engine_->Dither(input);
  EXPECT_EQ(fw::PluginObjectsMade("ConvolutionEffect"), before + 3);

  SetOption("OptionSharpen", false);
  engine_->Dither(input);
  EXPECT_EQ(fw::PluginObjectsMade("ConvolutionEffect"), before + 3);
}

TEST_F(KernwellEngine, TheSharpenedRunDithersThePlainlySharpenedGrey) {
  const fw::Ref<fw::Picture> input = Ramp(97, 61);
  const fw::Ref<fw::Picture> grey = bindings::GrayScale(bindings::EnsurePictureBits(input, 32), 3, nullptr, nullptr);
  ASSERT_TRUE(grey);

  // The filter on the grey picture matches the plain sharpen.
  fw::Ref<bindings::ConvolutionEffect> filter = bindings::ConvolutionEffect::New();
  const fw::Ref<fw::Picture> sharpened = filter->Sharpen(grey, nullptr);
  ASSERT_TRUE(sharpened);
  const fw::Ref<fw::Picture> plain = PlainSharpen(*grey);
  EXPECT_TRUE(SamePixels(*sharpened, *plain));

  // A sharpened run dithers exactly that picture: grey scale maps grey to itself, so an unsharpened run
  // on the sharpened grey takes the same steps.
  SetOption("OptionSharpen", true);
  engine_->Dither(input);
  const fw::Ref<fw::Picture> withSharpen = engine_->buffer.Load();
  SetOption("OptionSharpen", false);
  engine_->Dither(plain);
  const fw::Ref<fw::Picture> ofPlain = engine_->buffer.Load();
  engine_->Dither(input);
  const fw::Ref<fw::Picture> unsharpened = engine_->buffer.Load();
  ASSERT_TRUE(withSharpen && ofPlain && unsharpened);
  EXPECT_TRUE(SamePixels(*withSharpen, *ofPlain));
  EXPECT_FALSE(SamePixels(*withSharpen, *unsharpened));
  EXPECT_EQ(grey->DescriptionLocks(), 0);
}
