#include "app/Engine.h"

#include "app/OutcomeReport.h"
#include "base/Keyring.h"
#include "base/ShowStatus.h"
#include "base/WorkFolder.h"
#include "service/CallApi.h"

#include <algorithm>
#include <stdexcept>

namespace velmora {

Engine::Engine(Ui& ui, EngineOptions options)
    : ui_(ui), options_(std::move(options)), service_(ui, ServerBaseUrl(options_.firstArgument)) {
  if (options_.settingsFile.empty()) options_.settingsFile = SettingsFilePath();
  service_.SetStopRequest([this] { return StopRequested(); });
}

bool Engine::StopRequested() const {
  return exitRequested_ || (upload_.LoopActive() && upload_.UploadStopped()) ||
         (restorer_.state().running && restorer_.state().DownloadsCancelled);
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
  if (const auto file = DetectWinampPlaylistsFile(winamp_)) {
    winampLocation_ = *file;
    ui_.ViewChanged(View::Settings);
  }
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
  iTunes_.reference.reset();
}

void Engine::ShowStatus(const std::string& message) { velmora::ShowStatus(ui_, message); }

Activity Engine::CurrentActivity() const {
  if (activity_ != Activity::Idle) return activity_;
  if (upload_.LoopActive() || upload_.windows().startTimerEnabled) return Activity::Uploading;
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
  // A stop asked of an earlier activity does not cut this one's retries short.
  service_.retrier().Abandon(false);
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

std::string Engine::ServiceHost() const {
  std::string host = service_.baseUrl();
  if (const auto scheme = host.find("://"); scheme != std::string::npos) host.erase(0, scheme + 3);
  if (const auto path = host.find('/'); path != std::string::npos) host.erase(path);
  return host;
}

void Engine::LoadSettings() {
  const StoredSettings stored = velmora::LoadSettings(options_.settingsFile);
  storedUserName_ = stored.userName;
  storedPassword_ = stored.password;
  passwordAwaitsLogin_ = !stored.password.empty();
  filePasswordInReserve_.reset();
  if (!storedUserName_.empty()) {
    // The keyring's password comes first: one the file holds as well may be a stale copy (an
    // earlier version kept it there, or the keyring was away when it was stored). A locked
    // keyring the user does not open counts as none.
    if (auto kept = keyring::Lookup(storedUserName_, ServiceHost())) {
      if (!stored.password.empty() && stored.password != *kept) filePasswordInReserve_ = stored.password;
      storedPassword_ = std::move(*kept);
      keyringHolds_ = std::pair{storedUserName_, storedPassword_};
      passwordAwaitsLogin_ = false;
    }
  }
  service_.setCredentials(storedUserName_, storedPassword_);
  // A Winamp installation found at start-up shows until a stored location replaces it.
  if (!stored.winampLocation.empty() || winampLocation_.empty()) winampLocation_ = stored.winampLocation;
  restorer_.SetTarget(stored.restorePath);
  rateLimit_ = stored.rateLimit;
  unreadableRateLimit_ = stored.unreadableRateLimit;
  if (!unreadableRateLimit_.empty()) {
    ShowStatus("The stored speed limit LimitRate=" + unreadableRateLimit_ +
               " is not a rate in bytes per second (such as 500K or 1M) or a timetable (such as 08:00,512K "
               "23:00,off): transfers are not limited");
  }
  ApplyRateLimit();
  SetRetries(stored.retries);
  SetTransfers(stored.transfers);
  watchedFolders_ = stored.watchedFolders;
  ui_.ViewChanged(View::Settings);
}

void Engine::SaveSettings() {
  StoredSettings settings{userName(), password(), winampLocation_, restoreTarget()};
  settings.rateLimit = rateLimit_;
  settings.retries = retries_;
  settings.transfers = transfers_;
  settings.unreadableRateLimit = unreadableRateLimit_;
  settings.watchedFolders = watchedFolders_;
  // The stored account's keyring entry goes with the account, or when its password is forgotten
  // (logout, refused login). A password that was only never read (a locked keyring left closed)
  // stays where it is.
  const bool oldAccountGoes =
      !storedUserName_.empty() &&
      (storedUserName_ != userName() || (password().empty() && (forgetStoredPassword_ || !storedPassword_.empty())));
  const bool keyringWanted = !password().empty() && !passwordAwaitsLogin_;
  const std::pair<std::string, std::string> current{userName(), password()};
  // Credentials the keyring already holds are not written again (a locked keyring would ask).
  bool inKeyring = keyringWanted && keyringHolds_ == current;
  bool keyringAnswers = false;
  if (!inKeyring && (oldAccountGoes || keyringWanted) && (keyringAnswers = keyring::Available())) {
    const std::string host = ServiceHost();
    if (oldAccountGoes) {
      if (forgetEveryHost_) keyring::RemoveAll(storedUserName_);
      else keyring::Remove(storedUserName_, host);
      keyringHolds_.reset();
    }
    if (keyringWanted && keyring::Store(userName(), host, password())) {
      inKeyring = true;
      keyringHolds_ = current;
    }
  }
  keyringLocked_ = keyringWanted && !inKeyring && keyringAnswers && keyring::DefaultCollectionLocked();
  if (inKeyring) settings.password.clear();
  // Until a login has decided between them, the file keeps its own password for the account.
  if (filePasswordInReserve_ && userName() == storedUserName_ && password() == storedPassword_) {
    settings.password = *filePasswordInReserve_;
  } else {
    filePasswordInReserve_.reset();
  }
  velmora::SaveSettings(settings, options_.settingsFile);
  passwordPlace_ = password().empty() ? PasswordPlace::None
                   : inKeyring        ? PasswordPlace::Keyring
                                      : PasswordPlace::SettingsFile;
  passwordAwaitsLogin_ = passwordAwaitsLogin_ && passwordPlace_ == PasswordPlace::SettingsFile;
  forgetStoredPassword_ = false;
  forgetEveryHost_ = false;
  storedUserName_ = userName();
  storedPassword_ = password();
}

void Engine::ForgetRefusedCredentials() {
  const bool storedAccountTried = userName() == storedUserName_ || (storedUserName_.empty() && storedPassword_.empty());
  if (storedAccountTried) {
    service_.setCredentials({}, {});
    forgetStoredPassword_ = true;
    SaveSettings();
  } else {
    UseStoredCredentials();
  }
}

void Engine::SaveUploadReport(const std::filesystem::path& file) const {
  OutcomeReportFile(file).Write(UploadReport());
}

void Engine::SetRateLimit(RateTimetable limit) {
  rateLimit_ = std::move(limit);
  unreadableRateLimit_.clear();
  ApplyRateLimit();
}

void Engine::OverrideRateLimit(std::optional<RateTimetable> limit) {
  rateLimitOverride_ = std::move(limit);
  ApplyRateLimit();
}

void Engine::SetRetries(int retries) {
  retries_ = std::clamp(retries, 0, kMaxRetries);
  service_.retrier().SetRetries(retriesOverride_.value_or(retries_));
}

void Engine::OverrideRetries(std::optional<int> retries) {
  retriesOverride_ = retries;
  service_.retrier().SetRetries(retriesOverride_.value_or(retries_));
}

void Engine::SetTransfers(int transfers) {
  transfers_ = std::clamp(transfers, kMinTransfers, kMaxTransfers);
  service_.SetTransfers(transfersOverride_.value_or(transfers_));
}

void Engine::OverrideTransfers(std::optional<int> transfers) {
  transfersOverride_ = transfers;
  service_.SetTransfers(transfersOverride_.value_or(transfers_));
}

// The restore's download client takes the service client's limit at each download.
void Engine::ApplyRateLimit() { service_.SetRateLimit(rateLimitOverride_.value_or(rateLimit_)); }

void Engine::UseStoredCredentials() { service_.setCredentials(storedUserName_, storedPassword_); }

void Engine::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  ui_.ViewChanged(View::Caption);
}

void Engine::SetCredentials(std::string userName, std::string password) {
  service_.setCredentials(std::move(userName), std::move(password));
}

ServiceReply Engine::LoadServicePlaylists() { return LoadPlaylists(service_, servicePlaylists_); }

Fingerprinter& Engine::fingerprinter() {
  if (!fingerprinter_) throw std::logic_error("the engine has not been started");
  return *fingerprinter_;
}

TagReaders& Engine::tagReaders() {
  if (!tagReaders_) throw std::logic_error("the engine has not been started");
  return *tagReaders_;
}

} // namespace velmora
