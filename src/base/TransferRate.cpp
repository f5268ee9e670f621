#include "base/TransferRate.h"

#include <charconv>
#include <limits>

namespace velmora {

std::optional<std::int64_t> ParseTransferRate(std::string_view text) {
  std::int64_t multiplier = 1;
  if (!text.empty()) {
    switch (text.back()) {
    case 'k':
    case 'K': multiplier = std::int64_t{1} << 10; break;
    case 'm':
    case 'M': multiplier = std::int64_t{1} << 20; break;
    case 'g':
    case 'G': multiplier = std::int64_t{1} << 30; break;
    default: break;
    }
    if (multiplier != 1) text.remove_suffix(1);
  }
  // from_chars takes a leading '-'; only digits are a rate.
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (number > std::numeric_limits<std::int64_t>::max() / multiplier) return std::nullopt;
  return number * multiplier;
}

std::string FormatTransferRate(std::int64_t bytesPerSecond) {
  static constexpr char kSuffixes[] = {'G', 'M', 'K'};
  for (int i = 0; i < 3; ++i) {
    const std::int64_t unit = std::int64_t{1} << (10 * (3 - i));
    if (bytesPerSecond > 0 && bytesPerSecond % unit == 0) return std::to_string(bytesPerSecond / unit) + kSuffixes[i];
  }
  return std::to_string(bytesPerSecond);
}

} // namespace velmora
