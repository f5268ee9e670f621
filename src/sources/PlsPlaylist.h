#pragma once
// ".pls" playlists: the values of every key of the section "playlist" (any letter case), in file
// order. The numbered file keys are the entries; title and length values name no file.

#include "sources/PlaylistReader.h"

namespace velmora {

class PlsPlaylist : public PlaylistReader {
public:
  using PlaylistReader::PlaylistReader;

  // A missing or unreadable file has no entries. Values are taken whole: a long path is not cut,
  // an indented line is its own key, and ";" inside a value is part of it. Only the values of
  // keys named "File..." are meant to name a file.
  std::vector<Entry> ReadEntries(const std::string& playlistPath) const override;
};

} // namespace velmora
