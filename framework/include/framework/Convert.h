// The one conversion from double to a 32-bit signed integer, used for every such conversion.
#pragma once

#include <cstdint>
#include <limits>

namespace fw {

// Truncates toward zero and saturates at the int32 limits; NaN gives 0.
constexpr std::int32_t DoubleToInt32(double value) noexcept {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace fw
