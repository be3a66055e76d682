#include "app/W_About.h"

#include "app/App.h"
#include "bindings/PNG.h"
#include "framework/Desktop.h"
#include "framework/Exceptions.h"
#include "framework/MessageDialog.h"
#include "framework/Controls.h"
#include "framework/PropertyList.h"

namespace app {
namespace {

constexpr const char* kClassName = "W_About.W_About";

std::string AboutFrameSettings() {
  return fw::PropertyListWriter()
      .Integer("Placement", 2)
      .Integer("Width", 284)
      .Integer("Height", 228)
      .Integer("MinWidth", 64)
      .Integer("MinHeight", 64)
      .Integer("MaxWidth", 32000)
      .Integer("MaxHeight", 32000)
      .Integer("Frame", 0)
      .Boolean("Composite", false)
      .Boolean("HasBackColor", false)
      .Colour("BackColor", {255, 255, 255})
      .String("Title", "")
      .Boolean("Visible", true)
      .Boolean("FullScreen", false)
      .Boolean("MenuBarVisible", true)
      .Boolean("CloseButton", true)
      .Boolean("Resizeable", false)
      .Boolean("LiveResize", false)
      .Boolean("MaximizeButton", false)
      .Boolean("MinimizeButton", true)
      .Integer("MacProcID", 0)
      .Bytes();
}

std::string TextSettings(const char* name, std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height,
                         std::int32_t tabIndex, const char* text, const char* font, std::int32_t size, bool bold,
                         bool multiline) {
  fw::PropertyListWriter w;
  return fw::ControlSettings(w, name, left, top, width, height, tabIndex)
      .String("Text", text)
      .String("TextFont", font)
      .Integer("TextSize", size)
      .Boolean("Bold", bold)
      .Boolean("Italic", false)
      .Boolean("Underline", false)
      .Integer("TextAlign", 1)
      .Colour("TextColor", {0, 0, 0})
      .Boolean("Multiline", multiline)
      .Bytes();
}

std::string CanvasSettings() {
  fw::PropertyListWriter w;
  return fw::ControlSettings(w, "Canvas1", 110, 14, 64, 64, 1)
      .Boolean("TabStop", true)
      .Boolean("UseFocusRing", true)
      .Boolean("AcceptFocus", false)
      .Boolean("AcceptTabs", false)
      .Boolean("DoubleBuffer", false)
      .Boolean("EraseBackground", true)
      .Bytes();
}

template <typename T>
fw::Ref<T> Make(fw::Window& window, const char* name, const std::string& settings) {
  fw::Ref<T> control = fw::MakeRef<T>();
  window.AddControl(name, control);
  fw::Ref<T> found = window.ControlNamed<T>(name);
  fw::NonNil(found, "a control that was just added")->ApplyProperties(settings);
  return found;
}

}  // namespace

W_About::W_About() : fw::Window(kClassName) {}

void W_About::Layout() { ApplyFrameSettings(AboutFrameSettings()); }

void W_About::CreateControls() { _CreateControls0(); }

void W_About::_CreateControls0() {
  Make<fw::StaticText>(*this, "StaticText1", TextSettings("StaticText1", 20, 90, 244, 20, 0, "Speckmoor", "System", 14, true, false));
  fw::Ref<fw::Canvas> canvas = Make<fw::Canvas>(*this, "Canvas1", CanvasSettings());
  canvas->PaintHandler = [this](fw::Graphics& g) { Canvas1_Paint(g); };
  fw::Ref<fw::StaticText> version =
      Make<fw::StaticText>(*this, "StaticText2", TextSettings("StaticText2", 20, 110, 244, 20, 2, "version", "SmallSystem", 0, false, false));
  version->OpenHandler = [this] { StaticText2_Open(); };
  fw::Ref<fw::StaticText> credits =
      Make<fw::StaticText>(*this, "StaticText3", TextSettings("StaticText3", 20, 142, 244, 70, 3, kCredits, "SmallSystem", 0, false, true));
  credits->MouseDownHandler = [this](std::int32_t x, std::int32_t y) { return StaticText3_MouseDown(x, y); };
}

void W_About::AddMenuHandlers(fw::Window* window) {
  auto* self = static_cast<W_About*>(window);
  self->_AddMenuHandler("FileCloseWindow", [self] { return self->_FileCloseWindow_Action(); });
}

void W_About::Event_Open() {
  fw::Ref<App> app = AppInstance();
  fw::Ref<fw::Canvas> canvas = ControlNamed<fw::Canvas>("Canvas1");
  fw::Ref<fw::FolderItem> executable = fw::NonNil(app, "no application")->ExecutableFile();
  fw::NonNil(canvas, "no icon canvas")->WithGraphics([executable](fw::Graphics& g) {
    bindings::DrawWideIconQZB(executable, g, 0, 0, 64, 64);
  });
}

void W_About::StaticText2_Open() {
  fw::Ref<App> app = AppInstance();
  ControlNamed<fw::StaticText>("StaticText2")->SetText(fw::NonNil(app, "no application")->LongVersion());
}

void W_About::Canvas1_Paint(fw::Graphics&) {
  fw::Ref<fw::FolderItem> bundle = bindings::BundleFolderQZB();
  fw::NonNil(bundle, "no bundle folder");
  fw::Ref<fw::Canvas> canvas = ControlNamed<fw::Canvas>("Canvas1");
  const std::int32_t left = canvas->Left(), top = canvas->Top();
  WithGraphics([bundle, left, top](fw::Graphics& g) { bindings::DrawWideIconQZB(bundle, g, left, top, 64, 64); });
}

bool W_About::StaticText3_MouseDown(std::int32_t, std::int32_t) {
  if (!fw::ShowURL(kWebAddress)) {
    fw::Ref<fw::MessageDialog> unopened = fw::MakeRef<fw::MessageDialog>();
    unopened->Message = std::string("The web address ") + kWebAddress + " could not be opened.";
    unopened->Explanation = "No program to open it was found.";
    unopened->ShowModalWithin(this);
  }
  return false;
}

bool W_About::_FileCloseWindow_Action() {
  Close();
  return true;
}

fw::Ref<W_About> W_AboutInstance() {
  if (fw::Ref<fw::Window> open = fw::ImplicitWindow(kClassName))
    return fw::Ref<W_About>(static_cast<W_About*>(open.get()));
  fw::Ref<W_About> window = fw::MakeRef<W_About>();
  window->Constructor();
  return window;
}

}  // namespace app
