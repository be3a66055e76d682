// Folder items from file-system references: the routines plug-ins ask the resolver for by the names
// "REALFolderItemFromParentFSRef" and "FolderItemFromFSSpec".
#pragma once

#include "kit/PluginABI.h"
#include "platform/Files.h"

namespace fw {

// The item `name` inside the folder `parent`, carrying one reference; nil for an invalid or zero parent,
// a nil or empty name, a name that isn't valid UTF-16, holds '/' or is "." or "..".
REALfolderItem FolderItemFromParentFSRef(const FSRef* parent, const HFSUniStr255* name);
// The item an FSSpec names, carrying one reference; nil when it names none. parID 1 with the name "/"
// is the root (its FSSpec as FSGetCatalogInfo gives it).
REALfolderItem FolderItemFromFSSpec(const FSSpec* fss);

}  // namespace fw
