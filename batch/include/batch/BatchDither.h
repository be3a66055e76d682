// The batch worker: walks a folder on its own thread, hands each picture to its client, saves the
// client's result as PNG into the output folder and counts the files written.
#pragma once

#include <cstdint>
#include <map>

#include "batch/BatchDitherInterface.h"
#include "framework/FolderItem.h"
#include "framework/Thread.h"

namespace batch {

// What a batch could not do, for the message at its end.
struct Shortfall {
  std::map<int, std::int32_t> unsaved;  // pictures not saved, by the errno of the call that failed
  bool stopped = false;                 // no further file could be written, so the batch stopped early
  std::int32_t unread = 0;              // items of the folder never looked at because of that
  bool folderGone = false;              // the output folder was removed during the batch
};

class BatchDither final : public fw::Thread {
 public:
  // Priority 1; holds the client, the source and the output folder. Run starts it.
  void Constructor(BatchDitherInterface* client, const fw::Ref<fw::FolderItem>& source,
                   const fw::Ref<fw::FolderItem>& output);
  void Event_Run() override;

  bool HoldsClient() const noexcept { return UpdateInterface != nullptr; }
  bool HoldsSource() const noexcept { return static_cast<bool>(SourceFolder); }
  fw::Ref<fw::FolderItem> Output() const { return OutputFolder; }
  // Set before the client hears that the batch is over.
  const batch::Shortfall& Shortfall() const noexcept { return shortfall_; }

 private:
  BatchDitherInterface* UpdateInterface = nullptr;
  fw::Ref<fw::Object> clientHold_;  // the counted reference behind UpdateInterface
  fw::Ref<fw::FolderItem> SourceFolder;
  fw::Ref<fw::FolderItem> OutputFolder;
  batch::Shortfall shortfall_;
};

}  // namespace batch
