#include "batch/BatchDither.h"

#include "DurableOutput.h"
#include "Prefetcher.h"
#include "batch/SpeckmoorGlobals.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"

namespace batch {

void BatchDither::Constructor(BatchDitherInterface* client, const fw::Ref<fw::FolderItem>& source,
                              const fw::Ref<fw::FolderItem>& output) {
  Priority = 1;
  UpdateInterface = client;
  clientHold_ = client ? fw::Ref<fw::Object>(&client->InterfaceObject()) : nullptr;
  SourceFolder = source;
  OutputFolder = output;
}

namespace {

// Files at least this large take long enough to decode that doing it beside the work on the previous
// picture pays.
constexpr std::uintmax_t kWorthDecodingAhead = 64 * 1024;

}  // namespace

void BatchDither::Event_Run() {
  fw::NonNil(UpdateInterface, "no client for the batch");
  fw::NonNil(SourceFolder, "no folder to process");
  // The folder as it is now. People move finished originals away and drop more files in while a batch
  // runs: an entry gone by its turn is skipped, one added meanwhile is left for another batch, and every
  // other file is written exactly once. One listing also keeps the walk linear in the folder's size.
  const std::vector<fw::Ref<fw::FolderItem>> items = SourceFolder->Entries();
  DurableOutput output(OutputFolder);
  shortfall_ = {};
  {
    // A picture decoded ahead is let go as soon as the walk ends, not when the user answers the message.
    Prefetcher ahead;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const fw::Ref<fw::FolderItem>& item = items[i];
      if (fw::Ref<fw::Picture> picture = ahead.Take(item)) {
        // The next item is decoded while this one is dithered and saved, unless the user has asked to stop
        // by now (no item is opened after a cancel) or it is small enough that handing it to another
        // thread would cost more than decoding it here.
        if (i + 1 < items.size() && items[i + 1]->Length() >= kWorthDecodingAhead &&
            !UpdateInterface->Interface_CheckForCanceled())
          ahead.Start(items[i + 1]);
        UpdateInterface->Interface_ProcessImage(picture, item->Name());
        if (fw::Ref<fw::Application> app = fw::RuntimeApplication()) app->YieldToNextThread();
        output.Save(SpeckmoorGlobals::NameWithoutExtension(*item), UpdateInterface->Interface_GetProcessedImage());
        output.CommitIfDue();
        if (output.Blocked()) {
          // Every later picture would fail too: none is read, and the message says so.
          shortfall_.stopped = true;
          shortfall_.unread = static_cast<std::int32_t>(items.size() - i - 1);
          break;
        }
      }
      if (UpdateInterface->Interface_CheckForCanceled()) break;
      fw::ThreadYieldPoint();
    }
  }
  output.Commit();
  shortfall_.unsaved = output.Unsaved();
  // The folder may have been renamed or moved meanwhile: the message names it, and shows it, where it is.
  if (fw::Ref<fw::FolderItem> where = output.Where())
    OutputFolder = where;
  else
    shortfall_.folderGone = true;
  UpdateInterface->Interface_BatchComplete(output.Saved(), OutputFolder);
  UpdateInterface = nullptr;
  clientHold_ = nullptr;
  SourceFolder = nullptr;
}

}  // namespace batch
