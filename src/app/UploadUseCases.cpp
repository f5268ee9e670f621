// The use cases that end in an upload run: each source collects, the exchange files are written,
// the service is asked which files it holds, and the rest is queued. Each runs inside the one
// activity guard; the upload run's own buttons pass the guard here too.

#include "app/Engine.h"

#include "base/FileFacts.h"
#include "model/MediaLibraryFile.h"
#include "model/PlaylistFile.h"
#include "upload/DuplicateCheck.h"

#include <filesystem>

namespace velmora {
namespace {

// The analysis walks the drop list; a drop or a clear then waits for the user to try again.
constexpr std::initializer_list<Activity> kDropListInUse{Activity::Analysing, Activity::BuildingQueue};

} // namespace

// --- Drop tab --------------------------------------------------------------------------------------

void Engine::DropFiles(const std::vector<std::string>& paths) {
  if (RefuseDuring(kDropListInUse)) return;
  try {
    // Winamp under Wine writes playlists with drive letters; they lead where its own do.
    droppedFiles_.Drop(paths, winamp_.winePrefix);
  } catch (const std::exception& failure) {
    ui_.ViewChanged(View::DroppedFiles);
    ui_.ShowErrorDisplay(failure.what());
    return;
  }
  ui_.ViewChanged(View::DroppedFiles);
}

void Engine::ClearDroppedFiles() {
  if (RefuseDuring(kDropListInUse)) return;
  droppedFiles_.Clear();
  ui_.ViewChanged(View::DroppedFiles);
}

void Engine::AnalyzeDroppedFiles() { velmora::AnalyzeDroppedFiles(droppedFiles_, collection_, sourceTools()); }

bool Engine::AnalyzeAndUpload() {
  ActivityScope activity = BeginActivity(Activity::Analysing);
  if (!activity) return false;
  // The box may be edited while the analysis runs; the run keeps the name it was started with.
  const std::string playlistName = droppedFiles_.playlistBox;
  return AnalyzeAndUploadList(droppedFiles_, playlistName, activity);
}

bool Engine::AnalyzeAndUploadList(const DroppedFiles& list, const std::string& playlistName, ActivityScope& activity,
                                  bool watched) {
  upload_.BeginReport();
  upload_.SetWatchedRun(watched);
  try {
    velmora::AnalyzeDroppedFiles(list, collection_, sourceTools());
    upload_.ClearUploadQueue();
    upload_.RecordSkipped(collection_.skipped);
    upload_.CurrentMediaLibraryFile = WriteMediaLibraryFile(collection_.items, kSourceDroppedFiles, ui_);
    upload_.CurrentHashListFile = WriteHashListFile(collection_.items, kSourceDroppedFiles, ui_);
    upload_.CheckDuplicatesOnline(collection_.items, upload_.CurrentHashListFile);
    activity.Become(Activity::BuildingQueue);
    return upload_.BuildUploadQueue(collection_.items, kSourceDroppedFiles, {}, playlistName);
  } catch (const ServiceUnreachable&) {
    throw;
  } catch (const std::exception& failure) {
    ui_.ShowErrorDisplay(failure.what());
    return false;
  }
}

// --- iTunes tab ------------------------------------------------------------------------------------

void Engine::SetITunesPlaylistChecked(std::size_t row, bool checked) {
  if (row < iTunes_.rows.size()) iTunes_.rows[row].checked = checked;
}

void Engine::AnalyzeITunesLibraryNow() {
  const ActivityScope activity = BeginActivity(Activity::Analysing);
  if (!activity) return;
  if (!IsLoggedIn()) {
    ui_.ShowMessage("Please log in.");
    return;
  }
  if (!ObtainITunes(iTunes_, ui_)) return;
  upload_.ShowMainWindow();
  iTunes_.analyzeEnabled = false;
  ui_.ViewChanged(View::ITunesPlaylists);
  ShowStatus("Analyzing iTunes library");
  AnalyzeITunesLibrary(iTunes_, ui_);
}

void Engine::SetITunesScope(bool selectedPlaylistsOnly) {
  velmora::SetITunesScope(iTunes_, ui_, selectedPlaylistsOnly);
}

void Engine::CollectITunesItems() {
  CollectITunesTracks(iTunes_, collection_, sourceTools());
  upload_.CurrentMediaLibraryFile = WriteMediaLibraryFile(collection_.items, kSourceITunes, ui_);
  upload_.CurrentPlaylistFile = WritePlaylistFile(collection_.playlists, kSourceITunes, ui_);
  upload_.CurrentHashListFile = WriteHashListFile(collection_.items, kSourceITunes, ui_);
  upload_.CheckDuplicatesOnline(collection_.items, upload_.CurrentHashListFile);
}

bool Engine::StartITunesUpload() {
  ActivityScope activity = BeginActivity(Activity::Analysing);
  if (!activity) return false;
  if (!iTunes_.reference && !ObtainITunes(iTunes_, ui_)) return false;
  upload_.BeginReport();
  try {
    upload_.ClearUploadQueue();
    CollectITunesItems();
    upload_.RecordSkipped(collection_.skipped);
  } catch (...) {
    iTunes_.reference.reset();
    throw;
  }
  iTunes_.reference.reset();
  // Only the chosen playlists' items; with no playlist collected, every eligible item.
  HashIdFilter filter;
  if (iTunes_.selectedPlaylistsOnly) {
    for (const auto& playlist : collection_.playlists) filter.Add(playlist.HashValues);
  }
  activity.Become(Activity::BuildingQueue);
  return upload_.BuildUploadQueue(collection_.items, kSourceITunes, filter);
}

// --- Winamp tab ------------------------------------------------------------------------------------

void Engine::SetWinampPlaylistChecked(std::size_t row, bool checked) {
  if (row < winamp_.rows.size()) winamp_.rows[row].checked = checked;
}

void Engine::ScanWinampPlaylists(const std::string& path, const std::string& folder) {
  velmora::ScanWinampPlaylists(winamp_, collection_, sourceTools(), path, folder);
}

void Engine::AnalyzeWinampData() {
  if (!IsLoggedIn()) {
    ui_.ShowMessage("Please log in.");
    return;
  }
  const ActivityScope activity = BeginActivity(Activity::Analysing);
  if (!activity) return;
  winamp_.rows.clear();
  ui_.ViewChanged(View::WinampPlaylists);
  const std::string path = winampLocation_;
  if (!IsRegularFile(path)) {
    ui_.ShowMessage("Please select a valid playlist.xml file");
    return;
  }
  upload_.ClearUploadQueue();
  ScanWinampPlaylists(path, std::filesystem::path(path).parent_path().string());
  upload_.CurrentMediaLibraryFile = WriteMediaLibraryFile(collection_.items, kSourceWinamp, ui_);
  const LocationTable& table = winamp_.locations;
  upload_.CurrentPlaylistFile =
      WritePlaylistFile(collection_.playlists, kSourceWinamp, ui_,
                        [&table](const std::string& location) { return table.HashIdOf(location); });
  upload_.CurrentHashListFile = WriteHashListFile(collection_.items, kSourceWinamp, ui_);
  upload_.CheckDuplicatesOnline(collection_.items, upload_.CurrentHashListFile);
}

bool Engine::StartWinampUpload() {
  const ActivityScope activity = BeginActivity(Activity::BuildingQueue);
  if (!activity) return false;
  upload_.BeginReport();
  upload_.RecordSkipped(collection_.skipped);
  HashIdFilter filter;
  for (const auto& row : winamp_.rows) {
    if (row.checked) filter.Add(row.hashValues);
  }
  // With no row checked the filter takes everything and every eligible item is queued.
  return upload_.BuildUploadQueue(collection_.items, kSourceWinamp, filter);
}

// --- The run's buttons -----------------------------------------------------------------------------

void Engine::ResumeUpload() {
  if (RefuseDuring({Activity::LoggingIn, Activity::LoadingPlaylists, Activity::Analysing, Activity::BuildingQueue,
                    Activity::Restoring})) {
    return;
  }
  upload_.ResumeUpload();
}

void Engine::ClearUploadQueue() {
  if (RefuseDuring({Activity::BuildingQueue})) return;
  upload_.StopAndClearUploadQueue();
}

bool Engine::RemoveQueueItem(std::uint64_t recordId) {
  if (RefuseDuring({Activity::BuildingQueue})) return false;
  return upload_.RemoveQueueItem(recordId);
}

void Engine::StopForExit() {
  exitRequested_ = true;
  if (upload_.LoopActive() && !upload_.UploadStopped()) upload_.StopUpload();
  if (restorer_.state().running) restorer_.CancelQuietly();
  // A wait to send a failed request again (between runs of a watch, too) ends at once.
  service_.retrier().Abandon();
}

// Another activity still winding up: the timer stays armed and fires again.
void Engine::OnStartTimer() { upload_.OnStartTimer(activity_ != Activity::Idle); }

} // namespace velmora
