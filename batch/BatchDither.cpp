#include "batch/BatchDither.h"

#include "batch/SpeckmoorGlobals.h"
#include "bindings/PNG.h"
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

void BatchDither::Event_Run() {
  fw::NonNil(UpdateInterface, "no client for the batch");
  fw::NonNil(SourceFolder, "no folder to process");
  std::int32_t count = 0;
  for (std::int32_t i = 1;; ++i) {
    // The bound is read afresh on every pass: a folder may gain or lose items meanwhile.
    if (SourceFolder->Count() < i) break;
    fw::Ref<fw::FolderItem> item = SourceFolder->Item(i);
    fw::Ref<fw::Picture> picture = item ? item->OpenAsPicture() : nullptr;
    if (picture) {
      UpdateInterface->Interface_ProcessImage(picture, item->Name());
      if (fw::Ref<fw::Application> app = fw::RuntimeApplication()) app->YieldToNextThread();
      // A later picture of the batch never replaces an earlier one's file.
      fw::Ref<fw::FolderItem> target =
          OutputFolder ? SpeckmoorGlobals::FreeOutputFile(*OutputFolder, SpeckmoorGlobals::NameWithoutExtension(*item))
                       : nullptr;
      fw::Ref<fw::Picture> result = UpdateInterface->Interface_GetProcessedImage();
      if (target && result && bindings::SaveAsPNGQZB(target, result, 1.0f)) ++count;
    }
    if (UpdateInterface->Interface_CheckForCanceled()) break;
    fw::ThreadYieldPoint();
  }
  UpdateInterface->Interface_BatchComplete(count, OutputFolder);
  UpdateInterface = nullptr;
  clientHold_ = nullptr;
  SourceFolder = nullptr;
}

}  // namespace batch
