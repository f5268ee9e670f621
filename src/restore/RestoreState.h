#pragma once
// What the restore tab shows and what the user chose on it, kept by the engine.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

struct RestoreState {
  // The user's choice: "Restore the whole media library" instead of "Select playlists to restore".
  bool wholeLibrary = false;
  // "Load information about your library" works once per run.
  bool analyzeEnabled = true;
  // "Cancel Downloads" was clicked; no further pass starts.
  bool DownloadsCancelled = false;
  // A restore (listing and downloads) is running; a second one is refused.
  bool running = false;
  // Items found by the playlist listing, and what the "Items found:" label shows.
  int itemsFound = 0;
  std::string itemsFoundCaption = "0";
  // The log memo, one entry per line.
  std::vector<std::string> log;
  // Display name of the file being downloaded.
  std::string currentFile;
  // A listing of this restore was refused or not understood (already shown): what was listed is
  // restored, but the restore is not complete.
  bool listingFailed = false;
  // What the last restore did with the rows it worked on: downloaded, found in place, failed
  // (refused by the service or a failed download). Its log ends with the three counts.
  int restoredCount = 0;
  int alreadyThereCount = 0;
  int failedCount = 0;
  // A playlist file of the last restore could not be written (already shown).
  bool playlistFileFailed = false;
  // Rows the downloads of the last restore started with, and the bytes they have received so far.
  int rowsToFetch = 0;
  std::int64_t bytesReceived = 0;
  // The total bar: one step per pass.
  std::int64_t totalPosition = 0;
  std::int64_t totalMaximum = 100;
};

// The last line of a restore: "N restored, M already there, K failed".
inline std::string RestoreSummary(const RestoreState& state) {
  return std::to_string(state.restoredCount) + " restored, " + std::to_string(state.alreadyThereCount) +
         " already there, " + std::to_string(state.failedCount) + " failed";
}

} // namespace velmora
