#include "framework/Picture.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace fw {

namespace {

bool KnownDepth(std::int32_t depth) { return depth == 8 || depth == 16 || depth == 24 || depth == 32; }

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // keep every picture on the checked heap
#else
constexpr bool kSanitized = false;
#endif

// Big pictures get zeroed pages of their own on huge pages where the kernel offers them: a 64 MB picture
// then costs a few dozen page faults instead of sixteen thousand.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kMapFrom = std::size_t{4} << 20;

struct Memory {
  std::uint8_t* bits = nullptr;
  std::size_t mapped = 0;  // 0: from calloc
};

Memory Allocate(std::size_t bytes) {
  if (kSanitized || bytes < kMapFrom) return {static_cast<std::uint8_t*>(std::calloc(bytes, 1)), 0};
  const std::size_t length = (bytes + kHugePage - 1) & ~(kHugePage - 1);
  void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return {};
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const std::uintptr_t end = start + length + kHugePage;
  if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
  return {reinterpret_cast<std::uint8_t*>(aligned), length};
}

std::atomic<std::int64_t> gBytesHeld{0};

void Free(std::uint8_t* bits, std::size_t mapped) {
  if (mapped) munmap(bits, mapped);
  else std::free(bits);
}

}  // namespace

Ref<Picture> Picture::New(std::int32_t width, std::int32_t height, std::int32_t depth) {
  if (width <= 0 || height <= 0 || !KnownDepth(depth)) return nullptr;
  const std::int64_t rowBytes = ((std::int64_t{width} * (depth / 8)) + 3) & ~std::int64_t{3};
  if (rowBytes > INT32_MAX || rowBytes * height > kMaxBytes) return nullptr;
  const Memory memory = Allocate(static_cast<std::size_t>(rowBytes * height));
  if (!memory.bits) return nullptr;
  auto* picture = new (std::nothrow) Picture(width, height, depth, static_cast<std::int32_t>(rowBytes), memory.bits);
  if (!picture) {
    Free(memory.bits, memory.mapped);
    return nullptr;
  }
  picture->mapped_ = memory.mapped;
  return Ref<Picture>(picture);
}

Picture::Picture(std::int32_t width, std::int32_t height, std::int32_t depth, std::int32_t rowBytes,
                 std::uint8_t* bits)
    : width_(width), height_(height), depth_(depth), rowBytes_(rowBytes), bits_(bits), world_{} {
  PlatformInitGWorld(&world_, bits_, rowBytes_, static_cast<std::int16_t>(depth_));
  gBytesHeld.fetch_add(std::int64_t{rowBytes_} * height_, std::memory_order_relaxed);
}

Picture::~Picture() {
  Free(bits_, mapped_);
  gBytesHeld.fetch_sub(std::int64_t{rowBytes_} * height_, std::memory_order_relaxed);
}

std::int64_t Picture::BytesHeld() noexcept { return gBytesHeld.load(std::memory_order_relaxed); }

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
