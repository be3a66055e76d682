#include "framework/PictureFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

namespace fw {
namespace {

// Enough of a file's start for every reader to tell its own kind.
constexpr off_t kHeadBytes = 64 * 1024;

void SetDecodeLimit() {
  static std::once_flag once;
  std::call_once(once, [] { QImageReader::setAllocationLimit(kDecodeLimitMB); });
}

// Refuses a declared size that could never be decoded within the limits, before any pixel is read.
bool DeclaredSizeFits(const QSize& size) {
  if (!size.isValid()) return true;  // unknown until decoded: the allocation limit still holds
  return PictureSizeFits(size.width(), size.height());
}

// An empty format means: tell it from the content.
QImage DecodeImage(QIODevice& device, const QByteArray& format = {}) {
  SetDecodeLimit();
  QImageReader reader(&device, format);
  reader.setAutoTransform(true);  // EXIF orientation
  if (!DeclaredSizeFits(reader.size())) return {};
  QImage image;
  if (!reader.read(&image) || image.isNull() || !PictureSizeFits(image.width(), image.height())) return {};
  return image;
}

Ref<Picture> Decode(QIODevice& device, const QByteArray& format = {}) {
  return PictureFromImage(DecodeImage(device, format));
}

}  // namespace

bool PictureSizeFits(std::int64_t width, std::int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide) return false;
  return width * height * 4 <= std::int64_t{kDecodeLimitMB} * 1024 * 1024;
}

Ref<Picture> DecodePictureFile(const std::filesystem::path& path) {
  // O_NONBLOCK so that opening a FIFO never waits for a writer; only regular files are read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
    ::close(fd);
    return nullptr;
  }
  // Each of Qt's readers peeks at the content to tell whether the file is its kind, a read and a seek
  // each: asked of a copy of the head in memory instead, a folder of files that are no pictures goes
  // fast. A small file is decoded from that copy whole.
  QByteArray head(static_cast<qsizetype>(std::min<off_t>(st.st_size, kHeadBytes)), Qt::Uninitialized);
  const ssize_t got = ::pread(fd, head.data(), static_cast<std::size_t>(head.size()), 0);
  head.truncate(got > 0 ? static_cast<qsizetype>(got) : 0);
  QBuffer headBuffer(&head);
  const QByteArray format = headBuffer.open(QIODevice::ReadOnly) ? QImageReader::imageFormat(&headBuffer) : QByteArray();
  Ref<Picture> picture;
  if (!format.isEmpty() && head.size() == st.st_size) {
    headBuffer.seek(0);
    picture = Decode(headBuffer, format);
  } else if (!format.isEmpty()) {
    // Closed here rather than by Qt, so each open has its close where ThreadSanitizer sees it: a batch
    // decodes on several threads while others list folders, and descriptors are reused between them.
    QFile file;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) picture = Decode(file, format);
    file.close();
  }
  ::close(fd);
  return picture;
}

QImage DecodeImageBytes(const QByteArray& bytes) {
  if (bytes.isEmpty()) return {};
  QBuffer buffer;
  buffer.setData(bytes);
  if (!buffer.open(QIODevice::ReadOnly)) return {};
  return DecodeImage(buffer);
}

Ref<Picture> DecodePictureBytes(const QByteArray& bytes) { return PictureFromImage(DecodeImageBytes(bytes)); }

Ref<Picture> PictureFromImage(const QImage& source) {
  if (source.isNull()) return nullptr;
  QImage image = source;
  if (image.hasAlphaChannel()) {
    // Transparent parts show white: each premultiplied channel plus what the alpha leaves uncovered.
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) return nullptr;
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
      auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < width; ++x) {
        const QRgb p = row[x];
        const int uncovered = 255 - qAlpha(p);
        row[x] = qRgb(qRed(p) + uncovered, qGreen(p) + uncovered, qBlue(p) + uncovered);
      }
    }
  }
  image = image.convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) return nullptr;
  const int width = image.width(), height = image.height();
  Ref<Picture> picture = Picture::New(width, height, 32);
  if (!picture) return nullptr;
  for (int y = 0; y < height; ++y) {
    const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    std::uint8_t* out = picture->Row(y);
    if constexpr (std::endian::native == std::endian::little) {
      // 0xAARRGGBB becomes the bytes 0, R, G, B: one byte swap a pixel, which the compiler vectorises.
      for (int x = 0; x < width; ++x) {
        const std::uint32_t word = __builtin_bswap32(in[x]) & 0xFFFFFF00u;
        std::memcpy(out + 4 * x, &word, 4);
      }
    } else {
      for (int x = 0; x < width; ++x, out += 4) {
        out[0] = 0;
        out[1] = static_cast<std::uint8_t>(qRed(in[x]));
        out[2] = static_cast<std::uint8_t>(qGreen(in[x]));
        out[3] = static_cast<std::uint8_t>(qBlue(in[x]));
      }
    }
  }
  return picture;
}

QImage ImageFromPicture(Picture& picture) {
  QImage image(picture.Width(), picture.Height(), QImage::Format_RGB32);
  if (image.isNull()) return image;
  if (picture.Depth() == 32) {
    for (int y = 0; y < picture.Height(); ++y) {
      const std::uint8_t* in = picture.Row(y);
      auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < picture.Width(); ++x, in += 4) out[x] = qRgb(in[1], in[2], in[3]);
    }
    return image;
  }
  Ref<RGBSurface> surface = picture.RGBSurface();
  for (int y = 0; y < picture.Height(); ++y) {
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < picture.Width(); ++x) out[x] = 0xff000000u | surface->Pixel(x, y);
  }
  return image;
}

std::shared_ptr<const QImage> Picture::CachedImage() {
  std::lock_guard lock(imageMutex_);
  const std::uint64_t generation = Generation();
  if (!image_ || imageGeneration_ != generation) {
    image_ = std::make_shared<const QImage>(ImageFromPicture(*this));
    imageGeneration_ = generation;
  }
  return image_;
}

}  // namespace fw
