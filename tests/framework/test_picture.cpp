#include <gtest/gtest.h>

#include <limits>

#include "TestSupport.h"
#include "framework/Color.h"
#include "framework/Convert.h"
#include "framework/Picture.h"

using fw::Color;
using fw::RGB;

TEST(Picture, SizesDepthsAndRefusals) {
  for (int depth : {8, 16, 24, 32}) {
    fw::Ref<fw::Picture> p = fw::NewPicture(5, 3, depth);
    ASSERT_TRUE(p) << depth;
    EXPECT_EQ(p->Width(), 5);
    EXPECT_EQ(p->Height(), 3);
    EXPECT_EQ(p->Depth(), depth);
    EXPECT_EQ(p->RowBytes() % 4, 0);
    EXPECT_GE(p->RowBytes(), 5 * depth / 8);
    for (int y = 0; y < 3; ++y)
      for (int i = 0; i < p->RowBytes(); ++i) ASSERT_EQ(p->Row(y)[i], 0);
  }
  EXPECT_FALSE(fw::NewPicture(0, 10, 32));
  EXPECT_FALSE(fw::NewPicture(10, -1, 32));
  EXPECT_FALSE(fw::NewPicture(10, 10, 12));
  EXPECT_FALSE(fw::NewPicture(std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), 32));
  EXPECT_FALSE(fw::NewPicture(0x7fffffff, 1, 32));  // a row longer than 2 GB
}

TEST(Picture, ThirtyTwoBitLayoutIsUnusedRedGreenBlue) {
  fw::Ref<fw::Picture> p = fw::NewPicture(2, 1, 32);
  p->RGBSurface()->SetPixel(1, 0, RGB(0x12, 0x34, 0x56));
  const std::uint8_t* px = p->Row(0) + 4;
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], 0x12);
  EXPECT_EQ(px[2], 0x34);
  EXPECT_EQ(px[3], 0x56);
  // The platform's pixel map sees the same memory.
  PixMapHandle pm = GetGWorldPixMap(p->GWorld());
  ASSERT_TRUE(LockPixels(pm));
  EXPECT_EQ(GetPixBaseAddr(pm), p->Bits());
  EXPECT_EQ(QTGetPixMapHandleRowBytes(pm), p->RowBytes());
  EXPECT_EQ(GetPixMapPixelSize(pm), 32);
  UnlockPixels(pm);
}

TEST(Picture, SurfaceReadsAndWritesEveryDepthAndIgnoresTheOutside) {
  const Color colours[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(200, 100, 50), RGB(8, 16, 248)};
  for (int depth : {16, 24, 32}) {
    fw::Ref<fw::Picture> p = fw::NewPicture(4, 2, depth);
    fw::Ref<fw::RGBSurface> s = p->RGBSurface();
    for (int x = 0; x < 4; ++x) s->SetPixel(x, 1, colours[x]);
    for (int x = 0; x < 4; ++x) {
      const Color got = s->Pixel(x, 1);
      const int tolerance = depth == 16 ? 7 : 0;  // five bits a channel
      EXPECT_NEAR(fw::Red(got), fw::Red(colours[x]), tolerance) << depth;
      EXPECT_NEAR(fw::Green(got), fw::Green(colours[x]), tolerance) << depth;
      EXPECT_NEAR(fw::Blue(got), fw::Blue(colours[x]), tolerance) << depth;
    }
  }
  fw::Ref<fw::Picture> grey = fw::NewPicture(3, 1, 8);
  grey->RGBSurface()->SetPixel(2, 0, RGB(77, 77, 77));
  EXPECT_EQ(grey->RGBSurface()->Pixel(2, 0), RGB(77, 77, 77));

  fw::Ref<fw::Picture> p = testing_support::MakePicture(2, 2, [](int, int) { return RGB(9, 9, 9); });
  fw::Ref<fw::RGBSurface> s = p->RGBSurface();
  for (auto [x, y] : {std::pair{-1, 0}, {2, 0}, {3, 1}, {0, 2}, {0, 3}, {-5, -5}}) {
    EXPECT_EQ(s->Pixel(x, y), 0u);
    s->SetPixel(x, y, RGB(255, 255, 255));
  }
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(s->Pixel(x, y), RGB(9, 9, 9));
}

TEST(Picture, ReferencesKeepPixelsAlive) {
  fw::Ref<fw::RGBSurface> s;
  {
    fw::Ref<fw::Picture> p = testing_support::MakePicture(1, 1, [](int, int) { return RGB(1, 2, 3); });
    EXPECT_EQ(p->RefCount(), 1);
    s = p->RGBSurface();
    EXPECT_EQ(p->RefCount(), 2);
  }
  EXPECT_EQ(s->Pixel(0, 0), RGB(1, 2, 3));
}

TEST(Colour, RGBClampsEachComponent) {
  EXPECT_EQ(RGB(-21, 276, 128), RGB(0, 255, 128));
  EXPECT_EQ(RGB(300, -1, 0), 0xff0000u);
  EXPECT_EQ(fw::Red(RGB(17, 0, 0)), 17);
}

TEST(Convert, DoubleToInt32TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(fw::DoubleToInt32(21.1666), 21);
  EXPECT_EQ(fw::DoubleToInt32(-21.1666), -21);
  EXPECT_EQ(fw::DoubleToInt32(-0.9), 0);
  EXPECT_EQ(fw::DoubleToInt32(127.0 / 8.0), 15);
  EXPECT_EQ(fw::DoubleToInt32(1e300), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(fw::DoubleToInt32(-1e300), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(fw::DoubleToInt32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(fw::DoubleToInt32(2147483647.5), std::numeric_limits<int32_t>::max());
}
