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
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t stop = text.find_first_of("\r\n", i);
    const std::size_t end = stop == std::string::npos ? text.size() : stop;
    std::string line = text.substr(i, end - i);
    if (!line.empty() && line[0] != '#') entries.push_back(std::move(line));
    if (stop == std::string::npos) break;
    i = stop + ((text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') ? 2 : 1);
  }
  return entries;
}

} // namespace velmora
