#include "restore/Restore.h"

#include "base/AtomicFile.h"
#include "base/ShowStatus.h"
#include "base/SystemFacts.h"
#include "restore/ListingNames.h"
#include "restore/RestoreAnswers.h"
#include "restore/RestoredPlaylist.h"
#include "service/CallService.h"
#include "service/DownloadClient.h"
#include "service/ServicePlaylists.h"
#include "store/Fingerprinter.h"
#include "store/LocalDatabases.h"
#include "store/Statements.h"

#include <SQLiteCpp/Statement.h>
#include <pugixml.hpp>

#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace velmora {

// Room for ".mp3" and more within the 255 bytes a file name may have here.
constexpr std::size_t kMaxNameBytes = 200;

void Restorer::InsertWorkRow(const ListedItem& item, const std::string& playlistKey, const std::string& playlistName) {
  RunStatement(*databases_.temporary, sql::kInsertDownloadMetaInfo, [&](SQLite::Statement& insert) {
    insert.bind(":handled", 0);
    insert.bind(":entrykey", item.entryKey);
    insert.bind(":displayname", item.DisplayName());
    insert.bind(":playlistkey", playlistKey);
    insert.bind(":playlistname", playlistName);
    insert.exec();
  });
}

void Restorer::AddLogLine(const std::string& line) {
  state_.log.push_back(line);
  ui().ViewChanged(View::RestoreLog);
}

void Restorer::MoveTotalBar() {
  auto& state = state_;
  ui().SetProgress(ProgressBar::DownloadTotal, state.totalPosition, state.totalMaximum);
}

void Restorer::ShowServiceError(const std::string& status, const std::string& prefix, const ServiceReply& result) {
  ShowStatus(ui(), status);
  ui().ShowErrorMessage(prefix + std::to_string(result.ErrorCode) + " (details: " + result.ErrorMessage + ")");
}

// A name from the service as one part of a path: without the characters no file name may hold,
// control characters as blanks (a line break in a path could not be written into a playlist
// file), short enough for the file system. Applied to its own result it changes nothing.
static std::string FileNamePart(const std::string& text) {
  std::string name = SafeFileName(text);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  }
  return CutUtf8(name, kMaxNameBytes);
}

std::optional<Restorer::Row> Restorer::NextUnhandledRow() {
  return RunStatement(
      *databases_.temporary, sql::kSelectUnhandledDownloads, [](SQLite::Statement& select) -> std::optional<Row> {
        if (!select.executeStep()) return std::nullopt;
        return Row{select.getColumn("entrykey").getString(), select.getColumn("playlistname").getString(),
                   select.getColumn("displayname").getString()};
      });
}

void Restorer::MarkHandled(const std::string& entryKey) {
  RunStatement(*databases_.temporary, sql::kMarkDownloadHandled, [&](SQLite::Statement& update) {
    update.bind(":entrykey", entryKey);
    update.exec();
  });
}

std::optional<std::string> Restorer::DeliveryAddress(const std::string& entryKey, std::string& refusal) {
  FormData form;
  form.AddText("libraryKey", "").AddText("entrykey", entryKey).AddText("options", "");
  const ServiceReply result = service_.Call("items/get/deliver", std::move(form), true, kCouldNotConnect);
  if (!result.Success) {
    refusal = "refused by the service: " + result.ErrorMessage + " (Error #" + std::to_string(result.ErrorCode) + ")";
    ShowServiceError("Login failed", "Could not load data from server - error ", result);
    return std::nullopt;
  }
  pugi::xml_document answer;
  LoadAnswerDocument(answer, "download-deliver-item-", result.ResponseText);
  std::optional<std::string> location = ReadDeliveryLocation(answer);
  if (!location) throw std::runtime_error("The service named no download address for the item " + entryKey);
  return location;
}

void Restorer::DownloadInto(const std::string& url, const std::filesystem::path& target) {
  Sha1Stream digest;
  DownloadThroughPartialFile(target, digest, [&](const std::filesystem::path& partial, const BodyObserver& onBody) {
    downloadClient().SetRateLimit(service_.rateLimit());
    downloadClient().Get(url, partial, [&](const char* data, std::size_t size) {
      state_.bytesReceived += static_cast<std::int64_t>(size);
      onBody(data, size);
    });
  });
  RememberRestoredFile(target, digest);
}

