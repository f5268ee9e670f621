#include "app/WorkFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

std::filesystem::path CacheHome() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) return xdg;
  if (const char* home = std::getenv("HOME"); home && *home) return std::filesystem::path(home) / ".cache";
  throw std::runtime_error("Cannot find the work folder: neither XDG_CACHE_HOME nor HOME is set");
}

} // namespace

std::string WorkFolder() {
  const std::filesystem::path folder = CacheHome() / "VLUploader";
  std::error_code error;
  std::filesystem::create_directories(folder.parent_path(), error);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw std::runtime_error("Cannot create the work folder " + folder.string() + ": " +
                             std::strerror(errno));
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw std::runtime_error("The work folder " + folder.string() + " is not a folder");
  }
  if (::access(folder.c_str(), R_OK | W_OK | X_OK) != 0) {
    throw std::runtime_error("The work folder " + folder.string() + " is not writable: " +
                             std::strerror(errno));
  }
  if ((info.st_mode & 0777) != 0700) ::chmod(folder.c_str(), 0700);
  return folder.string() + "/";
}

void CleanWorkFolder() {
  namespace fs = std::filesystem;
  std::vector<fs::path> found;
  std::error_code error;
  fs::recursive_directory_iterator it(WorkFolder(), fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error)) continue;
    if (it->path().filename().string().rfind("tmp_", 0) == 0) found.push_back(it->path());
  }
  for (const auto& path : found) fs::remove(path, error);
}

} // namespace velmora
