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

std::vector<PlaylistReader::Entry> M3uPlaylist::ReadEntries(const std::string& playlistPath) const {
  std::error_code error;
  if (!std::filesystem::exists(playlistPath, error)) return {};
  // A folder that happens to be named like a playlist is searched as a folder, not read; a named
  // pipe would block the read for as long as nobody writes to it.
  if (!std::filesystem::is_regular_file(playlistPath, error)) return {};

  std::ifstream in(playlistPath, std::ios::binary);
  std::ostringstream content;
  if (in) content << in.rdbuf();
  if (!in || in.bad()) {
    throw std::runtime_error("Cannot read the playlist " + playlistPath + ": " + std::strerror(errno));
  }
  std::string text = content.str();
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);

  std::vector<Entry> entries;
  for (std::string& line : SplitLines(text)) {
    const bool comment = !line.empty() && line[0] == '#';
    if (!line.empty()) entries.push_back({std::move(line), !comment});
  }
  return entries;
}

std::vector<PlaylistReader::Entry> M3u8Playlist::ReadEntries(const std::string& playlistPath) const {
  std::vector<Entry> entries = M3uPlaylist::ReadEntries(playlistPath);
  // Line ends are ASCII, so the file is well-formed exactly when every entry is.
  const bool utf8 =
      std::all_of(entries.begin(), entries.end(), [](const Entry& e) { return IsWellFormedUtf8(e.text); });
  if (utf8) return entries;
  for (Entry& entry : entries) {
    entry.text = Windows1252ToUtf8(reinterpret_cast<const unsigned char*>(entry.text.data()), entry.text.size());
  }
  return entries;
}

} // namespace velmora