void Restorer::RememberRestoredFile(const std::filesystem::path& file, Sha1Stream& digest) {
  if (!databases_.meta) return;
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  const FileFacts facts = FileFacts::Of(info);
  // Another writer got at the file after the download: the digest no longer describes it.
  if (facts.size != digest.bytes()) return;
  try {
    StoreFileHash(*databases_.meta, Fingerprinter::LookupKey(file.string()), digest.FinishHex(), facts);
  } catch (const std::exception& failure) {
    // The file is restored; without its row it is only hashed once more when it is uploaded.
    AddLogLine("The hash id of " + file.string() + " was not kept: " + failure.what());
  }
}

namespace {
// Clears the running flag however the restore ends.
struct RunningGuard {
  RestoreState& state;
  explicit RunningGuard(RestoreState& s) : state(s) { state.running = true; }
  ~RunningGuard() { state.running = false; }
};

} // namespace

std::filesystem::path RestoreFolder(const std::string& target, const std::string& playlistName) {
  std::string name = FileNamePart(playlistName);
  // "", "." and ".." would name the target itself or its parent.
  if (name.find_first_not_of('.') == std::string::npos) name = "_" + name;
  return std::filesystem::path(target) / name;
}

std::filesystem::path RestoreTargetFile(const std::string& target, const std::string& playlistName,
                                        const std::string& displayName) {
  return RestoreFolder(target, playlistName) / (FileNamePart(displayName) + ".mp3");
}

void Restorer::LoadLibraryInformation() {
  auto& state = state_;
  ShowStatus(ui(), "Loading playlists ...");
  state.DownloadsCancelled = false;
  state.itemsFound = 0;
  LoadPlaylists(service_, playlists_);
  state.analyzeEnabled = false;
  ui().ViewChanged(View::RestoreLog);
  ui().ShowMessage(
      "Please select which playlists you want to restore (or the whole library) "
      "and click on \"Restore\"");
}

void Restorer::ListPlaylistItems(const std::string& playlistName, const std::string& playlistKey) {
  auto& state = state_;
  FormData form;
  form.AddText("setkey", playlistKey).AddText("options", "ownitemsonly");
  const ServiceReply result = service_.Call("sets/set/getitems/", std::move(form), true, kCouldNotConnect);
  if (!result.Success) {
    state.listingFailed = true;
    ShowServiceError("Login failed", "Could not load data from server - error ", result);
    return;
  }
  pugi::xml_document answer;
  LoadAnswerDocument(answer, "playlists-items-", result.ResponseText);
  const pugi::xpath_node_set items = answer.select_nodes("//result/items/item");
  for (auto& row : playlists_.rows) {
    if (row.entryKey == playlistKey) row.items = std::to_string(items.size());
  }
  ui().ViewChanged(View::RestorePlaylists);
  ListedPlaylist listed{playlistName, {}};
  ListingNames names(kMaxNameBytes);
  for (const auto& node : items) {
    ListedItem item = ReadListedItem(node.node());
    if (item.entryKey.empty()) continue;
    NameFile(names, playlistName, item);
    AddLogLine("Item found | Name: " + item.name + "; Artist: " + item.artist + "; Album:" + item.album);
    ++state.itemsFound;
    state.itemsFoundCaption = std::to_string(state.itemsFound);
    InsertWorkRow(item, playlistKey, playlistName);
    listed.items.push_back(std::move(item));
  }
  listedPlaylists_.push_back(std::move(listed));
}

void Restorer::ListLibraryItems() {
  auto& state = state_;
  ShowStatus(ui(), "Loading meta data of all media items ...");
  FormData form;
  form.AddText("_instancename", InstanceName()).AddText("fields", "artist,name,album,entrykey");
  const ServiceReply result = service_.Call("items/get", std::move(form), true, kCouldNotConnect);
  if (!result.Success) {
    state.listingFailed = true;
    ShowServiceError("Operation failed", "Could not connect to server - error ", result);
    return;
  }
  pugi::xml_document answer;
  LoadAnswerDocument(answer, "mediaitems", result.ResponseText);
  const pugi::xpath_node_set items = answer.select_nodes("//result/items/item");
  state.itemsFoundCaption = std::to_string(items.size());
  // One pass per listed item and one that finds nothing left.
  state.totalMaximum = static_cast<std::int64_t>(items.size()) + 1;
  ui().ViewChanged(View::RestoreLog);
  std::size_t index = 0;
  ListingNames names(kMaxNameBytes);
  for (const auto& node : items) {
    const ListedItem item = ReadListedItem(node.node());
    NameFile(names, "All items", item);
    if (index++ % 10 == 0) ShowStatus(ui(), "Item found: " + item.DisplayName());
    InsertWorkRow(item, "", "All items");
  }
}

