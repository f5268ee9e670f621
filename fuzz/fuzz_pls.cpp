// Fuzzes the PLS reader: any bytes give values that are single lines, never more than the file
// has lines, and reading leaves the parser's process-wide options as they were.

#include "FuzzHome.h"
#include "sources/PlsPlaylist.h"

#include <ini.h>

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = fuzz::WriteInput("list.pls", data, size);
  const int maxLine = ini_max_line;
  const bool multiline = ini_allow_multiline;
  const PlsPlaylist reader;
  const std::vector<std::string> entries = reader.Entries(path);
  fuzz::Check(ini_max_line == maxLine && ini_allow_multiline == multiline);
  std::size_t lines = 1;
  for (std::size_t i = 0; i < size; ++i) lines += data[i] == '\n';
  fuzz::Check(entries.size() <= lines);
  const std::string folder = PlaylistReader::PlaylistFolder(path);
  for (const std::string& entry : entries) {
    fuzz::Check(entry.find('\n') == std::string::npos);
    if (const auto resolved = PlaylistReader::ResolveEntry(folder, entry)) {
      fuzz::Check(!resolved->empty() && resolved->find('\\') == std::string::npos);
    }
  }
  reader.ExistingFiles(path);
  return 0;
}
