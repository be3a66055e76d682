#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include "TestSupport.h"
#include "corpus/HostileFiles.h"
#include "framework/FolderItem.h"
#include "framework/PictureFile.h"

using fw::RGB;
using hostile::PngDeclaring;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

QImage Pattern(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 255 / w, y * 255 / h, (x + y) * 255 / (w + h)));
  return image;
}

void Save(const QImage& image, const std::filesystem::path& path, const char* format, int quality = -1) {
  QImageWriter writer(QString::fromStdString(path.string()), format);
  if (quality >= 0) writer.setQuality(quality);
  ASSERT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
}

fw::Ref<fw::Picture> Open(const std::filesystem::path& path) { return fw::MakeRef<fw::FolderItem>(path)->OpenAsPicture(); }

// A two-frame GIF: 2x1 pixels, the first frame red, the second blue. Every code is 3 bits wide, since a
// clear code precedes each pixel.
std::string TwoFrameGif() {
  std::string g = "GIF89a";
  g += std::string("\x02\x00\x01\x00\xF1\x00\x00", 7);                // screen 2x1, global table of 4
  g += std::string("\xFF\x00\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF", 12);
  auto frame = [&](unsigned char index) {
    g += std::string("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);           // graphic control, 0.1 s
    g += std::string("\x2C\x00\x00\x00\x00\x02\x00\x01\x00\x00", 10);  // image 2x1
    g += '\x02';                                                        // minimum code size
    // codes: clear(4) index clear(4) index eoi(5), 3 bits each, least significant bit first
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
  };
  frame(0);
  frame(1);
  g += ';';
  return g;
}

}  // namespace

TEST(PictureFile, OpensCommonFormatsWithTheirContent) {
  TempDir dir;
  const QImage image = Pattern(33, 17);
  Save(image, dir / "p.png", "png");
  Save(image, dir / "p.bmp", "bmp");
  Save(image, dir / "p.ppm", "ppm");
  Save(image, dir / "p.tif", "tiff");
  Save(image, dir / "p.webp", "webp", 100);
  Save(image, dir / "p.jpg", "jpeg", 100);
  for (const char* name : {"p.png", "p.bmp", "p.ppm", "p.tif", "p.webp", "p.jpg"}) {
    fw::Ref<fw::Picture> p = Open(dir / name);
    ASSERT_TRUE(p) << name;
    EXPECT_EQ(p->Depth(), 32);
    EXPECT_EQ(p->Width(), 33);
    EXPECT_EQ(p->Height(), 17);
    const bool lossy = std::string(name) == "p.jpg" || std::string(name) == "p.webp";
    fw::Ref<fw::RGBSurface> s = p->RGBSurface();
    for (int y = 0; y < 17; y += 4)
      for (int x = 0; x < 33; x += 4) {
        const QRgb want = image.pixel(x, y);
        const fw::Color got = s->Pixel(x, y);
        const int tol = lossy ? 60 : 0;
        ASSERT_NEAR(fw::Red(got), qRed(want), tol) << name << " " << x << "," << y;
        ASSERT_NEAR(fw::Green(got), qGreen(want), tol) << name;
        ASSERT_NEAR(fw::Blue(got), qBlue(want), tol) << name;
      }
  }
}

TEST(PictureFile, WhatUsersExpectOfAnIncomingPicture) {
  TempDir dir;
  // Transparency lies on white.
  QImage alpha(3, 1, QImage::Format_ARGB32);
  alpha.setPixel(0, 0, qRgba(0, 0, 0, 0));
  alpha.setPixel(1, 0, qRgba(0, 0, 0, 128));
  alpha.setPixel(2, 0, qRgba(10, 20, 30, 255));
  Save(alpha, dir / "alpha.png", "png");
  fw::Ref<fw::Picture> a = Open(dir / "alpha.png");
  ASSERT_TRUE(a);
  fw::Ref<fw::RGBSurface> as = a->RGBSurface();
  EXPECT_EQ(as->Pixel(0, 0), RGB(255, 255, 255));
  EXPECT_NEAR(fw::Red(as->Pixel(1, 0)), 127, 1);
  EXPECT_EQ(as->Pixel(2, 0), RGB(10, 20, 30));

  // EXIF orientation is applied: a landscape picture stored with "rotate 90" opens as portrait.
  QImage wide(40, 20, QImage::Format_RGB32);
  wide.fill(qRgb(255, 255, 255));
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 10; ++x) wide.setPixel(x, y, qRgb(0, 0, 0));  // dark left edge
  {
    QImageWriter writer(QString::fromStdString((dir / "turned.jpg").string()), "jpeg");
    writer.setQuality(100);
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    ASSERT_TRUE(writer.write(wide));
  }
  fw::Ref<fw::Picture> turned = Open(dir / "turned.jpg");
  ASSERT_TRUE(turned);
  EXPECT_EQ(turned->Width(), 20);
  EXPECT_EQ(turned->Height(), 40);
  EXPECT_LT(fw::Red(turned->RGBSurface()->Pixel(10, 2)), 60);    // the dark edge is now on top
  EXPECT_GT(fw::Red(turned->RGBSurface()->Pixel(10, 37)), 200);

  // Sixteen bits a channel keep their tones.
  QImage deep(2, 1, QImage::Format_RGBX64);
  deep.setPixelColor(0, 0, QColor::fromRgba64(0x8000, 0x4000, 0xC000));
  deep.setPixelColor(1, 0, QColor::fromRgba64(0xFFFF, 0x0000, 0x0101));
  Save(deep, dir / "deep.png", "png");
  fw::Ref<fw::Picture> d = Open(dir / "deep.png");
  ASSERT_TRUE(d);
  EXPECT_NEAR(fw::Red(d->RGBSurface()->Pixel(0, 0)), 128, 1);
  EXPECT_NEAR(fw::Green(d->RGBSurface()->Pixel(0, 0)), 64, 1);
  EXPECT_NEAR(fw::Blue(d->RGBSurface()->Pixel(0, 0)), 192, 1);
  EXPECT_EQ(d->RGBSurface()->Pixel(1, 0), RGB(255, 0, 1));

  // An animation gives its first frame.
  WriteFile(dir / "anim.gif", TwoFrameGif());
  fw::Ref<fw::Picture> g = Open(dir / "anim.gif");
  ASSERT_TRUE(g);
  EXPECT_EQ(g->Width(), 2);
  EXPECT_EQ(g->RGBSurface()->Pixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(g->RGBSurface()->Pixel(1, 0), RGB(255, 0, 0));
}

