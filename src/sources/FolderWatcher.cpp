#include "sources/FolderWatcher.h"

#include "base/Text.h"
#include "sources/SkipReasons.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace velmora {
namespace {

// Everything that can bring a file in or change it, and the folder's own end. Attribute changes
// are left out: they do not change what would be sent.
constexpr std::uint32_t kFolderEvents =
    IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Time stamps of some file systems are coarse, and a file may change in the same instant a look
// starts: a scan also takes what changed shortly before the last look.
constexpr std::int64_t kScanMarginNs = 2'000'000'000;

std::int64_t RealNowNs() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int64_t Ns(const timespec& time) { return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec; }

std::string SystemWatchLimit() {
  std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
  std::string value;
  if (in >> value) return value;
  return "unknown";
}

bool IsUnder(const std::string& path, const std::string& folder) {
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

std::string Minutes(std::chrono::milliseconds interval) {
  const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(interval).count();
  if (minutes >= 1) return std::to_string(minutes) + " minute(s)";
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(interval).count()) + " second(s)";
}

} // namespace

FolderWatcher::FolderWatcher(Options options) : options_(std::move(options)) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    throw std::runtime_error(std::string("Cannot watch folders: ") + std::strerror(errno) +
                             (errno == EMFILE ? " (raise fs.inotify.max_user_instances)" : ""));
  }
  lastReadNs_ = RealNowNs();
}

FolderWatcher::~FolderWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderWatcher::AddRoot(const std::string& folder, Clock::time_point now, bool takeExisting) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    notices_.push_back("Cannot watch " + folder + ": it is no folder");
    return false;
  }
  const std::size_t noticesBefore = notices_.size();
  WatchTree(folder, now, {takeExisting, -1});
  const auto watch = watchOf_.find(folder);
  if (watch == watchOf_.end() && !scanning_) {
    if (notices_.size() == noticesBefore) notices_.push_back("Cannot watch the folder " + folder);
    return false;
  }
  roots_.emplace_back(folder, watch == watchOf_.end() ? -1 : watch->second);
  return true;
}

void FolderWatcher::WatchTree(const std::string& folder, Clock::time_point now, TakeFiles tree) {
  std::vector<std::pair<std::string, TakeFiles>> stack{{folder, tree}};
  while (!stack.empty()) {
    auto [current, take] = std::move(stack.back());
    stack.pop_back();
    const bool known = watchOf_.count(current) != 0 || unwatchedBefore_.count(current) != 0;
    if (!WatchFolder(current, current == folder)) unwatched_.insert(current);
    // A folder a scan has not seen before was created or moved in since: a moved-in folder's
    // files keep the times they had elsewhere, so all of them are taken.
    if (take.sinceNs >= 0 && !known) take = {true, -1};
    // Only a walk that takes every file names what it leaves out; a rescan would name it again.
    const bool report = take.any && take.sinceNs < 0;
    DIR* listing = ::opendir(current.c_str());
    if (!listing) {
      // Gone meanwhile: nothing to say. Not readable: nothing in it can be taken, the rest can.
      if (report && errno != ENOENT) skipped_.push_back({current, UnreadableFolderReason(errno)});
      continue;
    }
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.empty() || name[0] == '.') continue;
      const std::string path = current + "/" + name;
      unsigned char type = entry->d_type;
      struct stat info {};
      if (type == DT_UNKNOWN && ::lstat(path.c_str(), &info) == 0) {
        type = S_ISDIR(info.st_mode)   ? DT_DIR
               : S_ISLNK(info.st_mode) ? DT_LNK
               : S_ISREG(info.st_mode) ? DT_REG
                                       : DT_FIFO;
      }
      // Links to folders are not followed: they could lead out of the tree or around in it.
      if (type == DT_DIR) {
        stack.emplace_back(path, take);
        continue;
      }
      if (report && type == DT_LNK && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        skipped_.push_back({path, kFolderLinkNotFollowed});
        continue;
      }
      if (!take.any || !Takes(name)) continue;
      if (report && type != DT_REG && (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
        skipped_.push_back({path, NotRegularFileReason(path)});
        continue;
      }
      if (take.sinceNs >= 0) {
        if (::stat(path.c_str(), &info) != 0) continue;
        if (std::max(Ns(info.st_mtim), Ns(info.st_ctim)) < take.sinceNs) continue;
      }
      Offer(path, now);
    }
    ::closedir(listing);
  }
}

