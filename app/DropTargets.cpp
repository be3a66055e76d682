// The two drop-target pictures, read from the bundle's resources until a read succeeds, then kept.
#include <mutex>

#include "app/W_Main.h"
#include "framework/Bundle.h"
#include "framework/FolderItem.h"

namespace app {
namespace {

fw::Ref<fw::Picture> Load(fw::Ref<fw::Picture>& slot, const char* fileName) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (slot) return slot;
  fw::Ref<fw::FolderItem> resources = fw::MakeRef<fw::FolderItem>(fw::ResourcesFolder());
  if (resources->Directory())
    if (fw::Ref<fw::FolderItem> file = resources->Child(fileName)) slot = file->OpenAsPicture();
  return slot;
}

fw::Ref<fw::Picture> gImage;
fw::Ref<fw::Picture> gFolder;

}  // namespace

fw::Ref<fw::Picture> Drop_Image_LowContrast() { return Load(gImage, "Drop_Image_LowContrast.png"); }
fw::Ref<fw::Picture> Drop_Folder_LowContrast() { return Load(gFolder, "Drop_Folder_LowContrast.png"); }

}  // namespace app
