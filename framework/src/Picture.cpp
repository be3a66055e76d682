#include "framework/Picture.h"

#include <cstdlib>

namespace fw {

namespace {

bool KnownDepth(std::int32_t depth) { return depth == 8 || depth == 16 || depth == 24 || depth == 32; }

}  // namespace

Ref<Picture> Picture::New(std::int32_t width, std::int32_t height, std::int32_t depth) {
  if (width <= 0 || height <= 0 || !KnownDepth(depth)) return nullptr;
  const std::int64_t rowBytes = ((std::int64_t{width} * (depth / 8)) + 3) & ~std::int64_t{3};
  if (rowBytes > INT32_MAX || rowBytes * height > kMaxBytes) return nullptr;
  auto* bits = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(rowBytes * height), 1));
  if (!bits) return nullptr;
  return Ref<Picture>(new Picture(width, height, depth, static_cast<std::int32_t>(rowBytes), bits));
}

Picture::Picture(std::int32_t width, std::int32_t height, std::int32_t depth, std::int32_t rowBytes,
                 std::uint8_t* bits)
    : width_(width), height_(height), depth_(depth), rowBytes_(rowBytes), bits_(bits), world_{} {
  PlatformInitGWorld(&world_, bits_, rowBytes_, static_cast<std::int16_t>(depth_));
}

Picture::~Picture() { std::free(bits_); }

Ref<RGBSurface> Picture::RGBSurface() { return MakeRef<fw::RGBSurface>(this); }

RGBSurface::RGBSurface(Picture* picture)
    : picture_(picture),
      bits_(picture->Bits()),
      width_(picture->Width()),
      height_(picture->Height()),
      rowBytes_(picture->RowBytes()),
      depth_(picture->Depth()) {}

RGBSurface::~RGBSurface() { picture_->Touch(); }

Color RGBSurface::SlowPixel(const std::uint8_t* row, std::int32_t x) const noexcept {
  switch (depth_) {
    case 24: {
      const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 3;
      return (Color{p[0]} << 16) | (Color{p[1]} << 8) | p[2];
    }
    case 16: {
      const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 2;
      const std::uint32_t v = (std::uint32_t{p[0]} << 8) | p[1];
      auto expand = [](std::uint32_t c5) { return (c5 << 3) | (c5 >> 2); };
      return (expand((v >> 10) & 31) << 16) | (expand((v >> 5) & 31) << 8) | expand(v & 31);
    }
    default: {
      const Color g = row[x];
      return (g << 16) | (g << 8) | g;
    }
  }
}

void RGBSurface::SlowSetPixel(std::uint8_t* row, std::int32_t x, Color c) noexcept {
  switch (depth_) {
    case 24: {
      std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 3;
      p[0] = static_cast<std::uint8_t>(c >> 16);
      p[1] = static_cast<std::uint8_t>(c >> 8);
      p[2] = static_cast<std::uint8_t>(c);
      return;
    }
    case 16: {
      std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * 2;
      const std::uint32_t v = ((Red(c) >> 3) << 10) | ((Green(c) >> 3) << 5) | (Blue(c) >> 3);
      p[0] = static_cast<std::uint8_t>(v >> 8);
      p[1] = static_cast<std::uint8_t>(v);
      return;
    }
    default:
      // Grey as the plain mean keeps grey colours exact.
      row[x] = static_cast<std::uint8_t>((Red(c) + Green(c) + Blue(c)) / 3);
  }
}

}  // namespace fw
