#include "app/Engine.h"

#include "app/ShowStatus.h"
#include "app/WorkFolder.h"
#include "service/DownloadClient.h"
#include "sources/WinampSource.h"

#include <stdexcept>

namespace velmora {

Engine::Engine(Ui& ui, EngineOptions options) : ui_(ui), options_(std::move(options)) {
  if (options_.settingsFile.empty()) options_.settingsFile = SettingsFilePath();
}

Engine::~Engine() {
  try {
    Shutdown();
  } catch (...) {
    // Nothing sensible is left to report to during destruction.
  }
}

void Engine::Startup() {
  CleanWorkFolder();
  DetectWinampPlaylistsFile(*this);
  databases_ = OpenLocalDatabases(WorkFolder(), RunFolder());
  fingerprinter_ = std::make_unique<Fingerprinter>(*databases_.meta, ui_);
  tagReaders_ = std::make_unique<TagReaders>();
  LoadSettings();
  started_ = true;
  ShowStatus("Velmora Online Uploader");
}

void Engine::Shutdown() {
  if (!started_) return;
  started_ = false;
  CleanWorkFolder();
  SaveSettings();
  tagReaders_.reset();
  ITunes.reference.reset();
}

void Engine::ShowStatus(const std::string& message) { velmora::ShowStatus(ui_, message); }

Activity Engine::CurrentActivity() const {
  if (activity_ != Activity::Idle) return activity_;
  if (Upload.LoopActive() || Upload.windows().startTimerEnabled) return Activity::Uploading;
  return Activity::Idle;
}

namespace {

void SayBusy(Engine& engine, Activity current) {
  if (current == Activity::Uploading) {
    engine.ui().ShowMessage("An upload is in progress. Wait until the current file is sent, then try again.");
    return;
  }
  engine.ShowStatus("Busy with " + DescribeActivity(current) + " - please try again when it is done");
}

} // namespace

ActivityScope Engine::BeginActivity(Activity activity) {
  const Activity current = CurrentActivity();
  if (current != Activity::Idle) {
    SayBusy(*this, current);
    return {};
  }
  return ActivityScope(activity_, activity);
}

bool Engine::RefuseDuring(std::initializer_list<Activity> busy) {
  const Activity current = CurrentActivity();
  for (const Activity activity : busy) {
    if (activity == current) {
      SayBusy(*this, current);
      return true;
    }
  }
  return false;
}

std::string DescribeActivity(Activity activity) {
  switch (activity) {
  case Activity::Idle: return "nothing";
  case Activity::LoggingIn: return "the login";
  case Activity::LoadingPlaylists: return "loading the playlists";
  case Activity::Analysing: return "an analysis";
  case Activity::BuildingQueue: return "building the upload queue";
  case Activity::Uploading: return "an upload";
  case Activity::Restoring: return "a restore";
  }
  return "another task";
}

void Engine::LoadSettings() {
  const StoredSettings stored = velmora::LoadSettings(options_.settingsFile);
  UserName = storedUserName_ = stored.userName;
  Password = storedPassword_ = stored.password;
  // A Winamp installation found at start-up shows until a stored location replaces it.
  if (!stored.winampLocation.empty() || winampLocationBox.empty()) winampLocationBox = stored.winampLocation;
  restorePathBox = stored.restorePath;
  ui_.ViewChanged(View::Settings);
}

void Engine::SaveSettings() {
  velmora::SaveSettings({UserName, Password, winampLocationBox, restorePathBox}, options_.settingsFile);
  storedUserName_ = UserName;
  storedPassword_ = Password;
}

void Engine::ForgetRefusedCredentials() {
  const bool storedAccountTried = UserName == storedUserName_ || (storedUserName_.empty() && storedPassword_.empty());
  if (storedAccountTried) {
    UserName.clear();
    Password.clear();
    SaveSettings();
  } else {
    UseStoredCredentials();
  }
}

void Engine::UseStoredCredentials() {
  UserName = storedUserName_;
  Password = storedPassword_;
}

void Engine::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  ui_.ViewChanged(View::Caption);
}

DownloadClient& Engine::downloadClient() {
  if (!downloadClient_) downloadClient_ = std::make_unique<DownloadClient>(ui_);
  return *downloadClient_;
}

Fingerprinter& Engine::fingerprinter() {
  if (!fingerprinter_) throw std::logic_error("the engine has not been started");
  return *fingerprinter_;
}

TagReaders& Engine::tagReaders() {
  if (!tagReaders_) throw std::logic_error("the engine has not been started");
  return *tagReaders_;
}

} // namespace velmora
