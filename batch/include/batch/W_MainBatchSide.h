// The document window's batch side: the window that the program makes once batches are installed.
#pragma once

#include <mutex>
#include <string>

#include "app/W_Main.h"
#include "batch/BatchDither.h"
#include "batch/BatchDitherInterface.h"
#include "batch/W_Progress.h"

namespace batch {

class W_MainBatchSide : public app::W_Main, public BatchDitherInterface {
 public:
  ~W_MainBatchSide() override;

  // Asks where the output goes, makes the output folder, opens the progress window and starts the
  // batch thread. While a batch runs here, a second one is refused.
  void SetInputBatch(const fw::Ref<fw::FolderItem>& source) override;
  bool BatchRunning() const override;

  void Interface_BatchComplete(std::int32_t count, const fw::Ref<fw::FolderItem>& outputFolder) override;
  void Interface_ProcessImage(const fw::Ref<fw::Picture>& picture, const std::string& name) override;
  fw::Ref<fw::Picture> Interface_GetProcessedImage() override;
  bool Interface_CheckForCanceled() override;
  fw::Object& InterfaceObject() override { return *this; }

  // Closing the window cancels its batch; the file in hand is finished whole.
  void Event_Close() override;

  fw::Ref<BatchDither> CurrentBatch() const { return Batch.Load(); }
  fw::Ref<W_Progress> CurrentProgress() const { return Progress.Load(); }

  // The output folder inside a location: "<name> (Dithered)", else "<name> (Dithered #n)" with n from 2.
  static fw::Ref<fw::FolderItem> OutputFolderIn(const fw::FolderItem& location, const std::string& sourceName);

 private:
  // The progress window hears of each picture without the batch waiting for it, and shows the latest
  // news a few dozen times a second at most.
  void TellProgress(const std::string& name);
  void ShowProgress();

  fw::GuardedRef<BatchDither> Batch;
  fw::GuardedRef<W_Progress> Progress;
  std::atomic<bool> batchRunning_{false};
  struct News {
    std::string name;
    std::int32_t pictures = 0;
  };
  std::mutex newsMutex_;
  News news_;
  fw::Throttle progressShown_{std::chrono::milliseconds(40), [this] { ShowProgress(); }};
};

// From now on the program's document windows have their batch side.
void InstallBatchSide();

}  // namespace batch