TEST(PictureFile, AnythingThatIsNoPictureGivesNilAtOnce) {
  TempDir dir;
  Save(Pattern(64, 64), dir / "good.png", "png");
  const std::string good = testing_support::ReadFile(dir / "good.png");
  WriteFile(dir / "empty.png", "");
  WriteFile(dir / "eight.png", good.substr(0, 8));
  WriteFile(dir / "half.png", good.substr(0, good.size() / 2));
  std::string flipped = good;
  for (std::size_t i = 40; i < flipped.size(); i += 7) flipped[i] = static_cast<char>(~flipped[i]);
  WriteFile(dir / "corrupt.png", flipped);
  WriteFile(dir / "text.png", "hello, this is not a picture\n");
  WriteFile(dir / "zero-width.png", PngDeclaring(0, 10));
  WriteFile(dir / "huge.png", PngDeclaring(0x7fffffff, 0x7fffffff));
  WriteFile(dir / "bomb.png", PngDeclaring(60000, 60000));
  WriteFile(dir / "huge.ppm", "P6 60000 60000 255\n" + std::string(16, '\0'));
  std::filesystem::create_directory(dir / "folder.png");
  ASSERT_EQ(mkfifo((dir / "fifo.png").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir / "zero.png");
  std::filesystem::create_symlink(dir / "missing.png", dir / "dangling.png");
  std::filesystem::create_symlink(dir / "loop2.png", dir / "loop1.png");
  std::filesystem::create_symlink(dir / "loop1.png", dir / "loop2.png");
  for (const char* name : {"empty.png", "eight.png", "half.png", "corrupt.png", "text.png", "zero-width.png",
                           "huge.png", "bomb.png", "huge.ppm", "folder.png", "fifo.png", "zero.png",
                           "dangling.png", "loop1.png", "missing.png"})
    EXPECT_FALSE(Open(dir / name)) << name;
  EXPECT_TRUE(Open(dir / "good.png"));
}

TEST(PictureFile, APictureTooLargeToSaveAsPNGIsRefused) {
  TempDir dir;
  // Found by the fuzzer: a BMP 1,048,777 pixels wide and one high.
  WriteFile(dir / "wide.bmp",
            QByteArray::fromBase64("Qk1GAAAAAAAAADUALAAoAAAAyQAQAAEAAAABABgAAAAAACC/AgATNgAAACgAAAAsAQAAAUF/f38=")
                .toStdString());
  EXPECT_FALSE(Open(dir / "wide.bmp"));
  constexpr std::uint32_t kSide = fw::kMaxPictureSide;
  WriteFile(dir / "tall.bmp", hostile::BmpDeclaring(1, kSide + 1, 4 * (kSide + 1)));
  EXPECT_FALSE(Open(dir / "tall.bmp"));
  // The widest that libpng still writes opens.
  WriteFile(dir / "widest.bmp", hostile::BmpDeclaring(kSide, 1, 3 * kSide));
  fw::Ref<fw::Picture> widest = Open(dir / "widest.bmp");
  ASSERT_TRUE(widest);
  EXPECT_EQ(widest->Width(), fw::kMaxPictureSide);
}

TEST(PictureFile, AnUnreadableFileGivesNil) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  Save(Pattern(8, 8), dir / "locked.png", "png");
  std::filesystem::permissions(dir / "locked.png", std::filesystem::perms::none);
  EXPECT_FALSE(Open(dir / "locked.png"));
}

TEST(PictureFile, ASixtyMegapixelPhotographOpens) {
  TempDir dir;
  QImage photo(9000, 6700, QImage::Format_RGB32);
  photo.fill(qRgb(90, 140, 200));
  Save(photo, dir / "big.jpg", "jpeg", 90);
  fw::Ref<fw::Picture> p = Open(dir / "big.jpg");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->Width(), 9000);
  EXPECT_EQ(p->Height(), 6700);
  EXPECT_NEAR(fw::Blue(p->RGBSurface()->Pixel(8999, 6699)), 200, 3);
}

TEST(PictureFile, PicturesConvertToQtImagesAndBack) {
  fw::Ref<fw::Picture> p = testing_support::MakePicture(5, 4, [](int x, int y) { return RGB(x * 50, y * 60, 7); });
  const QImage image = fw::ImageFromPicture(*p);
  EXPECT_EQ(image.pixel(4, 3), qRgb(200, 180, 7));
  fw::Ref<fw::Picture> back = fw::PictureFromImage(image);
  ASSERT_TRUE(back);
  EXPECT_EQ(std::memcmp(back->Bits(), p->Bits(), static_cast<std::size_t>(p->RowBytes() * p->Height())), 0);
  fw::Ref<fw::Picture> grey = testing_support::MakePicture(3, 1, [](int x, int) { return RGB(x * 100, x * 100, x * 100); }, 8);
  EXPECT_EQ(fw::ImageFromPicture(*grey).pixel(2, 0), qRgb(200, 200, 200));
}
