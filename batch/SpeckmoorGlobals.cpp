#include "batch/SpeckmoorGlobals.h"

namespace batch::SpeckmoorGlobals {

std::string NameWithoutExtension(const fw::FolderItem& item) {
  const std::string name = item.Name();
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

fw::Ref<fw::FolderItem> FreeOutputFile(const fw::FolderItem& folder, const std::string& stem) {
  fw::Ref<fw::FolderItem> candidate = folder.Child(stem + ".png");
  for (int n = 2; candidate && candidate->Exists(); ++n) candidate = folder.Child(stem + " " + std::to_string(n) + ".png");
  return candidate;
}

}  // namespace batch::SpeckmoorGlobals
