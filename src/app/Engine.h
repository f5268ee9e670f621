#pragma once
// The engine: owner of the program's state (settings in use, databases, fingerprint cache, tag
// readers, collections, queue, restore) and the one facade the Qt window, the CLI and the tests
// drive. Every request from a front end is a method here; the state is read through const views
// and announced through the Ui port. Long requests run inside the one activity guard.

#include "app/Activity.h"
#include "app/Settings.h"
#include "base/Ui.h"
#include "model/MediaItem.h"
#include "restore/Restore.h"
#include "service/ServiceClient.h"
#include "service/ServicePlaylists.h"
#include "sources/DroppedFiles.h"
#include "sources/FolderWatcher.h"
#include "sources/ITunesSource.h"
#include "sources/SourceTools.h"
#include "sources/WinampSource.h"
#include "store/Fingerprinter.h"
#include "store/LocalDatabases.h"
#include "tags/TagReaders.h"
#include "upload/UploadPipeline.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

struct EngineOptions {
  // The program's first command-line argument, which may redirect the service ("/stage HOST").
  std::string firstArgument;
  // Where the settings live; the per-user default when empty.
  std::filesystem::path settingsFile;
};

// How watched folders are followed.
struct WatchOptions {
  // How long a new or changed file must stay unchanged before it is taken.
  std::chrono::milliseconds settle{std::chrono::seconds(10)};
  // Every file taken goes into this playlist on the service; empty for none.
  std::string playlist;
  // Whether the files the folders already hold are taken too (the window), or only those that
  // arrive later (the command line uploads the folders' content first, as a drop).
  bool takeExisting = false;
};

