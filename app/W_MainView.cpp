// W_Main: painting, zoom, pan and drag feedback.
#include "app/W_Main.h"

#include "framework/Convert.h"

namespace app {

void W_Main::Event_Paint(fw::Graphics& g) {
  const double s = DrawScale;
  if (!BufferIsBiggerThanWindow()) ResetDrag();
  g.SetUseOldRenderer(true);
  fw::Ref<fw::Picture> d = DitheredImage();
  if (d) {
    const double w = d->Width();
    const double h = d->Height();
    // Each value from the doubles by itself, converted once at the end.
    const std::int32_t x = fw::DoubleToInt32(OffsetX + (g.Width() - w * s) / 2.0);
    const std::int32_t y = fw::DoubleToInt32(OffsetY + (g.Height() - h * s) / 2.0);
    const std::int32_t width = fw::DoubleToInt32(w * s);
    const std::int32_t height = fw::DoubleToInt32(h * s);
    if (!ViewShowOriginal()->Checked()) {
      g.DrawPicture(*d, x, y, width, height, 0, 0, d->Width(), d->Height());
    } else if (fw::Ref<fw::Picture> source = InputPic.Load()) {
      g.DrawPicture(*source, x, y, width, height, 0, 0, d->Width(), d->Height());
    }
  }
  DrawWindowIcon();
  UpdateNow();
}

bool W_Main::BufferIsBiggerThanWindow() {
  if (!Dith) return false;
  fw::Ref<fw::Picture> d = DitheredImage();
  if (!d) return false;
  const std::int32_t drawnWidth = fw::DoubleToInt32(d->Width() * DrawScale);
  const std::int32_t drawnHeight = fw::DoubleToInt32(d->Height() * DrawScale);
  return Width() < drawnWidth || Height() < drawnHeight;
}

void W_Main::ResetDrag() {
  OffsetX = 0;
  OffsetY = 0;
}

void W_Main::DrawWindowIcon() {
  if (InputPic.Load() || DitheredImage()) return;
  fw::Ref<fw::Picture> icon = WindowIcon;
  if (!icon) return;
  const std::int32_t x = fw::DoubleToInt32(static_cast<double>(Width() - icon->Width()) / 2.0);
  const std::int32_t y = fw::DoubleToInt32(static_cast<double>(Height() - icon->Height()) / 2.0);
  WithGraphics([icon, x, y](fw::Graphics& g) { g.DrawPicture(*icon, x, y); });
}

void W_Main::Event_MouseMove(std::int32_t, std::int32_t) {
  SetMouseCursor(BufferIsBiggerThanWindow() ? fw::MouseCursor::OpenHand : fw::MouseCursor::Arrow);
}

bool W_Main::Event_MouseDown(std::int32_t x, std::int32_t y) {
  if (!BufferIsBiggerThanWindow()) return false;
  SetMouseCursor(fw::MouseCursor::ClosedHand);
  StartOffsetX = OffsetX;
  StartOffsetY = OffsetY;
  StartDragX = x;
  StartDragY = y;
  return true;
}

void W_Main::Event_MouseDrag(std::int32_t x, std::int32_t y) {
  SetMouseCursor(fw::MouseCursor::ClosedHand);
  OffsetX = StartOffsetX + (x - StartDragX);
  OffsetY = StartOffsetY + (y - StartDragY);
  Refresh();
}

void W_Main::Event_Resizing() {
  if (!BufferIsBiggerThanWindow()) ResetDrag();
}

void W_Main::Event_Resized() {
  if (!BufferIsBiggerThanWindow()) ResetDrag();
}

void W_Main::ZoomTo(double factor, const char* itemName) {
  for (const char* name : {"View125", "View25", "View50", "View100", "View200"})
    MenuBar()->_Lookup(name)->SetChecked(std::string(name) == itemName);
  DrawScale = factor;
  Refresh();
}

void W_Main::Menu_Default() { ZoomTo(1.0, "View100"); }

bool W_Main::_View125_Action() {
  ZoomTo(0.125, "View125");
  return true;
}

bool W_Main::_View25_Action() {
  ZoomTo(0.25, "View25");
  return true;
}

bool W_Main::_View50_Action() {
  ZoomTo(0.5, "View50");
  return true;
}

bool W_Main::_View100_Action() {
  Menu_Default();
  return true;
}

bool W_Main::_View200_Action() {
  ZoomTo(2.0, "View200");
  return true;
}

void W_Main::Menu_Restore() {
  View125()->SetChecked(false);
  View25()->SetChecked(false);
  View50()->SetChecked(false);
  View100()->SetChecked(false);
  View200()->SetChecked(false);
  if (DrawScale == 1.0) View100()->SetChecked(true);
  else if (DrawScale == 2.0) View200()->SetChecked(true);
  else if (DrawScale == 0.5) View50()->SetChecked(true);
  else if (DrawScale == 0.25) View25()->SetChecked(true);
  else if (DrawScale == 0.125) View125()->SetChecked(true);
  Refresh();
}

void W_Main::Event_Activate() { Menu_Restore(); }

bool W_Main::_ViewShowOriginal_Action() {
  ViewShowOriginal()->SetChecked(!ViewShowOriginal()->Checked());
  Refresh();
  return true;
}

bool W_Main::Event_DragEnter(fw::DragItem& obj, std::int32_t) {
  if (BatchRunning()) return true;  // refused: the batch owns this window until it ends
  if (fw::Ref<fw::FolderItem> item = obj.FolderItem())
    WindowIcon = item->Directory() ? Drop_Folder_LowContrast() : Drop_Image_LowContrast();
  DrawWindowIcon();
  return false;
}

void W_Main::Event_DragExit(fw::DragItem&, std::int32_t) {
  WindowIcon = Drop_Image_LowContrast();
  DrawWindowIcon();
}

}  // namespace app
