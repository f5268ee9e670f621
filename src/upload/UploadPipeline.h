#pragma once
// The upload run: building the queue from the last collection, the run controls of the Status
// tab, the three timers' handlers, the loop that sends one queued file after another, and the
// window state that a front end shows. One thread: the loop pumps messages, so every entry point
// here may be called from inside a running loop and is guarded accordingly.

#include "base/TransferFigures.h"
#include "base/Ui.h"
#include "model/FileOutcome.h"
#include "model/MediaItem.h"
#include "service/ServiceClient.h"
#include "upload/UploadQueue.h"
#include "upload/UploadStatus.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace velmora {

// The hash ids a queue build takes: every one until a list is added, then only those of the
// lists added (after adding only empty lists, none). An empty hash id is never taken.
class HashIdFilter {
public:
  void Add(const std::vector<std::string>& hashIds) {
    if (!ids_) ids_.emplace();
    for (const std::string& id : hashIds)
      if (!id.empty()) ids_->insert(id);
  }
  bool Takes(const std::string& hashId) const { return !ids_ || ids_->count(hashId) != 0; }

private:
  std::optional<std::unordered_set<std::string>> ids_;
};

// Which windows show and which timers run (View::UploadWindows).
struct UploadWindows {
  bool mainWindowVisible = true;
  bool statusWindowVisible = false;
  // The "Upload done!" bar on the Status tab; stays until "Close this bar".
  bool uploadDoneBarVisible = false;
  // Set when a run starts: the main window turns to its Status tab, then clears this.
  bool statusTabRequested = false;
  // One-shot, 100 ms: OnStartTimer. Duration, 1000 ms: OnDurationTimer. Status window, 1000 ms:
  // OnStatusTimer.
  bool startTimerEnabled = false;
  bool durationTimerEnabled = false;
  bool statusTimerEnabled = false;
};

// The Status tab's queue controls and "Status" group (View::UploadQueue; the grid rows are
// UploadPipeline::queue().records()).
struct UploadQueueControls {
  bool stopEnabled = true;
  bool resumeEnabled = false;
  bool clearEnabled = true;
  bool removeEnabled = true;
  std::string itemsToUpload = "0";
  std::string lastUploadedFile;
  // Seconds of the running upload, counted by the duration timer; set to 0 when a run starts
  // and by "Stop upload".
  std::int64_t DurationSeconds = 0;
  // The duration label: the timer writes it, so it keeps its last value after "Stop upload"; a
  // new run starts it at "0" again.
  std::string durationLabel = "0";
  // While a source analyses: how far it is ("Analysing n of N, about T left"); empty otherwise.
  std::string analysisText;
  // "Global progress:": records processed in this run of those the build added.
  std::int64_t globalPosition = 0;
  std::int64_t globalMaximum = 0;
};

// How the last run ended, for front ends that wait for it (the command line).
enum class RunOutcome {
  None,     // no run yet
  Running,  // started or resumed and not ended
  Finished, // the queue was worked through
  Stopped,  // "Stop upload", a refused registration or a failed duplicate check held it
  Failed,   // an error no step handles ended the loop; the record stays first in the queue
  // A watched run could not reach the service (after any retries): the record in hand and those
  // after it stay queued for the watch to take back and try later.
  Interrupted,
};

// A request of a watched run failed for a reason that may pass; the run ends Interrupted.
class ServiceUnreachable : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class UploadPipeline {
public:
  explicit UploadPipeline(ServiceClient& service) : service_(service) {}
  UploadPipeline(const UploadPipeline&) = delete;
  UploadPipeline& operator=(const UploadPipeline&) = delete;

  // Exchange files last written by a source, as this program's own copies in its run folder (see
  // WriteExchangeFile), so another program writing the same names never changes what this run
  // sends: the media library file (copied to UploadQueue.xml when a queue is built), the hash
  // list file, and the playlist file (sent at each run start; set by the iTunes and Winamp
  // sources, never cleared).
  std::string CurrentMediaLibraryFile;
  std::string CurrentHashListFile;
  std::string CurrentPlaylistFile;

  // --- Queue build and run --------------------------------------------------------------------

  // Copies the current media library file to UploadQueue.xml, queues the eligible items of
  // `items` and starts the run. `filter` names the hash ids of the iTunes and Winamp sources'
  // chosen playlists. `playlistName` goes
  // with every record of the dropped-files source. Returns false when refused.
  bool BuildUploadQueue(const MediaItems& items, SourceNumber source, const HashIdFilter& filter = {},
                        const std::string& playlistName = {});
  // Appends the eligible items and returns how many; sets TotalBytes and the global bar maximum.
  // Every item the filter takes gets an outcome in the run's report: already in the library,
  // skipped with its reason, or queued (decided when the loop sends it).
  int FillUploadQueue(const MediaItems& items, SourceNumber source, const HashIdFilter& filter,
                      const std::string& playlistName);

