#include "app/Menu.h"

#include <mutex>
#include <optional>
#include <string>

#include "framework/Exceptions.h"

namespace app {
namespace {

fw::Ref<Menu> gInstance;

// One row of the bar. A separator's shortcut is never set, which differs from an empty one.
struct Row {
  const char* name;
  const char* text;
  std::optional<const char*> shortcut;
  bool autoEnable;
};

template <typename Kind>
fw::Ref<fw::MenuItem> MakeItem(const Row& row) {
  fw::Ref<fw::MenuItem> item = fw::MakeRef<Kind>();
  item->SetName(row.name);
  item->SetAutoEnable(row.autoEnable);
  item->SetText(row.text);
  if (row.shortcut) item->SetKeyboardShortcut(*row.shortcut);
  return item;
}

void AddTopMenu(Menu& bar, const Row& row) { bar.Append(MakeItem<fw::MenuItem>(row)); }

template <typename Kind = fw::MenuItem>
void AddItem(Menu& bar, const char* menuName, const Row& row) {
  fw::Ref<fw::MenuItem> item = MakeItem<Kind>(row);
  fw::Ref<fw::MenuItem> menu = bar.Child(menuName);
  fw::NonNil(menu, "no menu to append to")->Append(item);
}

}  // namespace

void Menu::Constructor() {
  Untitled0();
  Untitled2();
  Untitled3();
  Untitled4();
}

void Menu::Untitled0() {
  AddTopMenu(*this, {"UntitledMenu3", "File", "", false});
  AddItem(*this, "UntitledMenu3", {"FileNewWindow", "New Window", "Cmd+N", true});
  AddItem(*this, "UntitledMenu3", {"FileOpen", "Open...", "Cmd+O", true});
  AddItem(*this, "UntitledMenu3", {"FileBatchDither", "Batch Process a Folder...", "Cmd+B", true});
  AddItem(*this, "UntitledMenu3", {"FileCloseWindow", "Close Window", "Cmd+W", true});
  AddItem(*this, "UntitledMenu3", {"UntitledSeparator", "-", std::nullopt, true});
  AddItem(*this, "UntitledMenu3", {"FileSave", "Save...", "Cmd+S", false});
  AddItem<fw::QuitMenuItem>(*this, "UntitledMenu3", {"FileQuit", "Quit", "Cmd+Q", true});
}

void Menu::Untitled2() {
  AddTopMenu(*this, {"UntitledMenu1", "Edit", "", false});
  AddItem(*this, "UntitledMenu1", {"EditUndo", "Undo", "Cmd+Z", false});
  AddItem(*this, "UntitledMenu1", {"UntitledMenu2", "-", std::nullopt, false});
  AddItem(*this, "UntitledMenu1", {"EditCut", "Cut", "Cmd+X", false});
  AddItem(*this, "UntitledMenu1", {"EditCopy", "Copy", "Cmd+C", false});
  AddItem(*this, "UntitledMenu1", {"EditPaste", "Paste", "Cmd+V", false});
  AddItem(*this, "UntitledMenu1", {"EditClear", "Clear", "Cmd+Backspace", true});
}

void Menu::Untitled3() {
  AddTopMenu(*this, {"OptionMenu", "Options", "", false});
  AddItem(*this, "OptionMenu", {"OptionSharpen", "Sharpen", "Cmd+E", true});
  AddItem(*this, "OptionMenu", {"OptionsContrast", "Contrast", "Cmd+T", true});
}

void Menu::Untitled4() {
  AddTopMenu(*this, {"ViewMenu", "View", "", true});
  AddItem(*this, "ViewMenu", {"View125", "12.5%", "Cmd+3", true});
  AddItem(*this, "ViewMenu", {"View25", "25%", "Cmd+4", true});
  AddItem(*this, "ViewMenu", {"View50", "50%", "Cmd+5", true});
  AddItem(*this, "ViewMenu", {"View100", "100%", "Cmd+1", true});
  AddItem(*this, "ViewMenu", {"View200", "200%", "Cmd+2", true});
  AddItem(*this, "ViewMenu", {"UntitledMenu0", "-", std::nullopt, true});
  AddItem(*this, "ViewMenu", {"ViewShowOriginal", "Show Original", "Cmd+F", true});
  AddItem<fw::AppleMenuItem>(*this, "ViewMenu", {"AppleAboutSpeckmoor", "About Speckmoor...", "", true});
}

fw::Ref<Menu> MenuInstance() {
  if (!gInstance) {
    fw::Ref<Menu> bar = fw::MakeRef<Menu>();
    bar->Constructor();
    gInstance = bar;
  }
  return gInstance;
}

void MenuInstanceExit() { gInstance = nullptr; }

}  // namespace app
