/* The MPImageFilter class as other plug-ins see it: its own data, which lies directly in front of a
 * subclass's data, and the band dispatcher it carries.
 *
 * A dispatcher splits the rows of a job into bands and calls the band routine for each, on several
 * threads, returning when every band is done. The params record is the caller's; the dispatcher reads only
 * two 32-bit words of it: word 1, the number of rows, and word 3, a thread hint (0 or less: all hardware
 * threads; n: at most n threads). */
#ifndef SPECKMOOR_MPIMAGEFILTER_H
#define SPECKMOOR_MPIMAGEFILTER_H

#include <stddef.h>
#include <stdint.h>

#include "kit/PluginABI.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Rows firstRow up to (not including) endRow of the job whose params record is `params`. */
typedef struct MPParamBlock {
  int32_t firstRow;
  int32_t endRow;
  void* params;
} MPParamBlock;

typedef void (*MPBandRoutine)(MPParamBlock*);
typedef void (*MPDispatcher)(void* params, MPBandRoutine band, int32_t bandsPerThread);

/* Packed to 4 bytes: no tail padding, so the last four words sit directly in front of a subclass's data. */
#pragma pack(push, 4)
typedef struct MPImageFilterData {
  REALobject progressHandler;  /* the ProgressHandler property; holds one reference */
  MPDispatcher dispatcher;     /* set by the constructor */
  int32_t multiprocessingHint; /* thread hint a subclass passes on in its params record */
  int32_t errorCode;
  int32_t reserved;
} MPImageFilterData;
#pragma pack(pop)

#ifdef __cplusplus
#define MPIMAGEFILTER_STATIC_ASSERT(condition, why) static_assert(condition, why)
#else
#define MPIMAGEFILTER_STATIC_ASSERT(condition, why) _Static_assert(condition, why)
#endif

MPIMAGEFILTER_STATIC_ASSERT(sizeof(MPImageFilterData) == 28, "MPImageFilter's data is 28 bytes");
MPIMAGEFILTER_STATIC_ASSERT(offsetof(MPImageFilterData, progressHandler) == 0, "handler at byte 0");
MPIMAGEFILTER_STATIC_ASSERT(offsetof(MPImageFilterData, dispatcher) == 8, "dispatcher at byte 8");
MPIMAGEFILTER_STATIC_ASSERT(offsetof(MPImageFilterData, multiprocessingHint) == 16, "hint at byte 16");
MPIMAGEFILTER_STATIC_ASSERT(offsetof(MPImageFilterData, errorCode) == 20, "error code at byte 20");
MPIMAGEFILTER_STATIC_ASSERT(offsetof(MPImageFilterData, reserved) == 24, "fourth word at byte 24");

/* A subclass of MPImageFilter finds the superclass's data in front of its own. */
static inline MPImageFilterData* MPImageFilterDataBefore(void* subclassData) {
  return (MPImageFilterData*)((char*)subclassData - sizeof(MPImageFilterData));
}

#ifdef __cplusplus
}
#endif

#endif
