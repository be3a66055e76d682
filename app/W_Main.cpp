// W_Main: class, building, opening, menu enabling, closing.
#include "app/W_Main.h"

#include "app/Menu.h"
#include "framework/Clipboard.h"
#include "framework/Exceptions.h"
#include "framework/PropertyList.h"

namespace app {
namespace {

constexpr const char* kClassName = "W_Main.W_Main";

const std::string& DocumentFrameSettings() {
  static const std::string bytes = fw::PropertyListWriter()
                                       .Integer("Placement", 0)
                                       .Integer("Width", 512)
                                       .Integer("Height", 512)
                                       .Integer("MinWidth", 64)
                                       .Integer("MinHeight", 64)
                                       .Integer("MaxWidth", 32000)
                                       .Integer("MaxHeight", 32000)
                                       .Integer("Frame", 0)
                                       .Boolean("Composite", true)
                                       .Boolean("HasBackColor", true)
                                       .Colour("BackColor", {0x3F, 0x3F, 0x3F})
                                       .String("Title", "Speckmoor")
                                       .Boolean("Visible", true)
                                       .Boolean("FullScreen", false)
                                       .Boolean("MenuBarVisible", true)
                                       .Boolean("CloseButton", true)
                                       .Boolean("Resizeable", true)
                                       .Boolean("LiveResize", true)
                                       .Boolean("MaximizeButton", true)
                                       .Boolean("MinimizeButton", true)
                                       .Integer("MacProcID", 0)
                                       .Bytes();
  return bytes;
}

template <typename Kind = fw::MenuItem>
fw::Ref<Kind> ItemOf(const fw::Window& window, const char* name) {
  fw::Ref<fw::MenuBar> bar = window.MenuBar();
  fw::NonNil(bar, "the window has no menu bar");
  return fw::CheckedCast<Kind>(bar->_Lookup(name));
}

}  // namespace

W_Main::W_Main() : fw::Window(kClassName) {}

W_Main::~W_Main() {
  Dith = nullptr;
  InputPic.Store(nullptr);
  WindowIcon = nullptr;
}

void W_Main::Layout() {
  SetMenuBar(MenuInstance());
  ApplyFrameSettings(DocumentFrameSettings());
}

void W_Main::CreateControls() {}

void W_Main::AddMenuHandlers(fw::Window* window) {
  auto* self = static_cast<W_Main*>(window);
  auto add = [&](const char* name, bool (W_Main::*handler)()) {
    self->_AddMenuHandler(name, [self, handler] { return (self->*handler)(); });
  };
  add("EditPaste", &W_Main::_EditPaste_Action);
  add("EditCopy", &W_Main::_EditCopy_Action);
  add("View100", &W_Main::_View100_Action);
  add("View200", &W_Main::_View200_Action);
  add("OptionSharpen", &W_Main::_OptionSharpen_Action);
  add("AppleAboutSpeckmoor", &W_Main::_AppleAboutSpeckmoor_Action);
  add("FileSave", &W_Main::_FileSave_Action);
  add("FileOpen", &W_Main::_FileOpen_Action);
  add("ViewShowOriginal", &W_Main::_ViewShowOriginal_Action);
  add("EditClear", &W_Main::_EditClear_Action);
  add("OptionsContrast", &W_Main::_OptionsContrast_Action);
  add("FileCloseWindow", &W_Main::_FileCloseWindow_Action);
  add("FileBatchDither", &W_Main::_FileBatchDither_Action);
  add("View25", &W_Main::_View25_Action);
  add("View50", &W_Main::_View50_Action);
  add("View125", &W_Main::_View125_Action);
}

void W_Main::Event_Open() {
  OptionsContrast()->SetChecked(true);
  Dith = fw::MakeRef<engine::Speckmoor>();
  Menu_Default();
  AcceptFileDrop("special/any");
  WindowIcon = Drop_Image_LowContrast();
}

void W_Main::Event_EnableMenuItems() {
  fw::Ref<fw::Clipboard> clipboard = fw::MakeRef<fw::Clipboard>();
  if (clipboard->PictureAvailable()) EditPaste()->SetEnabled(true);
  if (DitheredImage()) EditCopy()->SetEnabled(true);
  if (DitheredImage()) FileSave()->SetEnabled(true);
  // While a batch runs here, nothing else may change what it saves under an item's name.
  if (BatchRunning()) {
    for (const char* name :
         {"FileOpen", "EditPaste", "EditClear", "OptionSharpen", "OptionsContrast", "FileBatchDither"})
      MenuBar()->_Lookup(name)->SetEnabled(false);
  }
}

bool W_Main::Event_CancelClose(bool /*appQuitting*/) { return !CloseDocumentWithAsk(); }

// No window keeps unsaved changes, so a close is never refused and nothing is asked.
bool W_Main::CloseDocumentWithAsk() { return true; }

void W_Main::Event_Close() { Clear(); }

bool W_Main::_FileCloseWindow_Action() {
  Close();
  return true;
}

fw::Ref<W_Main> W_MainInstance() {
  if (fw::Ref<fw::Window> existing = fw::ImplicitWindow(kClassName))
    return fw::Ref<W_Main>(static_cast<W_Main*>(existing.get()));
  return NewDocumentWindow();
}

namespace {

std::function<fw::Ref<W_Main>()>& Maker() {
  static std::function<fw::Ref<W_Main>()> maker = [] { return fw::MakeRef<W_Main>(); };
  return maker;
}

}  // namespace

void SetDocumentWindowMaker(std::function<fw::Ref<W_Main>()> maker) { Maker() = std::move(maker); }

fw::Ref<W_Main> NewDocumentWindow() {
  fw::Ref<W_Main> window = Maker()();
  window->Constructor();
  return window;
}

// ---- item accessors ----

fw::Ref<fw::MenuItem> W_Main::ViewMenu() { return ItemOf(*this, "ViewMenu"); }
fw::Ref<fw::AppleMenuItem> W_Main::AppleAboutSpeckmoor() { return ItemOf<fw::AppleMenuItem>(*this, "AppleAboutSpeckmoor"); }
fw::Ref<fw::MenuItem> W_Main::ViewShowOriginal() { return ItemOf(*this, "ViewShowOriginal"); }
fw::Ref<fw::MenuItem> W_Main::UntitledMenu0() { return ItemOf(*this, "UntitledMenu0"); }
fw::Ref<fw::MenuItem> W_Main::View200() { return ItemOf(*this, "View200"); }
fw::Ref<fw::MenuItem> W_Main::View100() { return ItemOf(*this, "View100"); }
fw::Ref<fw::MenuItem> W_Main::View50() { return ItemOf(*this, "View50"); }
fw::Ref<fw::MenuItem> W_Main::View25() { return ItemOf(*this, "View25"); }
fw::Ref<fw::MenuItem> W_Main::View125() { return ItemOf(*this, "View125"); }
fw::Ref<fw::MenuItem> W_Main::OptionMenu() { return ItemOf(*this, "OptionMenu"); }
fw::Ref<fw::MenuItem> W_Main::OptionsContrast() { return ItemOf(*this, "OptionsContrast"); }
fw::Ref<fw::MenuItem> W_Main::OptionSharpen() { return ItemOf(*this, "OptionSharpen"); }
fw::Ref<fw::MenuItem> W_Main::UntitledMenu1() { return ItemOf(*this, "UntitledMenu1"); }
fw::Ref<fw::MenuItem> W_Main::EditClear() { return ItemOf(*this, "EditClear"); }
fw::Ref<fw::MenuItem> W_Main::EditPaste() { return ItemOf(*this, "EditPaste"); }
fw::Ref<fw::MenuItem> W_Main::EditCopy() { return ItemOf(*this, "EditCopy"); }
fw::Ref<fw::MenuItem> W_Main::EditCut() { return ItemOf(*this, "EditCut"); }
fw::Ref<fw::MenuItem> W_Main::UntitledMenu2() { return ItemOf(*this, "UntitledMenu2"); }
fw::Ref<fw::MenuItem> W_Main::EditUndo() { return ItemOf(*this, "EditUndo"); }
fw::Ref<fw::MenuItem> W_Main::UntitledMenu3() { return ItemOf(*this, "UntitledMenu3"); }
fw::Ref<fw::QuitMenuItem> W_Main::FileQuit() { return ItemOf<fw::QuitMenuItem>(*this, "FileQuit"); }
fw::Ref<fw::MenuItem> W_Main::FileSave() { return ItemOf(*this, "FileSave"); }
fw::Ref<fw::MenuItem> W_Main::UntitledSeparator() { return ItemOf(*this, "UntitledSeparator"); }
fw::Ref<fw::MenuItem> W_Main::FileCloseWindow() { return ItemOf(*this, "FileCloseWindow"); }
fw::Ref<fw::MenuItem> W_Main::FileBatchDither() { return ItemOf(*this, "FileBatchDither"); }
fw::Ref<fw::MenuItem> W_Main::FileOpen() { return ItemOf(*this, "FileOpen"); }
fw::Ref<fw::MenuItem> W_Main::FileNewWindow() { return ItemOf(*this, "FileNewWindow"); }

}  // namespace app
