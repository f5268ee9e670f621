// Watched folders: the watcher finds files that are new, changed or moved in, and each batch that
// has settled goes through the drop's steps inside the one activity guard, as a drop on the
// window followed by "Analyze and upload" would.

#include "app/Engine.h"

#include <algorithm>

namespace velmora {

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
}

std::optional<std::chrono::milliseconds> Engine::WatchTimeout() const {
  if (!watcher_) return std::nullopt;
  // Settled files wait for the engine to finish what it does; look again now and then.
  if (!watchReady_.empty() || (watcher_->hasSkipped() && watcher_->pendingCount() == 0)) return std::chrono::seconds(1);
  const auto deadline = watcher_->NextDeadline();
  if (!deadline) return std::nullopt;
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - FolderWatcher::Clock::now());
  return std::max(wait, std::chrono::milliseconds(0));
}

bool Engine::OnWatchEvents() {
  if (!watcher_) return false;
  const auto now = FolderWatcher::Clock::now();
  watcher_->ReadEvents(now);
  for (std::string& path : watcher_->TakeSettled(now)) {
    if (std::find(watchReady_.begin(), watchReady_.end(), path) == watchReady_.end())
      watchReady_.push_back(std::move(path));
  }
  // A message box runs the window's event loop, which may stop the watch: the notices are taken first.
  for (const std::string& notice : watcher_->TakeNotices()) ui_.ShowErrorMessage(notice);
  // What the watcher left out goes with the next files; with none waiting to settle, in a run
  // of its own.
  if (watchReady_.empty() && (!watcher_->hasSkipped() || watcher_->pendingCount() > 0)) return false;
  // A run, an analysis or a stopped run's queue comes first; the files wait for it.
  if (CurrentActivity() != Activity::Idle || upload_.queue().QueueCount() > 0) return false;
  DroppedFiles batch;
  for (const std::string& path : watchReady_) batch.AddDroppedFile(path);
  for (const SkippedFile& file : watcher_->TakeSkipped()) batch.AddSkipped(file.path, file.reason);
  watchReady_.clear();
  if (!batch.rows().empty()) ShowStatus("New files in the watched folders: " + std::to_string(batch.rows().size()));
  ActivityScope activity = BeginActivity(Activity::Analysing);
  if (!activity) return false;
  return AnalyzeAndUploadList(batch, watchOptions_.playlist, activity);
}

} // namespace velmora
