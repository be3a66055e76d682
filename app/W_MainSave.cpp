// W_Main: File > "Save...", through a PNG in the private temporary folder and the optimiser.
#include <filesystem>

#include "app/W_Main.h"
#include "bindings/PNG.h"
#include "framework/Desktop.h"
#include "framework/Dialogs.h"
#include "framework/MessageDialog.h"
#include "framework/WriteFailure.h"

namespace app {
namespace {

constexpr const char* kProposedName = "Dithered Image.png";

// The message always names the file the user chose; the explanation says what went wrong.
void TellSaveFailed(fw::Window& window, const fw::FolderItem& chosen, const std::string& why) {
  fw::Ref<fw::MessageDialog> message = fw::MakeRef<fw::MessageDialog>();
  message->Message = "The picture could not be saved as \xE2\x80\x9C" + chosen.Name() + "\xE2\x80\x9D.";
  message->Explanation = why;
  message->ShowModalWithin(&window);
}

std::string TemporaryCopyFailed(const fw::FolderItem& temporary, int why) {
  return "Speckmoor could not write its temporary copy in " + temporary.NativePath().parent_path().string() + ". " +
         fw::WriteFailureReason(why);
}

}  // namespace

void W_Main::Save() {
  // The picture on screen now is the one saved, whatever a batch shows by the time the dialog closes.
  const fw::Ref<fw::Picture> picture = DitheredImage();
  fw::Ref<bindings::PNGOptimizerQZB> optimizer = bindings::PNGOptimizerQZB::New();
  optimizer->SetNoColorTypeReduction(false);
  optimizer->SetNoBitDepthReduction(false);
  optimizer->SetNoPaletteReduction(false);
  optimizer->SetForce(true);
  if (!picture) return;
  fw::Ref<fw::FolderItem> chosen = fw::GetSaveFolderItem("", kProposedName);
  if (!chosen) return;
  fw::Ref<fw::FolderItem> folder = fw::SpecialFolderTemporary();
  fw::Ref<fw::FolderItem> temporary = folder ? folder->Child(kProposedName) : nullptr;
  if (!temporary) {
    TellSaveFailed(*this, *chosen, "Speckmoor could not make its temporary folder.");
    return;
  }
  // A stale temporary file from an earlier save must never reach the chosen file. The reason told is the
  // failing call's own: a look at the disk afterwards can find room that the file did not.
  int why = 0;
  if (!bindings::SaveAsPNGQZB(temporary, picture, 1.0f, &why)) {
    TellSaveFailed(*this, *chosen, TemporaryCopyFailed(*temporary, why));
    return;
  }
  optimizer->SetInputFile(temporary);
  optimizer->SetOutputFile(chosen);
  const bool optimised = optimizer->Optimize(&why);
  // The copy has served; a picture the user saved elsewhere is not left lying in the temporary folder.
  std::error_code ec;
  std::filesystem::remove(temporary->NativePath(), ec);
  if (!optimised) TellSaveFailed(*this, *chosen, fw::WriteFailureReason(why));
}

bool W_Main::_FileSave_Action() {
  Save();
  return true;
}

}  // namespace app
