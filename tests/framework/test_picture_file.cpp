#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>

#include <random>

#include "TestSupport.h"
#include "corpus/HostileFiles.h"
#include "framework/Clipboard.h"
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
  // Transparency lies on white: a channel c under alpha a shows c a / 255, rounded, plus the 255 - a of
  // white left uncovered. Black alone would not tell this from a colour left unweighted, and opaque or
  // clear pixels would not tell it from a composite on black.
  const QRgb colours[] = {qRgba(0, 0, 0, 0),       qRgba(0, 0, 0, 128),    qRgba(200, 100, 50, 128),
                          qRgba(255, 0, 0, 200),   qRgba(10, 200, 90, 64), qRgba(90, 250, 3, 1),
                          qRgba(10, 20, 30, 255)};
  constexpr int kColours = static_cast<int>(std::size(colours));
  QImage alpha(kColours, 1, QImage::Format_ARGB32);
  for (int i = 0; i < kColours; ++i) alpha.setPixel(i, 0, colours[i]);
  Save(alpha, dir / "alpha.png", "png");
  const auto onWhite = [](int c, int a) { return (2 * c * a + 255) / 510 + 255 - a; };
  const auto expectOnWhite = [&](fw::Picture* p, const char* how) {
    ASSERT_TRUE(p) << how;
    ASSERT_EQ(p->Width(), kColours) << how;
    fw::Ref<fw::RGBSurface> s = p->RGBSurface();
    for (int i = 0; i < kColours; ++i) {
      const int a = qAlpha(colours[i]);
      EXPECT_EQ(s->Pixel(i, 0),
                RGB(onWhite(qRed(colours[i]), a), onWhite(qGreen(colours[i]), a), onWhite(qBlue(colours[i]), a)))
          << how << ": colour " << i;
    }
  };
  expectOnWhite(Open(dir / "alpha.png").get(), "file");
  // A pasted picture too, whether the clipboard holds it as an image or only as PNG bytes.
  fw::Ref<fw::Clipboard> clipboard = fw::MakeRef<fw::Clipboard>();
  QGuiApplication::clipboard()->setImage(alpha);
  expectOnWhite(clipboard->Picture().get(), "pasted image");
  auto* png = new QMimeData;
  png->setData("image/png", QByteArray::fromStdString(testing_support::ReadFile(dir / "alpha.png")));
  QGuiApplication::clipboard()->setMimeData(png);
  expectOnWhite(clipboard->Picture().get(), "pasted PNG");
  QGuiApplication::clipboard()->clear();

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

// A JPEG of the image whose EXIF Orientation tag holds `orientation`. Qt's writer turns the pixels instead of
// writing the tag, so the tag goes in by hand: an APP1 segment right after the start-of-image marker.
std::string JpegWithOrientation(const QImage& image, int orientation) {
  QByteArray jpeg;
  QBuffer buffer(&jpeg);
  QImageWriter writer(&buffer, "jpeg");
  writer.setQuality(100);
  if (!buffer.open(QIODevice::WriteOnly) || !writer.write(image) || !jpeg.startsWith("\xFF\xD8")) return {};
  // A big-endian TIFF header, then one directory of one entry: tag 0x0112, type SHORT, one value.
  const unsigned char exif[] = {'E', 'x', 'i', 'f', 0, 0,
                                'M', 'M', 0, 42, 0, 0, 0, 8,
                                0, 1,
                                0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<unsigned char>(orientation), 0, 0,
                                0, 0, 0, 0};
  const std::size_t length = sizeof exif + 2;
  std::string segment = {'\xFF', '\xE1', static_cast<char>(length >> 8), static_cast<char>(length & 0xff)};
  segment.append(reinterpret_cast<const char*>(exif), sizeof exif);
  std::string bytes = jpeg.toStdString();
  bytes.insert(2, segment);
  return bytes;
}

TEST(PictureFile, TheExifOrientationTagIsApplied) {
  TempDir dir;
  // Where a picture w x h stored with the orientation shows its stored pixel (x, y).
  const auto shown = [](int orientation, int x, int y, int w, int h) {
    switch (orientation) {
      case 3: return QPoint(w - 1 - x, h - 1 - y);  // turned half round
      case 6: return QPoint(h - 1 - y, x);          // the stored top row is the right-hand side
      case 8: return QPoint(y, w - 1 - x);          // the stored top row is the left-hand side
    }
    return QPoint(x, y);
  };
  // A small file is decoded from the copy of its head, a large one from the file itself: noise makes it large.
  for (const bool large : {false, true}) {
    const int w = large ? 320 : 48, h = large ? 208 : 32;
    QImage stored(w, h, QImage::Format_RGB32);
    stored.fill(qRgb(255, 255, 255));
    std::mt19937 random(7);
    if (large)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) stored.setPixel(x, y, static_cast<QRgb>(random()) | 0xff000000u);
    // Red in the stored top-left corner, blue in the top-right: where both land tells the turn.
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        stored.setPixel(x, y, qRgb(255, 0, 0));
        stored.setPixel(w - 16 + x, y, qRgb(0, 0, 255));
      }
    for (const int orientation : {3, 6, 8}) {
      const std::string name = std::string(large ? "large-" : "small-") + std::to_string(orientation) + ".jpg";
      WriteFile(dir / name, JpegWithOrientation(stored, orientation));
      if (large)
        ASSERT_GT(std::filesystem::file_size(dir / name), 64u * 1024) << name;
      else
        ASSERT_LT(std::filesystem::file_size(dir / name), 64u * 1024) << name;
      fw::Ref<fw::Picture> p = Open(dir / name);
      ASSERT_TRUE(p) << name;
      const bool swapped = orientation != 3;
      EXPECT_EQ(p->Width(), swapped ? h : w) << name;
      EXPECT_EQ(p->Height(), swapped ? w : h) << name;
      if (p->Width() != (swapped ? h : w)) continue;
      fw::Ref<fw::RGBSurface> s = p->RGBSurface();
      const QPoint red = shown(orientation, 8, 8, w, h), blue = shown(orientation, w - 9, 8, w, h);
      const fw::Color r = s->Pixel(red.x(), red.y()), b = s->Pixel(blue.x(), blue.y());
      EXPECT_TRUE(fw::Red(r) > 200 && fw::Green(r) < 60 && fw::Blue(r) < 60) << name << ": red corner";
      EXPECT_TRUE(fw::Blue(b) > 200 && fw::Red(b) < 60 && fw::Green(b) < 60) << name << ": blue corner";
    }
  }
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
