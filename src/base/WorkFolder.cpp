#include "base/WorkFolder.h"

#include "base/FileLock.h"
#include "base/SystemFacts.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRunFolderPrefix = "tmp_run-";

fs::path CacheHome() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / ".cache";
  throw std::runtime_error("Cannot find the work folder: neither XDG_CACHE_HOME nor HOME is set");
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

[[noreturn]] void Fail(const std::string& what, const fs::path& path, int error) {
  throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(error));
}

// The run folder this process holds. The work folder can move between calls (tests point
// XDG_CACHE_HOME elsewhere); a new run folder is then made in the new place.
class HeldRunFolder {
public:
  ~HeldRunFolder() { Release(); }

  std::string Get() {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string work = WorkFolder();
    if (lock_ && work == work_ && lock_->Names(path_)) return path_.string() + "/";
    Release();
    for (int attempt = 0;; ++attempt) {
      const fs::path path = fs::path(work) / (kRunFolderPrefix + std::to_string(::getpid()) + "-" + NewGuidString());
      if (::mkdir(path.c_str(), 0700) != 0) {
        if (errno == EEXIST && attempt < 100) continue;
        Fail("Cannot create a folder in the work folder", path, errno);
      }
      // A clean-up of another program may remove the new folder before it is locked.
      if (std::optional<FileLock> lock = FileLock::TakeNew(path)) {
        lock_ = std::move(lock);
        work_ = work;
        path_ = path;
        owner_ = ::getpid();
        return path_.string() + "/";
      }
      if (attempt >= 100) throw std::runtime_error("Cannot take a folder in the work folder " + work);
    }
  }

private:
  void Release() {
    // A child of a fork that exits normally must not remove its parent's folder.
    if (lock_ && owner_ == ::getpid()) {
      std::error_code ignored;
      fs::remove_all(path_, ignored);
    }
    lock_.reset();
    path_.clear();
  }

  std::mutex mutex_;
  std::optional<FileLock> lock_;
  std::string work_;
  fs::path path_;
  pid_t owner_ = 0;
};

HeldRunFolder& Held() {
  static HeldRunFolder held;
  return held;
}

void RemoveTmpFilesBelow(const fs::path& folder, std::vector<fs::path>& found) {
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error)) continue;
    if (StartsWith(it->path().filename().string(), "tmp_")) found.push_back(it->path());
  }
}

// A temporary name in the run folder for a file that is about to be renamed into place.
std::pair<int, fs::path> NewTemporaryFile(const std::string& name) {
  std::string pattern = RunFolder() + "." + name + ".XXXXXX";
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) Fail("Cannot write", pattern, errno);
  return {fd, fs::path(pattern)};
}

void WriteWhole(int fd, const std::string& text, const fs::path& path) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      Fail("Cannot write", path, error);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) Fail("Cannot write", path, errno);
}

void RenameInto(const fs::path& temporary, const fs::path& file) {
  if (::rename(temporary.c_str(), file.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    Fail("Cannot write", file, error);
  }
}

} // namespace

std::string WorkFolder() {
  const fs::path folder = CacheHome() / "VLUploader";
  std::error_code error;
  fs::create_directories(folder.parent_path(), error);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("Cannot create the work folder " + folder.string() + ": " + std::strerror(errno));
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw std::runtime_error("The work folder " + folder.string() + " is not a folder");
  }
  if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
    throw std::runtime_error("The work folder " + folder.string() + " is not writable: " + std::strerror(errno));
  }
  if ((info.st_mode & 0777) != 0700) ::chmod(folder.c_str(), 0700);
  return folder.string() + "/";
}

std::string RunFolder() { return Held().Get(); }

void CleanWorkFolder() {
  const fs::path own = fs::path(RunFolder()).parent_path();
  const fs::path root = WorkFolder();
  std::vector<fs::path> found;
  std::vector<fs::path> runFolders;
  std::error_code error;
  for (fs::directory_iterator it(root, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code typeError;
    if (it->is_directory(typeError) && !it->is_symlink(typeError)) {
      if (it->path() == own) RemoveTmpFilesBelow(own, found);
      else if (StartsWith(name, kRunFolderPrefix)) runFolders.push_back(it->path());
      else RemoveTmpFilesBelow(it->path(), found);
    } else if (StartsWith(name, "tmp_")) {
      found.push_back(it->path());
    }
  }
  for (const auto& path : found) fs::remove(path, error);
  // A program that ended without removing its run folder (killed) no longer holds its lock.
  for (const auto& folder : runFolders) {
    FileLock::RemoveUnlessHeld(folder, [](const fs::path& path) {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    });
  }
}

std::string WriteExchangeFile(const std::string& name, const std::string& text) {
  const fs::path own = fs::path(RunFolder()) / name;
  auto [fd, temporary] = NewTemporaryFile(name); // mode 0600
  try {
    WriteWhole(fd, text, own);
  } catch (...) {
    ::unlink(temporary.c_str());
    throw;
  }
  RenameInto(temporary, own);
  PublishExchangeFile(own.string(), name);
  return own.string();
}

void PublishExchangeFile(const std::string& file, const std::string& name) {
  const fs::path shared = fs::path(WorkFolder()) / name;
  // A second name for the same bytes; nothing ever writes into an exchange file in place.
  auto [fd, temporary] = NewTemporaryFile(name);
  ::close(fd);
  ::unlink(temporary.c_str());
  if (::link(file.c_str(), temporary.c_str()) != 0) {
    std::error_code error;
    if (!fs::copy_file(file, temporary, fs::copy_options::overwrite_existing, error)) {
      ::unlink(temporary.c_str());
      Fail("Cannot write", shared, error.value());
    }
  }
  RenameInto(temporary, shared);
}

} // namespace velmora
