// The framework's file-reference routines, found through the resolver on first use and cached as the
// kit caches its own: a name the resolver doesn't know calls nothing, gives nil and is asked again.
#pragma once

#include "kit/PluginABI.h"
#include "platform/Files.h"

extern "C" {
typedef REALfolderItem (*REALFolderItemFromParentFSRefProc)(const FSRef* parent, const HFSUniStr255* name);
typedef REALfolderItem (*FolderItemFromFSSpecProc)(const FSSpec* fss);
}

namespace folderchooser {

REALfolderItem REALFolderItemFromParentFSRef(const FSRef* parent, const HFSUniStr255* name);
REALfolderItem FolderItemFromFSSpec(const FSSpec* fss);

// Forgets what was found, so the next call asks the resolver again (for tests).
void ForgetFrameworkRoutines();

}  // namespace folderchooser
