#pragma once
// The iTunes tab: analysing the iTunes library, choosing playlists or the whole library, and
// collecting the chosen tracks into MediaItems and Playlists for an upload run.

#include "platform/ITunes.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class Engine;

struct ITunesPlaylistRow {
  std::string caption; // the playlist's name
  std::string items;   // its track count
  bool checked = true;
};

// What the iTunes tab shows and what the user chose on it (View::ITunesPlaylists).
struct ITunesTab {
  // "Selected playlists only" (true) or "All media - items and playlists" (false).
  bool selectedPlaylistsOnly = true;
  bool playlistListEnabled = true;
  // "Analyze library now" works once per run.
  bool analyzeEnabled = true;
  std::string itemsFound;    // after "Items found:"
  std::string itemsAnalyzed; // after "Items analyzed:"
  std::vector<ITunesPlaylistRow> rows;
  // The library export to read; the default location when empty.
  std::filesystem::path libraryFile;
  // How the automation layer is reached; tests put a fake here.
  std::function<std::shared_ptr<const itunes::Application>(const std::filesystem::path&)> open;
  // The iTunes reference: held from an analysis until the next "Start upload now" ends.
  std::shared_ptr<const itunes::Application> reference;
};

inline constexpr const char* kUnableToStartITunes =
    "Unable to start iTunes - please retry or make sure the latest version of iTunes is installed correctly.";
// Positions of a selected playlist that are looked at.
inline constexpr int kITunesPlaylistLimit = 200;

// "Analyze library now": refused with "Please log in." before login.
void AnalyzeITunesLibraryNow(Engine& engine);
// Counts the library's tracks and lists the plain playlists with tracks, checked.
void AnalyzeITunesLibrary(Engine& engine);
// The scope radio buttons.
void SetITunesScope(Engine& engine, bool selectedPlaylistsOnly);
// "Start upload now": collects, writes the exchange files, checks online, queues and starts the
// run. Returns whether a run was started.
bool StartITunesUpload(Engine& engine);
// Fills MediaItems and Playlists for the chosen scope, then writes the media library, playlist
// and hash list files and runs the duplicate check.
void CollectITunesItems(Engine& engine);
// The check state of the first row with exactly this caption; false when there is none.
bool IsPlaylistChecked(const Engine& engine, const std::string& name);
// Appends one media item described by the track.
void AddITunesTrack(Engine& engine, const itunes::Track& track, const itunes::FileTrack& file);

} // namespace velmora
