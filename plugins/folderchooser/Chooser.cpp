#include "Chooser.h"

#include <cstring>

#include "FrameworkRoutines.h"

namespace folderchooser {

REALfolderItem FolderItemFromFSRef(const FSRef& ref) {
  FSCatalogInfo info{};
  FSRef parent{};
  if (FSGetCatalogInfo(&ref, kFSCatInfoNodeID, &info, nullptr, nullptr, &parent) == noErr) {
    if (info.nodeID == kFSRootFolderID) std::memset(&parent, 0, sizeof parent);
    HFSUniStr255 name{};
    if (FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, &name, nullptr, nullptr) == noErr &&
        FSGetCatalogInfo(&parent, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr) == noErr)
      return REALFolderItemFromParentFSRef(&parent, &name);
  }
  // The root has no parent and a name that isn't UTF-8 has no HFS name; an FSSpec still names them.
  FSSpec fss{};
  if (FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &fss, nullptr) != noErr) return nullptr;
  return FolderItemFromFSSpec(&fss);
}

REALfolderItem ShowChooseFolderDialog(const NavigationCalls& calls) {
  NavDialogRef dialog = nullptr;
  if (NavCreateChooseFolderDialog(nullptr, nullptr, nullptr, nullptr, &dialog) != noErr) return nullptr;
  if (calls.run(dialog) != noErr || calls.userAction(dialog) != kNavUserActionChoose) {
    NavDialogDispose(dialog);
    return nullptr;
  }
  NavReplyRecord reply{};
  if (calls.getReply(dialog, &reply) != noErr) {
    NavDialogDispose(dialog);
    return nullptr;
  }

  REALfolderItem result = nullptr;
  if (reply.validRecord) {
    AEDesc coerced{typeNull, nullptr};
    if (calls.coerce(&reply.selection, typeFSRef, &coerced) == noErr) {
      FSRef ref;
      if (AEGetDescData(&coerced, &ref, sizeof ref) == noErr) result = FolderItemFromFSRef(ref);
      AEDisposeDesc(&coerced);
    } else if (calls.coerce(&reply.selection, typeFSS, &coerced) == noErr) {
      FSSpec fss;
      if (AEGetDescData(&coerced, &fss, sizeof fss) == noErr) result = FolderItemFromFSSpec(&fss);
      AEDisposeDesc(&coerced);
    }
  }
  NavDisposeReply(&reply);
  NavDialogDispose(dialog);
  return result;
}

}  // namespace folderchooser
