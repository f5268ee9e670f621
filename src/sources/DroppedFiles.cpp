#include "sources/DroppedFiles.h"

#include "app/Engine.h"
#include "sources/FileMetadata.h"
#include "sources/FolderSearch.h"
#include "sources/M3uPlaylist.h"
#include "sources/MediaLibraryFile.h"
#include "sources/PlsPlaylist.h"
#include "upload/DuplicateCheck.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace velmora {
namespace {

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

bool IsRegularFile(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

} // namespace

const std::vector<std::string> kDroppedFolderExtensions{".mp3", ".m4a", ".wma", ".ogg"};

void DroppedFiles::Drop(const std::vector<std::string>& paths, const std::filesystem::path& winePrefix) {
  for (const std::string& path : paths) {
    // Each test stands alone: a folder named like a playlist is searched as a folder too.
    if (IsRegularFile(path) && IsSupportedAudioExt(path)) AddDroppedFile(path);
    const std::string ext = LowerExtension(path);
    if (ext == ".m3u") ReadM3uPlaylist(path, winePrefix);
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

void DroppedFiles::ReadPlsPlaylist(const std::string& path, const std::filesystem::path& winePrefix) {
  for (const std::string& file : PlsPlaylist(winePrefix).ExistingFiles(path)) AddDroppedFile(file);
}

void DroppedFiles::Clear() {
  rows_.clear();
  listed_.clear();
}

// The analysis walks the list; a drop or a clear then waits for the user to try again.
constexpr std::initializer_list<Activity> kListInUse{Activity::Analysing, Activity::BuildingQueue};

void DropFiles(Engine& engine, const std::vector<std::string>& paths) {
  if (engine.RefuseDuring(kListInUse)) return;
  try {
    // Winamp under Wine writes playlists with drive letters; they lead where its own do.
    engine.DroppedFileList.Drop(paths, engine.Winamp.winePrefix);
  } catch (const std::exception& failure) {
    engine.ui().ViewChanged(View::DroppedFiles);
    engine.ui().ShowErrorDisplay(failure.what());
    return;
  }
  engine.ui().ViewChanged(View::DroppedFiles);
}

void ClearDroppedFiles(Engine& engine) {
  if (engine.RefuseDuring(kListInUse)) return;
  engine.DroppedFileList.Clear();
  engine.ui().ViewChanged(View::DroppedFiles);
}

void AnalyzeDroppedFiles(Engine& engine) {
  engine.MediaItems.clear();
  engine.Playlists.clear();
  for (const std::string& row : engine.DroppedFileList.rows()) {
    if (!IsRegularFile(row)) continue;
    engine.MediaItems.push_back(ReadFileMetadata(row, engine.tagReaders(), engine.ui()));
    engine.MediaItems.back().HashValue = engine.FileFingerprint(row);
  }
}

bool AnalyzeAndUpload(Engine& engine) {
  UploadPipeline& upload = engine.Upload;
  ActivityScope activity = engine.BeginActivity(Activity::Analysing);
  if (!activity) return false;
  // The box may be edited while the analysis runs; the run keeps the name it was started with.
  const std::string playlistName = engine.DroppedFileList.playlistBox;
  try {
    AnalyzeDroppedFiles(engine);
    upload.ClearUploadQueue();
    upload.CurrentMediaLibraryFile = WriteMediaLibraryFile(engine.MediaItems, kSourceDroppedFiles, engine.ui());
    upload.CurrentHashListFile = WriteHashListFile(engine.MediaItems, kSourceDroppedFiles);
    CheckDuplicatesOnline(engine, upload.CurrentHashListFile);
    activity.Become(Activity::BuildingQueue);
    return upload.BuildUploadQueue(kSourceDroppedFiles, {}, playlistName);
  } catch (const std::exception& failure) {
    engine.ui().ShowErrorDisplay(failure.what());
    return false;
  }
}

} // namespace velmora
