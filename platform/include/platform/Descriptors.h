// Event descriptors: typed data the layer owns, as the choose-folder reply hands its selection over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Files.h"

extern "C" {

typedef std::uint32_t DescType;  // four-character code, first character in the high byte

enum : DescType {
  typeNull = 0x6e756c6c,    // 'null'
  typeAEList = 0x6c697374,  // 'list'
  typeFSRef = 0x66737266,   // 'fsrf'
  typeFSS = 0x66737320,     // 'fss '
};

enum : OSErr {
  errAECoercionFail = -1700,
  errAEWrongDataType = -1703,
  errAEIllegalIndex = -1719,
};

typedef struct OpaqueAEDataStorage* AEDataStorage;

struct AEDesc {
  DescType descriptorType;
  AEDataStorage dataHandle;  // 0 for a null descriptor
};
typedef AEDesc AEDescList;

// A descriptor holding a copy of the bytes.
OSErr AECreateDesc(DescType type, const void* data, std::size_t size, AEDesc* result);
// A list holds descriptors; only the layer makes them (AECountItems reads them).
OSErr AECountItems(const AEDescList* list, long* count);
// A one-item list coerces as its item does. FSRef -> FSSpec only while the reference resolves and its
// leaf fits in 63 bytes; FSSpec -> FSRef only while the item exists. `result` is a null descriptor
// when it fails.
OSErr AECoerceDesc(const AEDesc* desc, DescType toType, AEDesc* result);
std::size_t AEGetDescDataSize(const AEDesc* desc);
// Copies at most `size` bytes of the data.
OSErr AEGetDescData(const AEDesc* desc, void* buffer, std::size_t size);
// Frees the data and leaves a null descriptor; a null descriptor is fine.
OSErr AEDisposeDesc(AEDesc* desc);

}  // extern "C"

// Descriptors made and not yet disposed of, across the process (a list and each of its items count).
long PlatformLiveDescriptorCount();

// For the layer's own use: a one-item list around a copy of `item`.
OSErr PlatformCreateListOf(const AEDesc* item, AEDescList* list);
