// W_Main: File > "Save...", through a PNG in the private temporary folder and the optimiser.
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/W_Main.h"
#include "bindings/PNG.h"
#include "framework/Desktop.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/MessageDialog.h"

namespace app {
namespace {

constexpr const char* kProposedName = "Dithered Image.png";

// Why a file could not be written, as far as the file system tells.
std::string ReasonFor(const fw::FolderItem& file) {
  const std::filesystem::path path = file.NativePath();
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "A folder of that name is in the way.";
  const std::filesystem::path folder = path.parent_path();
  if (!std::filesystem::is_directory(folder, ec)) return "Its folder does not exist.";
  // Try what the save tried: make a file in that folder.
  std::string probe = (folder / ".speckmoor-probe-XXXXXX").string();
  const int fd = mkstemp(probe.data());
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM || error == EROFS) return "The folder does not allow writing.";
    if (error == ENOSPC || error == EDQUOT) return "The disk is full.";
    return std::string(std::strerror(error)) + ".";
  }
  close(fd);
  unlink(probe.c_str());
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) == 0 && fs.f_bavail == 0) return "The disk is full.";
  return "The file could not be written.";
}

void TellSaveFailed(fw::Window& window, const fw::FolderItem& file) {
  fw::Ref<fw::MessageDialog> message = fw::MakeRef<fw::MessageDialog>();
  message->Message = "The picture could not be saved as \xE2\x80\x9C" + file.Name() + "\xE2\x80\x9D.";
  message->Explanation = ReasonFor(file);
  message->ShowModalWithin(&window);
}

}  // namespace

void W_Main::Save() {
  fw::Ref<bindings::PNGOptimizerQZB> optimizer = bindings::PNGOptimizerQZB::New();
  optimizer->SetNoColorTypeReduction(false);
  optimizer->SetNoBitDepthReduction(false);
  optimizer->SetNoPaletteReduction(false);
  optimizer->SetForce(true);
  fw::Ref<fw::FolderItem> chosen = fw::GetSaveFolderItem("", kProposedName);
  if (!chosen) return;
  fw::Ref<fw::FolderItem> folder = fw::SpecialFolderTemporary();
  fw::Ref<fw::FolderItem> temporary = fw::NonNil(folder, "no temporary folder")->Child(kProposedName);
  // A stale temporary file from an earlier save must never reach the chosen file.
  if (!bindings::SaveAsPNGQZB(fw::NonNil(temporary, "no temporary file"), DitheredImage(), 1.0f)) {
    TellSaveFailed(*this, *temporary);
    return;
  }
  optimizer->SetInputFile(temporary);
  optimizer->SetOutputFile(chosen);
  if (!optimizer->Optimize()) TellSaveFailed(*this, *chosen);
}

bool W_Main::_FileSave_Action() {
  Save();
  return true;
}

}  // namespace app