  // A dry run: a queue build decides what the run would do with each file and records that as
  // the run's report (PlannedOutcome), but queues nothing, leaves the work folder's
  // UploadQueue.xml as it is and starts no run; the build still returns true.
  void SetDryRun(bool dryRun) { dryRun_ = dryRun; }
  bool dryRun() const { return dryRun_; }

  // --- The run's report -------------------------------------------------------------------------

  // Forgets the outcomes of the last run; a use case that starts a run calls it first. The run
  // to come is not a watched one unless SetWatchedRun says so.
  void BeginReport() {
    outcomes_.Clear();
    watchedRun_ = false;
  }
  // A watched run outlives trouble: a file the service refuses, or that cannot be sent, fails
  // alone and the run goes on without a message box; a transient failure of the service (after
  // the retries) ends the run Interrupted with the files kept (the duplicate check throws
  // ServiceUnreachable instead).
  void SetWatchedRun(bool watched) { watchedRun_ = watched; }
  bool watchedRun() const { return watchedRun_; }
  // Files a source found but could not describe.
  void RecordSkipped(const std::vector<SkippedFile>& files);
  // The outcome of every file considered since BeginReport, in the order decided; records still
  // in the queue (a stopped run) are skipped as not sent.
  OutcomeLog Report() const;

  void StartUploadRun();
  void FinishUploadRun();

  // --- Timers (the window drives them with its timers, the command line by itself) -------------

  // The one-shot start timer: sends the current playlist file, then runs the loop. While
  // `anotherActivityRuns` (winding up) the timer stays armed and fires again.
  void OnStartTimer(bool anotherActivityRuns = false);
  // The duration timer: one more second of upload on the Status tab.
  void OnDurationTimer();
  // The status window's timer: speed, items and time left.
  void OnStatusTimer();

  // --- The loop -------------------------------------------------------------------------------

  // Sends the first record, removes it, and goes on until the queue is empty (then the run
  // finishes and the "Upload done!" bar shows) or UploadStopped is found set. Iterative: the call
  // depth does not grow with the queue. While a loop runs, another call returns at once: the
  // running loop carries on (so "Resume upload" during a transfer just lets it go on).
  void UploadNext();
  bool LoopActive() const { return loopActive_; }
  RunOutcome outcome() const { return outcome_; }

  // --- Status tab buttons ---------------------------------------------------------------------

  // "Stop upload": the file in transfer completes, no further one starts.
  void StopUpload();
  // "Resume upload": goes on with the first record (the playlist file is not sent again).
  void ResumeUpload();
  void ClearUploadQueue();
  // "Clear upload queue": StopUpload, then ClearUploadQueue.
  void StopAndClearUploadQueue();
  // "Remove selected item": the record with this id leaves the queue; false when it is gone.
  bool RemoveQueueItem(std::uint64_t recordId);
  // "Close this bar" and "Switch to Velmora Online now ..." on the "Upload done!" bar.
  void CloseUploadDoneBar();
  void OpenServiceSite();

  bool UploadStopped() const { return uploadStopped_; }
  // Sends the hash list file to "items/checkhashvalues" and marks `items` with the answered codes
  // ("Online duplicate check done."). A failed check shows "Did not receive meta data properly -
  // error N (details: M)" and sets UploadStopped, so nothing is sent until a resume.
  void CheckDuplicatesOnline(MediaItems& items, const std::string& hashListPath);
  // A failed duplicate check holds the next run until it is resumed.
  void SetUploadStopped() { uploadStopped_ = true; }
  // Why the last duplicate check failed ("the duplicate check failed: error N (details: M)");
  // empty after a check that succeeded. The items it could not ask about fail with it.
  const std::string& checkFailure() const { return checkFailure_; }

  // --- Status window --------------------------------------------------------------------------

