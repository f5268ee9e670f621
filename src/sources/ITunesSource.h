#pragma once
// The iTunes tab: analysing the iTunes library, choosing playlists or the whole library, and
// collecting the chosen tracks into MediaItems and Playlists for an upload run.

#include "model/MediaItem.h"
#include "sources/ITunes.h"
#include "sources/SourceTools.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

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

// Reaches the automation layer into tab.reference; false (and the message) when it cannot be had.
bool ObtainITunes(ITunesTab& tab, Ui& ui);
// Counts the library's tracks and lists the plain playlists with tracks, checked.
void AnalyzeITunesLibrary(ITunesTab& tab, Ui& ui);
// The scope radio buttons.
void SetITunesScope(ITunesTab& tab, Ui& ui, bool selectedPlaylistsOnly);
// Collects into `found` the tracks of the chosen scope: the checked playlists' first 200 positions
// (with the playlists) or the whole library.
void CollectITunesTracks(ITunesTab& tab, Collection& found, const SourceTools& tools);
// The check state of the first row with exactly this caption; false when there is none.
bool IsPlaylistChecked(const ITunesTab& tab, const std::string& name);
// Appends one media item described by the track.
void AddITunesTrack(Collection& found, Fingerprinter& fingerprinter, const itunes::Track& track,
                    const itunes::FileTrack& file);

} // namespace velmora