Restorer::ItemOutcome Restorer::FetchRow(const Row& row, const std::filesystem::path& file, std::string& why) {
  auto& state = state_;
  std::filesystem::create_directories(file.parent_path());
  std::error_code error;
  if (std::filesystem::exists(file, error)) return ItemOutcome::AlreadyThere;
  // A failed download asks for a new address before it is tried again: a restarted service no
  // longer knows the old one.
  for (int failures = 0;;) {
    const std::optional<std::string> url = DeliveryAddress(row.entryKey, why);
    if (!url) return ItemOutcome::Failed;
    state.currentFile = row.displayName;
    ui().ViewChanged(View::RestoreLog);
    try {
      DownloadInto(*url, file);
    } catch (const std::exception& failure) {
      if (service_.retrier().WaitToRetry("download of " + row.displayName, RepeatSafety::Idempotent, failure,
                                         ++failures)) {
        continue;
      }
      why = failure.what();
      AddLogLine(*url);
      ui().ShowErrorDisplay(failure.what());
      return ItemOutcome::Failed;
    }
    return ItemOutcome::Restored;
  }
}

void Restorer::DownloadNextItems() {
  if (service_.transfers() > 1) return DownloadInLanes();
  auto& state = state_;
  const std::string target = target_;
  for (;;) {
    if (state.DownloadsCancelled) return;
    const std::optional<Row> row = NextUnhandledRow();
    ++state.totalPosition;
    MoveTotalBar();
    if (!row) return;

    const std::filesystem::path file = FileOf(target, row->playlistName, row->entryKey, row->displayName);
    AddLogLine("Next file: " + file.string());
    const auto started = std::chrono::steady_clock::now();
    const auto decide = [&](FileOutcomeKind kind, std::string why) {
      const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
      std::error_code sizeError;
      const auto size = kind == FileOutcomeKind::Restored ? std::filesystem::file_size(file, sizeError) : 0;
      outcomes_.Add({file.string(),
                     {},
                     row->entryKey,
                     kind,
                     std::move(why),
                     sizeError ? 0 : static_cast<std::int64_t>(size),
                     seconds.count()});
    };
    ItemOutcome outcome = ItemOutcome::Failed;
    std::string why;
    try {
      outcome = FetchRow(*row, file, why);
    } catch (const std::exception& failure) {
      ++state.failedCount; // the error itself goes on to the error display
      decide(FileOutcomeKind::Failed, failure.what());
      throw;
    }
    if (outcome == ItemOutcome::Failed) {
      ++state.failedCount;
      decide(FileOutcomeKind::Failed, why);
      return;
    }
    ++(outcome == ItemOutcome::Restored ? state.restoredCount : state.alreadyThereCount);
    decide(outcome == ItemOutcome::Restored ? FileOutcomeKind::Restored : FileOutcomeKind::AlreadyThere, {});
    MarkHandled(row->entryKey);
    ui().ProcessMessages();
  }
}

bool Restorer::RestoreNow() {
  auto& state = state_;
  std::error_code error;
  if (target_.empty() || !std::filesystem::is_directory(target_, error)) {
    ui().ShowMessage("Please select a valid directory where the files should be restored");
    return false;
  }
  RunningGuard running(state);
  outcomes_.Clear();
  RemoveLeftoverPartialFiles(target_);
  // A cancel belongs to the restore it was clicked in, not to the next one.
  state.DownloadsCancelled = false;
  service_.retrier().Abandon(false);
  state.listingFailed = false;
  state.totalPosition = 0;
  state.rowsToFetch = 0;
  state.restoredCount = state.alreadyThereCount = state.failedCount = 0;
  state.playlistFileFailed = false;
  listedPlaylists_.clear();
  fileNames_.clear();
  if (state.wholeLibrary) {
    ListLibraryItems();
  } else {
    const auto rows = playlists_.rows; // a message pump may refill the list meanwhile
    // Playlists whose cleaned names are the same get " (2)", " (3)" ... over the whole list,
    // chosen or not, so each keeps its folder and playlist file from run to run: a name that
    // needs no cleaning keeps it, then the others take theirs in list order.
    ListingNames folders(kMaxNameBytes);
    std::vector<std::string> folderOf(rows.size());
    for (const bool clean : {true, false}) {
      for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string base = RestoreFolder(target_, rows[i].caption).filename().string();
        if ((base == rows[i].name) == clean) folderOf[i] = folders.Take(rows[i].entryKey, base);
      }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!rows[i].checked) continue;
      std::filesystem::create_directories(RestoreFolder(target_, folderOf[i]));
      ListPlaylistItems(folderOf[i], rows[i].entryKey);
    }
    state.totalMaximum = state.itemsFound;
  }
  ui().ViewChanged(View::RestoreLog);
  state.bytesReceived = 0;
  downloadsBegan_ = std::chrono::steady_clock::now();
  try {
    state.rowsToFetch = UnhandledRows();
    DownloadNextItems();
  } catch (...) {
    FinishRestore();
    throw;
  }
  FinishRestore();
  return true;
}

