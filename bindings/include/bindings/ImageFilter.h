// The image-filter plug-in's functions, called through the program's table.
#pragma once

#include <cstdint>

#include "framework/Object.h"
#include "framework/Picture.h"

namespace bindings {

// A 32-bit (or other depth) picture with the source's size and content; may be the source itself.
fw::Ref<fw::Picture> EnsurePictureBits(const fw::Ref<fw::Picture>& source, std::int32_t depth);
// A new grey picture of the source's size; the source is left as it was.
fw::Ref<fw::Picture> GrayScale(const fw::Ref<fw::Picture>& source, std::int32_t grayscaleTypeValue,
                               const fw::Ref<fw::Picture>& mask, const fw::Ref<fw::Object>& progress);

}  // namespace bindings
