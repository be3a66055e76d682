#include "framework/FileRefs.h"

#include <filesystem>
#include <string>

#include "framework/FolderItem.h"

namespace fw {
namespace {

REALfolderItem Handed(const std::string& path) {
  Ref<FolderItem> item = MakeRef<FolderItem>(std::filesystem::path(path));
  return reinterpret_cast<REALfolderItem>(static_cast<Object*>(item.Detach()));
}

}  // namespace

REALfolderItem FolderItemFromParentFSRef(const FSRef* parent, const HFSUniStr255* name) {
  if (!parent || !name || name->length == 0) return nullptr;
  std::string folder;
  std::string leaf;
  if (PlatformPathFromFSRef(parent, &folder) != noErr) return nullptr;
  if (PlatformNameFromHFSUniStr(name, &leaf) != noErr) return nullptr;
  if (leaf == "." || leaf == ".." || leaf.find('/') != std::string::npos || leaf.find('\0') != std::string::npos)
    return nullptr;
  if (folder != "/") folder.push_back('/');
  return Handed(folder.append(leaf));
}

REALfolderItem FolderItemFromFSSpec(const FSSpec* fss) {
  std::string path;
  if (PlatformPathFromFSSpec(fss, &path) != noErr) return nullptr;
  return Handed(path);
}

}  // namespace fw
