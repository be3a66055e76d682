// A picture's description and pixels, locked for as long as this lives: what a plug-in holds while it
// reads or writes a picture's memory.
#pragma once

#include <cstdint>

#include "kit/Kit.h"
#include "platform/PixMap.h"

namespace kit {

inline bool KnownDepth(std::int32_t depth) { return depth == 8 || depth == 16 || depth == 24 || depth == 32; }

class LockedPixels {
 public:
  explicit LockedPixels(REALpicture picture) : picture_(picture) {
    if (!picture_ || !REALLockPictureDescription(picture_, &description_)) return;
    described_ = true;
    pixMap_ = GetGWorldPixMap(static_cast<GWorldPtr>(description_.gworld));
    if (!pixMap_ || !LockPixels(pixMap_)) {
      pixMap_ = nullptr;
      return;
    }
    base_ = static_cast<std::uint8_t*>(GetPixBaseAddr(pixMap_));
    rowBytes_ = QTGetPixMapHandleRowBytes(pixMap_);
    depth_ = GetPixMapPixelSize(pixMap_);
  }

  ~LockedPixels() {
    if (pixMap_) UnlockPixels(pixMap_);
    if (described_) REALUnlockPictureDescription(picture_);
  }

  LockedPixels(const LockedPixels&) = delete;
  LockedPixels& operator=(const LockedPixels&) = delete;

  // Pixels that can be walked row by row without leaving the map.
  bool Usable() const noexcept {
    return base_ && Width() > 0 && Height() > 0 && KnownDepth(depth_) &&
           rowBytes_ >= static_cast<long>(Width()) * (depth_ / 8);
  }

  std::int32_t Width() const noexcept { return description_.width; }
  std::int32_t Height() const noexcept { return description_.height; }
  std::int32_t Depth() const noexcept { return depth_; }
  std::uint8_t* Base() const noexcept { return base_; }
  long RowBytes() const noexcept { return rowBytes_; }

 private:
  REALpicture picture_;
  REALpictureDescription description_{};
  bool described_ = false;
  PixMapHandle pixMap_ = nullptr;
  std::uint8_t* base_ = nullptr;
  long rowBytes_ = 0;
  std::int32_t depth_ = 0;
};

}  // namespace kit
