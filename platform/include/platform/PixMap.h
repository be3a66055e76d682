// Pixel maps: the raw view of a picture's memory that plug-ins lock and read.
// The framework owns one GWorld per picture; plug-ins reach it through the picture's description.
#pragma once

#include <atomic>
#include <cstdint>

extern "C" {

struct PixMap {
  void* baseAddr;          // first byte of row 0
  std::int32_t rowBytes;   // bytes from one row to the next
  std::int16_t pixelSize;  // bits per pixel: 8, 16, 24 or 32
  std::int16_t reserved;
  std::atomic<std::int32_t> lockCount;
};
using PixMapPtr = PixMap*;
using PixMapHandle = PixMap**;

struct GWorld {
  PixMap pixMap;
  PixMapPtr master;  // the handle points here, as a handle points at its master pointer
};
using GWorldPtr = GWorld*;

// The framework sets a GWorld up over a picture's pixels.
void PlatformInitGWorld(GWorldPtr world, void* base, std::int32_t rowBytes, std::int16_t pixelSize);

PixMapHandle GetGWorldPixMap(GWorldPtr world);
bool LockPixels(PixMapHandle pm);
void UnlockPixels(PixMapHandle pm);
void* GetPixBaseAddr(PixMapHandle pm);
long QTGetPixMapHandleRowBytes(PixMapHandle pm);
std::int16_t GetPixMapPixelSize(PixMapHandle pm);

}  // extern "C"
