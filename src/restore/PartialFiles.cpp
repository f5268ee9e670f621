#include "restore/PartialFiles.h"

#include "base/FileLock.h"
#include "base/SystemFacts.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmora {
namespace {

constexpr const char* kPartialPrefix = ".velmora-download-";
constexpr const char* kPartialSuffix = ".part";

// A new hidden file for a download beside its target, locked while this program writes it so
// that another program's clean-up leaves it alone.
std::pair<std::filesystem::path, FileLock> NewPartialFile(const std::filesystem::path& folder) {
  for (int attempt = 0;; ++attempt) {
    std::string pattern = (folder / (std::string(kPartialPrefix) + "XXXXXX" + kPartialSuffix)).string();
    const int fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0) {
      throw std::runtime_error("Cannot create a file in " + folder.string() + ": " + std::strerror(errno));
    }
    const mode_t mask = FileCreationMask();
    ::fchmod(fd, 0666 & ~mask);
    // Removed by a clean-up before it was locked: take another name.
    if (std::optional<FileLock> lock = FileLock::TakeNew(fd, pattern)) return {pattern, std::move(*lock)};
    if (attempt >= 100) throw std::runtime_error("Cannot create a file in " + folder.string());
  }
}

} // namespace

void DownloadThroughPartialFile(const std::filesystem::path& target, Sha1Stream& digest,
                                const std::function<void(const std::filesystem::path&, const BodyObserver&)>& get) {
  auto [partial, lock] = NewPartialFile(target.parent_path());
  try {
    get(partial, [&](const char* data, std::size_t size) { digest.Update(data, size); });
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    throw;
  }
  if (::rename(partial.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(partial.c_str());
    throw std::runtime_error("Cannot create the file " + target.string() + ": " + std::strerror(error));
  }
}

void RemoveLeftoverPartialFiles(const std::filesystem::path& target) {
  namespace fs = std::filesystem;
  std::vector<fs::path> folders{target};
  std::error_code error;
  for (fs::directory_iterator it(target, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    std::error_code typeError;
    if (it->is_directory(typeError) && !it->is_symlink(typeError)) folders.push_back(it->path());
  }
  for (const fs::path& folder : folders) {
    std::vector<fs::path> leftovers;
    std::error_code listError;
    for (fs::directory_iterator it(folder, listError); !listError && it != fs::directory_iterator();
         it.increment(listError)) {
      const std::string name = it->path().filename().string();
      std::error_code typeError;
      if (name.starts_with(kPartialPrefix) && name.ends_with(kPartialSuffix) && !it->is_symlink(typeError) &&
          it->is_regular_file(typeError)) {
        leftovers.push_back(it->path());
      }
    }
    for (const fs::path& leftover : leftovers) {
      FileLock::RemoveUnlessHeld(leftover, [](const fs::path& path) {
        std::error_code ignored;
        fs::remove(path, ignored);
      });
    }
  }
}

} // namespace velmora
