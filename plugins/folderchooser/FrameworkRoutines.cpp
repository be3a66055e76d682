#include "FrameworkRoutines.h"

#include <atomic>

#include "kit/Kit.h"

namespace folderchooser {
namespace {

enum Routine { kFromParentFSRef, kFromFSSpec, kRoutineCount };

constexpr const char* kNames[kRoutineCount] = {"REALFolderItemFromParentFSRef", "FolderItemFromFSSpec"};

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

REALfolderItem REALFolderItemFromParentFSRef(const FSRef* parent, const HFSUniStr255* name) {
  auto proc = Find<REALFolderItemFromParentFSRefProc>(kFromParentFSRef);
  return proc ? proc(parent, name) : nullptr;
}

REALfolderItem FolderItemFromFSSpec(const FSSpec* fss) {
  auto proc = Find<FolderItemFromFSSpecProc>(kFromFSSpec);
  return proc ? proc(fss) : nullptr;
}

void ForgetFrameworkRoutines() {
  for (std::atomic<void*>& entry : gCache) entry.store(nullptr, std::memory_order_release);
}

}  // namespace folderchooser
