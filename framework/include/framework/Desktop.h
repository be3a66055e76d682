// The user's desktop: the private temporary folder, the browser and the file manager.
#pragma once

#include <string>

#include "framework/FolderItem.h"

namespace fw {

// A folder only this user can enter (mode 0700), made under $TMPDIR on first use and kept for the
// process; nil when it can't be made.
Ref<FolderItem> SpecialFolderTemporary();
// Removes that folder with what it holds (at exit).
void RemoveSpecialFolderTemporary();
// Opens a web address in the user's browser; false when nothing could open it.
bool ShowURL(const std::string& url);
// Shows a folder in the desktop's file manager; false when nothing could show it.
bool ShowFolder(const FolderItem& folder);

}  // namespace fw
