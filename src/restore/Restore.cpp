#include "restore/Restore.h"

#include "app/Engine.h"
#include "app/FileLock.h"
#include "app/SystemFacts.h"
#include "service/CallService.h"
#include "service/DownloadClient.h"
#include "restore/RestoreAnswers.h"
#include "restore/ServicePlaylists.h"
#include "store/LocalDatabases.h"
#include "store/Statements.h"

#include <SQLiteCpp/Statement.h>
#include <pugixml.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

// Room for ".mp3" and more within the 255 bytes a file name may have here.
constexpr std::size_t kMaxNameBytes = 200;

void InsertWorkRow(Engine& engine, const ListedItem& item, const std::string& playlistKey,
                   const std::string& playlistName) {
  RunStatement(*engine.databases().temporary, sql::kInsertDownloadMetaInfo, [&](SQLite::Statement& insert) {
    insert.bind(":handled", 0);
    insert.bind(":entrykey", item.entryKey);
    insert.bind(":displayname", item.DisplayName());
    insert.bind(":playlistkey", playlistKey);
    insert.bind(":playlistname", playlistName);
    insert.exec();
  });
}

void AddLogLine(Engine& engine, const std::string& line) {
  engine.Restore.log.push_back(line);
  engine.ui().ViewChanged(View::RestoreLog);
}

void MoveTotalBar(Engine& engine) {
  auto& state = engine.Restore;
  engine.ui().SetProgress(ProgressBar::DownloadTotal, state.totalPosition, state.totalMaximum);
}

