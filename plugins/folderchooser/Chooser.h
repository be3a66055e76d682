// The choose-folder dialog and the road from the folder it gives to a framework folder item.
#pragma once

#include "kit/PluginABI.h"
#include "platform/Descriptors.h"
#include "platform/Files.h"
#include "platform/Navigation.h"

namespace folderchooser {

// The dialog's calls that can fail where the platform fails only rarely; tests put failing ones in place.
struct NavigationCalls {
  OSErr (*run)(NavDialogRef) = &NavDialogRun;
  NavUserAction (*userAction)(NavDialogRef) = &NavDialogGetUserAction;
  OSErr (*getReply)(NavDialogRef, NavReplyRecord*) = &NavDialogGetReply;
  OSErr (*coerce)(const AEDesc*, DescType, AEDesc*) = &AECoerceDesc;
};

// The folder the user chose, carrying one reference; nil when cancelled or when anything fails.
REALfolderItem ShowChooseFolderDialog(const NavigationCalls& calls = NavigationCalls{});

// The item a reference names: through its parent and name, or through an FSSpec when that fails (the
// root has no parent, so it always goes that way). Nil when both fail.
REALfolderItem FolderItemFromFSRef(const FSRef& ref);

}  // namespace folderchooser
