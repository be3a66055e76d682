// The 3x3 convolution behind every ConvolutionEffect method: locking pictures, the band routines and
// ApplyMatrix itself.
#pragma once

#include "ConvolutionParams.h"
#include "imagefilter/MPImageFilter.h"
#include "kit/PluginABI.h"
#include "platform/PixMap.h"

namespace kernwell {

// A picture whose description and pixels are locked.
struct EBitmap {
  REALpicture picture = nullptr;
  REALpictureDescription description{};
  void* base = nullptr;
  PixMapHandle pixMap = nullptr;
};

// Locks the picture's description and pixels. False when either lock can't be had; nothing is left
// locked then.
bool LockEPixels(REALpicture picture, EBitmap& bitmap);
// Locks the pixels of a picture whose description the caller has locked already. On success the bitmap
// owns that description lock too (UnlockEPixels releases it); on failure the caller still does.
bool LockEPixels(REALpicture picture, const REALpictureDescription& description, EBitmap& bitmap);
void UnlockEPixels(EBitmap& bitmap);

// SPECKMOOR_CONVOLUTION_BASELINE=1 asks for the baseline rows on any processor, so tests cover both.
// Read once, at the first call: no band touches the environment.
bool BaselineRowsAsked();

// Band routines: rows [firstRow, endRow) of the destination. The masked one also reads the mask words.
void Convolution3x3Part(MPParamBlock* block);
void Convolution3x3MaskPart(MPParamBlock* block);

// MPImageFilter's words in front of the ConvolutionEffect data of `self` (Kernwell.cpp knows the record).
MPImageFilterData* FilterData(REALobject self);

// A new 32-bit picture: the source convolved with the kernel, blended by the mask where it has one.
// Nil on failure, with the reason in ErrorCode: 4 divisor 0, 2 no usable source, 3 no result picture.
// A mask that can't be used sets ErrorCode 1 and gives the new picture unfiltered.
REALpicture ApplyMatrix(REALobject self, REALpicture source, const ConvMatrix& kernel, REALpicture mask);

}  // namespace kernwell
