// The standard dialogs. Each runs modally on the main thread and gives nil when cancelled.
#pragma once

#include <string>

#include "framework/FolderItem.h"

namespace fw {

// The open dialog, showing the files the named file type admits ("special/any": every file).
Ref<FolderItem> GetOpenFolderItem(const std::string& fileTypeName);
// The save dialog with a proposed name.
Ref<FolderItem> GetSaveFolderItem(const std::string& fileTypeName, const std::string& proposedName);

class Window;

// The location dialog: picks a folder, starting in InitialDirectory, with the prompt shown above the
// list and the action button captioned as given.
class SelectFolderDialog final : public Object {
 public:
  std::string ActionButtonCaption;
  Ref<FolderItem> InitialDirectory;
  std::string PromptText;
  // Modal to the window and attached to it; nil when cancelled.
  Ref<FolderItem> ShowModalWithin(Window* parent);
};

}  // namespace fw
