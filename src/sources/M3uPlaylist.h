#pragma once
// ".m3u" playlists: one entry per line, every line taken as it stands. Header and track
// information lines ("#EXTM3U", "#EXTINF:...") name no file and so add nothing, while a file
// whose name begins with "#" is found like any other.

#include "sources/PlaylistReader.h"

namespace velmora {

class M3uPlaylist : public PlaylistReader {
public:
  using PlaylistReader::PlaylistReader;

  // Lines end at CR, LF or CR LF and are not trimmed: a file name may end in blanks. A UTF-8
  // byte-order mark at the start is dropped; empty lines are left out. Throws std::runtime_error
  // naming the file when it exists but cannot be read.
  std::vector<std::string> Entries(const std::string& playlistPath) const override;
};

} // namespace velmora
