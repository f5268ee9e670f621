#include "sources/FolderSearch.h"
#include "base/Text.h"
#include "sources/SkipReasons.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <utility>

namespace fs = std::filesystem;

namespace velmora {
namespace {

bool MatchesExtension(const std::string& name, const std::vector<std::string>& extensions) {
  const std::string lower = AsciiLower(name);
  return std::any_of(extensions.begin(), extensions.end(), [&](const std::string& ext) {
    return lower.size() >= ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
  });
}

} // namespace

FolderSearchResult SearchFolder(const std::string& folder, const std::vector<std::string>& extensions) {
  FolderSearchResult result;
  // Links to folders are not followed, but a bind mount can still lead back up the tree.
  std::set<std::pair<dev_t, ino_t>> visited;
  // Folders still to search, the next one last.
  std::vector<fs::path> pending{fs::path(folder)};

  while (!pending.empty()) {
    const fs::path current = std::move(pending.back());
    pending.pop_back();
    struct stat info {};
    if (::stat(current.c_str(), &info) != 0) {
      result.skipped.push_back({current.string(), UnreadableFolderReason(errno)});
      continue;
    }
    if (!visited.insert({info.st_dev, info.st_ino}).second) continue;

    std::error_code error;
    fs::directory_iterator it(current, error);
    if (error) {
      result.skipped.push_back({current.string(), UnreadableFolderReason(error.value())});
      continue;
    }
    std::vector<fs::path> subfolders;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      const fs::path& entry = it->path();
      const std::string name = entry.filename().string();
      if (name.empty() || name[0] == '.') continue;
      // The listing's own entry type, not a look at the path: a folder whose path is longer than
      // the system allows must still be met, so that it is named when it cannot be read.
      std::error_code kindError;
      const bool link = it->is_symlink(kindError);
      if (!link && it->is_directory(kindError)) {
        subfolders.push_back(entry);
        continue;
      }
      if (link && it->is_directory(kindError)) {
        result.skipped.push_back({entry.string(), kFolderLinkNotFollowed});
        continue;
      }
      if (!MatchesExtension(name, extensions)) continue;
      if (it->is_regular_file(kindError)) result.files.push_back(entry.string());
      else result.skipped.push_back({entry.string(), NotRegularFileReason(entry.string())});
    }
    // What was listed before the listing broke off is kept; the folder is named as not read whole.
    if (error) result.skipped.push_back({current.string(), UnreadableFolderReason(error.value())});
    pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
  }
  return result;
}

} // namespace velmora
