#include "framework/PropertyList.h"

namespace fw {

void PropertyListWriter::Name(std::string_view name) {
  bytes_.append(name);
  bytes_.push_back(' ');
}

void PropertyListWriter::Word(std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<char>((value >> shift) & 0xff));
}

PropertyListWriter& PropertyListWriter::Integer(std::string_view name, std::int32_t value) {
  Name(name);
  Word(static_cast<std::uint32_t>(value));
  return *this;
}

PropertyListWriter& PropertyListWriter::Boolean(std::string_view name, bool value) {
  Name(name);
  bytes_.push_back(value ? 1 : 0);
  return *this;
}

PropertyListWriter& PropertyListWriter::Colour(std::string_view name, PropertyColor value) {
  Name(name);
  bytes_.push_back(static_cast<char>(value.red));
  bytes_.push_back(static_cast<char>(value.green));
  bytes_.push_back(static_cast<char>(value.blue));
  return *this;
}

PropertyListWriter& PropertyListWriter::String(std::string_view name, std::string_view value) {
  Name(name);
  Word(static_cast<std::uint32_t>(value.size()));
  bytes_.append(value);
  return *this;
}

PropertyListWriter& PropertyListWriter::Add(const Property& p) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int32_t>) Integer(p.name, v);
        else if constexpr (std::is_same_v<T, bool>) Boolean(p.name, v);
        else if constexpr (std::is_same_v<T, PropertyColor>) Colour(p.name, v);
        else String(p.name, v);
      },
      p.value);
  return *this;
}

std::string EncodePropertyList(const std::vector<Property>& properties) {
  PropertyListWriter writer;
  for (const Property& p : properties) writer.Add(p);
  return writer.Bytes();
}

std::optional<std::vector<Property>> DecodePropertyList(std::string_view bytes, const PropertyTypeOf& typeOf) {
  std::vector<Property> out;
  std::size_t pos = 0;
  auto need = [&](std::size_t n) { return bytes.size() - pos >= n; };
  auto word = [&] {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[pos++]);
    return v;
  };
  while (pos < bytes.size()) {
    const std::size_t blank = bytes.find(' ', pos);
    if (blank == std::string_view::npos || blank == pos) return std::nullopt;
    std::string name(bytes.substr(pos, blank - pos));
    pos = blank + 1;
    const std::optional<PropertyType> type = typeOf(name);
    if (!type) return std::nullopt;
    switch (*type) {
      case PropertyType::Integer:
        if (!need(4)) return std::nullopt;
        out.push_back({std::move(name), static_cast<std::int32_t>(word())});
        break;
      case PropertyType::Boolean: {
        if (!need(1)) return std::nullopt;
        const unsigned char b = static_cast<unsigned char>(bytes[pos++]);
        if (b > 1) return std::nullopt;
        out.push_back({std::move(name), b == 1});
        break;
      }
      case PropertyType::Color: {
        if (!need(3)) return std::nullopt;
        PropertyColor c{static_cast<std::uint8_t>(bytes[pos]), static_cast<std::uint8_t>(bytes[pos + 1]),
                        static_cast<std::uint8_t>(bytes[pos + 2])};
        pos += 3;
        out.push_back({std::move(name), c});
        break;
      }
      case PropertyType::String: {
        if (!need(4)) return std::nullopt;
        const std::uint32_t length = word();
        if (length > INT32_MAX || !need(length)) return std::nullopt;
        out.push_back({std::move(name), std::string(bytes.substr(pos, length))});
        pos += length;
        break;
      }
    }
  }
  return out;
}

}  // namespace fw
