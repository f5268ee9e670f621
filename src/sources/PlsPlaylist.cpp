#include "sources/PlsPlaylist.h"

#include "base/IniFile.h"

#include <strings.h>

#include <filesystem>

namespace velmora {
namespace {

int OnValue(void* user, const char* section, const char* name, const char* value) {
  if (::strcasecmp(section, "playlist") == 0) {
    const bool namesFile = name && ::strncasecmp(name, "file", 4) == 0;
    static_cast<std::vector<PlaylistReader::Entry>*>(user)->push_back({value ? value : "", namesFile});
  }
  return 1;
}

} // namespace

std::vector<PlaylistReader::Entry> PlsPlaylist::ReadEntries(const std::string& playlistPath) const {
  std::error_code error;
  if (!std::filesystem::is_regular_file(playlistPath, error)) return {};
  std::vector<Entry> entries;
  ParseIniFile(playlistPath, &OnValue, &entries);
  return entries;
}

} // namespace velmora
