// The band dispatcher MPImageFilter objects carry and the picture routines use.
#pragma once

#include <cstdint>

#include "imagefilter/MPImageFilter.h"

namespace imagefilter {

// Covers rows 0..height-1 of the job exactly once with calls of `band` and returns when all are done.
// The calling thread takes bands too, so a call finishes even when every pool thread is busy elsewhere.
void Dispatch(void* params, MPBandRoutine band, std::int32_t bandsPerThread);

}  // namespace imagefilter
