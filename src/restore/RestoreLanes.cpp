// The restore's downloads with several lanes: up to N rows of the work list in transfer at once,
// each asking for its address and downloading on a lane's kept connection into a partial file of
// its own. The engine thread takes the rows back in the work list's order and decides as the
// one-at-a-time loop does: a refusal or a failed download ends the restore once the other lanes
// have ended; every file that arrived whole is kept and marked done.

#include "restore/Restore.h"

#include "base/ShowStatus.h"
#include "restore/PartialFiles.h"
#include "service/ApiError.h"
#include "service/CallService.h"
#include "service/TransferLanes.h"
#include "store/Statements.h"

#include <SQLiteCpp/Statement.h>
#include <pugixml.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <set>

namespace velmora {
namespace {

constexpr std::chrono::milliseconds kPumpInterval{50};

enum class Step {
  Deliver,  // "items/get/deliver"
  Location, // reading the download address: not sent again
  Download, // the GET into the partial file
};

std::string RefusalText(const ServiceReply& reply) {
  return "refused by the service: " + reply.ErrorMessage + " (Error #" + std::to_string(reply.ErrorCode) + ")";
}

struct LaneResult {
  Step step = Step::Deliver;
  ServiceReply reply;
  std::string url;
  Sha1Stream digest;
};

// Asks for the download address of an item; a refusal is left in `result`.
void AskAddress(TransferLane& lane, const std::string& entryKey, LaneResult& result) {
  result.step = Step::Deliver;
  FormData form;
  form.AddText("libraryKey", "").AddText("entrykey", entryKey).AddText("options", "");
  HttpReply answer;
  lane.Post("items/get/deliver", std::move(form), answer);
  result.reply = ParseApiResult(answer.Body);
  if (!result.reply.Success) return;
  result.step = Step::Location;
  pugi::xml_document document;
  LoadAnswerDocument(document, "download-deliver-item-", result.reply.ResponseText);
  std::optional<std::string> url = ReadDeliveryLocation(document);
  if (!url) throw std::runtime_error("The service named no download address for the item " + entryKey);
  result.url = *url;
}

// One row: its address (unless one was asked ahead), then the download.
// `received` counts the bytes of the downloaded files, not of the requests around them.
TransferLanes::Job RestoreJob(const std::string& entryKey, const std::filesystem::path& file,
                              const std::shared_ptr<LaneResult>& result, const std::string& addressAhead,
                              const std::shared_ptr<std::atomic<std::int64_t>>& received) {
  return [entryKey, file, result, addressAhead, received](TransferLane& lane) {
    if (addressAhead.empty()) {
      AskAddress(lane, entryKey, *result);
      if (!result->reply.Success) return;
    } else {
      result->reply.Success = true;
      result->url = addressAhead;
    }
    result->step = Step::Download;
    DownloadThroughPartialFile(file, result->digest, [&](const std::filesystem::path& partial, const BodyObserver& onBody) {
      lane.Get(result->url, partial, [&](const char* data, std::size_t size) {
        *received += static_cast<std::int64_t>(size);
        onBody(data, size);
      });
    });
  };
}

// The address of a row the lanes will take soon, asked on the lane that holds the engine's
// connection. Anything but a plain answer leaves the address to the row's own lane, which then
// reports what goes wrong as it always does.
TransferLanes::Job AddressAheadJob(const std::string& entryKey, const std::shared_ptr<std::string>& url) {
  return [entryKey, url](TransferLane& lane) {
    LaneResult result;
    try {
      AskAddress(lane, entryKey, result);
    } catch (const std::exception&) {
      return;
    }
    if (result.reply.Success) *url = result.url;
  };
}

} // namespace

void Restorer::DownloadInLanes() {
  auto& state = state_;
  const std::string target = target_;
  struct Slot {
    Row row;
    std::filesystem::path file;
    std::chrono::steady_clock::time_point started;
    std::shared_ptr<LaneResult> result;
    std::shared_ptr<LaneTicket> ticket;
    int failures = 0;
    bool settled = false;
  };
  const int transfers = service_.transfers();
  // Each row costs two round trips, its address and its download. The engine's kept connection,
  // idle while the lanes run, is lent to one more lane that asks addresses ahead, so most
  // downloads start at once: the command still opens transfers + 1 connections.
  struct Lent {
    ServiceClient& service;
    LentConnection connection;
    ~Lent() {
      if (connection.handle) service.GiveBackKeptHandle();
    }
  } lent{service_, service_.LendKeptHandle()};
  TransferLanes lanes(transfers, service_.laneIdentity(), [this] { return service_.rateLimit(); }, lent.connection);
  std::deque<Slot> slots;
  const auto received = std::make_shared<std::atomic<std::int64_t>>(0);
  std::set<std::string> keysInTransfer;
  // Addresses asked ahead, by entry key, for rows not yet on a lane; the one being asked.
  std::map<std::string, std::string> addressesAhead;
  struct Asking {
    std::string entryKey;
    std::shared_ptr<std::string> url;
    std::shared_ptr<LaneTicket> ticket;
  };
  std::optional<Asking> asking;
  // The first failure (in the work list's order) ends the restore; an exception is rethrown.
  bool ending = false;
  std::exception_ptr endingError;
  bool listExhausted = false;

  // A retry asks for a new address: a restarted service no longer knows the old one.
  const auto submit = [&](Slot& slot) {
    slot.result = std::make_shared<LaneResult>();
    slot.settled = false;
    slot.ticket = lanes.Submit({RestoreJob(slot.row.entryKey, slot.file, slot.result, {}, received)}).front();
  };
  // The next unhandled rows of the work list, in its order (rows in transfer included).
  const auto nextRows = [&](int count) {
    std::vector<Row> rows;
    RunStatement(*databases_.temporary, sql::kSelectUnhandledDownloadsInOrder, [&](SQLite::Statement& select) {
      select.bind(":count", count);
      while (select.executeStep()) {
        rows.push_back({select.getColumn(0).getString(), select.getColumn(1).getString(),
                        select.getColumn(2).getString()});
      }
    });
    return rows;
  };
  // Lanes free for rows: the lane of the engine's connection counts only for addresses.
  const auto freeForRows = [&] {
    int onLanes = 0;
    for (const Slot& slot : slots) onLanes += slot.ticket && !slot.ticket->done() ? 1 : 0;
    return transfers - onLanes;
  };

  // Starts rows on the free lanes, in the work list's order; an item already on a lane (listed in
  // two playlists) is not fetched twice.
  const auto dispatch = [&] {
    const int free = freeForRows();
    const std::vector<Row> rows = nextRows(static_cast<int>(keysInTransfer.size()) + free);
    listExhausted = rows.empty() && slots.empty();
    // Handed over together, so each already knows how many share the speed limit.
    std::vector<TransferLanes::Job> jobs;
    std::vector<std::size_t> waiting;
    for (const Row& row : rows) {
      if (static_cast<int>(jobs.size()) >= free) break;
      if (!keysInTransfer.insert(row.entryKey).second) continue;
      ++state.totalPosition;
      MoveTotalBar();
      Slot slot;
      slot.row = row;
      slot.file = FileOf(target, row.playlistName, row.entryKey, row.displayName);
      slot.started = std::chrono::steady_clock::now();
      AddLogLine("Next file: " + slot.file.string());
      std::filesystem::create_directories(slot.file.parent_path());
      std::error_code error;
      slot.settled = std::filesystem::exists(slot.file, error);
      slots.push_back(std::move(slot));
      std::string addressAhead;
      if (const auto ahead = addressesAhead.find(row.entryKey); ahead != addressesAhead.end()) {
        addressAhead = std::move(ahead->second);
        addressesAhead.erase(ahead);
      }
      if (slots.back().settled) continue;
      slots.back().result = std::make_shared<LaneResult>();
      jobs.push_back(RestoreJob(row.entryKey, slots.back().file, slots.back().result, addressAhead, received));
      waiting.push_back(slots.size() - 1);
    }
    if (jobs.empty()) return;
    auto tickets = lanes.Submit(std::move(jobs));
    for (std::size_t i = 0; i < tickets.size(); ++i) slots[waiting[i]].ticket = std::move(tickets[i]);
  };

  // Asks the address of a row the lanes will take soon. With none ready, the rows next in line
  // go to lanes before an answer could be back, so it asks past the first half of them.
  const auto askAhead = [&] {
    if (!lent.connection.handle || asking || static_cast<int>(addressesAhead.size()) >= transfers) return;
    int skip = addressesAhead.empty() ? transfers / 2 : 0;
    for (const Row& row : nextRows(static_cast<int>(keysInTransfer.size()) + 2 * transfers)) {
      if (keysInTransfer.count(row.entryKey) != 0 || addressesAhead.count(row.entryKey) != 0) continue;
      std::error_code error;
      if (std::filesystem::exists(FileOf(target, row.playlistName, row.entryKey, row.displayName), error)) continue;
      if (skip-- > 0) continue;
      asking = Asking{row.entryKey, std::make_shared<std::string>(), nullptr};
      asking->ticket = lanes.Submit({AddressAheadJob(row.entryKey, asking->url)}, false).front();
      return;
    }
  };
  // An address asked ahead has come: kept unless its row went to a lane meanwhile.
  const auto takeAddress = [&] {
    if (!asking || !asking->ticket->done()) return;
    if (!asking->url->empty() && keysInTransfer.count(asking->entryKey) == 0) {
      addressesAhead[asking->entryKey] = std::move(*asking->url);
    }
    asking.reset();
  };

  // A lane's job ended: a failure that may pass is sent again (a download asks for a new address).
  const auto settle = [&](Slot& slot) {
    slot.settled = true;
    const bool again = SendJobAgain(slot.ticket->failure(), [&](const std::exception& e) {
      if (slot.result->step == Step::Deliver) {
        return service_.retrier().WaitToRetry("items/get/deliver", RepeatSafetyOf("items/get/deliver"), e,
                                              ++slot.failures);
      }
      return slot.result->step == Step::Download &&
             service_.retrier().WaitToRetry("download of " + slot.row.displayName, RepeatSafety::Idempotent, e,
                                            ++slot.failures);
    });
    if (again && !state.DownloadsCancelled) submit(slot);
  };

  // The oldest row is done: counted, reported and marked as the one-at-a-time loop does.
  const auto take = [&](Slot& slot) {
    const auto decide = [&](FileOutcomeKind kind, std::string why) {
      const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - slot.started;
      std::error_code sizeError;
      const auto size = kind == FileOutcomeKind::Restored ? std::filesystem::file_size(slot.file, sizeError) : 0;
      outcomes_.Add({slot.file.string(), {}, slot.row.entryKey, kind, std::move(why),
                     sizeError ? 0 : static_cast<std::int64_t>(size), seconds.count()});
    };
    const auto failed = [&](std::string why) {
      ++state.failedCount;
      decide(FileOutcomeKind::Failed, std::move(why));
      ending = true;
    };
    if (!slot.ticket) {
      ++state.alreadyThereCount;
      decide(FileOutcomeKind::AlreadyThere, {});
      MarkHandled(slot.row.entryKey);
      return;
    }
    const std::exception_ptr failure = slot.ticket->failure();
    if (!failure) {
      if (!slot.result->reply.Success) {
        ShowServiceError("Login failed", "Could not load data from server - error ", slot.result->reply);
        return failed(RefusalText(slot.result->reply));
      }
      RememberRestoredFile(slot.file, slot.result->digest);
      ++state.restoredCount;
      decide(FileOutcomeKind::Restored, {});
      MarkHandled(slot.row.entryKey);
      return;
    }
    std::string what;
    try {
      std::rethrow_exception(failure);
    } catch (const std::exception& e) {
      what = e.what();
    }
    switch (slot.result->step) {
    case Step::Deliver: {
      ServiceReply reply;
      SetApiError(reply, kNoAnswerCode, kCouldNotConnect);
      ShowServiceError("Login failed", "Could not load data from server - error ", reply);
      return failed(RefusalText(reply));
    }
    case Step::Location:
      failed(what);
      if (!endingError) endingError = failure;
      return;
    case Step::Download:
      AddLogLine(slot.result->url);
      ui().ShowErrorDisplay(what);
      return failed(what);
    }
  };

  for (;;) {
    while (!slots.empty() && slots.front().settled) {
      Slot slot = std::move(slots.front());
      slots.pop_front();
      keysInTransfer.erase(slot.row.entryKey);
      take(slot);
      ui().ProcessMessages();
    }
    if (!ending && !state.DownloadsCancelled) {
      dispatch();
      askAhead();
    }
    if (slots.empty()) break;
    if (state.currentFile != slots.front().row.displayName) {
      state.currentFile = slots.front().row.displayName;
      ui().ViewChanged(View::RestoreLog);
    }
    if (!slots.front().settled) {
      lanes.SetStopRequested(service_.StopRequested());
      lanes.WaitForAny(kPumpInterval);
    }
    // The restore's bars count files, not bytes; the figures count the bytes.
    state.bytesReceived += received->exchange(0);
    if (const auto& ticket = slots.front().ticket) {
      ui().SetProgress(ProgressBar::DownloadFile, ticket->requestMoved(), ticket->requestTotal());
    }
    ui().ProcessMessages();
    takeAddress();
    for (Slot& slot : slots) {
      if (!slot.settled && slot.ticket && slot.ticket->done()) settle(slot);
    }
  }
  state.bytesReceived += received->exchange(0);
  ui().SetProgress(ProgressBar::DownloadFile, 0, 0);
  // The pass that finds nothing left moves the total bar too.
  if (listExhausted && !ending && !state.DownloadsCancelled) {
    ++state.totalPosition;
    MoveTotalBar();
  }
  if (endingError) std::rethrow_exception(endingError);
}

} // namespace velmora
