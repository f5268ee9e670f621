#pragma once
// The dropped-files source: the drop tab's file list, filled by drops of files, folders and
// ".m3u"/".m3u8"/".pls" playlists, and "Analyze and upload", which sends the listed files.

#include "model/MediaItem.h"
#include "sources/PlaylistReader.h"
#include "sources/SourceTools.h"

#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

namespace velmora {

// The drop tab's file list: full paths, each at most once (compared exactly, letter case
// included), in the order they arrived.
class DroppedFiles {
public:
  // One drop: for every path in order, each of these that applies: an existing supported audio
  // file is listed; an ".m3u", ".m3u8" or ".pls" file has its entries listed; a folder has its
  // audio files listed. Everything left out is noted in skipped(): other files, named pipes and
  // devices, playlist entries that name no audio file, folders that cannot be read, links to
  // folders inside a dropped folder. Throws when an ".m3u" or ".m3u8" file cannot be
  // read; the paths before
  // it stay listed and the paths after it are not looked at. Drive-letter entries of playlists
  // lead through `winePrefix` (the default Wine prefix when empty).
  void Drop(const std::vector<std::string>& paths, const std::filesystem::path& winePrefix = {});

  // Lists the path if its extension is a supported one and it is not listed yet; does not look at
  // the disk.
  void AddDroppedFile(const std::string& path);
  void AddFolderFiles(const std::string& folder);
  void ReadM3uPlaylist(const std::string& path, const std::filesystem::path& winePrefix = {});
  void ReadM3u8Playlist(const std::string& path, const std::filesystem::path& winePrefix = {});
  void ReadPlsPlaylist(const std::string& path, const std::filesystem::path& winePrefix = {});
  void Clear();

  const std::vector<std::string>& rows() const { return rows_; }
  bool IsListed(const std::string& path) const { return listed_.count(path) != 0; }
  // What the drops named or found but could not list, each once with its reason; the next
  // analysis reports them as skipped. Emptied by Clear.
  const std::vector<SkippedFile>& skipped() const { return skipped_; }
  // Notes an input left out, unless it is noted already.
  void AddSkipped(const std::string& path, const std::string& reason);

  // The drop tab's "Add to a playlist" box: every file of the run goes into this playlist on the
  // service; empty for none.
  std::string playlistBox;

private:
  std::vector<std::string> rows_;
  std::unordered_set<std::string> listed_;
  // A playlist entry that exists but is no supported audio file.
  void AddPlaylistFiles(const PlaylistReader& reader, const std::string& path);

  std::vector<SkippedFile> skipped_;
  std::unordered_set<std::string> skippedListed_;
};

// The folder search masks of a dropped folder.
extern const std::vector<std::string> kDroppedFolderExtensions;

// Describes every listed file that still exists, with its hash id, into `found` (emptied first).
// Rows whose file has gone are skipped and stay listed; they and what the drops left out go to
// `found.skipped` with their reasons, each also named in a status line. Throws when a listed file cannot be opened;
// `found` keeps the items read before it.
void AnalyzeDroppedFiles(const DroppedFiles& list, Collection& found, const SourceTools& tools);

} // namespace velmora
