#include "sources/PlsPlaylist.h"

#include "base/IniFile.h"

#include <strings.h>

#include <filesystem>

namespace velmora {
namespace {

int OnValue(void* user, const char* section, const char* /*name*/, const char* value) {
  if (::strcasecmp(section, "playlist") == 0) {
    static_cast<std::vector<std::string>*>(user)->emplace_back(value ? value : "");
  }
  return 1;
}

} // namespace

std::vector<std::string> PlsPlaylist::Entries(const std::string& playlistPath) const {
  std::error_code error;
  if (!std::filesystem::is_regular_file(playlistPath, error)) return {};
  std::vector<std::string> entries;
  ParseIniFile(playlistPath, &OnValue, &entries);
  return entries;
}

} // namespace velmora