class Engine {
public:
  Engine(Ui& ui, EngineOptions options = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // --- Life ------------------------------------------------------------------------------------
  // Clean the work folder, detect Winamp, open the databases, create the tag readers, load the
  // settings, greet in the status line.
  void Startup();
  // Clean the work folder, save the settings, drop the tag readers. Safe to call more than once.
  void Shutdown();

  void ShowStatus(const std::string& message);
  Ui& ui() { return ui_; }
  const EngineOptions& options() const { return options_; }

  // One activity at a time. CurrentActivity: the one a request began, else Uploading while an
  // upload run is live, else Idle. BeginActivity starts `activity` when the engine is idle;
  // otherwise it says what is running and returns an empty scope, and the caller does nothing.
  Activity CurrentActivity() const;
  [[nodiscard]] ActivityScope BeginActivity(Activity activity);
  // For requests that change data an activity works on (the drop list, the queue): true, after
  // saying why, when the current activity is one of `busy`; the caller then does nothing.
  bool RefuseDuring(std::initializer_list<Activity> busy);

  // --- Account and settings ----------------------------------------------------------------------
  const std::string& userName() const { return service_.userName(); }
  const std::string& password() const { return service_.password(); }
  // The credentials the next login tries.
  void SetCredentials(std::string userName, std::string password);
  bool IsLoggedIn() const { return loggedIn_; }
  void SetLoggedIn() { loggedIn_ = true; }
  // Checks the credentials in use with the service ("user/checkaccess"). On success lists the
  // service playlists, shows "Logged in successfully", marks the engine logged in and adds
  // " (user)" to the caption. Code 1300 shows the upgrade message and opens the download page,
  // credentials kept. Any other failure forgets the credentials that were tried
  // (ForgetRefusedCredentials), shows "Login failed" and the error box. Returns IsLoggedIn().
  // Errors of the playlist listing are not caught: they end the login before it is marked done.
  // Refused while another activity runs.
  bool Login();
  // Forgets and saves the credentials and asks for a restart; the caller then closes the program.
  // Refused (false, nothing forgotten) while another activity runs.
  bool Logout();
  // Reads the settings file; a password that is not in it is looked up in the desktop keyring
  // under the user name and the service host.
  void LoadSettings();
  // Writes the settings file. Where a desktop keyring answers, the password goes there and the
  // file keeps only the user name and the folders; a password read from the file stays in the
  // file until a login with it succeeds. A password no longer in use (logout, refused login,
  // another account) leaves the keyring. Without a keyring the file holds it (mode 0600).
  void SaveSettings();
  // Where the last SaveSettings kept the password.
  enum class PasswordPlace { None, Keyring, SettingsFile };
  PasswordPlace passwordPlace() const { return passwordPlace_; }
  // The last SaveSettings kept the password in the settings file because the desktop keyring
  // answered but was locked.
  bool keyringLocked() const { return keyringLocked_; }
  // The stored credentials can log in: a user name and a password (none when the keyring was
  // locked and not unlocked).
  bool HasStoredPassword() const { return !storedUserName_.empty() && !storedPassword_.empty(); }
  // The host the keyring entry is kept for: the service's host and port.
  std::string ServiceHost() const;
  // After a refused login: forgets the credentials that were tried. When they belong to the
  // account the settings hold (or none is held) the stored credentials are erased at once. The
  // stored credentials of another account are not touched and are the ones in use again, so the
  // shutdown keeps them.
  void ForgetRefusedCredentials();
  // The credentials in use become those the settings hold again (a run that tried no other).
  void UseStoredCredentials();
  // Main window caption: "Velmora Uploader", followed by " (user)" after a successful login.
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  // The user's own playlists on the service (restore tab rows, drop tab box items); see
  // LoadPlaylists. Returns the call's result.
  ServiceReply LoadServicePlaylists();
  const AccountPlaylists& servicePlaylists() const { return servicePlaylists_; }

  // --- Speed limit ---------------------------------------------------------------------------------
  // The stored limit of every transfer (uploads, the service's answers, restore downloads): bytes
  // per second (0 for none) or a timetable by time of day. Saved with the other settings. A
  // transfer takes the rate of the moment it starts and keeps it to its end.
  const RateTimetable& rateLimit() const { return rateLimit_; }
  void SetRateLimit(RateTimetable limit);
  // A limit for this program's run only (the command line's --limit-rate), in place of the stored
  // one and never saved; nothing returns to the stored limit.
  void OverrideRateLimit(std::optional<RateTimetable> limit);
  // The limit a transfer starting now uses, in bytes per second.
  std::int64_t effectiveRateLimit() const { return service_.rateLimit(); }

  // --- Retries ---------------------------------------------------------------------------------------
  // How many times a request that failed for a transient reason is sent again (0: one failure
  // ends it), stored with the settings; the command line's --retries replaces it for its run.
  int retries() const { return retries_; }
  void SetRetries(int retries);
  void OverrideRetries(std::optional<int> retries);
  int effectiveRetries() const { return service_.retrier().retries(); }

  // --- Simultaneous transfers ------------------------------------------------------------------------
  // Queue items (or restore downloads) in transfer at once, 1 to 16, stored with the settings
  // (1: one at a time, a new connection per request); the command line's --transfers replaces it
  // for its run.
  int transfers() const { return transfers_; }
  void SetTransfers(int transfers);
  void OverrideTransfers(std::optional<int> transfers);
  int effectiveTransfers() const { return service_.transfers(); }

  // --- Shared tools --------------------------------------------------------------------------------
  std::string FileFingerprint(const std::string& path) { return fingerprinter().FileFingerprint(path); }
  Fingerprinter& fingerprinter();
  LocalDatabases& databases() { return databases_; }
  // The ID3v1, ID3v2 and MPEG readers shared by every file read in the run (after Startup).
  TagReaders& tagReaders();
  // The link to the service: credentials, address, run byte counters.
  ServiceClient& service() { return service_; }
  const RunCounters& counters() const { return service_.counters(); }
  // The last collection of any source, in the order found.
  const Collection& collection() const { return collection_; }

  // --- Drop tab ------------------------------------------------------------------------------------
  const DroppedFiles& droppedFiles() const { return droppedFiles_; }
  // A drop on the window. An unreadable ".m3u" or ".m3u8" file ends the drop with the error on the central
  // error display. The front end re-reads the list on View::DroppedFiles. Drops and "Clear list"
  // are refused while an analysis or a queue build works on the list.
  void DropFiles(const std::vector<std::string>& paths);
  // "Clear list".
  void ClearDroppedFiles();
  // The drop tab's "Add to a playlist" box: every file of the run goes into this playlist on the
  // service; empty for none.
  void SetDropPlaylist(std::string name) { droppedFiles_.playlistBox = std::move(name); }
  // Describes the listed files into the collection (see AnalyzeDroppedFiles).
  void AnalyzeDroppedFiles();
  // "Analyze and upload": describe the listed files, write the media library and hash list files,
  // ask the service which files it has, queue the rest and start the run (the front end then
  // drives the start tick). Errors end it on the central error display. Refused while another
  // activity runs. Returns whether a run was started.
  bool AnalyzeAndUpload();

  // --- Watched folders -----------------------------------------------------------------------------
  // The window's watched folders (a stored setting); SetWatchedFolders only changes the list.
  const std::vector<std::string>& watchedFolders() const { return watchedFolders_; }
  void SetWatchedFolders(std::vector<std::string> folders) { watchedFolders_ = std::move(folders); }
  // Follows `folders` and all below them (replacing a watch that runs): a supported file that is
  // created, changed or moved in is taken once it has stayed unchanged for the settle time and
  // goes through the drop's steps (analysis, duplicate check, queue, run); the files already there
  // as options.takeExisting says. Problems are shown as error messages. False when no folder could be watched.
  bool StartWatching(const std::vector<std::string>& folders, WatchOptions options = {});
  void StopWatching();
  bool IsWatching() const { return watcher_ != nullptr; }
  // Watched folders that still exist under their name (the others are reported and dropped).
  std::size_t watchedRootCount() const { return watcher_ ? watcher_->rootCount() : 0; }
  // The descriptor the front end waits on (readable: call OnWatchEvents); -1 when not watching.
  int watchDescriptor() const { return watcher_ ? watcher_->fd() : -1; }
  // How long the front end may wait for the descriptor before calling OnWatchEvents anyway;
  // nothing when only the descriptor matters (an idle watch: no wake-ups).
  std::optional<std::chrono::milliseconds> WatchTimeout() const;
  // Reads the watch's events and reports its problems; files that have settled are uploaded as a
  // drop would be once the engine is idle and no stopped run holds queued files (until then they
  // wait). Returns whether a run was started; the front end then drives it as after
  // AnalyzeAndUpload. A watched run outlives trouble (UploadPipeline::SetWatchedRun): when the
  // service cannot be reached its files wait with the new ones and are tried again after 30 s,
  // then after twice as long each time up to 15 minutes.
  bool OnWatchEvents();
  // The files of `paths` (files and folders, searched as a drop is) join the files waiting to be
  // uploaded by the watch; the next OnWatchEvents takes them.
  void AddWatchFiles(const std::vector<std::string>& paths);
  // While watched files wait for the service: what the Status tab says about it, set once when the
  // outage began; empty otherwise.
  const std::string& watchNotice() const { return watchOutage_.notice; }

  // --- iTunes tab ----------------------------------------------------------------------------------
  const ITunesTab& iTunes() const { return iTunes_; }
  // The library export to read; the default location when empty.
  void SetITunesLibraryFile(std::filesystem::path file) { iTunes_.libraryFile = std::move(file); }
  // How the automation layer is reached (tests put a fake here).
  void SetITunesOpener(decltype(ITunesTab::open) open) { iTunes_.open = std::move(open); }
  void SetITunesPlaylistChecked(std::size_t row, bool checked);
  // "Analyze library now": refused with "Please log in." before login.
  void AnalyzeITunesLibraryNow();
  // The scope radio buttons.
  void SetITunesScope(bool selectedPlaylistsOnly);
  // "Start upload now": collects, writes the exchange files, checks online, queues and starts the
  // run. Returns whether a run was started.
  bool StartITunesUpload();
  // Collects the chosen scope, writes the media library, playlist and hash list files and runs
  // the duplicate check.
  void CollectITunesItems();

  // --- Winamp tab ----------------------------------------------------------------------------------
  const WinampTab& winamp() const { return winamp_; }
  // The location box: Winamp's playlists file.
  const std::string& winampLocation() const { return winampLocation_; }
  void SetWinampLocation(std::string path) { winampLocation_ = std::move(path); }
  void SetWinampPrefix(std::filesystem::path prefix) { winamp_.winePrefix = std::move(prefix); }
  void SetWinampPlaylistChecked(std::size_t row, bool checked);
  // "Analyze data ...": reads the playlists, writes the exchange files and checks online.
  void AnalyzeWinampData();
  // "Start upload": queues the new items of the checked playlists (of every playlist when no row
  // is checked) and starts the run.
  bool StartWinampUpload();
  // Reads the playlists file and the playlist files it names into the collection.
  void ScanWinampPlaylists(const std::string& path, const std::string& folder);

  // --- Upload run ----------------------------------------------------------------------------------
  // The queue, its run and the upload windows' state. Front ends read it and act through the
  // methods below; use cases and tests drive it directly.
  UploadPipeline& upload() { return upload_; }
  const UploadPipeline& upload() const { return upload_; }
  // From now on the use cases that end in an upload run analyse and ask the service which files
  // it holds, then only decide what the run would do (UploadReport says it) and send nothing more.
  void SetDryRun(bool dryRun) { upload_.SetDryRun(dryRun); }
  void StopUpload() { upload_.StopUpload(); }
  // Refused while another activity than an upload runs.
  void ResumeUpload();
  // "Clear upload queue" and "Remove selected item": refused while the queue is being built.
  void ClearUploadQueue();
  bool RemoveQueueItem(std::uint64_t recordId);
  // The start timer: waits while another activity winds up.
  void OnStartTimer();
  void OnDurationTimer() { upload_.OnDurationTimer(); }
  void OnStatusTimer() { upload_.OnStatusTimer(); }
  void ShowInvitation() { upload_.ShowInvitation(); }
  void SendInvitation(const std::string& email) { upload_.SendInvitation(email); }
  void SetPlayCurrentTrack(bool play) { upload_.SetPlayCurrentTrack(play); }
  void CloseStatusWindow() { upload_.CloseStatusWindow(); }
  void ShowStatusWindow() { upload_.ShowStatusWindow(); }
  void CloseUploadDoneBar() { upload_.CloseUploadDoneBar(); }
  void OpenServiceSite() { upload_.OpenServiceSite(); }
  void StatusTabShown() { upload_.StatusTabShown(); }

  // --- What happened to every file -------------------------------------------------------------------
  // The last upload run's outcomes: every file the run's source found, from the start of the use
  // case that built the run ("Analyze and upload", "Start upload now", "Start upload") on; files
  // still queued count as skipped. Its SummaryLine ends every run on the command line; the Status
  // tab shows the same counts.
  OutcomeLog UploadReport() const { return upload_.Report(); }
  // The last "Restore now": every file it reached.
  const OutcomeLog& RestoreReport() const { return restorer_.report(); }
  // Writes the upload report as JSON Lines (see app/OutcomeReport.h); throws std::runtime_error
  // when the file cannot be written.
  void SaveUploadReport(const std::filesystem::path& file) const;

  // --- Restore tab ---------------------------------------------------------------------------------
  const RestoreState& restoreState() const { return restorer_.state(); }
  Restorer& restorer() { return restorer_; }
  // The folder the library is restored into.
  const std::string& restoreTarget() const { return restorer_.target(); }
  void SetRestoreTarget(std::string folder) { restorer_.SetTarget(std::move(folder)); }
  void SetRestoreWholeLibrary(bool whole) { restorer_.SetWholeLibrary(whole); }
  void SetRestorePlaylistChecked(std::size_t row, bool checked);
  // "Load information about your library". Refused while another activity runs.
  void LoadLibraryInformation();
  // "Restore now". Returns false when refused (another activity, bad target).
  bool RestoreNow();
  // "Cancel Downloads": always allowed; the current file completes, no further one starts.
  void CancelDownloads() { restorer_.CancelDownloads(); }

  // The program is closing while work runs: the file in transfer completes, nothing further
  // starts, and nobody is asked to wait. From then on every request is a stopped one.
  void StopForExit();
  // Whether the request in transfer belongs to stopped work: a stopped upload run, a cancelled
  // restore, or a program that is closing. Such a request that moves no byte for 10 s is
  // abandoned (the queue record stays, a partial download is removed).
  bool StopRequested() const;

private:
  // Tests set up collections and service playlists through it.
  friend struct EngineInternals;

  SourceTools sourceTools() {
    return {ui_, tagReaders(), fingerprinter(), [this](const std::string& text) { upload_.ShowAnalysisProgress(text); }};
  }
  void ApplyRateLimit();
  // After the keyring's password of the stored account was refused: the settings file's other
  // password for it becomes the one in use, to be tried next. False when there is none.
  bool TakeFilePasswordInReserve();

  // The steps of "Analyze and upload" for `list`, inside an activity already begun.
  // A watched list's run outlives trouble (see OnWatchEvents); ServiceUnreachable leaves it when
  // the duplicate check cannot reach the service.
  bool AnalyzeAndUploadList(const DroppedFiles& list, const std::string& playlistName, ActivityScope& activity,
                            bool watched = false);

  Ui& ui_;
  EngineOptions options_;
  ServiceClient service_;
  LocalDatabases databases_;
  std::unique_ptr<Fingerprinter> fingerprinter_;
  std::unique_ptr<TagReaders> tagReaders_;
  bool loggedIn_ = false;
  bool exitRequested_ = false;
  Activity activity_ = Activity::Idle;
  bool started_ = false;
  std::string caption_ = "Velmora Uploader";
  // The credentials stored (settings file or keyring), as last loaded or saved.
  std::string storedUserName_, storedPassword_;
  // The stored password came from the settings file and no login has confirmed it yet.
  bool passwordAwaitsLogin_ = false;
  // The next SaveSettings removes the stored account's password from the keyring even when it
  // was never read (logout, refused login); after a logout, its entries of every host.
  bool forgetStoredPassword_ = false;
  bool forgetEveryHost_ = false;
  // The settings file's password of the stored account, when the keyring holds another one for
  // it: the keyring's is tried first, and this one only after the service refused that. It stays
  // in the file until a login decides between them.
  std::optional<std::string> filePasswordInReserve_;
  bool keyringLocked_ = false;
  // The user name and password known to be in the desktop keyring.
  std::optional<std::pair<std::string, std::string>> keyringHolds_;
  PasswordPlace passwordPlace_ = PasswordPlace::None;
  std::string winampLocation_;
  RateTimetable rateLimit_;
  // The stored "LimitRate" text that is no rate, written back until a new limit is set.
  std::string unreadableRateLimit_;
  std::optional<RateTimetable> rateLimitOverride_;
  AccountPlaylists servicePlaylists_;
  Collection collection_;
  DroppedFiles droppedFiles_;
  std::vector<std::string> watchedFolders_;
  std::unique_ptr<FolderWatcher> watcher_;
  WatchOptions watchOptions_;
  // Settled files waiting for the engine to be idle, in the order they settled.
  std::vector<std::string> watchReady_;
  // What the first look at the watched folders left out; reported with the first batch.
  std::vector<SkippedFile> watchSkipped_;
  // The service could not be reached by a watched run: when the waiting files go again.
  struct WatchOutage {
    bool active = false;
    std::chrono::steady_clock::duration delay{};
    std::chrono::steady_clock::time_point retryAt{};
    std::string notice;
  };
  WatchOutage watchOutage_;
  void NoteWatchOutage(const std::string& reason);
  void AddWatchReady(std::vector<std::string> paths, bool first);
  int retries_ = 0;
  std::optional<int> retriesOverride_;
  int transfers_ = 1;
  std::optional<int> transfersOverride_;
  ITunesTab iTunes_;
  WinampTab winamp_;
  UploadPipeline upload_{service_};
  Restorer restorer_{service_, databases_, servicePlaylists_};
};

} // namespace velmora
