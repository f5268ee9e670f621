#pragma once
// The Winamp analysis' table of playlist entries: the location as written in the playlist file
// and its file's hash id. Look-ups compare locations exactly; the first row for a location wins.

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velmora {

class LocationTable {
public:
  void Clear() {
    rows_.clear();
    first_.clear();
  }
  void Append(const std::string& location, const std::string& hashId) {
    rows_.emplace_back(location, hashId);
    first_.emplace(location, rows_.size() - 1); // keeps an earlier row for the same location
  }
  std::optional<std::string> HashIdOf(const std::string& location) const {
    const auto found = first_.find(location);
    if (found == first_.end()) return std::nullopt;
    return rows_[found->second].second;
  }
  const std::vector<std::pair<std::string, std::string>>& rows() const { return rows_; }

private:
  std::vector<std::pair<std::string, std::string>> rows_;
  std::unordered_map<std::string, std::size_t> first_;
};

} // namespace velmora