void ShowServiceError(Engine& engine, const std::string& status, const std::string& prefix,
                      const TWSReturnData& result) {
  engine.ShowStatus(status);
  engine.ui().ShowErrorMessage(prefix + std::to_string(result.ErrorCode) + " (details: " +
                               result.ErrorMessage + ")");
}

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string CutUtf8(const std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

struct Row {
  std::string entryKey, playlistName, displayName;
};

std::optional<Row> NextUnhandledRow(Engine& engine) {
  return RunStatement(*engine.databases().temporary, sql::kSelectUnhandledDownloads,
                      [](SQLite::Statement& select) -> std::optional<Row> {
                        if (!select.executeStep()) return std::nullopt;
                        return Row{select.getColumn("entrykey").getString(),
                                   select.getColumn("playlistname").getString(),
                                   select.getColumn("displayname").getString()};
                      });
}

void MarkHandled(Engine& engine, const std::string& entryKey) {
  RunStatement(*engine.databases().temporary, sql::kMarkDownloadHandled, [&](SQLite::Statement& update) {
    update.bind(":entrykey", entryKey);
    update.exec();
  });
}

// The download address of an item, or nothing when the service refused (already reported).
std::optional<std::string> DeliveryAddress(Engine& engine, const std::string& entryKey) {
  FormData form;
  form.AddText("libraryKey", "").AddText("entrykey", entryKey).AddText("options", "");
  const TWSReturnData result = CallService(engine, "items/get/deliver", std::move(form), true, kCouldNotConnect);
  if (!result.Success) {
    ShowServiceError(engine, "Login failed", "Could not load data from server - error ", result);
    return std::nullopt;
  }
  pugi::xml_document answer;
  LoadAnswerDocument(answer, "download-deliver-item-", result.ResponseText);
  std::optional<std::string> location = ReadDeliveryLocation(answer);
  if (!location) throw std::runtime_error("The service named no download address for the item " + entryKey);
  return location;
}

constexpr const char* kPartialPrefix = ".velmora-download-";
constexpr const char* kPartialSuffix = ".part";

// A new hidden file for a download beside its target, locked while this program writes it so
// that another program's clean-up leaves it alone.
std::pair<std::filesystem::path, FileLock> NewPartialFile(const std::filesystem::path& folder) {
  for (int attempt = 0;; ++attempt) {
    std::string pattern = (folder / (std::string(kPartialPrefix) + "XXXXXX" + kPartialSuffix)).string();
    const int fd = ::mkostemps(pattern.data(), 5, O_CLOEXEC);
    if (fd < 0) {
      throw std::runtime_error("Cannot create a file in " + folder.string() + ": " + std::strerror(errno));
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    // Removed by a clean-up before it was locked: take another name.
    if (std::optional<FileLock> lock = FileLock::TakeNew(fd, pattern)) return {pattern, std::move(*lock)};
    if (attempt >= 100) throw std::runtime_error("Cannot create a file in " + folder.string());
  }
}

// Removes what downloads of programs that were killed left in the target folder and the
// playlist folders in it: partial files that no running program holds.
void RemoveLeftoverPartialFiles(const std::filesystem::path& target) {
  namespace fs = std::filesystem;
  std::vector<fs::path> folders{target};
  std::error_code error;
  for (fs::directory_iterator it(target, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    std::error_code typeError;
    if (it->is_directory(typeError) && !it->is_symlink(typeError)) folders.push_back(it->path());
  }
  for (const fs::path& folder : folders) {
    std::vector<fs::path> leftovers;
    std::error_code listError;
    for (fs::directory_iterator it(folder, listError); !listError && it != fs::directory_iterator();
         it.increment(listError)) {
      const std::string name = it->path().filename().string();
      std::error_code typeError;
      if (name.starts_with(kPartialPrefix) && name.ends_with(kPartialSuffix) && !it->is_symlink(typeError) &&
          it->is_regular_file(typeError)) {
        leftovers.push_back(it->path());
      }
    }
    for (const fs::path& leftover : leftovers) {
      FileLock::RemoveUnlessHeld(leftover, [](const fs::path& path) {
        std::error_code ignored;
        fs::remove(path, ignored);
      });
    }
  }
}

// Downloads into a hidden file beside the target and renames it when complete, so the target
// name only ever holds a whole file. Throws what the download threw; nothing is left behind (a
// program killed meanwhile leaves the partial file to the next restore's clean-up).
void DownloadInto(Engine& engine, const std::string& url, const std::filesystem::path& target) {
  auto [partial, lock] = NewPartialFile(target.parent_path());
  try {
    engine.downloadClient().Get(url, partial);
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    throw;
  }
  if (::rename(partial.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(partial.c_str());
    throw std::runtime_error("Cannot create the file " + target.string() + ": " + std::strerror(error));
  }
}

// Clears the running flag however the restore ends.
struct RunningGuard {
  RestoreState& state;
  explicit RunningGuard(RestoreState& s) : state(s) { state.running = true; }
  ~RunningGuard() { state.running = false; }
};

} // namespace

std::filesystem::path RestoreFolder(const std::string& target, const std::string& playlistName) {
  std::string name = CutUtf8(SafeFileName(playlistName), kMaxNameBytes);
  // "", "." and ".." would name the target itself or its parent.
  if (name.find_first_not_of('.') == std::string::npos) name = "_" + name;
  return std::filesystem::path(target) / name;
}

std::filesystem::path RestoreTargetFile(const std::string& target, const std::string& playlistName,
                                        const std::string& displayName) {
  return RestoreFolder(target, playlistName) / (CutUtf8(SafeFileName(displayName), kMaxNameBytes) + ".mp3");
}

void LoadLibraryInformation(Engine& engine) {
  const ActivityScope activity = engine.BeginActivity(Activity::LoadingPlaylists);
  if (!activity) return;
  auto& state = engine.Restore;
  engine.ShowStatus("Loading playlists ...");
  state.DownloadsCancelled = false;
  state.itemsFound = 0;
  LoadPlaylists(engine);
  state.analyzeEnabled = false;
  engine.ui().ViewChanged(View::RestoreLog);
  engine.ui().ShowMessage("Please select which playlists you want to restore (or the whole library) "
                          "and click on \"Restore\"");
}

void ListPlaylistItems(Engine& engine, const std::string& playlistName, const std::string& playlistKey) {
  auto& state = engine.Restore;
  FormData form;
  form.AddText("setkey", playlistKey).AddText("options", "ownitemsonly");
  const TWSReturnData result = CallService(engine, "sets/set/getitems/", std::move(form), true, kCouldNotConnect);
  if (!result.Success) {
    state.listingFailed = true;
    ShowServiceError(engine, "Login failed", "Could not load data from server - error ", result);
    return;
  }
  pugi::xml_document answer;
  LoadAnswerDocument(answer, "playlists-items-", result.ResponseText);
  const pugi::xpath_node_set items = answer.select_nodes("//result/items/item");
  for (auto& row : engine.RestorePlaylists) {
    if (row.entryKey == playlistKey) row.items = std::to_string(items.size());
  }
  engine.ui().ViewChanged(View::RestorePlaylists);
  for (const auto& node : items) {
    const ListedItem item = ReadListedItem(node.node());
    if (item.entryKey.empty()) continue;
    AddLogLine(engine, "Item found | Name: " + item.name + "; Artist: " + item.artist + "; Album:" + item.album);
    ++state.itemsFound;
    state.itemsFoundCaption = std::to_string(state.itemsFound);
    InsertWorkRow(engine, item, playlistKey, playlistName);
  }
}

void ListLibraryItems(Engine& engine) {
  auto& state = engine.Restore;
  engine.ShowStatus("Loading meta data of all media items ...");
  FormData form;
  form.AddText("_instancename", InstanceName()).AddText("fields", "artist,name,album,entrykey");
  const TWSReturnData result = CallService(engine, "items/get", std::move(form), true, kCouldNotConnect);
  if (!result.Success) {
    state.listingFailed = true;
    ShowServiceError(engine, "Operation failed", "Could not connect to server - error ", result);
    return;
  }
  pugi::xml_document answer;
  LoadAnswerDocument(answer, "mediaitems", result.ResponseText);
  const pugi::xpath_node_set items = answer.select_nodes("//result/items/item");
  state.itemsFoundCaption = std::to_string(items.size());
  // One pass per listed item and one that finds nothing left.
  state.totalMaximum = static_cast<std::int64_t>(items.size()) + 1;
  engine.ui().ViewChanged(View::RestoreLog);
  std::size_t index = 0;
  for (const auto& node : items) {
    const ListedItem item = ReadListedItem(node.node());
    if (index++ % 10 == 0) engine.ShowStatus("Item found: " + item.DisplayName());
    InsertWorkRow(engine, item, "", "All items");
  }
}

void DownloadNextItems(Engine& engine) {
  auto& state = engine.Restore;
  const std::string target = engine.restorePathBox;
  for (;;) {
    if (state.DownloadsCancelled) return;
    const std::optional<Row> row = NextUnhandledRow(engine);
    ++state.totalPosition;
    MoveTotalBar(engine);
    if (!row) return;

    const std::filesystem::path file = RestoreTargetFile(target, row->playlistName, row->displayName);
    AddLogLine(engine, "Next file: " + file.string());
    std::filesystem::create_directories(file.parent_path());
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
      const std::optional<std::string> url = DeliveryAddress(engine, row->entryKey);
      if (!url) return;
      state.currentFile = row->displayName;
      engine.ui().ViewChanged(View::RestoreLog);
      try {
        DownloadInto(engine, *url, file);
      } catch (const std::exception& failure) {
        AddLogLine(engine, *url);
        engine.ui().ShowErrorDisplay(failure.what());
        return;
      }
    }
    MarkHandled(engine, row->entryKey);
    engine.ui().ProcessMessages();
  }
}

bool RestoreNow(Engine& engine) {
  const ActivityScope activity = engine.BeginActivity(Activity::Restoring);
  if (!activity) return false;
  auto& state = engine.Restore;
  std::error_code error;
  if (engine.restorePathBox.empty() || !std::filesystem::is_directory(engine.restorePathBox, error)) {
    engine.ui().ShowMessage("Please select a valid directory where the files should be restored");
    return false;
  }
  RunningGuard running(state);
  RemoveLeftoverPartialFiles(engine.restorePathBox);
  // A cancel belongs to the restore it was clicked in, not to the next one.
  state.DownloadsCancelled = false;
  state.listingFailed = false;
  state.totalPosition = 0;
  if (state.wholeLibrary) {
    ListLibraryItems(engine);
  } else {
    const auto rows = engine.RestorePlaylists; // a message pump may refill the list meanwhile
    for (const auto& row : rows) {
      if (!row.checked) continue;
      std::filesystem::create_directories(RestoreFolder(engine.restorePathBox, row.caption));
      ListPlaylistItems(engine, row.caption, row.entryKey);
    }
    state.totalMaximum = state.itemsFound;
  }
  engine.ui().ViewChanged(View::RestoreLog);
  DownloadNextItems(engine);
  return true;
}

void CancelDownloads(Engine& engine) {
  engine.ui().ShowMessage("Done - please wait for the current file to be finished");
  engine.Restore.DownloadsCancelled = true;
}

int UnhandledRestoreRows(Engine& engine) {
  return RunStatement(*engine.databases().temporary, sql::kCountUnhandledDownloads, [](SQLite::Statement& count) {
    count.executeStep();
    return count.getColumn(0).getInt();
  });
}

} // namespace velmora
