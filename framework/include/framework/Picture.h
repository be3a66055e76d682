// Bitmap pictures. 32-bit pixels are four bytes: unused, red, green, blue. 24-bit pixels are red, green,
// blue; 16-bit pixels are big-endian x1r5g5b5; 8-bit pixels are grey levels. Rows start 4-byte aligned.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "framework/Color.h"
#include "framework/Object.h"
#include "platform/PixMap.h"

class QImage;

namespace fw {

class RGBSurface;

class Picture final : public Object {
 public:
  // A new picture of the given size and depth (8, 16, 24 or 32), every byte 0; nil when the size is not
  // positive, the depth unknown, or the memory can't be had.
  static Ref<Picture> New(std::int32_t width, std::int32_t height, std::int32_t depth);
  ~Picture() override;
  // The pixel memory that all pictures alive now hold, in bytes.
  static std::int64_t BytesHeld() noexcept;

  std::int32_t Width() const noexcept { return width_; }
  std::int32_t Height() const noexcept { return height_; }
  std::int32_t Depth() const noexcept { return depth_; }
  std::int32_t RowBytes() const noexcept { return rowBytes_; }
  std::int32_t BytesPerPixel() const noexcept { return depth_ / 8; }
  std::uint8_t* Row(std::int32_t y) noexcept { return bits_ + static_cast<std::ptrdiff_t>(y) * rowBytes_; }
  const std::uint8_t* Row(std::int32_t y) const noexcept {
    return bits_ + static_cast<std::ptrdiff_t>(y) * rowBytes_;
  }
  std::uint8_t* Bits() noexcept { return bits_; }
  const std::uint8_t* Bits() const noexcept { return bits_; }

  Ref<fw::RGBSurface> RGBSurface();

  // The platform's view of the pixels, which plug-ins lock through the picture's description.
  GWorldPtr GWorld() noexcept { return &world_; }

  // Counts the changes made through the framework; views cache by it.
  std::uint64_t Generation() const noexcept { return generation_.load(std::memory_order_acquire); }
  void Touch() noexcept { generation_.fetch_add(1, std::memory_order_acq_rel); }

  // The picture as a Qt image, made again only after the picture changed.
  std::shared_ptr<const QImage> CachedImage();

  std::int32_t DescriptionLocks() const noexcept { return descriptionLocks_.load(std::memory_order_acquire); }
  void LockDescription() noexcept { descriptionLocks_.fetch_add(1, std::memory_order_acq_rel); }
  void UnlockDescription() noexcept { descriptionLocks_.fetch_sub(1, std::memory_order_acq_rel); }

  // Largest number of pixel bytes one picture may hold.
  static constexpr std::int64_t kMaxBytes = std::int64_t{1} << 34;

 private:
  Picture(std::int32_t width, std::int32_t height, std::int32_t depth, std::int32_t rowBytes, std::uint8_t* bits);

  std::int32_t width_;
  std::int32_t height_;
  std::int32_t depth_;
  std::int32_t rowBytes_;
  std::uint8_t* bits_;
  std::size_t mapped_ = 0;  // bytes mapped for the pixels, 0 when they came from the heap
  ::GWorld world_;
  std::atomic<std::uint64_t> generation_{0};
  std::atomic<std::int32_t> descriptionLocks_{0};
  std::mutex imageMutex_;
  std::shared_ptr<const QImage> image_;
  std::uint64_t imageGeneration_ = 0;
};

inline Ref<Picture> NewPicture(std::int32_t width, std::int32_t height, std::int32_t depth) {
  return Picture::New(width, height, depth);
}

// Per-pixel access. Reads outside the picture give black; writes outside it are ignored.
class RGBSurface final : public Object {
 public:
  explicit RGBSurface(Picture* picture);
  ~RGBSurface() override;  // counts as one change of the picture

  Color Pixel(std::int32_t x, std::int32_t y) const noexcept {
    if (!Inside(x, y)) return 0;
    const std::uint8_t* p = bits_ + static_cast<std::ptrdiff_t>(y) * rowBytes_;
    if (depth_ == 32) {
      p += static_cast<std::ptrdiff_t>(x) * 4;
      return (Color{p[1]} << 16) | (Color{p[2]} << 8) | p[3];
    }
    return SlowPixel(p, x);
  }

  void SetPixel(std::int32_t x, std::int32_t y, Color c) noexcept {
    if (!Inside(x, y)) return;
    std::uint8_t* p = bits_ + static_cast<std::ptrdiff_t>(y) * rowBytes_;
    if (depth_ == 32) {
      p += static_cast<std::ptrdiff_t>(x) * 4;
      p[0] = 0;
      p[1] = static_cast<std::uint8_t>(c >> 16);
      p[2] = static_cast<std::uint8_t>(c >> 8);
      p[3] = static_cast<std::uint8_t>(c);
      return;
    }
    SlowSetPixel(p, x, c);
  }

  std::int32_t Width() const noexcept { return width_; }
  std::int32_t Height() const noexcept { return height_; }

 private:
  bool Inside(std::int32_t x, std::int32_t y) const noexcept {
    return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(width_) &&
           static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(height_);
  }
  Color SlowPixel(const std::uint8_t* row, std::int32_t x) const noexcept;
  void SlowSetPixel(std::uint8_t* row, std::int32_t x, Color c) noexcept;

  Ref<Picture> picture_;  // keeps the pixels alive
  std::uint8_t* bits_;
  std::int32_t width_;
  std::int32_t height_;
  std::int32_t rowBytes_;
  std::int32_t depth_;
};

}  // namespace fw
