#include "platform/PixMap.h"

extern "C" {

void PlatformInitGWorld(GWorldPtr world, void* base, std::int32_t rowBytes, std::int16_t pixelSize) {
  world->pixMap.baseAddr = base;
  world->pixMap.rowBytes = rowBytes;
  world->pixMap.pixelSize = pixelSize;
  world->pixMap.reserved = 0;
  world->pixMap.lockCount.store(0, std::memory_order_relaxed);
  world->master = &world->pixMap;
}

PixMapHandle GetGWorldPixMap(GWorldPtr world) { return world ? &world->master : nullptr; }

// Pixels never move here, so a lock only counts; a map without memory can't be locked.
bool LockPixels(PixMapHandle pm) {
  if (!pm || !*pm || !(*pm)->baseAddr) return false;
  (*pm)->lockCount.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

void UnlockPixels(PixMapHandle pm) {
  if (pm && *pm) (*pm)->lockCount.fetch_sub(1, std::memory_order_acq_rel);
}

void* GetPixBaseAddr(PixMapHandle pm) { return pm && *pm ? (*pm)->baseAddr : nullptr; }

long QTGetPixMapHandleRowBytes(PixMapHandle pm) { return pm && *pm ? (*pm)->rowBytes : 0; }

std::int16_t GetPixMapPixelSize(PixMapHandle pm) { return pm && *pm ? (*pm)->pixelSize : 0; }

}  // extern "C"
