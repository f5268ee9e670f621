#include "base/ByteUnits.h"

#include <cstdio>

namespace velmora {

std::string HumanBytes(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes < 0 ? 0 : bytes) + " B";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  // 1023.96 KiB would print as "1024.0 KiB": move on while the rounded value reaches 1024.
  while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

} // namespace velmora
