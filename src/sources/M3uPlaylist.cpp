#include "sources/M3uPlaylist.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmora {

std::vector<std::string> M3uPlaylist::Entries(const std::string& playlistPath) const {
  std::error_code error;
  if (!std::filesystem::exists(playlistPath, error)) return {};
  // A folder that happens to be named like a playlist is searched as a folder, not read.
  if (std::filesystem::is_directory(playlistPath, error)) return {};

  std::ifstream in(playlistPath, std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) {
    throw std::runtime_error("Cannot read the playlist " + playlistPath + ": " + std::strerror(errno));
  }
  std::string text = content.str();
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);

  std::vector<std::string> entries;
  for (std::string& line : SplitLines(text)) {
    if (!line.empty()) entries.push_back(std::move(line));
  }
  return entries;
}

} // namespace velmora
