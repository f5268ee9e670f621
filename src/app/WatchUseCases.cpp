// Watched folders: the watcher finds files that are new, changed or moved in, and each batch that
// has settled goes through the drop's steps inside the one activity guard, as a drop on the
// window followed by "Analyze and upload" would.

#include "app/Engine.h"

#include <algorithm>

namespace velmora {
namespace {

// The first wait of watched files after the service could not be reached, and the longest.
constexpr auto kFirstOutageWait = std::chrono::seconds(30);
constexpr auto kLongestOutageWait = std::chrono::minutes(15);

} // namespace

bool Engine::StartWatching(const std::vector<std::string>& folders, WatchOptions options) {
  StopWatching();
  FolderWatcher::Options watch;
  watch.settle = options.settle;
  watch.extensions = kDroppedFolderExtensions;
  try {
    watcher_ = std::make_unique<FolderWatcher>(watch);
  } catch (const std::exception& failure) {
    ui_.ShowErrorMessage(failure.what());
    return false;
  }
  const auto now = FolderWatcher::Clock::now();
  for (const std::string& folder : folders) watcher_->AddRoot(folder, now, options.takeExisting);
  watchOptions_ = std::move(options);
  for (const std::string& notice : watcher_->TakeNotices()) ui_.ShowErrorMessage(notice);
  if (watcher_->rootCount() == 0) {
    watcher_.reset();
    return false;
  }
  return true;
}

void Engine::StopWatching() {
  watcher_.reset();
  watchReady_.clear();
  watchSkipped_.clear();
  watchOutage_ = {};
}

void Engine::AddWatchReady(std::vector<std::string> paths, bool first) {
  std::vector<std::string> fresh;
  for (std::string& path : paths) {
    if (std::find(watchReady_.begin(), watchReady_.end(), path) == watchReady_.end() &&
        std::find(fresh.begin(), fresh.end(), path) == fresh.end())
      fresh.push_back(std::move(path));
  }
  watchReady_.insert(first ? watchReady_.begin() : watchReady_.end(), fresh.begin(), fresh.end());
}

void Engine::AddWatchFiles(const std::vector<std::string>& paths) {
  DroppedFiles list;
  list.Drop(paths, winamp_.winePrefix);
  AddWatchReady(list.rows(), false);
  watchSkipped_.insert(watchSkipped_.end(), list.skipped().begin(), list.skipped().end());
}

void Engine::NoteWatchOutage(const std::string& reason) {
  const bool began = !watchOutage_.active;
  watchOutage_.active = true;
  watchOutage_.delay = began
                           ? std::chrono::steady_clock::duration(kFirstOutageWait)
                           : std::min<std::chrono::steady_clock::duration>(watchOutage_.delay * 2, kLongestOutageWait);
  watchOutage_.retryAt = std::chrono::steady_clock::now() + watchOutage_.delay;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(watchOutage_.delay).count();
  const std::string waiting = std::to_string(watchReady_.size()) + " file(s) wait";
  ShowStatus("The service cannot be reached (" + reason + "); " + waiting + ", next try in " + std::to_string(seconds) +
             " s");
  if (!began) return;
  // Said once per outage, not at every try: the Status tab keeps it, a hidden window shows it from the tray.
  watchOutage_.notice = "The service cannot be reached; " + waiting + " and go as soon as it answers again.";
  upload_.Announce({"Velmora Online cannot be reached", watchOutage_.notice, true});
}

std::optional<std::chrono::milliseconds> Engine::WatchTimeout() const {
  if (!watcher_) return std::nullopt;
  // Files of a run that could not reach the service are taken back at once.
  if (upload_.HasHeldBack()) return std::chrono::milliseconds(0);
  std::optional<std::chrono::milliseconds> wait;
  if (const auto deadline = watcher_->NextDeadline()) {
    wait = std::max(std::chrono::ceil<std::chrono::milliseconds>(*deadline - FolderWatcher::Clock::now()),
                    std::chrono::milliseconds(0));
  }
  // What the watcher left out, with no file waiting to settle, makes a run of its own soon.
  if (!watchSkipped_.empty() || (watcher_->hasSkipped() && watcher_->pendingCount() == 0)) {
    wait = wait ? std::min(*wait, std::chrono::milliseconds(1000)) : std::chrono::milliseconds(1000);
  }
  if (watchReady_.empty()) return wait;
  // Settled files wait for the engine to finish what it does (look again now and then), or for
  // the next try at the service.
  std::chrono::milliseconds ready(1000);
  if (watchOutage_.active) {
    ready =
        std::max(std::chrono::ceil<std::chrono::milliseconds>(watchOutage_.retryAt - std::chrono::steady_clock::now()),
                 std::chrono::milliseconds(0));
  }
  return wait ? std::min(*wait, ready) : ready;
}

bool Engine::OnWatchEvents() {
  if (!watcher_) return false;
  const auto now = FolderWatcher::Clock::now();
  if (upload_.HasHeldBack() && !upload_.LoopActive()) {
    AddWatchReady(upload_.TakeHeldBack(), true);
    NoteWatchOutage(upload_.heldBackReason());
  }
  watcher_->ReadEvents(now);
  AddWatchReady(watcher_->TakeSettled(now), false);
  // A message box runs the window's event loop, which may stop the watch: the notices are taken first.
  for (const std::string& notice : watcher_->TakeNotices()) ui_.ShowErrorMessage(notice);
  // What the watcher left out goes with the next files; with none waiting to settle, in a run
  // of its own.
  if (watchReady_.empty() && watchSkipped_.empty() && (!watcher_->hasSkipped() || watcher_->pendingCount() > 0))
    return false;
  if (watchOutage_.active && std::chrono::steady_clock::now() < watchOutage_.retryAt) return false;
  // A run, an analysis or a stopped run's queue comes first; the files wait for it.
  if (CurrentActivity() != Activity::Idle || upload_.queue().QueueCount() > 0) return false;
  DroppedFiles batch;
  for (const std::string& path : watchReady_) batch.AddDroppedFile(path);
  for (const SkippedFile& file : std::exchange(watchSkipped_, {})) batch.AddSkipped(file.path, file.reason);
  for (const SkippedFile& file : watcher_->TakeSkipped()) batch.AddSkipped(file.path, file.reason);
  std::vector<std::string> taken = std::exchange(watchReady_, {});
  if (!batch.rows().empty()) ShowStatus("New files in the watched folders: " + std::to_string(batch.rows().size()));
  ActivityScope activity = BeginActivity(Activity::Analysing);
  if (!activity) {
    AddWatchReady(std::move(taken), true);
    return false;
  }
  try {
    const bool started = AnalyzeAndUploadList(batch, watchOptions_.playlist, activity, true);
    // The service answered the duplicate check: whatever waited is on its way.
    if (started && watchOutage_.active) {
      watchOutage_ = {};
      ShowStatus("The service answers again");
    }
    return started;
  } catch (const ServiceUnreachable& failure) {
    AddWatchReady(std::move(taken), true);
    NoteWatchOutage(failure.what());
    return false;
  }
}

} // namespace velmora
