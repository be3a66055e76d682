#include <gtest/gtest.h>

#include "AppFixture.h"
#include "app/FileTypes.h"
#include "engine/MenuOptions.h"

namespace {

struct Expected {
  const char* menu;
  const char* name;
  const char* kind;
  const char* text;
  const char* shortcut;  // nullptr: never set
  bool autoEnable;
};

// The bar as users see it, row by row.
const Expected kBar[] = {
    {"", "UntitledMenu3", "item", "File", "", false},
    {"UntitledMenu3", "FileNewWindow", "item", "New Window", "Cmd+N", true},
    {"UntitledMenu3", "FileOpen", "item", "Open...", "Cmd+O", true},
    {"UntitledMenu3", "FileBatchDither", "item", "Batch Process a Folder...", "Cmd+B", true},
    {"UntitledMenu3", "FileCloseWindow", "item", "Close Window", "Cmd+W", true},
    {"UntitledMenu3", "UntitledSeparator", "item", "-", nullptr, true},
    {"UntitledMenu3", "FileSave", "item", "Save...", "Cmd+S", false},
    {"UntitledMenu3", "FileQuit", "quit", "Quit", "Cmd+Q", true},
    {"", "UntitledMenu1", "item", "Edit", "", false},
    {"UntitledMenu1", "EditUndo", "item", "Undo", "Cmd+Z", false},
    {"UntitledMenu1", "UntitledMenu2", "item", "-", nullptr, false},
    {"UntitledMenu1", "EditCut", "item", "Cut", "Cmd+X", false},
    {"UntitledMenu1", "EditCopy", "item", "Copy", "Cmd+C", false},
    {"UntitledMenu1", "EditPaste", "item", "Paste", "Cmd+V", false},
    {"UntitledMenu1", "EditClear", "item", "Clear", "Cmd+Backspace", true},
    {"", "OptionMenu", "item", "Options", "", false},
    {"OptionMenu", "OptionSharpen", "item", "Sharpen", "Cmd+E", true},
    {"OptionMenu", "OptionsContrast", "item", "Contrast", "Cmd+T", true},
    {"", "ViewMenu", "item", "View", "", true},
    {"ViewMenu", "View125", "item", "12.5%", "Cmd+3", true},
    {"ViewMenu", "View25", "item", "25%", "Cmd+4", true},
    {"ViewMenu", "View50", "item", "50%", "Cmd+5", true},
    {"ViewMenu", "View100", "item", "100%", "Cmd+1", true},
    {"ViewMenu", "View200", "item", "200%", "Cmd+2", true},
    {"ViewMenu", "UntitledMenu0", "item", "-", nullptr, true},
    {"ViewMenu", "ViewShowOriginal", "item", "Show Original", "Cmd+F", true},
    {"ViewMenu", "AppleAboutSpeckmoor", "apple", "About Speckmoor...", "", true},
};

std::string KindOf(fw::MenuItem* item) {
  if (dynamic_cast<fw::QuitMenuItem*>(item)) return "quit";
  if (dynamic_cast<fw::AppleMenuItem*>(item)) return "apple";
  return "item";
}

}  // namespace

TEST(MenuBar, TwentySevenRowsInOrderWithKindsCaptionsAndShortcuts) {
  fw::Ref<app::Menu> bar = fw::MakeRef<app::Menu>();  // a fresh bar, untouched by other tests
  bar->Constructor();
  std::vector<std::pair<std::string, fw::MenuItem*>> rows;
  for (std::size_t m = 0; m < bar->Count(); ++m) {
    fw::MenuItem* menu = bar->Item(m);
    rows.emplace_back("", menu);
    for (std::size_t i = 0; i < menu->Count(); ++i) rows.emplace_back(menu->Name(), menu->Item(i));
  }
  ASSERT_EQ(rows.size(), std::size(kBar));
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const Expected& e = kBar[r];
    fw::MenuItem* item = rows[r].second;
    SCOPED_TRACE(e.name);
    EXPECT_EQ(rows[r].first, e.menu);
    EXPECT_EQ(item->Name(), e.name);
    EXPECT_EQ(KindOf(item), e.kind);
    EXPECT_EQ(item->Text(), e.text);
    if (e.shortcut) {
      ASSERT_TRUE(item->KeyboardShortcut().has_value());
      EXPECT_EQ(*item->KeyboardShortcut(), e.shortcut);
    } else {
      EXPECT_FALSE(item->KeyboardShortcut().has_value());
    }
    EXPECT_EQ(item->AutoEnable(), e.autoEnable);
    EXPECT_FALSE(item->Checked());
    EXPECT_EQ(item->Text().find("\xE2\x80\xA6"), std::string::npos);  // no ellipsis character
  }
  EXPECT_EQ(bar->_Lookup("OptionsContrast")->Parent()->Name(), "OptionMenu");
  EXPECT_FALSE(bar->_Lookup("NoSuchItem"));
}

TEST(MenuBar, OneSharedBarAndOneItemPerName) {
  testing_support::StartApplication();
  fw::Ref<app::Menu> bar = app::MenuInstance();
  EXPECT_EQ(bar.get(), app::MenuInstance().get());
  EXPECT_EQ(app::AppInstance()->MenuBar().get(), bar.get());
  EXPECT_EQ(engine::OptionsContrast().get(), bar->_Lookup("OptionsContrast").get());
  EXPECT_EQ(engine::OptionSharpen().get(), bar->_Lookup("OptionSharpen").get());
  // A mark set on the bar is what the engine's accessor reads next.
  engine::OptionSharpen()->SetChecked(true);
  EXPECT_TRUE(bar->_Lookup("OptionSharpen")->Checked());
  engine::OptionSharpen()->SetChecked(false);
  EXPECT_FALSE(engine::OptionSharpen()->Checked());
  EXPECT_THROW(fw::CheckedCast<fw::QuitMenuItem>(bar->_Lookup("FileOpen")), fw::IllegalCastException);
  EXPECT_TRUE(fw::CheckedCast<fw::AppleMenuItem>(bar->_Lookup("AppleAboutSpeckmoor")));
}

TEST(FileTypes, BothTypesAreRegisteredWithAllTheirFields) {
  app::FileTypes::_Initialize();
  auto types = fw::RegisteredFileTypes();
  auto find = [&](const std::string& name) {
    return std::find_if(types.begin(), types.end(), [&](auto& t) { return t.name == name; });
  };
  ASSERT_NE(find("text"), types.end());
  EXPECT_EQ(find("text")->type, "TEXT");
  EXPECT_EQ(find("text")->creator, "R*ch");
  EXPECT_EQ(find("text")->extensions, "");
  ASSERT_NE(find("special/any"), types.end());
  EXPECT_EQ(find("special/any")->type, "????");
  EXPECT_EQ(find("special/any")->creator, "????");
  EXPECT_TRUE(fw::FileTypeAccepts("special/any", "anything.at.all"));
  EXPECT_TRUE(app::FileTypes::pSpecialAny->Registered());
  // Changing a field withdraws the registration.
  app::FileTypes::pText->SetMacCreator("????");
  types = fw::RegisteredFileTypes();
  EXPECT_EQ(find("text"), types.end());
  app::FileTypes::pTextExit();
  app::FileTypes::pSpecialAnyExit();
  EXPECT_FALSE(app::FileTypes::pSpecialAny);
}
