#include "Options.h"

#include <charconv>

namespace velmora::locker {

std::optional<Version> ParseVersion(std::string_view text) {
  Version version{};
  std::size_t part = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = text.find('.', start);
    const std::string_view piece = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
    if (piece.empty() || part >= version.size()) return std::nullopt;
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value);
    if (error != std::errc() || end != piece.data() + piece.size()) return std::nullopt;
    version[part++] = value;
    if (dot == std::string_view::npos) return version;
    start = dot + 1;
  }
}

std::optional<Account> ParseAccount(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  return Account{std::string(text.substr(0, colon)), std::string(text.substr(colon + 1))};
}

bool IsLoopbackHost(std::string_view host) {
  return host == "localhost" || host == "::1" || host == "[::1]" || host.substr(0, 4) == "127.";
}

} // namespace velmora::locker
