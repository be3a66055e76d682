#include "platform/Descriptors.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "SharedState.h"

// A descriptor's data: bytes, or the items of a list. Any copy of the layer may free what another made:
// all are built from these sources against the one C++ library.
struct OpaqueAEDataStorage {
  std::vector<unsigned char> bytes;
  std::vector<AEDesc> items;
};

using platform_detail::Shared;

namespace {

AEDesc NullDesc() { return AEDesc{typeNull, nullptr}; }

OSErr Make(DescType type, const void* data, std::size_t size, AEDesc* result) {
  auto* storage = new (std::nothrow) OpaqueAEDataStorage;
  if (!storage) return memFullErr;
  if (size) storage->bytes.assign(static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + size);
  Shared().liveDescriptors.fetch_add(1, std::memory_order_relaxed);
  *result = AEDesc{type, storage};
  return noErr;
}

OSErr CoerceItem(const AEDesc& item, DescType toType, AEDesc* result) {
  const std::vector<unsigned char>& bytes = item.dataHandle->bytes;
  if (item.descriptorType == toType) return Make(toType, bytes.data(), bytes.size(), result);
  if (item.descriptorType == typeFSRef && toType == typeFSS && bytes.size() == sizeof(FSRef)) {
    FSRef ref;
    std::memcpy(&ref, bytes.data(), sizeof ref);
    FSSpec fss;
    if (FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &fss, nullptr) != noErr) return errAECoercionFail;
    return Make(typeFSS, &fss, sizeof fss, result);
  }
  if (item.descriptorType == typeFSS && toType == typeFSRef && bytes.size() == sizeof(FSSpec)) {
    FSSpec fss;
    std::memcpy(&fss, bytes.data(), sizeof fss);
    std::string path;
    FSRef ref;
    if (PlatformPathFromFSSpec(&fss, &path) != noErr || PlatformFSRefFromPath(path.c_str(), &ref) != noErr)
      return errAECoercionFail;
    return Make(typeFSRef, &ref, sizeof ref, result);
  }
  return errAECoercionFail;
}

}  // namespace

extern "C" OSErr AECreateDesc(DescType type, const void* data, std::size_t size, AEDesc* result) {
  if (!result) return paramErr;
  *result = NullDesc();
  if ((size && !data) || type == typeAEList) return paramErr;
  return Make(type, data, size, result);
}

extern "C" OSErr AECountItems(const AEDescList* list, long* count) {
  if (!list || !count) return paramErr;
  if (list->descriptorType != typeAEList || !list->dataHandle) return errAEWrongDataType;
  *count = static_cast<long>(list->dataHandle->items.size());
  return noErr;
}

extern "C" OSErr AECoerceDesc(const AEDesc* desc, DescType toType, AEDesc* result) {
  if (!result) return paramErr;
  *result = NullDesc();
  if (!desc || !desc->dataHandle) return paramErr;
  if (desc->descriptorType == typeAEList) {
    const std::vector<AEDesc>& items = desc->dataHandle->items;
    if (toType == typeAEList || items.size() != 1) return errAECoercionFail;
    return CoerceItem(items.front(), toType, result);
  }
  return CoerceItem(*desc, toType, result);
}

extern "C" std::size_t AEGetDescDataSize(const AEDesc* desc) {
  if (!desc || !desc->dataHandle || desc->descriptorType == typeAEList) return 0;
  return desc->dataHandle->bytes.size();
}

extern "C" OSErr AEGetDescData(const AEDesc* desc, void* buffer, std::size_t size) {
  if (!desc || !desc->dataHandle || (size && !buffer)) return paramErr;
  if (desc->descriptorType == typeAEList) return errAEWrongDataType;
  const std::vector<unsigned char>& bytes = desc->dataHandle->bytes;
  const std::size_t n = std::min(size, bytes.size());
  if (n) std::memcpy(buffer, bytes.data(), n);
  return noErr;
}

extern "C" OSErr AEDisposeDesc(AEDesc* desc) {
  if (!desc) return paramErr;
  if (OpaqueAEDataStorage* storage = desc->dataHandle) {
    for (AEDesc& item : storage->items) AEDisposeDesc(&item);
    delete storage;
    Shared().liveDescriptors.fetch_sub(1, std::memory_order_relaxed);
  }
  *desc = NullDesc();
  return noErr;
}

long PlatformLiveDescriptorCount() { return Shared().liveDescriptors.load(std::memory_order_relaxed); }

OSErr PlatformCreateListOf(const AEDesc* item, AEDescList* list) {
  if (!list) return paramErr;
  *list = NullDesc();
  if (!item || !item->dataHandle || item->descriptorType == typeAEList) return paramErr;
  AEDesc copy;
  const std::vector<unsigned char>& bytes = item->dataHandle->bytes;
  if (OSErr err = Make(item->descriptorType, bytes.data(), bytes.size(), &copy); err != noErr) return err;
  if (OSErr err = Make(typeAEList, nullptr, 0, list); err != noErr) {
    AEDisposeDesc(&copy);
    return err;
  }
  list->dataHandle->items.push_back(copy);
  return noErr;
}
