#pragma once
// The Winamp tab: Winamp's media library playlists, read from its playlists file and the playlist
// files it names, uploaded with their playlists.

#include "store/LocationTable.h"

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

class Engine;

struct WinampPlaylistRow {
  std::string caption;    // the playlist's title
  std::string items;      // Winamp's own song count
  std::string hashValues; // hash ids of the taken entries, each followed by CR LF
  bool checked = true;
};

// What the Winamp tab shows (View::WinampPlaylists); the location box is Engine::winampLocationBox.
struct WinampTab {
  std::vector<WinampPlaylistRow> rows;
  std::string itemsFound = "0";
  // Playlist entries taken by the last analysis, for the playlist file.
  LocationTable locations;
  // The Wine prefix Winamp runs in; the default prefix when empty.
  std::filesystem::path winePrefix;
};

// Fills the location box when the Wine prefix holds a Winamp installation; leaves it otherwise.
void DetectWinampPlaylistsFile(Engine& engine);
// "Analyze data ...": reads the playlists, writes the exchange files and checks online.
void AnalyzeWinampData(Engine& engine);
// "Start upload": queues the new items of the checked playlists (of every playlist when no row is
// checked) and starts the run.
bool StartWinampUpload(Engine& engine);
// Reads the playlists file and every playlist file it names into Playlists, MediaItems, the
// playlist rows and the location table. Throws on a file that is not well-formed or cannot be read.
void ScanWinampPlaylists(Engine& engine, const std::string& path, const std::string& folder);

} // namespace velmora
