// W_Main: pictures coming in, the result going out, and the option commands.
#include "app/W_About.h"
#include "app/W_Main.h"
#include "bindings/FolderChooser.h"

#include "framework/Clipboard.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "framework/Runtime.h"

#include <utility>

namespace app {

void W_Main::SetInputPic(const fw::Ref<fw::Picture>& picture) {
  InputPic.Store(picture);
  fw::NonNil(Dith, "the window has no engine")->Dither(picture);
  // The offsets belong to the paint, which runs on the main thread; a batch thread asks for the repaint
  // and goes on with its next picture.
  if (fw::IsMainThread()) ShowNewPicture();
  else newPictureShown_.Ask(fw::Ref<fw::Object>(this));
}

void W_Main::ShowNewPicture() {
  ResetDrag();
  Refresh();
}

void W_Main::Clear() {
  InputPic.Store(nullptr);
  if (Dith) Dith->buffer.Store(nullptr);
  Refresh();
}

fw::Ref<fw::Picture> W_Main::DitheredImage() { return Dith ? Dith->buffer.Load() : nullptr; }

bool W_Main::_FileOpen_Action() {
  if (BatchRunning()) return false;
  fw::Ref<fw::FolderItem> file = fw::GetOpenFolderItem("special/any");
  if (!file) return false;
  fw::Ref<fw::Picture> picture = file->OpenAsPicture();
  if (!picture) return false;
  InputPic.Store(picture);
  fw::NonNil(Dith, "the window has no engine")->Dither(picture);
  ResetDrag();
  Refresh();
  return true;
}

void W_Main::Event_DropObject(fw::DragItem& obj, std::int32_t /*action*/) {
  fw::Ref<fw::FolderItem> item = obj.FolderItem();
  if (!item || BatchRunning()) return;
  if (item->Directory()) {
    // The program the folder was dragged from waits until the drop returns: the location is asked for
    // right after, from the event loop. A second folder dropped before then is refused, as it would be
    // while the question is up.
    if (droppedFolder_) return;
    droppedFolder_ = item;
    fw::PostToMainThread([self = fw::Ref<W_Main>(this)] { self->BatchDroppedFolder(); });
    return;
  }
  if (fw::Ref<fw::Picture> picture = item->OpenAsPicture()) SetInputPic(picture);
}

void W_Main::BatchDroppedFolder() {
  fw::Ref<fw::FolderItem> source = std::exchange(droppedFolder_, nullptr);
  // The window may have closed, or started a batch of another folder, since the drop.
  if (source && IsOpen() && !BatchRunning()) SetInputBatch(source);
}

bool W_Main::_EditPaste_Action() {
  if (BatchRunning()) return true;
  fw::Ref<fw::Clipboard> clipboard = fw::MakeRef<fw::Clipboard>();
  if (fw::Ref<fw::Picture> picture = clipboard->Picture()) SetInputPic(picture);
  return true;
}

bool W_Main::_EditCopy_Action() {
  fw::Ref<fw::Clipboard> clipboard = fw::MakeRef<fw::Clipboard>();
  // A batch may have emptied the window since the menu was enabled: then there is nothing to copy.
  if (fw::Ref<fw::Picture> result = DitheredImage()) clipboard->SetPicture(*result);
  return true;
}

bool W_Main::_EditClear_Action() {
  if (BatchRunning()) return true;
  Clear();
  return true;
}

namespace {

// Flips the option, then dithers the source again with the marks as they now stand.
bool ToggleOption(W_Main& window, const fw::Ref<fw::MenuItem>& item, engine::Speckmoor* engine,
                  const fw::Ref<fw::Picture>& source) {
  item->SetChecked(!item->Checked());
  if (!source) return false;
  fw::NonNil(engine, "the window has no engine")->Dither(source);
  window.Refresh();
  return true;
}

}  // namespace

bool W_Main::_OptionSharpen_Action() {
  if (BatchRunning()) return false;
  return ToggleOption(*this, OptionSharpen(), Dith.get(), InputPic.Load());
}

bool W_Main::_OptionsContrast_Action() {
  if (BatchRunning()) return false;
  return ToggleOption(*this, OptionsContrast(), Dith.get(), InputPic.Load());
}

bool W_Main::_AppleAboutSpeckmoor_Action() {
  W_AboutInstance()->Show();
  return true;
}


bool W_Main::_FileBatchDither_Action() {
  if (BatchRunning()) return true;
  if (fw::Ref<fw::FolderItem> source = bindings::SelectFolderQZB()) SetInputBatch(source);
  return true;
}

}  // namespace app
