#include "sources/DroppedFiles.h"
#include "base/FileFacts.h"
#include "base/Text.h"

#include "model/FileOutcome.h"
#include "model/MediaLibraryFile.h"
#include "sources/FileMetadata.h"
#include "sources/FolderSearch.h"
#include "sources/M3uPlaylist.h"
#include "sources/PlsPlaylist.h"

#include <filesystem>

namespace velmora {

const std::vector<std::string> kDroppedFolderExtensions{".mp3", ".m4a", ".wma", ".ogg"};

void DroppedFiles::Drop(const std::vector<std::string>& paths, const std::filesystem::path& winePrefix) {
  for (const std::string& path : paths) {
    // Each test stands alone: a folder named like a playlist is searched as a folder too.
    const bool regular = IsRegularFile(path);
    if (regular && IsSupportedAudioExt(path)) AddDroppedFile(path);
    const std::string ext = LowerExtension(path);
    // Named on its own and not taken: the run's report says so.
    if (regular && !IsSupportedAudioExt(path) && ext != ".m3u" && ext != ".m3u8" && ext != ".pls" &&
        ignoredListed_.insert(path).second) {
      ignored_.push_back(path);
    }
    if (ext == ".m3u") ReadM3uPlaylist(path, winePrefix);
    if (ext == ".m3u8") ReadM3u8Playlist(path, winePrefix);
    if (ext == ".pls") ReadPlsPlaylist(path, winePrefix);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) AddFolderFiles(path);
  }
}

void DroppedFiles::AddDroppedFile(const std::string& path) {
  if (!IsSupportedAudioExt(path)) return;
  if (!listed_.insert(path).second) return;
  rows_.push_back(path);
}

void DroppedFiles::AddFolderFiles(const std::string& folder) {
  for (const std::string& file : SearchFolder(folder, kDroppedFolderExtensions)) AddDroppedFile(file);
}

void DroppedFiles::ReadM3uPlaylist(const std::string& path, const std::filesystem::path& winePrefix) {
  for (const std::string& file : M3uPlaylist(winePrefix).ExistingFiles(path)) AddDroppedFile(file);
}

void DroppedFiles::ReadM3u8Playlist(const std::string& path, const std::filesystem::path& winePrefix) {
  for (const std::string& file : M3u8Playlist(winePrefix).ExistingFiles(path)) AddDroppedFile(file);
}

void DroppedFiles::ReadPlsPlaylist(const std::string& path, const std::filesystem::path& winePrefix) {
  for (const std::string& file : PlsPlaylist(winePrefix).ExistingFiles(path)) AddDroppedFile(file);
}

void DroppedFiles::Clear() {
  rows_.clear();
  listed_.clear();
  ignored_.clear();
  ignoredListed_.clear();
}

void AnalyzeDroppedFiles(const DroppedFiles& list, Collection& found, const SourceTools& tools) {
  found.Clear();
  for (const std::string& path : list.ignored()) found.skipped.push_back({path, reason::kUnsupportedType});
  const std::vector<std::string>& rows = list.rows();
  const HashAheadScope ahead = tools.fingerprinter.HashAhead(rows);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string& row = rows[i];
    if (!ahead.IsRegularFile(i)) {
      found.skipped.push_back({row, reason::kVanished});
      continue;
    }
    found.items.push_back(ReadFileMetadata(row, tools.tagReaders, tools.ui));
    found.items.back().HashValue = tools.fingerprinter.FileFingerprint(row);
  }
}

} // namespace velmora
