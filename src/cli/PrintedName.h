#pragma once
// A playlist name as `velmora playlists` prints it, and as `restore --playlist` accepts it.

#include <string>

namespace velmora::cli {

// Tabs and line breaks become blanks: a tab or line break inside a name would split the line, and
// scripts read one playlist per line.
inline std::string PrintedName(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

} // namespace velmora::cli
