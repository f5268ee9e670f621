#include "sources/PlaylistReader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace velmora {
namespace {

bool IsUrl(const std::string& entry) { return entry.find("://") != std::string::npos; }

bool IsDriveLetterPath(const std::string& entry) {
  return entry.size() >= 2 && std::isalpha(static_cast<unsigned char>(entry[0])) && entry[1] == ':';
}

} // namespace

std::string PlaylistReader::PlaylistFolder(const std::string& playlistPath) {
  return std::filesystem::path(playlistPath).parent_path().string();
}

std::optional<std::string> PlaylistReader::ResolveEntry(const std::string& playlistFolder,
                                                        const std::string& entry) {
  if (entry.empty() || IsUrl(entry) || IsDriveLetterPath(entry)) return std::nullopt;
  std::string path = entry;
  std::replace(path.begin(), path.end(), '\\', '/');
  std::filesystem::path resolved(path);
  if (resolved.is_relative()) resolved = std::filesystem::path(playlistFolder) / resolved;
  // "./" and "../" parts would make the same file look like two rows of the file list.
  return resolved.lexically_normal().string();
}

std::vector<std::string> PlaylistReader::ExistingFiles(const std::string& playlistPath) const {
  std::vector<std::string> files;
  const std::string folder = PlaylistFolder(playlistPath);
  for (const std::string& entry : Entries(playlistPath)) {
    const auto path = ResolveEntry(folder, entry);
    std::error_code error;
    if (path && std::filesystem::is_regular_file(*path, error)) files.push_back(*path);
  }
  return files;
}

} // namespace velmora
