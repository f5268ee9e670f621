#include "sources/DroppedFiles.h"
#include "base/FileFacts.h"
#include "base/ShowStatus.h"
#include "base/Text.h"

#include "model/FileOutcome.h"
#include "model/MediaLibraryFile.h"
#include "sources/AnalysisProgress.h"
#include "sources/FileMetadata.h"
#include "sources/FolderSearch.h"
#include "sources/M3uPlaylist.h"
#include "sources/PlsPlaylist.h"
#include "sources/SkipReasons.h"

#include <filesystem>

namespace velmora {

const std::vector<std::string> kDroppedFolderExtensions{".mp3", ".m4a", ".wma", ".ogg"};

void DroppedFiles::Drop(const std::vector<std::string>& paths, const std::filesystem::path& winePrefix) {
  for (const std::string& path : paths) {
    // Each test stands alone: a folder named like a playlist is searched as a folder too.
    const bool regular = IsRegularFile(path);
    std::error_code error;
    const bool folder = std::filesystem::is_directory(path, error);
    const std::string ext = LowerExtension(path);
    const bool playlist = ext == ".m3u" || ext == ".m3u8" || ext == ".pls";
    if (regular && IsSupportedAudioExt(path)) AddDroppedFile(path);
    // Named on its own and not taken: the run's report says so.
    if (regular && !IsSupportedAudioExt(path) && !playlist) AddSkipped(path, reason::kUnsupportedType);
    if (!regular && !folder) AddSkipped(path, NotRegularFileReason(path));
    // Only a regular file is read as a playlist: a named pipe would wait for a writer.
    if (regular && ext == ".m3u") ReadM3uPlaylist(path, winePrefix);
    if (regular && ext == ".m3u8") ReadM3u8Playlist(path, winePrefix);
    if (regular && ext == ".pls") ReadPlsPlaylist(path, winePrefix);
    if (folder) AddFolderFiles(path);
  }
}

void DroppedFiles::AddDroppedFile(const std::string& path) {
  if (!IsSupportedAudioExt(path)) return;
  if (!listed_.insert(path).second) return;
  rows_.push_back(path);
}

void DroppedFiles::AddSkipped(const std::string& path, const std::string& reason) {
  if (listed_.count(path) != 0 || !skippedListed_.insert(path).second) return;
  skipped_.push_back({path, reason});
}

void DroppedFiles::AddFolderFiles(const std::string& folder) {
  FolderSearchResult found = SearchFolder(folder, kDroppedFolderExtensions);
  for (const std::string& file : found.files) AddDroppedFile(file);
  for (const SkippedFile& file : found.skipped) AddSkipped(file.path, file.reason);
}

void DroppedFiles::AddPlaylistFiles(const PlaylistReader& reader, const std::string& path) {
  const PlaylistReader::Resolved entries = reader.Resolve(path);
  for (const std::string& file : entries.files) {
    if (IsSupportedAudioExt(file)) AddDroppedFile(file);
    else AddSkipped(file, NamedByPlaylist(reason::kUnsupportedType, path));
  }
  for (const SkippedFile& entry : entries.skipped) AddSkipped(entry.path, entry.reason);
}

void DroppedFiles::ReadM3uPlaylist(const std::string& path, const std::filesystem::path& winePrefix) {
  AddPlaylistFiles(M3uPlaylist(winePrefix), path);
}

void DroppedFiles::ReadM3u8Playlist(const std::string& path, const std::filesystem::path& winePrefix) {
  AddPlaylistFiles(M3u8Playlist(winePrefix), path);
}

void DroppedFiles::ReadPlsPlaylist(const std::string& path, const std::filesystem::path& winePrefix) {
  AddPlaylistFiles(PlsPlaylist(winePrefix), path);
}

void DroppedFiles::Clear() {
  rows_.clear();
  listed_.clear();
  skipped_.clear();
  skippedListed_.clear();
}

void AnalyzeDroppedFiles(const DroppedFiles& list, Collection& found, const SourceTools& tools) {
  found.Clear();
  const auto skip = [&](const std::string& path, const std::string& why) {
    ShowStatus(tools.ui, "Skipped " + path + ": " + why);
    found.skipped.push_back({path, why});
  };
  for (const SkippedFile& file : list.skipped()) {
    // Listed by a later drop after all (a file named in a playlist and then dropped itself).
    if (!list.IsListed(file.path)) skip(file.path, file.reason);
  }
  const std::vector<std::string>& rows = list.rows();
  const HashAheadScope ahead = tools.fingerprinter.HashAhead(rows);
  AnalysisProgress progress(tools.ui, rows.size(), tools.showProgress);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string& row = rows[i];
    if (!ahead.IsRegularFile(i)) {
      skip(row, reason::kVanished);
      continue;
    }
    found.items.push_back(ReadFileMetadata(row, tools.tagReaders, tools.ui));
    found.items.back().HashValue = tools.fingerprinter.FileFingerprint(row);
    progress.Done(i + 1);
  }
}

} // namespace velmora
