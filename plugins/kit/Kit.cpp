#include "kit/Kit.h"

#include <atomic>

namespace kit {
namespace {

enum Routine {
  kRegisterPluginVersion,
  kGetRBVersion,
  kRegisterClass,
  kRegisterMethod,
  kNewPicture,
  kLockPictureDescription,
  kUnlockPictureDescription,
  kLockObject,
  kUnlockObject,
  kFolderItemFromPath,
  kFolderItemPath,
  kGraphicsPainter,
  kObjectDataSize,
  kRoutineCount
};

constexpr const char* kNames[kRoutineCount] = {
    "RegisterPluginVersion",   "REALGetRBVersion", "PluginRegisterClass",
    "PluginRegisterMethod",    "newPicture",       "lockPictureDescription",
    "unlockPictureDescription", "REALLockObject",  "REALUnlockObject",
    "REALFolderItemFromPath",  "REALFolderItemPath",  "REALGraphicsPainter",
    "REALObjectDataSize",
};

// Filled on first use without a lock: two threads that meet store the same address.
std::atomic<void*> gCache[kRoutineCount];

template <typename Proc>
Proc Find(Routine routine) {
  void* address = gCache[routine].load(std::memory_order_acquire);
  if (!address && gResolver) {
    address = gResolver(kNames[routine]);
    gCache[routine].store(address, std::memory_order_release);
  }
  return reinterpret_cast<Proc>(address);
}

}  // namespace

void REALRegisterPluginVersion(int32_t version) {
  if (auto proc = Find<RegisterPluginVersionProc>(kRegisterPluginVersion)) proc(version);
}

double REALGetRBVersion() {
  auto proc = Find<REALGetRBVersionProc>(kGetRBVersion);
  return proc ? proc() : 0.0;
}

void REALRegisterClass(REALclassDefinition* definition) {
  if (auto proc = Find<PluginRegisterClassProc>(kRegisterClass)) proc(definition);
}

void REALRegisterMethod(REALmethodDefinition* definition) {
  if (auto proc = Find<PluginRegisterMethodProc>(kRegisterMethod)) proc(definition);
}

REALpicture REALNewPicture(int32_t width, int32_t height, int32_t depth) {
  auto proc = Find<NewPictureProc>(kNewPicture);
  return proc ? proc(width, height, depth) : nullptr;
}

int32_t REALLockPictureDescription(REALpicture picture, REALpictureDescription* description) {
  auto proc = Find<LockPictureDescriptionProc>(kLockPictureDescription);
  return proc ? proc(picture, description) : 0;
}

void REALUnlockPictureDescription(REALpicture picture) {
  if (auto proc = Find<UnlockPictureDescriptionProc>(kUnlockPictureDescription)) proc(picture);
}

void REALLockObject(REALobject object) {
  if (auto proc = Find<REALLockObjectProc>(kLockObject)) proc(object);
}

void REALUnlockObject(REALobject object) {
  if (auto proc = Find<REALUnlockObjectProc>(kUnlockObject)) proc(object);
}

REALfolderItem REALFolderItemFromPath(const char* path) {
  auto proc = Find<REALFolderItemFromPathProc>(kFolderItemFromPath);
  return proc ? proc(path) : nullptr;
}

int32_t REALFolderItemPath(REALfolderItem item, char* buffer, int32_t size) {
  auto proc = Find<REALFolderItemPathProc>(kFolderItemPath);
  return proc ? proc(item, buffer, size) : 0;
}

void* REALGraphicsPainter(REALgraphics graphics) {
  auto proc = Find<REALGraphicsPainterProc>(kGraphicsPainter);
  return proc ? proc(graphics) : nullptr;
}

int32_t REALObjectDataSize(REALobject object) {
  auto proc = Find<REALObjectDataSizeProc>(kObjectDataSize);
  return proc ? proc(object) : 0;
}

}  // namespace kit
