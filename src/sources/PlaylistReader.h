#pragma once
// Playlist files dropped on the window: each format has a reader that lists its entries in file
// order; the shared base turns entries into local paths the way every format needs.

#include "model/MediaItem.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

class PlaylistReader {
public:
  // `winePrefix`: where drive-letter entries lead (the default Wine prefix when empty).
  explicit PlaylistReader(std::filesystem::path winePrefix = {}) : winePrefix_(std::move(winePrefix)) {}
  virtual ~PlaylistReader() = default;

  // One entry as written, and whether the format means it to name a file (an M3U comment line
  // or a PLS title does not).
  struct Entry {
    std::string text;
    bool namesFile = true;
  };
  // The entries of the playlist file, in file order. A missing file has none.
  virtual std::vector<Entry> ReadEntries(const std::string& playlistPath) const = 0;
  // Their texts.
  std::vector<std::string> Entries(const std::string& playlistPath) const;

  // The paths of the entries that name an existing regular file, in file order.
  std::vector<std::string> ExistingFiles(const std::string& playlistPath) const;

  struct Resolved {
    std::vector<std::string> files; // as ExistingFiles
    // Entries meant to name a file that name no existing regular file (missing, a named pipe, a
    // URL), each with its reason, the playlist named in it.
    std::vector<SkippedFile> skipped;
  };
  Resolved Resolve(const std::string& playlistPath) const;

  // The local path an entry stands for. Playlists written elsewhere use "\" as the separator, and
  // an entry without a leading "/" is relative to the playlist's own folder (never to the current
  // directory, which has nothing to do with where the playlist lives). A drive-letter path
  // ("C:\Music\a.mp3", as Winamp under Wine writes them) maps through the Wine prefix's
  // dosdevices. URLs name no local file: nothing.
  static std::optional<std::string> ResolveEntry(const std::string& playlistFolder, const std::string& entry,
                                                 const std::filesystem::path& winePrefix = {});

  // The folder that relative entries of this playlist file are resolved against.
  static std::string PlaylistFolder(const std::string& playlistPath);

  // The lines of a text, each ending at CR, LF or CR LF (the last one may have no end), without
  // their line ends and otherwise as they stand.
  static std::vector<std::string> SplitLines(const std::string& text);

private:
  std::filesystem::path winePrefix_;
};

} // namespace velmora
