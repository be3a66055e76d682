#include "bindings/FolderChooser.h"

#include "bindings/PluginEntryTable.h"
#include "framework/Exceptions.h"
#include "kit/PluginABI.h"

namespace bindings {

fw::Ref<fw::FolderItem> SelectFolderQZB() {
  using Fn = REALfolderItem (*)();
  auto routine = PluginRoutine<Fn>(PluginEntry::SelectFolder);
  auto* object = reinterpret_cast<fw::Object*>(routine());
  if (!object) return nullptr;
  auto* folder = dynamic_cast<fw::FolderItem*>(object);
  if (!folder) {
    object->Release();
    throw fw::IllegalCastException("the choose-folder dialog gave something that is not a folder item");
  }
  return fw::Ref<fw::FolderItem>::Adopt(folder);
}

}  // namespace bindings
