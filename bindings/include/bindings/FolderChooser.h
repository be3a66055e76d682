// The choose-folder plug-in, called through the program's table.
#pragma once

#include "framework/FolderItem.h"

namespace bindings {

// The system's choose-folder dialog; the chosen folder, or nil when the user cancels.
fw::Ref<fw::FolderItem> SelectFolderQZB();

}  // namespace bindings
