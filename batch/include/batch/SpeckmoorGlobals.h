// The module's free functions.
#pragma once

#include <functional>
#include <string>

#include "framework/FolderItem.h"

namespace batch::SpeckmoorGlobals {

// The stem of an item's file name: the name less its last full stop and what follows; a name without
// a full stop is its own stem (photo.2010.jpg -> photo.2010, photo -> photo, .hidden -> "").
std::string NameWithoutExtension(const fw::FolderItem& item);

// The output name for a stem: stem + ".png", or, when `taken` says that name is, the first free
// "stem n.png" with n from 2 up.
std::string FreeOutputName(const std::string& stem, const std::function<bool(const std::string& name)>& taken);

}  // namespace batch::SpeckmoorGlobals
