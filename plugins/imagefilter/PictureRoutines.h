// The image-filter plug-in's global methods.
#pragma once

#include <cstdint>

#include "kit/PluginABI.h"

namespace imagefilter {

// The source with the given depth (8, 16, 24 or 32): the source itself with one more reference when it
// has that depth already, else a new converted picture. Nil for a nil source or an unknown depth.
REALpicture EnsurePictureBits(REALpicture src, std::int32_t depth);

// A new 32-bit picture holding the luma of a 32-bit source. Only type 3 without a mask is known; anything
// else gives nil. Progress isn't reported.
REALpicture GrayScale(REALpicture src, std::int32_t type, REALpicture mask, REALobject progress);

}  // namespace imagefilter
