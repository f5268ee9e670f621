#pragma once
// The Winamp tab: Winamp's media library playlists, read from its playlists file and the playlist
// files it names, uploaded with their playlists.

#include "model/MediaItem.h"
#include "sources/SourceTools.h"
#include "store/LocationTable.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

struct WinampPlaylistRow {
  std::string caption;                 // the playlist's title
  std::string items;                   // Winamp's own song count
  std::vector<std::string> hashValues; // hash ids of the taken entries, in playlist order
  bool checked = true;
};

// What the Winamp tab shows (View::WinampPlaylists); the location box is the engine's Winamp location.
struct WinampTab {
  std::vector<WinampPlaylistRow> rows;
  std::string itemsFound = "0";
  // Playlist entries taken by the last analysis, for the playlist file.
  LocationTable locations;
  // The Wine prefix Winamp runs in; the default prefix when empty.
  std::filesystem::path winePrefix;
};

// The playlists file of a Winamp installation in the tab's Wine prefix, if there is one.
std::optional<std::string> DetectWinampPlaylistsFile(const WinampTab& tab);

// Reads the playlists file and every playlist file it names into `found`, the playlist rows and
// the location table. Throws on a file that is not well-formed or cannot be read.
void ScanWinampPlaylists(WinampTab& tab, Collection& found, const SourceTools& tools, const std::string& path,
                         const std::string& folder);

} // namespace velmora
