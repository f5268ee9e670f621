#include "sources/PlaylistReader.h"

#include "base/WinePrefix.h"
#include "sources/SkipReasons.h"

#include <algorithm>
#include <filesystem>

namespace velmora {
namespace {

bool IsUrl(const std::string& entry) { return entry.find("://") != std::string::npos; }

} // namespace

std::string PlaylistReader::PlaylistFolder(const std::string& playlistPath) {
  return std::filesystem::path(playlistPath).parent_path().string();
}

std::vector<std::string> PlaylistReader::SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t stop = text.find_first_of("\r\n", i);
    const std::size_t end = stop == std::string::npos ? text.size() : stop;
    lines.push_back(text.substr(i, end - i));
    if (stop == std::string::npos) break;
    i = stop + ((text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::optional<std::string> PlaylistReader::ResolveEntry(const std::string& playlistFolder, const std::string& entry,
                                                        const std::filesystem::path& winePrefix) {
  if (entry.empty() || IsUrl(entry)) return std::nullopt;
  std::filesystem::path resolved;
  if (wine::IsWindowsDrivePath(entry)) {
    resolved = wine::ToLocalPath(winePrefix.empty() ? wine::DefaultPrefix() : winePrefix, entry);
  } else {
    std::string path = entry;
    std::replace(path.begin(), path.end(), '\\', '/');
    resolved = path;
    if (resolved.is_relative()) resolved = std::filesystem::path(playlistFolder) / resolved;
  }
  // "./" and "../" parts would make the same file look like two rows of the file list.
  return resolved.lexically_normal().string();
}

std::vector<std::string> PlaylistReader::Entries(const std::string& playlistPath) const {
  std::vector<std::string> texts;
  for (Entry& entry : ReadEntries(playlistPath)) texts.push_back(std::move(entry.text));
  return texts;
}

std::vector<std::string> PlaylistReader::ExistingFiles(const std::string& playlistPath) const {
  return Resolve(playlistPath).files;
}

PlaylistReader::Resolved PlaylistReader::Resolve(const std::string& playlistPath) const {
  Resolved result;
  const std::string folder = PlaylistFolder(playlistPath);
  for (const Entry& entry : ReadEntries(playlistPath)) {
    const auto path = ResolveEntry(folder, entry.text, winePrefix_);
    std::error_code error;
    if (path && std::filesystem::is_regular_file(*path, error)) {
      result.files.push_back(*path);
    } else if (entry.namesFile && !entry.text.empty()) {
      const std::string why = path ? NotRegularFileReason(*path) : "not a local file";
      result.skipped.push_back({path ? *path : entry.text, NamedByPlaylist(why, playlistPath)});
    }
  }
  return result;
}

} // namespace velmora
