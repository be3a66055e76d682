#include "batch/W_MainBatchSide.h"

#include <cerrno>

#include "framework/Application.h"
#include "framework/Desktop.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/MessageDialog.h"
#include "framework/Runtime.h"
#include "framework/WriteFailure.h"

namespace batch {
namespace {

std::string Counted(std::int32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What the count leaves out: the pictures that could not be saved and why, and the files never read when
// the batch stopped early.
std::string ShortfallSentences(const Shortfall& shortfall) {
  std::string text;
  std::int32_t total = 0;
  for (const auto& [why, pictures] : shortfall.unsaved) total += pictures;
  if (total > 0) {
    text.append(" ").append(Counted(total, "picture", "pictures")).append(" could not be saved");
    if (shortfall.unsaved.size() == 1) {
      text += " because " + fw::WriteFailureCause(shortfall.unsaved.begin()->first) + ".";
    } else {
      const char* separator = ": ";
      for (const auto& [why, pictures] : shortfall.unsaved) {
        text.append(separator).append(std::to_string(pictures)).append(" because ").append(fw::WriteFailureCause(why));
        separator = ", ";
      }
      text += ".";
    }
  }
  if (shortfall.stopped && shortfall.unread > 0)
    text.append(" The batch stopped there, leaving ")
        .append(Counted(shortfall.unread, "file", "files"))
        .append(" of the folder unread.");
  return text;
}

}  // namespace

W_MainBatchSide::~W_MainBatchSide() {
  Batch.Store(nullptr);
  Progress.Store(nullptr);
}

bool W_MainBatchSide::BatchRunning() const { return batchRunning_.load(std::memory_order_acquire); }

fw::Ref<fw::FolderItem> W_MainBatchSide::OutputFolderIn(const fw::FolderItem& location, const std::string& sourceName) {
  fw::Ref<fw::FolderItem> candidate = location.Child(sourceName + " (Dithered)");
  for (std::int32_t n = 2; candidate && candidate->Exists(); ++n) {
    candidate = location.Child(sourceName + " (Dithered #" + std::to_string(n) + ")");
    if (fw::Ref<fw::Application> app = fw::RuntimeApplication()) app->YieldToNextThread();
  }
  return candidate;
}

void W_MainBatchSide::SetInputBatch(const fw::Ref<fw::FolderItem>& source) {
  if (BatchRunning() || !source) return;
  fw::Ref<fw::SelectFolderDialog> dialog = fw::MakeRef<fw::SelectFolderDialog>();
  dialog->ActionButtonCaption = "Here";
  dialog->InitialDirectory = source->Parent();
  dialog->PromptText = "Batch processed images will be placed in a new folder. Please choose the location.";
  fw::Ref<fw::FolderItem> location = dialog->ShowModalWithin(this);
  if (!location || !IsOpen()) return;
  fw::Ref<fw::FolderItem> output = OutputFolderIn(*location, source->Name());
  std::error_code why;
  if (!output || !output->CreateAsFolder(why)) {
    // Every save would fail, and the message at the end would name a folder that is not there.
    fw::Ref<fw::MessageDialog> message = fw::MakeRef<fw::MessageDialog>();
    message->Message = "The folder for the dithered pictures could not be made in \xE2\x80\x9C" + location->Name() +
                       "\xE2\x80\x9D.";
    message->Explanation = why ? fw::WriteFailureReason(why.value()) : fw::WriteFailureReason(ENOENT);
    message->ShowModalWithin(this);
    return;
  }

  fw::Ref<W_Progress> progress = fw::MakeRef<W_Progress>();
  progress->Constructor(this);
  Progress.Store(progress);
  progress->PB_Watch()->SetMaximum(source->Count());
  progress->ShowWithin(*this);

  {
    std::lock_guard lock(newsMutex_);
    news_ = News{};
  }
  fw::Ref<BatchDither> worker = fw::MakeRef<BatchDither>();
  worker->Constructor(this, source, output);
  Batch.Store(worker);
  CancelBatchProcessing = false;
  // Every picture of the batch is made with the options in force now.
  Engine()->PinOptions(engine::MenuDitherOptions());
  batchRunning_ = true;
  worker->Run();
}

void W_MainBatchSide::Interface_ProcessImage(const fw::Ref<fw::Picture>& picture, const std::string& name) {
  TellProgress(name);
  SetInputPic(picture);
}

void W_MainBatchSide::TellProgress(const std::string& name) {
  {
    std::lock_guard lock(newsMutex_);
    news_.name = name;
    ++news_.pictures;
  }
  progressShown_.Ask(fw::Ref<fw::Object>(this));
}

void W_MainBatchSide::ShowProgress() {
  News news;
  {
    std::lock_guard lock(newsMutex_);
    news = news_;
  }
  if (fw::Ref<W_Progress> progress = Progress.Load()) {
    progress->UpdateName(news.name);
    progress->PB_Watch()->SetValue(news.pictures);
  }
}

fw::Ref<fw::Picture> W_MainBatchSide::Interface_GetProcessedImage() { return DitheredImage(); }

bool W_MainBatchSide::Interface_CheckForCanceled() { return CancelBatchProcessing.load(); }

void W_MainBatchSide::Interface_BatchComplete(std::int32_t count, const fw::Ref<fw::FolderItem>& outputFolder) {
  // The window's side of the end in one step on the main thread, so no command of the user's falls
  // between its parts.
  fw::RunOnMainThread([this] {
    Clear();
    CancelBatchProcessing = false;
    Engine()->PinOptions(std::nullopt);
    batchRunning_ = false;  // from here on, closing the progress window cancels nothing
    if (fw::Ref<W_Progress> progress = Progress.Load()) {
      fw::Ref<fw::ProgressBar> bar = progress->PB_Watch();
      bar->SetValue(bar->Maximum());
      progress->Close();
      Progress.Store(nullptr);
    }
  });
  // A window closed during its batch (or by quitting) has no one left to tell.
  if (!IsOpen()) return;
  const std::string name = outputFolder ? outputFolder->Name() : std::string();
  const fw::Ref<BatchDither> worker = Batch.Load();
  // A folder made meanwhile under the removed one's name holds none of the files.
  const bool folderThere =
      outputFolder && outputFolder->Directory() && !(worker && worker->Shortfall().folderGone);
  const std::string shortfall = worker ? ShortfallSentences(worker->Shortfall()) : std::string();
  fw::Ref<fw::MessageDialog> message = fw::MakeRef<fw::MessageDialog>();
  message->Message = "Batch dithering has finished.";
  message->Explanation =
      folderThere
          ? std::to_string(count) + " files were processed and saved to the folder: \"" + name + "\"" +
                (shortfall.empty() ? "" : ".") + shortfall
          : std::to_string(count) + " files were processed, but the folder \"" + name + "\" is no longer there." +
                shortfall;
  message->ActionCaption = "OK";
  message->AlternateVisible = folderThere;
  message->AlternateCaption = "Show Folder";
  const fw::MessageDialog::Button pressed = message->ShowModalWithin(this);
  if (pressed != fw::MessageDialog::Button::Alternate || !outputFolder || fw::ShowFolder(*outputFolder)) return;
  fw::Ref<fw::MessageDialog> unshown = fw::MakeRef<fw::MessageDialog>();
  unshown->Message = "The folder \"" + outputFolder->Name() + "\" could not be shown.";
  unshown->Explanation = "No program to open it was found.";
  unshown->ShowModalWithin(this);
}

void W_MainBatchSide::Event_Close() {
  if (BatchRunning()) CancelBatchProcessing = true;
  app::W_Main::Event_Close();
}

void InstallBatchSide() {
  app::SetDocumentWindowMaker([] { return fw::Ref<app::W_Main>(fw::MakeRef<W_MainBatchSide>()); });
}

}  // namespace batch
