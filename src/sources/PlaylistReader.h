#pragma once
// Playlist files dropped on the window: each format has a reader that lists its entries in file
// order; the shared base turns entries into local paths the way every format needs.

#include <optional>
#include <string>
#include <vector>

namespace velmora {

class PlaylistReader {
public:
  virtual ~PlaylistReader() = default;

  // The entries of the playlist file as written, in file order. A missing file has none.
  virtual std::vector<std::string> Entries(const std::string& playlistPath) const = 0;

  // The paths of the entries that name an existing regular file, in file order.
  std::vector<std::string> ExistingFiles(const std::string& playlistPath) const;

  // The local path an entry stands for. Playlists written elsewhere use "\" as the separator, and
  // an entry without a leading "/" is relative to the playlist's own folder (never to the current
  // directory, which has nothing to do with where the playlist lives). URLs and drive-letter
  // paths name no local file: nothing.
  static std::optional<std::string> ResolveEntry(const std::string& playlistFolder, const std::string& entry);

  // The folder that relative entries of this playlist file are resolved against.
  static std::string PlaylistFolder(const std::string& playlistPath);
};

} // namespace velmora
