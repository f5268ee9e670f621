#include "restore/ListingNames.h"

namespace velmora {

std::string CutUtf8(const std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string ListingNames::Take(const std::string& key, const std::string& base) {
  const auto entry = std::make_pair(key, base);
  if (const auto known = byEntry_.find(entry); known != byEntry_.end()) return known->second;
  std::string name = CutUtf8(base, maxBytes_);
  for (int n = 2; !taken_.insert(name).second; ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    name = CutUtf8(base, maxBytes_ > suffix.size() ? maxBytes_ - suffix.size() : 0) + suffix;
  }
  byEntry_.emplace(entry, name);
  return name;
}

} // namespace velmora
