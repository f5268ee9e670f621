#include "Link.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

namespace velmora::link {

Clock::time_point Link::Arrival(std::size_t bytes, Clock::time_point now) {
  if (rate_ <= 0) return now + delay_;
  const auto onLine = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) / static_cast<double>(rate_)));
  std::lock_guard lock(mutex_);
  lineFree_ = std::max(lineFree_, now) + onLine;
  return lineFree_ + delay_;
}

std::optional<std::int64_t> ParseRate(std::string_view text) {
  std::string lower;
  for (const char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "off") return 0;
  std::size_t used = 0;
  double number = 0;
  try {
    number = std::stod(lower, &used);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (!std::isfinite(number) || number < 0) return std::nullopt;
  const std::string unit = lower.substr(used);
  double factor = 0;
  if (unit.empty()) factor = 1;
  else if (unit == "k") factor = 1024;
  else if (unit == "m") factor = 1024.0 * 1024;
  else if (unit == "g") factor = 1024.0 * 1024 * 1024;
  else if (unit == "kbit") factor = 1000.0 / 8;
  else if (unit == "mbit") factor = 1000.0 * 1000 / 8;
  else if (unit == "gbit") factor = 1000.0 * 1000 * 1000 / 8;
  else return std::nullopt;
  return static_cast<std::int64_t>(std::llround(number * factor));
}

} // namespace velmora::link
