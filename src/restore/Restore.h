#pragma once
// Restoring the user's library from the service into a folder: listing what to fetch into the
// restore work list, then downloading it one file after the other.

#include <filesystem>
#include <string>

namespace velmora {

class Engine;

// "Load information about your library": clears a cancel request and the counter, lists the
// service playlists again, disables itself and tells the user what to do next.
void LoadLibraryInformation(Engine& engine);

// "Restore now": checks the target folder (Engine::restorePathBox), lists the whole library or the
// checked playlist rows, then downloads. Returns false when refused (bad target, already running).
bool RestoreNow(Engine& engine);

// Lists one playlist's items into the work list and the log.
void ListPlaylistItems(Engine& engine, const std::string& playlistName, const std::string& playlistKey);
// Lists every item of the library into the work list.
void ListLibraryItems(Engine& engine);
// Downloads unhandled rows until none is left, the service refuses, a download fails or a cancel
// request is seen.
void DownloadNextItems(Engine& engine);
// "Cancel Downloads": the current file completes, no further one starts.
void CancelDownloads(Engine& engine);

// Number of rows of the work list still to do.
int UnhandledRestoreRows(Engine& engine);

// The folder of a playlist (or "All items") below the target. Names that would climb out of the
// target or cannot be a folder name ("", ".", "..", too long) are made safe.
std::filesystem::path RestoreFolder(const std::string& target, const std::string& playlistName);
// The file a row is restored to: folder / SafeFileName(display name) + ".mp3", kept short enough
// for the file system.
std::filesystem::path RestoreTargetFile(const std::string& target, const std::string& playlistName,
                                        const std::string& displayName);

} // namespace velmora
