// The choose-folder dialog: navigation calls over Qt's own folder dialog (library platform_dialogs).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Descriptors.h"
#include "platform/Files.h"

extern "C" {

typedef struct OpaqueNavDialogRef* NavDialogRef;
typedef std::uint32_t NavUserAction;

enum : NavUserAction {
  kNavUserActionNone = 0,
  kNavUserActionCancel = 1,
  kNavUserActionChoose = 4,
};

enum : OSErr {
  kNavNoApplicationErr = -5690,  // no QApplication to show the dialog in
  kNavInvalidDialogErr = -5691,
};

struct NavReplyRecord {
  std::uint16_t version;
  Boolean validRecord;        // true when the user chose a folder
  AEDescList selection;       // one typeFSRef item: the chosen folder
  std::uint32_t reserved;     // the layer's mark of a reply still to be disposed of
};

// No options, event or filter routine are supported: anything but null for them is paramErr. The
// client data is carried only.
OSErr NavCreateChooseFolderDialog(const void* options, void* eventProc, void* filterProc, void* clientData,
                                  NavDialogRef* outDialog);
// Shows the dialog modally on the main thread and waits (from another thread it blocks until the main
// thread has run it, so never call it from a thread the main thread waits for). A cancel is noErr.
OSErr NavDialogRun(NavDialogRef dialog);
NavUserAction NavDialogGetUserAction(NavDialogRef dialog);
// Fails when the chosen folder can no longer be referred to; a cancelled dialog gives a reply whose
// validRecord is false. Every reply given must go to NavDisposeReply.
OSErr NavDialogGetReply(NavDialogRef dialog, NavReplyRecord* reply);
OSErr NavDisposeReply(NavReplyRecord* reply);
void NavDialogDispose(NavDialogRef dialog);

}  // extern "C"

// The folder the next dialogs show first; empty means the user's home.
void PlatformSetChooseFolderStart(const std::string& path);
long PlatformLiveNavDialogCount();
long PlatformLiveNavReplyCount();
