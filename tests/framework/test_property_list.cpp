#include <gtest/gtest.h>

#include <map>

#include "framework/PropertyList.h"

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

}  // namespace

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
