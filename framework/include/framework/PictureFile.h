// Decoding picture files into 32-bit pictures.
#pragma once

#include <cstdint>
#include <filesystem>

#include "framework/Picture.h"

class QByteArray;
class QImage;

namespace fw {

// Qt's allocation limit for one decoded image, in megabytes: room for a 60-megapixel photograph (240 MB
// at 4 bytes a pixel, 480 MB at 16 bits a channel), while a 144-megapixel bomb of zeros is refused.
inline constexpr int kDecodeLimitMB = 512;

// The widest and tallest picture that opens: libpng writes nothing larger by default, and a picture that
// opens must save.
inline constexpr int kMaxPictureSide = 1'000'000;

// Whether a picture of this size is taken in at all, from a file or the clipboard: no side beyond
// kMaxPictureSide and its 32-bit pixels within the decode limit.
bool PictureSizeFits(std::int64_t width, std::int64_t height);

// Nil, at once, for anything that is not a readable regular file holding a picture that fits the limits:
// empty, truncated or corrupt files, folders, FIFOs and devices never block. EXIF orientation is applied,
// transparency is laid on white, and an animation gives its first frame.
Ref<Picture> DecodePictureFile(const std::filesystem::path& path);
Ref<Picture> DecodePictureBytes(const QByteArray& bytes);
// The same decoding, giving the Qt image; null when it gives no picture.
QImage DecodeImageBytes(const QByteArray& bytes);

// Conversions between Qt images and 32-bit pictures.
Ref<Picture> PictureFromImage(const QImage& image);
QImage ImageFromPicture(Picture& picture);

}  // namespace fw
