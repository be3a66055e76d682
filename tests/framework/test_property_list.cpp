#include <gtest/gtest.h>

#include <map>

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>

#include "framework/Controls.h"
#include "framework/PropertyList.h"
#include "framework/Window.h"

using fw::Property;
using fw::PropertyColor;
using fw::PropertyType;

namespace {

fw::PropertyTypeOf TypesOf(const std::vector<Property>& props) {
  std::map<std::string, PropertyType, std::less<>> types;
  for (const Property& p : props)
    types[p.name] = static_cast<PropertyType>(p.value.index());
  return [types](std::string_view name) -> std::optional<PropertyType> {
    auto it = types.find(name);
    if (it == types.end()) return std::nullopt;
    return it->second;
  };
}

// The progress window's frame settings, in the order they are handed over.
std::vector<Property> ProgressWindowSettings() {
  return {
      {"Placement", 0},         {"Width", 300},           {"Height", 118},
      {"MinWidth", 64},         {"MinHeight", 64},        {"MaxWidth", 32000},
      {"MaxHeight", 32000},     {"Frame", 8},             {"Composite", false},
      {"HasBackColor", false},  {"BackColor", PropertyColor{255, 255, 255}},
      {"Title", std::string("Progress")},                 {"Visible", true},
      {"FullScreen", false},    {"MenuBarVisible", true}, {"CloseButton", true},
      {"Resizeable", false},    {"LiveResize", true},     {"MaximizeButton", false},
      {"MinimizeButton", true}, {"MacProcID", 0},
  };
}

// Buttons made in an order of their own, each from its list: (name, TabIndex, TabStop, Cancel).
class ButtonRow final : public fw::Window {
 public:
  ButtonRow() : fw::Window("ButtonRow") {}
  void Layout() override {
    ApplyFrameSettings(fw::PropertyListWriter().Integer("Width", 400).Integer("Height", 60).String("Title", "Row").Bytes());
  }
  void CreateControls() override {
    struct Made {
      const char* name;
      std::int32_t tabIndex;
      bool tabStop, cancel;
    };
    // Made against their tab order, so neither the order of making nor an ignored TabStop gives it.
    const Made made[] = {{"Third", 3, true, false}, {"Skipped", 1, false, false}, {"Second", 2, true, true},
                         {"First", 0, true, false}};
    std::int32_t left = 10;
    for (const Made& m : made) {
      fw::Ref<fw::PushButton> button = fw::MakeRef<fw::PushButton>();
      AddControl(m.name, button);
      fw::PropertyListWriter w;
      fw::ControlSettings(w, m.name, left, 10, 80, 24, m.tabIndex)
          .String("Caption", m.name)
          .Boolean("Default", false)
          .Boolean("Cancel", m.cancel)
          .Boolean("TabStop", m.tabStop);
      button->ApplyProperties(w.Bytes());
      button->ActionHandler = [this, name = std::string(m.name)] { pressed.push_back(name); };
      left += 90;
    }
  }
  std::vector<std::string> pressed;
};

std::string FocusedButton() {
  auto* button = qobject_cast<QPushButton*>(QApplication::focusWidget());
  return button ? button->text().toStdString() : std::string("(none)");
}

}  // namespace

TEST(PropertyList, ButtonsFollowTheirTabIndexTabStopAndCancel) {
  fw::Ref<ButtonRow> window = fw::MakeRef<ButtonRow>();
  window->Constructor();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window->Widget()));
  window->ControlNamed("First")->Widget()->setFocus();
  ASSERT_EQ(FocusedButton(), "First");
  std::vector<std::string> visited;
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(FocusedButton());
  }
  EXPECT_EQ(visited, (std::vector<std::string>{"Second", "Third", "First"}));

  // Escape presses the cancel button wherever the focus is, and only that one.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(window->pressed, std::vector<std::string>{"Second"});
  window->Close();
}

TEST(PropertyList, RoundTripsEveryKindOfValue) {
  const std::vector<Property> props = {
      {"Width", 300},
      {"Index", std::numeric_limits<int32_t>::min()},
      {"Offset", -2},
      {"Visible", true},
      {"Bold", false},
      {"TextColor", PropertyColor{1, 2, 254}},
      {"Title", std::string("Dithering: ")},
      {"HelpTag", std::string()},
      {"Caption", std::string("Gr\xC3\xBC\xC3\x9F" "e \"quoted\"")},
  };
  const std::string bytes = fw::EncodePropertyList(props);
  auto decoded = fw::DecodePropertyList(bytes, TypesOf(props));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, props);
  // An integer is 32 bits big-endian right after the name and one blank.
  EXPECT_EQ(bytes.substr(0, 10), std::string("Width \x00\x00\x01\x2c", 10));
}

TEST(PropertyList, ProgressWindowSettingsAre275Bytes) {
  const std::string bytes = fw::EncodePropertyList(ProgressWindowSettings());
  EXPECT_EQ(bytes.size(), 275u);
  auto decoded = fw::DecodePropertyList(bytes, TypesOf(ProgressWindowSettings()));
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->size(), 21u);
}

TEST(PropertyList, MalformedListsAreRefused) {
  const std::vector<Property> props = {{"Title", std::string("abc")}, {"Visible", true}, {"Width", 7}};
  const auto types = TypesOf(props);
  const std::string bytes = fw::EncodePropertyList(props);
  // A list cut short decodes only where the cut falls between two entries.
  int wholeEntryCuts = 0;
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    if (auto d = fw::DecodePropertyList(bytes.substr(0, cut), types)) {
      EXPECT_LT(d->size(), props.size());
      ++wholeEntryCuts;
    }
  }
  EXPECT_EQ(wholeEntryCuts, 2);
  EXPECT_FALSE(fw::DecodePropertyList("Unknown \x01", types));
  EXPECT_FALSE(fw::DecodePropertyList(std::string("Visible \x02", 9), types));
  EXPECT_FALSE(fw::DecodePropertyList("Title \xff\xff\xff\xff", types));
  EXPECT_FALSE(fw::DecodePropertyList(" Width", types));
  EXPECT_TRUE(fw::DecodePropertyList("", types));
}
