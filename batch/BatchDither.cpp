#include "batch/BatchDither.h"

#include <filesystem>
#include <future>

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

namespace {

// The next item is decoded on another thread while this one is dithered and saved. A decoded picture is
// used only for the file it was read from.
struct Prefetch {
  std::filesystem::path path;
  std::future<fw::Ref<fw::Picture>> picture;

  void Start(const fw::Ref<fw::FolderItem>& item) {
    path = item ? item->NativePath() : std::filesystem::path();
    picture = item ? std::async(std::launch::async, [item] { return item->OpenAsPicture(); })
                   : std::future<fw::Ref<fw::Picture>>();
  }
  fw::Ref<fw::Picture> Take(const fw::Ref<fw::FolderItem>& item) {
    if (!item) return nullptr;
    if (picture.valid() && path == item->NativePath()) return picture.get();
    if (picture.valid()) picture.wait();
    return item->OpenAsPicture();
  }
};

}  // namespace

void BatchDither::Event_Run() {
  fw::NonNil(UpdateInterface, "no client for the batch");
  fw::NonNil(SourceFolder, "no folder to process");
  std::int32_t count = 0;
  Prefetch next;
  for (std::int32_t i = 1;; ++i) {
    // The bound is read afresh on every pass: a folder may gain or lose items meanwhile.
    const std::int32_t items = SourceFolder->Count();
    if (items < i) break;
    fw::Ref<fw::FolderItem> item = SourceFolder->Item(i);
    fw::Ref<fw::Picture> picture = next.Take(item);
    next.Start(i < items ? SourceFolder->Item(i + 1) : nullptr);
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
