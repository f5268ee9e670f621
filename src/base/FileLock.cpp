#include "base/FileLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

int LockRetrying(int fd, int operation) {
  int result;
  do result = ::flock(fd, operation);
  while (result != 0 && errno == EINTR);
  return result;
}

bool SameObject(int fd, const std::filesystem::path& path) {
  struct stat held {
  }, named{};
  return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

} // namespace

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

std::optional<FileLock> FileLock::TakeNew(int fd, const std::filesystem::path& path) {
  FileLock lock(fd);
  if (fd < 0 || LockRetrying(fd, LOCK_EX) != 0 || !SameObject(fd, path)) return std::nullopt;
  return lock;
}

std::optional<FileLock> FileLock::TakeNew(const std::filesystem::path& path) {
  return TakeNew(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW), path);
}

bool FileLock::RemoveUnlessHeld(const std::filesystem::path& path,
                                const std::function<void(const std::filesystem::path&)>& remove) {
  FileLock lock(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (lock.fd_ < 0 || LockRetrying(lock.fd_, LOCK_EX | LOCK_NB) != 0) return false;
  // Another clean-up may have removed it and a program created a new one under the same name.
  if (!SameObject(lock.fd_, path)) return false;
  remove(path);
  return true;
}

bool FileLock::Names(const std::filesystem::path& path) const { return fd_ >= 0 && SameObject(fd_, path); }

} // namespace velmora