  // Closing it ("Show more details ...", its close button) brings back the main window; the run
  // goes on and the window returns with the next run.
  void CloseStatusWindow();
  // How far the analysis before a run is, for the Status tab: while it runs nothing is queued and
  // nothing can be stopped; an empty text ends it and gives the controls back.
  void ShowAnalysisProgress(const std::string& text);
  // Brings the status window back in place of the main window while a run is active (the Status
  // tab's way back after "Show more details ..."); does nothing between runs.
  void ShowStatusWindow();
  // A run is active: the status window's timer runs, so its speed and time left are current.
  bool RunActive() const { return windows_.statusTimerEnabled; }
  // Shows the main window ("Analyze library now" does, once iTunes is reached).
  void ShowMainWindow();
  // "Share this track with a friend": shows the invitation area.
  void ShowInvitation();
  // "Play the current track" ticked or not; the front end's player follows.
  void SetPlayCurrentTrack(bool play);
  // "Send invitation ...": "misc/sendinvitation" with the address as typed, without progress
  // events; then the invitation text reads "DONE! ...". A failed call goes to the error display.
  void SendInvitation(const std::string& email);
  // The status window's global bar from TotalBytes and ShownUploadedBytes; in a run that sends no
  // content, items processed of the items queued at the start.
  void RefreshUploadStatus();

  // --- State the front end reads --------------------------------------------------------------
  const UploadQueue& queue() const { return queue_; }
  const UploadWindows& windows() const { return windows_; }
  const UploadQueueControls& controls() const { return controls_; }
  const UploadStatusWindow& statusWindow() const { return statusWindow_; }
  // The run as the status window shows it: files processed of those queued at the start, bytes
  // moved of those queued, and the last status tick's speed and time left (so the time between
  // ticks stays as the window shows it); the whole run, all transfers together.
  TransferFigures Figures() const;
  int QueueCountAtStart() const { return queueCountAtStart_; }
  // How the last run ended (View::RunEnded); files counted since the run started.
  const RunEndNotice& runEndNotice() const { return runEndNotice_; }
  const RunFileCounts& runFileCounts() const { return runFileCounts_; }
  // The files of a watched run that could not reach the service, in queue order; the watch takes
  // them back to try later (they leave the queue without an outcome).
  std::vector<std::string> TakeHeldBack() { return std::exchange(heldBack_, {}); }
  bool HasHeldBack() const { return !heldBack_.empty(); }
  // Why the last watched run could not reach the service.
  const std::string& heldBackReason() const { return heldBackReason_; }
  // A notice about the runs for a user whose window is hidden (View::RunEnded).
  void Announce(RunEndNotice notice) { EndRun(std::move(notice)); }
  // The front end has turned to the Status tab.
  void StatusTabShown() { windows_.statusTabRequested = false; }

private:
  // Whether a build may start now: not while the loop is sending (it would empty the queue under
  // the loop). A refusal is shown as a message.
  bool MayStartRun();
  // One pass of the loop for one record; the queue may change meanwhile.
  // Sends the record and records its outcome; rethrows what ends the run.
  void SendRecord(const UploadQueueRecord& record);
  // The loop with several lanes (service_.transfers() above 1; UploadLanes.cpp): the same rules,
  // up to that many records in transfer at once. Ends the run as the loop does, or throws what
  // ends it once every lane has ended.
  class LaneRun;
  void UploadInLanes();
  // Registers and sends the content; what happened and why. A transient failure of either step
  // goes back to "items/add" when the retries allow: the upload address works once, so after a
  // transfer whose body may have arrived it can no longer be trusted.
  std::pair<FileOutcomeKind, std::string> SendNewFile(const UploadQueueRecord& record, const std::string& metadataFile);
  // After failure number `failures` of `what`: true once it has waited to send it again; false
  // when the failure stands. Throws ServiceUnreachable in a watched run the service cannot reach.
  bool SendAgain(const std::string& what, const std::exception& failure, int failures);
  // Sends the current playlist file, if there is one, to "set/prefill". The outcome is not looked
  // at: a run goes on whether the service took the playlists or not.
  void TransmitPlaylists();
  void Signal(View view);
  Ui& ui() { return service_.ui(); }
  void SetGlobalProgress(std::int64_t position, std::int64_t maximum);
  void EndRun(RunEndNotice notice);

  ServiceClient& service_;
  UploadQueue queue_;
  UploadWindows windows_;
  UploadQueueControls controls_;
  UploadStatusWindow statusWindow_;
  int queueCountAtStart_ = 0;
  RunFileCounts runFileCounts_;
  RunEndNotice runEndNotice_;
  // Queued records are keyed by their id, so a retried record keeps one entry.
  OutcomeLog outcomes_{ReportKind::Upload};
  bool uploadStopped_ = false;
  bool watchedRun_ = false;
  bool dryRun_ = false;
  std::vector<std::string> heldBack_;
  std::string heldBackReason_;
  std::string checkFailure_;
  bool loopActive_ = false;
  // "Stop upload" as it was before an analysis disabled it.
  std::optional<bool> stopEnabledBeforeAnalysis_;
  RunOutcome outcome_ = RunOutcome::None;
};

} // namespace velmora
