#include "batch/SpeckmoorGlobals.h"

namespace batch::SpeckmoorGlobals {

std::string NameWithoutExtension(const fw::FolderItem& item) {
  const std::string name = item.Name();
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FreeOutputName(const std::string& stem, const std::function<bool(const std::string& name)>& taken) {
  std::string name = stem + ".png";
  for (int n = 2; taken(name); ++n) name = stem + " " + std::to_string(n) + ".png";
  return name;
}

}  // namespace batch::SpeckmoorGlobals
