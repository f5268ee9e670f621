#pragma once
// An exclusive advisory lock (flock) on a file or folder that a program is still using. Programs
// of the user that run at the same time take one on their own temporary files; clean-ups remove
// only what no running program holds. The lock ends with the object or with the process, however
// it ends, so what a killed program held is free for the next clean-up.

#include <filesystem>
#include <functional>
#include <optional>

namespace velmora {

class FileLock {
public:
  FileLock() = default;
  ~FileLock();
  FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Locks what `fd` has open (taking the descriptor over), waiting while a clean-up holds it.
  // Nothing when `path` no longer names it afterwards: a clean-up removed it just after it was
  // created, and the caller creates another one.
  static std::optional<FileLock> TakeNew(int fd, const std::filesystem::path& path);
  // The same for a file or folder given by its path.
  static std::optional<FileLock> TakeNew(const std::filesystem::path& path);

  // Runs `remove` for `path`, under the lock, when no program holds it; true when it ran.
  static bool RemoveUnlessHeld(const std::filesystem::path& path,
                               const std::function<void(const std::filesystem::path&)>& remove);

  // Whether `path` still names what this lock holds.
  bool Names(const std::filesystem::path& path) const;

private:
  explicit FileLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

} // namespace velmora
