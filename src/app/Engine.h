#pragma once
// The engine object: owns what the main window owns (settings in use, databases, fingerprint
// cache, tag readers, collections, queue, run counters) and runs the start-up and shutdown
// sequences. The Qt window, the CLI and the tests all drive the program through it.

#include "app/Activity.h"
#include "app/Settings.h"
#include "app/Ui.h"
#include "restore/RestoreState.h"
#include "restore/ServicePlaylists.h"
#include "service/RunCounters.h"
#include "sources/DroppedFiles.h"
#include "sources/ITunesSource.h"
#include "sources/MediaItem.h"
#include "sources/WinampSource.h"
#include "store/LocalDatabases.h"
#include "tags/TagReaders.h"
#include "upload/Fingerprinter.h"
#include "upload/UploadPipeline.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

class DownloadClient;

struct EngineOptions {
  // The program's first command-line argument, which may redirect the service ("/stage HOST").
  std::string firstArgument;
  // Where the settings live; the per-user default when empty.
  std::filesystem::path settingsFile;
};

class Engine {
public:
  Engine(Ui& ui, EngineOptions options = {});
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Clean the work folder, detect Winamp, open the databases, create the tag readers, load the
  // settings, greet in the status line.
  void Startup();
  // Clean the work folder, save the settings, drop the tag readers. Safe to call more than once.
  void Shutdown();

  void ShowStatus(const std::string& message);
  Ui& ui() { return ui_; }

  // One activity at a time. CurrentActivity: the one a request began, else Uploading while an
  // upload run is live, else Idle. BeginActivity starts `activity` when the engine is idle;
  // otherwise it says what is running and returns an empty scope, and the caller does nothing.
  Activity CurrentActivity() const;
  [[nodiscard]] ActivityScope BeginActivity(Activity activity);
  // For requests that change data an activity works on (the drop list, the queue): true, after
  // saying why, when the current activity is one of `busy`; the caller then does nothing.
  bool RefuseDuring(std::initializer_list<Activity> busy);
  const EngineOptions& options() const { return options_; }

  // Credentials in use and the two text boxes whose values are kept between runs.
  std::string UserName;
  std::string Password;
  std::string winampLocationBox;
  std::string restorePathBox;
  bool IsLoggedIn() const { return loggedIn_; }
  void SetLoggedIn() { loggedIn_ = true; }

  void LoadSettings();
  void SaveSettings();
  // After a refused login: forgets the credentials that were tried. When they belong to the
  // account the settings hold (or none is held) the stored credentials are erased at once. The
  // stored credentials of another account are not touched and are the ones in use again, so the
  // shutdown keeps them.
  void ForgetRefusedCredentials();
  // The credentials in use become those the settings hold again (a run that tried no other).
  void UseStoredCredentials();

  std::string FileFingerprint(const std::string& path) { return fingerprinter().FileFingerprint(path); }
  Fingerprinter& fingerprinter();
  LocalDatabases& databases() { return databases_; }
  // The ID3v1, ID3v2 and MPEG readers shared by every file read in the run (after Startup).
  TagReaders& tagReaders();

  // The last collection of any source, in the order found.
  TMediaItems MediaItems;
  TPlaylists Playlists;
  // The drop tab's file list and playlist box.
  DroppedFiles DroppedFileList;
  // The upload queue, its run, the timers' handlers and the upload windows' state.
  UploadPipeline Upload{*this};

  // Byte counters of the upload run; request progress events move them.
  RunCounters counters;
  // The user's own playlists on the service as LoadPlaylists last listed them: the restore tab's
  // rows and the drop tab's playlist box items.
  std::vector<ServicePlaylistRow> RestorePlaylists;
  std::vector<std::string> DropPlaylistNames;
  // Main window caption: "Velmora Uploader", followed by " (user)" after a successful login.
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  // The iTunes and Winamp tabs: their lists, counters and the user's choices.
  ITunesTab ITunes;
  WinampTab Winamp;
  // The restore tab: the user's choice, the log, counters and the cancel request.
  RestoreState Restore;
  // The restore's plain-GET client, one for the run (cookies kept), created on first use.
  DownloadClient& downloadClient();

private:
  Ui& ui_;
  EngineOptions options_;
  LocalDatabases databases_;
  std::unique_ptr<Fingerprinter> fingerprinter_;
  std::unique_ptr<TagReaders> tagReaders_;
  bool loggedIn_ = false;
  Activity activity_ = Activity::Idle;
  bool started_ = false;
  std::string caption_ = "Velmora Uploader";
  // The credentials the settings file holds, as last loaded or saved.
  std::string storedUserName_, storedPassword_;
  std::unique_ptr<DownloadClient> downloadClient_;
};

} // namespace velmora