bool FolderWatcher::WatchFolder(const std::string& folder, bool isRoot) {
  if (watchOf_.count(folder)) return true;
  int wd = -1;
  if (options_.watchLimit != 0 && folders_.size() >= options_.watchLimit) {
    errno = ENOSPC;
  } else {
    wd = ::inotify_add_watch(fd_, folder.c_str(), kFolderEvents | (isRoot ? 0u : IN_DONT_FOLLOW));
  }
  if (wd < 0) {
    if (errno == ENOSPC) {
      EnterScanning();
    } else if (errno != ENOENT && errno != ENOTDIR) {
      notices_.push_back("Cannot watch the folder " + folder + ": " + std::strerror(errno));
    }
    return false;
  }
  folders_[wd] = folder;
  watchOf_[folder] = wd;
  return true;
}

void FolderWatcher::EnterScanning() {
  limitHitInWalk_ = true;
  if (!scanning_) {
    scanning_ = true;
    nextScan_ = Clock::now() + options_.rescanInterval;
    lastScanNs_ = RealNowNs();
  }
  if (limitReported_) return;
  limitReported_ = true;
  notices_.push_back(
      "The system's limit of watched folders (fs.inotify.max_user_watches = " + SystemWatchLimit() +
      ") is reached: not every folder can be followed as it changes. The watched folders are scanned for new "
      "files every " +
      Minutes(options_.rescanInterval) +
      " instead. To raise the limit: sudo sysctl fs.inotify.max_user_watches=524288 (to keep it, put "
      "fs.inotify.max_user_watches=524288 into a file in /etc/sysctl.d/).");
}

void FolderWatcher::ForgetTree(const std::string& folder) {
  for (auto it = watchOf_.begin(); it != watchOf_.end();) {
    if (it->first == folder || IsUnder(it->first, folder)) {
      ::inotify_rm_watch(fd_, it->second);
      folders_.erase(it->second);
      it = watchOf_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = pending_.begin(); it != pending_.end();) {
    it = IsUnder(it->first, folder) ? pending_.erase(it) : std::next(it);
  }
  std::erase_if(unwatched_, [&](const std::string& path) { return path == folder || IsUnder(path, folder); });
  std::erase_if(roots_, [&](const auto& root) { return root.first == folder || IsUnder(root.first, folder); });
}

bool FolderWatcher::Takes(const std::string& name) const {
  if (name.empty() || name[0] == '.') return false;
  const std::string lower = AsciiLower(name);
  return std::any_of(options_.extensions.begin(), options_.extensions.end(), [&](const std::string& ext) {
    return lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
  });
}

void FolderWatcher::Offer(const std::string& path, Clock::time_point now) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    pending_.erase(path);
    return;
  }
  pending_[path] = {now + options_.settle, static_cast<std::int64_t>(info.st_size), Ns(info.st_mtim)};
}

void FolderWatcher::ReadEvents(Clock::time_point now) {
  const std::int64_t readStart = RealNowNs();
  bool overflow = false;
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t length = ::read(fd_, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) break;
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        overflow = true;
        continue;
      }
      HandleEvent(event->wd, event->mask, event->len ? std::string(event->name) : std::string(), now);
    }
  }
  if (overflow) {
    // Events were lost: whatever changed since the last complete read is found by looking.
    Rescan(now, lastReadNs_ - kScanMarginNs);
  }
  lastReadNs_ = readStart;
}

