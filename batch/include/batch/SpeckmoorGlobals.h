// The module's free functions.
#pragma once

#include <string>

#include "framework/FolderItem.h"

namespace batch::SpeckmoorGlobals {

// The stem of an item's file name: the name less its last full stop and what follows; a name without
// a full stop is its own stem (photo.2010.jpg -> photo.2010, photo -> photo, .hidden -> "").
std::string NameWithoutExtension(const fw::FolderItem& item);

// The output file for a stem in a folder: stem + ".png", or, when that name is taken, the first free
// "stem n.png" with n from 2 up. Nil when the folder gives no such child.
fw::Ref<fw::FolderItem> FreeOutputFile(const fw::FolderItem& folder, const std::string& stem);

}  // namespace batch::SpeckmoorGlobals
