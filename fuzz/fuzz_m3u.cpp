// Fuzzes the M3U reader: any bytes give whole, non-empty lines without line ends, and every entry
// resolves to a path without backslashes or to nothing. Read as .m3u8, the same lines come back as
// well-formed UTF-8, unchanged when the whole file already was.

#include "FuzzHome.h"
#include "base/Text.h"
#include "sources/M3uPlaylist.h"

#include <algorithm>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteInput("list.m3u", data, size);
  const M3uPlaylist reader;
  const std::vector<std::string> entries = reader.Entries(path);
  std::size_t lineEnds = 1;
  for (std::size_t i = 0; i < size; ++i) lineEnds += data[i] == '\n' || data[i] == '\r';
  fuzz::Check(entries.size() <= lineEnds);
  const std::string folder = PlaylistReader::PlaylistFolder(path);
  for (const std::string& entry : entries) {
    fuzz::Check(!entry.empty());
    fuzz::Check(entry.find_first_of("\r\n") == std::string::npos);
    if (const auto resolved = PlaylistReader::ResolveEntry(folder, entry)) {
      fuzz::Check(!resolved->empty() && resolved->find('\\') == std::string::npos);
    }
  }
  for (const std::string& file : reader.ExistingFiles(path)) fuzz::Check(!file.empty());

  const std::vector<std::string> utf8 = M3u8Playlist().Entries(path);
  fuzz::Check(utf8.size() == entries.size());
  const bool wasUtf8 =
      std::all_of(entries.begin(), entries.end(), [](const std::string& e) { return IsWellFormedUtf8(e); });
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    fuzz::Check(IsWellFormedUtf8(utf8[i]) && !utf8[i].empty());
    fuzz::Check(!wasUtf8 || utf8[i] == entries[i]);
  }
  return 0;
}
