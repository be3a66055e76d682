// The choose-folder dialog and the road from the folder it gives to a framework folder item.
#pragma once

#include "kit/PluginABI.h"
#include "platform/Files.h"

namespace folderchooser {

// The folder the user chose, carrying one reference; nil when cancelled or when anything fails.
REALfolderItem ShowChooseFolderDialog();

// The item a reference names: through its parent and name, or through an FSSpec when that fails (the
// root has no parent, so it always goes that way). Nil when both fail.
REALfolderItem FolderItemFromFSRef(const FSRef& ref);

}  // namespace folderchooser