void Restorer::FinishRestore() {
  auto& state = state_;
  WritePlaylistFiles();
  const std::string summary = RestoreSummary(state);
  AddLogLine(summary);
  ShowStatus(ui(), summary);
}

void Restorer::WritePlaylistFiles() {
  namespace fs = std::filesystem;
  std::set<std::string> taken;
  // Entry key -> the file of this restore that holds it. An item in two playlists is fetched once,
  // into the folder of the first; the second playlist's file then points there.
  std::map<std::string, fs::path> fileOfItem;
  const mode_t mask = FileCreationMask();
  for (const ListedPlaylist& playlist : listedPlaylists_) {
    const fs::path folder = RestoreFolder(target_, playlist.name);
    std::vector<PlaylistFileEntry> entries;
    for (const ListedItem& item : playlist.items) {
      fs::path file = FileOf(target_, playlist.name, item.entryKey, item.DisplayName());
      std::error_code error;
      if (fs::is_regular_file(file, error)) {
        fileOfItem.emplace(item.entryKey, file);
      } else if (auto other = fileOfItem.find(item.entryKey); other != fileOfItem.end()) {
        file = other->second;
      } else {
        continue; // failed, not reached, or gone: a player would only stumble over it
      }
      entries.push_back({file.parent_path().filename().string() + "/" + file.filename().string(), PlayingSeconds(file),
                         item.artist + " - " + item.name});
    }
    // Folder names are unique already; a name in use by something that is no file still moves on.
    const std::string base = folder.filename().string();
    std::string name = base + ".m3u8";
    for (int n = 2;; ++n) {
      std::error_code error;
      const fs::file_status status = fs::status(fs::path(target_) / name, error);
      const bool usable = !fs::exists(status) || fs::is_regular_file(status);
      if (usable && taken.insert(name).second) break;
      name = base + " (" + std::to_string(n) + ").m3u8";
    }
    const fs::path playlistFile = fs::path(target_) / name;
    try {
      WriteFileAtomically(playlistFile, ExtendedM3uText(entries), 0666 & ~mask);
      AddLogLine("Playlist file: " + playlistFile.string());
    } catch (const std::exception& failure) {
      state_.playlistFileFailed = true;
      AddLogLine(failure.what());
      ui().ShowErrorMessage(failure.what());
    }
  }
}

void Restorer::NameFile(ListingNames& names, const std::string& playlistName, const ListedItem& item) {
  fileNames_[{playlistName, item.entryKey}] = names.Take(item.entryKey, FileNamePart(item.DisplayName()));
}

std::filesystem::path Restorer::FileOf(const std::string& target, const std::string& playlistName,
                                       const std::string& entryKey, const std::string& displayName) const {
  const auto named = fileNames_.find({playlistName, entryKey});
  if (named == fileNames_.end()) return RestoreTargetFile(target, playlistName, displayName);
  return RestoreFolder(target, playlistName) / (named->second + ".mp3");
}

void Restorer::CancelDownloads() {
  ui().ShowMessage("Done - please wait for the current file to be finished");
  state_.DownloadsCancelled = true;
  service_.retrier().Abandon();
}

Restorer::Restorer(ServiceClient& service, LocalDatabases& databases, AccountPlaylists& playlists)
    : service_(service), databases_(databases), playlists_(playlists) {}

Restorer::~Restorer() = default;

DownloadClient& Restorer::downloadClient() {
  if (!downloadClient_) {
    downloadClient_ = std::make_unique<DownloadClient>(ui());
    downloadClient_->SetStopRequest([&service = service_] { return service.StopRequested(); });
  }
  return *downloadClient_;
}

TransferFigures Restorer::Figures() const {
  TransferFigures figures;
  figures.filesDone = state_.restoredCount + state_.alreadyThereCount + state_.failedCount;
  figures.filesTotal = state_.rowsToFetch;
  figures.bytesDone = state_.bytesReceived;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - downloadsBegan_);
  if (const auto tick = StatusTickFigures(state_.bytesReceived, 0, elapsed.count())) {
    figures.bytesPerSecond = std::int64_t{tick->kilobytesPerSecond} * 1024;
  }
  figures.currentFile = state_.currentFile;
  return figures;
}

int Restorer::UnhandledRows() {
  return RunStatement(*databases_.temporary, sql::kCountUnhandledDownloads, [](SQLite::Statement& count) {
    count.executeStep();
    return count.getColumn(0).getInt();
  });
}

} // namespace velmora
