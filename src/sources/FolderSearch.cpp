#include "sources/FolderSearch.h"
#include "base/Text.h"

#include <sys/stat.h>

#include <algorithm>
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

// Identity of a folder, so that a link back to a parent does not search forever.
bool FolderIdentity(const fs::path& folder, std::pair<dev_t, ino_t>& identity) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return false;
  identity = {info.st_dev, info.st_ino};
  return true;
}

} // namespace

std::vector<std::string> SearchFolder(const std::string& folder, const std::vector<std::string>& extensions) {
  std::vector<std::string> found;
  std::set<std::pair<dev_t, ino_t>> visited;
  // Folders still to search, the next one last.
  std::vector<fs::path> pending{fs::path(folder)};

  while (!pending.empty()) {
    const fs::path current = std::move(pending.back());
    pending.pop_back();
    std::pair<dev_t, ino_t> identity;
    if (!FolderIdentity(current, identity)) return found;
    if (!visited.insert(identity).second) continue;

    std::error_code error;
    fs::directory_iterator it(current, error);
    if (error) return found;
    std::vector<fs::path> subfolders;
    for (; it != fs::directory_iterator(); it.increment(error)) {
      const fs::path& entry = it->path();
      const std::string name = entry.filename().string();
      if (name.empty() || name[0] == '.') continue;
      std::error_code kindError;
      if (it->is_directory(kindError)) {
        subfolders.push_back(entry);
      } else if (it->is_regular_file(kindError) && MatchesExtension(name, extensions)) {
        found.push_back(entry.string());
      }
    }
    if (error) return found;
    pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
  }
  return found;
}

} // namespace velmora
