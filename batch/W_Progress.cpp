#include "batch/W_Progress.h"

#include "framework/Exceptions.h"
#include "framework/PropertyList.h"

namespace batch {
namespace {

constexpr const char* kClassName = "W_Progress.W_Progress";
constexpr const char* kLabelPrefix = "Dithering: ";

fw::PropertyListWriter& Font(fw::PropertyListWriter& w) {
  return w.String("TextFont", "System").Integer("TextSize", 0).Boolean("Bold", false).Boolean("Italic", false).Boolean(
      "Underline", false);
}

}  // namespace

W_Progress::W_Progress() : fw::Window(kClassName) {}

W_Progress::~W_Progress() { PreviewWindow.Store(nullptr); }

std::string W_Progress::WindowSettings() {
  return fw::PropertyListWriter()
      .Integer("Placement", 0)
      .Integer("Width", 300)
      .Integer("Height", 118)
      .Integer("MinWidth", 64)
      .Integer("MinHeight", 64)
      .Integer("MaxWidth", 32000)
      .Integer("MaxHeight", 32000)
      .Integer("Frame", 8)
      .Boolean("Composite", false)
      .Boolean("HasBackColor", false)
      .Colour("BackColor", {255, 255, 255})
      .String("Title", "Progress")
      .Boolean("Visible", true)
      .Boolean("FullScreen", false)
      .Boolean("MenuBarVisible", true)
      .Boolean("CloseButton", true)
      .Boolean("Resizeable", false)
      .Boolean("LiveResize", true)
      .Boolean("MaximizeButton", false)
      .Boolean("MinimizeButton", true)
      .Integer("MacProcID", 0)
      .Bytes();
}

std::string W_Progress::ProgressBarSettings() {
  fw::PropertyListWriter w;
  return fw::ControlSettings(w, "PB_Watch", 20, 46, 260, 20, std::nullopt).Integer("Value", 0).Integer("Maximum", 0).Bytes();
}

std::string W_Progress::ButtonSettings() {
  fw::PropertyListWriter w;
  fw::ControlSettings(w, "PushButton1", 200, 78, 80, 20, 1)
      .String("Caption", "Cancel")
      .Boolean("Default", false)
      .Boolean("Cancel", true)
      .Boolean("TabStop", true);
  return Font(w).Bytes();
}

std::string W_Progress::LabelSettings() {
  fw::PropertyListWriter w;
  fw::ControlSettings(w, "ST_Name", 20, 14, 260, 20, 2)
      .String("Text", kLabelPrefix)
      .Integer("TextAlign", 0)
      .Colour("TextColor", {0, 0, 0})
      .Boolean("Multiline", false);
  return Font(w).String("DataSource", "").String("DataField", "").Bytes();
}

void W_Progress::Layout() { ApplyFrameSettings(WindowSettings()); }

void W_Progress::CreateControls() { _CreateControls0(); }

void W_Progress::_CreateControls0() {
  auto add = [this](const char* name, const fw::Ref<fw::Control>& control, const std::string& settings) {
    AddControl(name, control);
    control->ApplyProperties(settings);
  };
  add("PB_Watch", fw::MakeRef<fw::ProgressBar>(), ProgressBarSettings());
  fw::Ref<fw::PushButton> button = fw::MakeRef<fw::PushButton>();
  add("PushButton1", button, ButtonSettings());
  button->ActionHandler = [this] { PushButton1_Action(); };
  add("ST_Name", fw::MakeRef<fw::StaticText>(), LabelSettings());
}

void W_Progress::Constructor(app::W_Main* owner) {
  fw::Window::Constructor();
  PreviewWindow.Store(fw::Ref<app::W_Main>(owner));
}

void W_Progress::UpdateName(const std::string& name) {
  if (!name.empty()) ST_Name()->SetText(kLabelPrefix + name);
  UpdateNow();
}

void W_Progress::PushButton1_Action() {
  fw::Ref<app::W_Main> owner = PreviewWindow.Load();
  fw::NonNil(owner, "no document window to cancel")->CancelBatchProcessing = true;
}

void W_Progress::Event_Close() {
  // The close box is the only other way out of this window while the batch runs: it cancels, as Cancel
  // does, or the batch would go on with no way left to stop it.
  fw::Ref<app::W_Main> owner = PreviewWindow.Load();
  if (owner && owner->BatchRunning()) owner->CancelBatchProcessing = true;
  PreviewWindow.Store(nullptr);
}

}  // namespace batch