void FolderWatcher::HandleEvent(int wd, std::uint32_t mask, const std::string& name, Clock::time_point now) {
  const auto known = folders_.find(wd);
  if (known == folders_.end()) return; // a watch already forgotten
  const std::string folder = known->second;
  const bool isRoot = std::any_of(roots_.begin(), roots_.end(), [&](const auto& root) { return root.second == wd; });
  if (mask & IN_IGNORED) {
    folders_.erase(wd);
    if (auto it = watchOf_.find(folder); it != watchOf_.end() && it->second == wd) watchOf_.erase(it);
    if (isRoot) ForgetTree(folder);
    return;
  }
  if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
    // A folder below a root that moves away is forgotten through its parent's "moved from".
    if (!isRoot) return;
    const char* what = (mask & IN_MOVE_SELF) ? "was moved or renamed"
                       : (mask & IN_UNMOUNT) ? "is on a file system that was unmounted"
                                             : "was removed";
    notices_.push_back("The watched folder " + folder + " " + what + "; it is no longer watched.");
    ForgetTree(folder);
    return;
  }
  if (name.empty() || name[0] == '.') return;
  const std::string path = folder + "/" + name;
  if (mask & IN_ISDIR) {
    if (mask & (IN_CREATE | IN_MOVED_TO)) WatchTree(path, now, {true, -1});
    else if (mask & IN_MOVED_FROM) ForgetTree(path);
    return;
  }
  if (mask & IN_MOVED_FROM) {
    pending_.erase(path);
    return;
  }
  if (mask & (IN_CREATE | IN_MOVED_TO)) {
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
      skipped_.push_back({path, kFolderLinkNotFollowed}); // a folder itself comes with IN_ISDIR
      return;
    }
    // Created and gone again before this event was read: nothing to name.
    if (Takes(name) && exists && !S_ISREG(info.st_mode)) {
      skipped_.push_back({path, NotRegularFileReason(path)});
      return;
    }
  }
  if (Takes(name)) Offer(path, now);
}

void FolderWatcher::Rescan(Clock::time_point now, std::int64_t sinceNs) {
  limitHitInWalk_ = false;
  // What this scan finds without a watch replaces what the last one found.
  unwatchedBefore_ = std::exchange(unwatched_, {});
  const auto roots = roots_;
  for (const auto& [root, wd] : roots) {
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      notices_.push_back("The watched folder " + root + " is gone; it is no longer watched.");
      ForgetTree(root);
      continue;
    }
    WatchTree(root, now, {true, sinceNs});
  }
  unwatchedBefore_.clear();
  if (scanning_ && !limitHitInWalk_) {
    scanning_ = false;
    limitReported_ = false;
    notices_.push_back("Every watched folder is followed as it changes again.");
  }
}

std::optional<FolderWatcher::Clock::time_point> FolderWatcher::NextDeadline() const {
  std::optional<Clock::time_point> next;
  if (scanning_) next = nextScan_;
  for (const auto& entry : pending_) {
    if (!next || entry.second.due < *next) next = entry.second.due;
  }
  return next;
}

std::vector<std::string> FolderWatcher::TakeSettled(Clock::time_point now) {
  if (scanning_ && now >= nextScan_) {
    const std::int64_t scanStart = RealNowNs();
    Rescan(now, lastScanNs_ - kScanMarginNs);
    lastScanNs_ = scanStart;
    nextScan_ = now + options_.rescanInterval;
  }
  std::vector<std::string> settled;
  for (auto it = pending_.begin(); it != pending_.end();) {
    Pending& file = it->second;
    if (file.due > now) {
      ++it;
      continue;
    }
    struct stat info {};
    if (::stat(it->first.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      it = pending_.erase(it); // deleted before it settled: nothing to do
      continue;
    }
    const auto size = static_cast<std::int64_t>(info.st_size);
    if (size != file.size || Ns(info.st_mtim) != file.modifiedNs) {
      // Changed without an event (a folder without a watch): it settles from now.
      file = {now + options_.settle, size, Ns(info.st_mtim)};
      ++it;
      continue;
    }
    settled.push_back(it->first);
    it = pending_.erase(it);
  }
  std::sort(settled.begin(), settled.end());
  return settled;
}

std::vector<std::string> FolderWatcher::TakeNotices() { return std::exchange(notices_, {}); }

std::vector<SkippedFile> FolderWatcher::TakeSkipped() { return std::exchange(skipped_, {}); }

} // namespace velmora
