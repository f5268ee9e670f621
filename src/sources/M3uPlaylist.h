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
  // byte-order mark at the start is dropped; empty lines are left out; lines beginning with "#"
  // are not meant to name a file. Throws std::runtime_error naming the file when it exists but
  // cannot be read.
  std::vector<Entry> ReadEntries(const std::string& playlistPath) const override;
};

// ".m3u8" playlists: read like ".m3u", as UTF-8. A file that is not well-formed UTF-8 was written
// in the Windows code page after all, so its entries are then read as Windows-1252.
class M3u8Playlist : public M3uPlaylist {
public:
  using M3uPlaylist::M3uPlaylist;

  std::vector<Entry> ReadEntries(const std::string& playlistPath) const override;
};

} // namespace velmora
