// Colours as RGBSurface.Pixel gives them: 0x00RRGGBB.
#pragma once

#include <cstdint>

namespace fw {

using Color = std::uint32_t;

constexpr std::int32_t ClampComponent(std::int32_t v) noexcept { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// Each component is clamped to 0..255.
constexpr Color RGB(std::int32_t red, std::int32_t green, std::int32_t blue) noexcept {
  return (static_cast<Color>(ClampComponent(red)) << 16) | (static_cast<Color>(ClampComponent(green)) << 8) |
         static_cast<Color>(ClampComponent(blue));
}

constexpr std::int32_t Red(Color c) noexcept { return static_cast<std::int32_t>((c >> 16) & 255); }
constexpr std::int32_t Green(Color c) noexcept { return static_cast<std::int32_t>((c >> 8) & 255); }
constexpr std::int32_t Blue(Color c) noexcept { return static_cast<std::int32_t>(c & 255); }

}  // namespace fw
