#include "ConvolutionCore.h"

#include <cstdint>
#include <cstdlib>

#include "kit/Kit.h"

namespace kernwell {
namespace {

// Enough bands per thread to even out threads that start late.
constexpr std::int32_t kBandsPerThread = 4;

enum : std::int32_t { kNoError = 0, kMaskUnusable = 1, kSourceUnusable = 2, kNoResult = 3, kZeroDivisor = 4 };

// The rows built for the widest vectors this processor has, or the baseline ones when asked for.
using RowsRoutine = void (*)(const ConvolutionParams&, std::int32_t, std::int32_t, bool);

RowsRoutine Rows() {
  static const RowsRoutine rows = []() -> RowsRoutine {
#if defined(KERNWELL_HAVE_AVX2)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && !BaselineRowsAsked()) return &avx2::FilterRows;
#endif
    return &baseline::FilterRows;
  }();
  return rows;
}

template <bool Masked>
void Band(MPParamBlock* block) {
  const auto& p = *static_cast<const ConvolutionParams*>(block->params);
  const std::int32_t first = block->firstRow < 0 ? 0 : block->firstRow;
  const std::int32_t end = block->endRow > p.height ? p.height : block->endRow;
  if (first >= end || p.width <= 0) return;
  Rows()(p, first, end, Masked);
}

// ---- pictures ----

// Rows of `width` pixels of `bytesPerPixel`, `height` of them, lie inside the locked pixels.
bool Covers(const EBitmap& bitmap, std::int32_t width, std::int32_t height, std::int32_t bytesPerPixel) {
  return bitmap.base && width > 0 && height > 0 && bitmap.description.width >= width &&
         bitmap.description.height >= height &&
         QTGetPixMapHandleRowBytes(bitmap.pixMap) >= static_cast<long>(width) * bytesPerPixel;
}

void Run(const MPImageFilterData* filter, ConvolutionParams& params, MPBandRoutine band) {
  if (MPDispatcher dispatch = filter->dispatcher) {
    dispatch(&params, band, kBandsPerThread);
    return;
  }
  // An object whose MPImageFilter part never ran its constructor: do the job on this thread.
  MPParamBlock whole{0, params.height, &params};
  band(&whole);
}

void Release(REALpicture picture) { kit::REALUnlockObject(reinterpret_cast<REALobject>(picture)); }

}  // namespace

bool BaselineRowsAsked() {
  static const bool asked = [] {
    const char* value = std::getenv("SPECKMOOR_CONVOLUTION_BASELINE");
    return value && *value && *value != '0';
  }();
  return asked;
}

bool LockEPixels(REALpicture picture, EBitmap& bitmap) {
  bitmap = EBitmap{};
  bitmap.picture = picture;
  if (!kit::REALLockPictureDescription(picture, &bitmap.description)) return false;
  bitmap.pixMap = GetGWorldPixMap(static_cast<GWorldPtr>(bitmap.description.gworld));
  if (!LockPixels(bitmap.pixMap)) {
    kit::REALUnlockPictureDescription(picture);
    bitmap.pixMap = nullptr;
    return false;
  }
  bitmap.base = GetPixBaseAddr(bitmap.pixMap);
  return true;
}

bool LockEPixels(REALpicture picture, const REALpictureDescription& description, EBitmap& bitmap) {
  bitmap = EBitmap{};
  bitmap.picture = picture;
  bitmap.description = description;
  bitmap.pixMap = GetGWorldPixMap(static_cast<GWorldPtr>(bitmap.description.gworld));
  if (!LockPixels(bitmap.pixMap)) {
    bitmap.pixMap = nullptr;
    return false;
  }
  bitmap.base = GetPixBaseAddr(bitmap.pixMap);
  return true;
}

void UnlockEPixels(EBitmap& bitmap) {
  UnlockPixels(bitmap.pixMap);
  kit::REALUnlockPictureDescription(bitmap.picture);
  bitmap = EBitmap{};
}

void Convolution3x3Part(MPParamBlock* block) { Band<false>(block); }
void Convolution3x3MaskPart(MPParamBlock* block) { Band<true>(block); }

REALpicture ApplyMatrix(REALobject self, REALpicture source, const ConvMatrix& kernel, REALpicture mask) {
  if (!self) return nullptr;
  MPImageFilterData* filter = FilterData(self);
  filter->errorCode = kNoError;
  if (kernel.divisor == 0) {
    filter->errorCode = kZeroDivisor;
    return nullptr;
  }

  EBitmap src;
  if (!source || !LockEPixels(source, src)) {
    filter->errorCode = kSourceUnusable;
    return nullptr;
  }
  const std::int32_t srcDepth = GetPixMapPixelSize(src.pixMap);
  const std::int32_t width = src.description.width;
  const std::int32_t height = src.description.height;
  if ((srcDepth != 32 && srcDepth != 24) || !Covers(src, width, height, srcDepth / 8)) {
    UnlockEPixels(src);
    filter->errorCode = kSourceUnusable;
    return nullptr;
  }

  REALpicture result = kit::REALNewPicture(width, height, 32);
  if (!result) {
    UnlockEPixels(src);
    filter->errorCode = kNoResult;
    return nullptr;
  }
  EBitmap dst;
  if (!LockEPixels(result, dst)) {
    UnlockEPixels(src);
    Release(result);
    filter->errorCode = kNoResult;
    return nullptr;
  }
  if (GetPixMapPixelSize(dst.pixMap) != 32 || !Covers(dst, width, height, 4)) {
    UnlockEPixels(dst);
    UnlockEPixels(src);
    Release(result);
    filter->errorCode = kNoResult;
    return nullptr;
  }

  const ConvMatrix matrix = kernel;
  ConvolutionParams params{};
  params.width = width;
  params.height = height;
  params.multiprocessingHint = filter->multiprocessingHint;
  params.reserved = filter->reserved;
  params.srcBase = static_cast<const std::uint8_t*>(src.base);
  params.dstBase = static_cast<std::uint8_t*>(dst.base);
  params.srcRowBytes = static_cast<std::int32_t>(QTGetPixMapHandleRowBytes(src.pixMap));
  params.dstRowBytes = static_cast<std::int32_t>(QTGetPixMapHandleRowBytes(dst.pixMap));
  params.dstRowPadding = static_cast<std::int32_t>(params.dstRowBytes - std::int64_t{srcDepth} * width / 8);
  params.srcBytesPerPixel = srcDepth / 8;
  params.matrix = &matrix;

  if (mask) {
    REALpictureDescription described{};
    bool describedLocked = kit::REALLockPictureDescription(mask, &described) != 0;
    EBitmap maskBits;
    bool usable = false;
    if (describedLocked && described.width >= width && described.height >= height &&
        (described.depth == 24 || described.depth == 32) && LockEPixels(mask, described, maskBits)) {
      describedLocked = false;  // maskBits holds it now
      const std::int32_t maskDepth = GetPixMapPixelSize(maskBits.pixMap);
      if (maskDepth == described.depth && Covers(maskBits, width, height, maskDepth / 8))
        usable = true;
      else
        UnlockEPixels(maskBits);
    }
    if (usable) {
      params.maskBase = static_cast<const std::uint8_t*>(maskBits.base);
      params.maskRowBytes = static_cast<std::int32_t>(QTGetPixMapHandleRowBytes(maskBits.pixMap));
      params.maskBytesPerPixel = GetPixMapPixelSize(maskBits.pixMap) / 8;
      params.maskRowPadding = params.maskRowBytes - params.maskBytesPerPixel * width;
      Run(filter, params, &Convolution3x3MaskPart);
      UnlockEPixels(maskBits);
    } else {
      if (describedLocked) kit::REALUnlockPictureDescription(mask);
      filter->errorCode = kMaskUnusable;
    }
  } else {
    Run(filter, params, &Convolution3x3Part);
  }

  UnlockEPixels(dst);
  UnlockEPixels(src);
  return result;
}

}  // namespace kernwell
