#pragma once
// ".m3u" playlists: one entry per line; "#" lines are comments (the extended-M3U header and
// track information).

#include "sources/PlaylistReader.h"

namespace velmora {

class M3uPlaylist : public PlaylistReader {
public:
  // Lines end at CR, LF or CR LF and are not trimmed: a file name may end in blanks. Throws
  // std::runtime_error naming the file when it exists but cannot be read.
  std::vector<std::string> Entries(const std::string& playlistPath) const override;
};

} // namespace velmora
