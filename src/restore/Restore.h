#pragma once
// Restoring the user's library from the service into a folder: listing what to fetch into the
// restore work list, then downloading it one file after the other.

#include "base/TransferFigures.h"
#include "model/FileOutcome.h"
#include "restore/PartialFiles.h"
#include "restore/RestoreAnswers.h"
#include "restore/RestoreState.h"
#include "service/DownloadClient.h"
#include "service/ServiceClient.h"
#include "service/ServicePlaylists.h"
#include "store/LocalDatabases.h"
#include "store/Sha1.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

class ListingNames;

// The restore tab's work: the service's playlists it lists, the state it shows, the target folder
// and the run's plain-GET client. The engine starts its steps inside the one activity guard.
class Restorer {
public:
  Restorer(ServiceClient& service, LocalDatabases& databases, AccountPlaylists& playlists);
  ~Restorer();
  Restorer(const Restorer&) = delete;
  Restorer& operator=(const Restorer&) = delete;

  const RestoreState& state() const { return state_; }
  // The downloads of the running restore: rows handled of those listed, the bytes received and
  // the average speed since the downloads began (the total is not known beforehand).
  TransferFigures Figures() const;
  // "Restore the whole media library" (true) or "Select playlists to restore" (false).
  void SetWholeLibrary(bool whole) { state_.wholeLibrary = whole; }
  // The folder the library is restored into.
  const std::string& target() const { return target_; }
  void SetTarget(std::string folder) { target_ = std::move(folder); }

  // "Load information about your library": clears a cancel request and the counter, lists the
  // service playlists again, disables itself and tells the user what to do next.
  void LoadLibraryInformation();
  // "Restore now": checks the target folder, lists the whole library or the checked playlist
  // rows, then downloads. Each listed playlist then gets its playlist file, target /
  // "<folder name>.m3u8" (see WritePlaylistFiles), and the log and status line end with
  // "N restored, M already there, K failed". Returns false when refused (bad target).
  bool RestoreNow();
  // Lists one playlist's items into the work list and the log.
  void ListPlaylistItems(const std::string& playlistName, const std::string& playlistKey);
  // Lists every item of the library into the work list.
  void ListLibraryItems();
  // Downloads unhandled rows until none is left, the service refuses, a download fails or a
  // cancel request is seen.
  void DownloadNextItems();
  // "Cancel Downloads": the current file completes, no further one starts.
  void CancelDownloads();
  // The same request without the message (the program is closing).
  void CancelQuietly() {
    state_.DownloadsCancelled = true;
    service_.retrier().Abandon();
  }
  // Number of rows of the work list still to do.
  int UnhandledRows();
  // The restore's plain-GET client, one for the run (cookies kept), created on first use; its
  // speed limit follows the service client's at every download.
  DownloadClient& downloadClient();
  // What happened to every file the last "Restore now" reached, in order.
  const OutcomeLog& report() const { return outcomes_; }

private:
  struct Row {
    std::string entryKey, playlistName, displayName;
  };
  // A playlist this restore listed, with its items in the service's order.
  struct ListedPlaylist {
    std::string name;
    std::vector<ListedItem> items;
  };
  enum class ItemOutcome { Restored, AlreadyThere, Failed };
  Ui& ui() { return service_.ui(); }
  void InsertWorkRow(const ListedItem& item, const std::string& playlistKey, const std::string& playlistName);
  // Gives a listed item its file name within its listing: items whose names collide get " (2)",
  // " (3)" ... in listing order.
  void NameFile(ListingNames& names, const std::string& playlistName, const ListedItem& item);
  // The file of an item of a playlist folder: the name its listing gave it, else the plain one.
  std::filesystem::path FileOf(const std::string& target, const std::string& playlistName, const std::string& entryKey,
                               const std::string& displayName) const;
  void AddLogLine(const std::string& line);
  void MoveTotalBar();
  void ShowServiceError(const std::string& status, const std::string& prefix, const ServiceReply& result);
  std::optional<Row> NextUnhandledRow();
  void MarkHandled(const std::string& entryKey);
  // The download address of an item, or nothing when the service refused (already reported).
  // The download address of an item, or nothing when the service refused (already reported; the
  // refusal is left in `refusal`).
  std::optional<std::string> DeliveryAddress(const std::string& entryKey, std::string& refusal);
  // Downloads into a hidden file beside the target and renames it when complete, so the target
  // name only ever holds a whole file. Throws what the download threw; nothing is left behind (a
  // program killed meanwhile leaves the partial file to the next restore's clean-up).
  void DownloadInto(const std::string& url, const std::filesystem::path& target);
  // DownloadNextItems with several lanes (service_.transfers() above 1; RestoreLanes.cpp): up to
  // that many rows in transfer at once, each to its own partial file, taken in the work list's order.
  void DownloadInLanes();
  // Fetches one row's file unless it is in place. A refusal or a failed download is reported
  // and gives Failed, its reason in `why`.
  ItemOutcome FetchRow(const Row& row, const std::filesystem::path& file, std::string& why);
  // Puts the digest of a download just renamed into place into the fingerprint cache, so the
  // file is known without reading it again.
  void RememberRestoredFile(const std::filesystem::path& file, Sha1Stream& digest);
  // Writes the playlist file of every playlist listed by this restore, then the summary line.
  // Reports its failures itself; never throws.
  void FinishRestore();
  void WritePlaylistFiles();
  ServiceClient& service_;
  LocalDatabases& databases_;
  AccountPlaylists& playlists_;
  RestoreState state_;
  std::string target_;
  std::unique_ptr<DownloadClient> downloadClient_;
  OutcomeLog outcomes_{ReportKind::Restore};
  std::vector<ListedPlaylist> listedPlaylists_;
  std::chrono::steady_clock::time_point downloadsBegan_;
  // (folder name, entry key) -> file name without ".mp3", for the items this restore listed.
  std::map<std::pair<std::string, std::string>, std::string> fileNames_;
};

// The folder of a playlist (or "All items") below the target. Names that would climb out of the
// target or cannot be a folder name ("", ".", "..", too long) are made safe.
std::filesystem::path RestoreFolder(const std::string& target, const std::string& playlistName);
// The file a row is restored to: folder / SafeFileName(display name) + ".mp3", kept short enough
// for the file system.
std::filesystem::path RestoreTargetFile(const std::string& target, const std::string& playlistName,
                                        const std::string& displayName);

} // namespace velmora
