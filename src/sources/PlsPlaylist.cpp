#include "sources/PlsPlaylist.h"

#include <ini.h>
#include <strings.h>

#include <filesystem>

namespace velmora {
namespace {

// The parser's options are process-wide; these suit playlist values (paths) and are put back
// afterwards so the settings file keeps being read with the library's usual rules.
class PlaylistParseOptions {
public:
  PlaylistParseOptions()
      : useStack_(ini_use_stack), allowRealloc_(ini_allow_realloc), maxLine_(ini_max_line),
        multiline_(ini_allow_multiline), inlineComments_(ini_allow_inline_comments) {
    ini_use_stack = false;
    ini_allow_realloc = true;
    ini_max_line = 1 << 20;
    ini_allow_multiline = false;
    ini_allow_inline_comments = false;
  }
  ~PlaylistParseOptions() {
    ini_use_stack = useStack_;
    ini_allow_realloc = allowRealloc_;
    ini_max_line = maxLine_;
    ini_allow_multiline = multiline_;
    ini_allow_inline_comments = inlineComments_;
  }
  PlaylistParseOptions(const PlaylistParseOptions&) = delete;
  PlaylistParseOptions& operator=(const PlaylistParseOptions&) = delete;

private:
  bool useStack_, allowRealloc_;
  int maxLine_;
  bool multiline_, inlineComments_;
};

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
  PlaylistParseOptions options;
  // A line the parser cannot read is skipped by it; the keys around it still count.
  ini_parse(playlistPath.c_str(), &OnValue, &entries);
  return entries;
}

} // namespace velmora
