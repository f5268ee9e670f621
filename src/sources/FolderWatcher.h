#pragma once
// Follows folders and everything below them through inotify, folders created or moved in later
// included, and hands out the supported files that were created, changed or moved in once they
// have stayed unchanged for the settle time. Nothing here runs by itself: the owner waits on fd()
// (poll, a socket notifier), calls ReadEvents when it is readable and TakeSettled when
// NextDeadline has come. With nothing waiting to settle there is no deadline, so an idle watcher
// costs no wake-ups at all.
//
// Where events cannot be had (the system's limit of watched folders reached, or the kernel's event
// queue overflowed) the tree is scanned instead: files whose modification or status-change time
// is newer than the last look are taken, after settling like any other.

#include "model/MediaItem.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace velmora {

class FolderWatcher {
public:
  using Clock = std::chrono::steady_clock;

  struct Options {
    // How long a file must stay unchanged (no event, same size and modification time).
    std::chrono::milliseconds settle{std::chrono::seconds(10)};
    // While a part of the tree has no watch: how often the whole tree is scanned for changes.
    std::chrono::milliseconds rescanInterval{std::chrono::minutes(3)};
    // Files taken: names ending in one of these (lower case, with the dot). Hidden names (".x")
    // are never taken and hidden folders never entered.
    std::vector<std::string> extensions;
    // At most this many folders get a watch, as if the system's limit were reached there; 0 for
    // the system's own limit. Lets tests see the scanning fallback.
    std::size_t watchLimit = 0;
  };

  // Throws std::runtime_error when the system gives no inotify instance.
  explicit FolderWatcher(Options options);
  ~FolderWatcher();
  FolderWatcher(const FolderWatcher&) = delete;
  FolderWatcher& operator=(const FolderWatcher&) = delete;

  // Follows `folder` (an absolute path) and every folder below it. The files already there are
  // taken (after settling) only when `takeExisting`. False, with a notice, when it is no folder
  // that can be watched.
  bool AddRoot(const std::string& folder, Clock::time_point now, bool takeExisting = false);

  // The inotify descriptor: readable when events wait for ReadEvents. Non-blocking.
  int fd() const { return fd_; }
  // Reads every waiting event: new and changed files start (again) to settle, new folders are
  // followed and their files taken, folders moved away are forgotten.
  void ReadEvents(Clock::time_point now);
  // When TakeSettled has something to do next: the first settle deadline or the next scan.
  // Nothing while no file waits and every folder has its watch.
  std::optional<Clock::time_point> NextDeadline() const;
  // The files that have stayed unchanged for the settle time, in path order; each is handed out
  // once per change. A file that has gone is dropped; one that changed starts to settle again.
  // Runs a scan when one is due.
  std::vector<std::string> TakeSettled(Clock::time_point now);
  // Messages for the user since the last call: the watch limit reached (and how to raise it), a
  // watched folder removed or renamed, lost events.
  std::vector<std::string> TakeNotices();
  // What the watcher found and left out since the last call, each with its reason: folders it
  // cannot read, links to folders (never followed below a watched folder), entries with a taken
  // name that are no regular file. Only walks that take every file (a new folder, the first walk
  // with takeExisting) and new entries report; the next run's report lists them.
  std::vector<SkippedFile> TakeSkipped();
  bool hasSkipped() const { return !skipped_.empty(); }

  // Watched folders given to AddRoot that still exist under their name.
  std::size_t rootCount() const { return roots_.size(); }
  // Folders that have a watch.
  std::size_t watchCount() const { return folders_.size(); }
  // Files waiting to settle.
  std::size_t pendingCount() const { return pending_.size(); }
  // Whether some folder has no watch and the tree is scanned every rescanInterval instead.
  bool scanning() const { return scanning_; }

private:
  struct Pending {
    Clock::time_point due;
    std::int64_t size = -1;
    std::int64_t modifiedNs = -1;
  };
  // Which files of a walked tree are taken: none, all, or those changed since a moment
  // (nanoseconds of the real-time clock).
  struct TakeFiles {
    bool any = false;
    std::int64_t sinceNs = -1; // -1: every supported file when `any`
  };

  void WatchTree(const std::string& folder, Clock::time_point now, TakeFiles take);
  // Adds a watch for one folder; false when the folder gets none.
  bool WatchFolder(const std::string& folder, bool isRoot);
  void ForgetTree(const std::string& folder);
  void Offer(const std::string& path, Clock::time_point now);
  bool Takes(const std::string& name) const;
  // Looks at the whole tree: files changed since `sinceNs` are taken, folders without a watch get
  // one if the system allows it now, roots that are gone are reported.
  void Rescan(Clock::time_point now, std::int64_t sinceNs);
  void EnterScanning();
  void HandleEvent(int wd, std::uint32_t mask, const std::string& name, Clock::time_point now);

  Options options_;
  int fd_ = -1;
  std::unordered_map<int, std::string> folders_;   // watch -> folder
  std::unordered_map<std::string, int> watchOf_;   // folder -> watch
  std::vector<std::pair<std::string, int>> roots_; // folder, watch
  std::unordered_map<std::string, Pending> pending_;
  // Folders walked without getting a watch; during a scan, those the previous walks found. A
  // folder in neither this nor watchOf_ is new to a scan.
  std::unordered_set<std::string> unwatched_, unwatchedBefore_;
  std::vector<std::string> notices_;
  std::vector<SkippedFile> skipped_;
  bool scanning_ = false;
  bool limitReported_ = false;
  bool limitHitInWalk_ = false;
  Clock::time_point nextScan_{};
  // Real time (ns) when the last complete read of events began, and when the last scan began.
  std::int64_t lastReadNs_ = 0;
  std::int64_t lastScanNs_ = 0;
};

} // namespace velmora
