#include "sources/M3uPlaylist.h"

#include "tags/TextCodec.h"

#include <algorithm>
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

std::vector<std::string> M3u8Playlist::Entries(const std::string& playlistPath) const {
  std::vector<std::string> entries = M3uPlaylist::Entries(playlistPath);
  // Line ends are ASCII, so the file is well-formed exactly when every entry is.
  const bool utf8 =
      std::all_of(entries.begin(), entries.end(), [](const std::string& e) { return IsWellFormedUtf8(e); });
  if (utf8) return entries;
  for (std::string& entry : entries) {
    entry = Windows1252ToUtf8(reinterpret_cast<const unsigned char*>(entry.data()), entry.size());
  }
  return entries;
}

} // namespace velmora
