// The document window: one picture at a time, its own engine, zoom and pan, all windows sharing one
// menu bar.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "engine/Speckmoor.h"
#include "framework/FolderItem.h"
#include "framework/MenuItem.h"
#include "framework/Picture.h"
#include "framework/Throttle.h"
#include "framework/Window.h"

namespace app {

class W_Main : public fw::Window {
 public:
  W_Main();
  ~W_Main() override;

  // Building steps.
  void Layout() override;
  void CreateControls() override;
  void AddMenuHandlers(fw::Window* window) override;

  // The item accessors: each looks its item up on the window's menu bar.
  fw::Ref<fw::MenuItem> ViewMenu();
  fw::Ref<fw::AppleMenuItem> AppleAboutSpeckmoor();
  fw::Ref<fw::MenuItem> ViewShowOriginal();
  fw::Ref<fw::MenuItem> UntitledMenu0();
  fw::Ref<fw::MenuItem> View200();
  fw::Ref<fw::MenuItem> View100();
  fw::Ref<fw::MenuItem> View50();
  fw::Ref<fw::MenuItem> View25();
  fw::Ref<fw::MenuItem> View125();
  fw::Ref<fw::MenuItem> OptionMenu();
  fw::Ref<fw::MenuItem> OptionsContrast();
  fw::Ref<fw::MenuItem> OptionSharpen();
  fw::Ref<fw::MenuItem> UntitledMenu1();
  fw::Ref<fw::MenuItem> EditClear();
  fw::Ref<fw::MenuItem> EditPaste();
  fw::Ref<fw::MenuItem> EditCopy();
  fw::Ref<fw::MenuItem> EditCut();
  fw::Ref<fw::MenuItem> UntitledMenu2();
  fw::Ref<fw::MenuItem> EditUndo();
  fw::Ref<fw::MenuItem> UntitledMenu3();
  fw::Ref<fw::QuitMenuItem> FileQuit();
  fw::Ref<fw::MenuItem> FileSave();
  fw::Ref<fw::MenuItem> UntitledSeparator();
  fw::Ref<fw::MenuItem> FileCloseWindow();
  fw::Ref<fw::MenuItem> FileBatchDither();
  fw::Ref<fw::MenuItem> FileOpen();
  fw::Ref<fw::MenuItem> FileNewWindow();

  // Events.
  void Event_DropObject(fw::DragItem& obj, std::int32_t action) override;
  void Event_EnableMenuItems() override;
  void Event_Paint(fw::Graphics& g) override;
  void Event_Open() override;
  void Event_MouseMove(std::int32_t x, std::int32_t y) override;
  bool Event_MouseDown(std::int32_t x, std::int32_t y) override;
  void Event_MouseDrag(std::int32_t x, std::int32_t y) override;
  void Event_Resizing() override;
  void Event_Resized() override;
  bool Event_DragEnter(fw::DragItem& obj, std::int32_t action) override;
  void Event_DragExit(fw::DragItem& obj, std::int32_t action) override;
  bool Event_CancelClose(bool appQuitting) override;
  void Event_Close() override;
  void Event_Activate() override;

  // The sixteen menu handlers.
  virtual bool _EditPaste_Action();
  virtual bool _EditCopy_Action();
  virtual bool _View100_Action();
  virtual bool _View200_Action();
  virtual bool _OptionSharpen_Action();
  virtual bool _AppleAboutSpeckmoor_Action();
  virtual bool _FileSave_Action();
  virtual bool _FileOpen_Action();
  virtual bool _ViewShowOriginal_Action();
  virtual bool _EditClear_Action();
  virtual bool _OptionsContrast_Action();
  virtual bool _FileCloseWindow_Action();
  virtual bool _FileBatchDither_Action();
  virtual bool _View25_Action();
  virtual bool _View50_Action();
  virtual bool _View125_Action();

  // The batch side, which the batch layer supplies in a subclass: here a window runs no batches.
  virtual void SetInputBatch(const fw::Ref<fw::FolderItem>& /*source*/) {}
  virtual bool BatchRunning() const { return false; }

  // Picture input and result.
  virtual void Clear();
  virtual void SetInputPic(const fw::Ref<fw::Picture>& picture);
  virtual fw::Ref<fw::Picture> DitheredImage();

  // Read by tests and the batch side.
  fw::Ref<fw::Picture> InputPicture() const { return InputPic.Load(); }
  engine::Speckmoor* Engine() const { return Dith.get(); }
  double Scale() const noexcept { return DrawScale; }

  std::int32_t OffsetX = 0;
  std::int32_t OffsetY = 0;
  std::int32_t StartOffsetX = 0;
  std::int32_t StartOffsetY = 0;
  std::int32_t StartDragY = 0;
  std::int32_t StartDragX = 0;
  fw::Ref<fw::Picture> WindowIcon;
  std::atomic<bool> CancelBatchProcessing{false};

 protected:
  // Private operations, called directly.
  bool BufferIsBiggerThanWindow();
  void ResetDrag();
  void DrawWindowIcon();
  void Menu_Default();
  void Menu_Restore();
  bool CloseDocumentWithAsk();
  void Save();

  // Zoom to a factor with its item the only one checked.
  void ZoomTo(double factor, const char* itemName);

  fw::Ref<engine::Speckmoor> Dith;
  fw::GuardedRef<fw::Picture> InputPic;
  double DrawScale = 0.0;

 private:
  void ShowNewPicture();
  // Asks where the batch of the folder dropped on the window goes, and starts it; main thread only.
  void BatchDroppedFolder();
  fw::Ref<fw::FolderItem> droppedFolder_;  // dropped; its location not yet asked for
  // Pictures a batch hands over are shown at most this often: thousands a second would be seen by no one.
  fw::Throttle newPictureShown_{std::chrono::milliseconds(40), [this] { ShowNewPicture(); }};
};

// The first window: the framework's implicit window of the class, made and constructed when there is
// none.
fw::Ref<W_Main> W_MainInstance();
// A new document window, made and constructed.
fw::Ref<W_Main> NewDocumentWindow();
// What NewDocumentWindow makes (not yet constructed); the batch layer installs windows with its side.
void SetDocumentWindowMaker(std::function<fw::Ref<W_Main>()> maker);

// The drop-target pictures from the bundle's resources; nil while they can't be loaded.
fw::Ref<fw::Picture> Drop_Image_LowContrast();
fw::Ref<fw::Picture> Drop_Folder_LowContrast();

}  // namespace app
