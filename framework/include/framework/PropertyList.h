// Property lists: the byte strings in which windows and controls hand their settings to the framework.
// Each entry is the property's ASCII name, one blank, and the value: an integer as 32 bits signed
// big-endian, a Boolean as one byte 0 or 1, a colour as three bytes red, green, blue, a string as a
// 32-bit big-endian byte count and the bytes. Entries follow each other with no separator; the value's
// form comes from the property's type, which the reader must know.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "framework/Color.h"

namespace fw {

enum class PropertyType { Integer, Boolean, Color, String };

struct PropertyColor {
  std::uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const PropertyColor&, const PropertyColor&) = default;
};

using PropertyValue = std::variant<std::int32_t, bool, PropertyColor, std::string>;

struct Property {
  std::string name;
  PropertyValue value;
  friend bool operator==(const Property&, const Property&) = default;
};

class PropertyListWriter {
 public:
  PropertyListWriter& Integer(std::string_view name, std::int32_t value);
  PropertyListWriter& Boolean(std::string_view name, bool value);
  PropertyListWriter& Colour(std::string_view name, PropertyColor value);
  PropertyListWriter& String(std::string_view name, std::string_view value);
  PropertyListWriter& Add(const Property& property);
  const std::string& Bytes() const noexcept { return bytes_; }

 private:
  void Name(std::string_view name);
  void Word(std::uint32_t value);
  std::string bytes_;
};

std::string EncodePropertyList(const std::vector<Property>& properties);

// The entries of a list, given each property's type by name; nullopt when the bytes are not a well-formed
// list (an unknown name, a value cut short, a Boolean other than 0 or 1, a negative string length).
using PropertyTypeOf = std::function<std::optional<PropertyType>(std::string_view name)>;
std::optional<std::vector<Property>> DecodePropertyList(std::string_view bytes, const PropertyTypeOf& typeOf);

}  // namespace fw
