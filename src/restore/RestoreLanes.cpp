// The restore's downloads with several lanes: up to N rows of the work list in transfer at once,
// each asking for its address and downloading on a lane's kept connection into a partial file of
// its own. The engine thread takes the rows back in the work list's order and decides as the
// one-at-a-time loop does: a refusal or a failed download ends the restore once the other lanes
// have ended; every file that arrived whole is kept and marked done.

#include "restore/Restore.h"

#include "base/ShowStatus.h"
#include "service/ApiError.h"
#include "service/CallService.h"
#include "service/TransferLanes.h"
#include "store/Statements.h"

#include <SQLiteCpp/Statement.h>
#include <pugixml.hpp>

#include <chrono>
#include <deque>
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

TransferLanes::Job RestoreJob(const std::string& entryKey, const std::filesystem::path& file,
                              const std::shared_ptr<LaneResult>& result) {
  return [entryKey, file, result](TransferLane& lane) {
    result->step = Step::Deliver;
    FormData form;
    form.AddText("libraryKey", "").AddText("entrykey", entryKey).AddText("options", "");
    HttpReply answer;
    lane.Post("items/get/deliver", std::move(form), answer);
    result->reply = ParseApiResult(answer.Body);
    if (!result->reply.Success) return;
    result->step = Step::Location;
    pugi::xml_document document;
    LoadAnswerDocument(document, "download-deliver-item-", result->reply.ResponseText);
    std::optional<std::string> url = ReadDeliveryLocation(document);
    if (!url) throw std::runtime_error("The service named no download address for the item " + entryKey);
    result->url = *url;
    result->step = Step::Download;
    DownloadThroughPartialFile(file, result->digest, [&](const std::filesystem::path& partial, const BodyObserver& onBody) {
      lane.Get(result->url, partial, onBody);
    });
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
  TransferLanes lanes(service_.transfers(), service_.laneIdentity(),
                      [this] { return service_.rateLimit(); });
  std::deque<Slot> slots;
  std::set<std::string> keysInTransfer;
  // The first failure (in the work list's order) ends the restore; an exception is rethrown.
  bool ending = false;
  std::exception_ptr endingError;
  bool listExhausted = false;

  const auto submit = [&](Slot& slot) {
    slot.result = std::make_shared<LaneResult>();
    slot.settled = false;
    slot.ticket = lanes.Submit({RestoreJob(slot.row.entryKey, slot.file, slot.result)}).front();
  };

  // Starts rows on the free lanes, in the work list's order; an item already on a lane (listed in
  // two playlists) is not fetched twice.
  const auto dispatch = [&] {
    const int wanted = static_cast<int>(keysInTransfer.size()) + lanes.free();
    std::vector<Row> rows;
    RunStatement(*databases_.temporary, sql::kSelectUnhandledDownloadsInOrder, [&](SQLite::Statement& select) {
      select.bind(":count", wanted);
      while (select.executeStep()) {
        rows.push_back({select.getColumn(0).getString(), select.getColumn(1).getString(),
                        select.getColumn(2).getString()});
      }
    });
    listExhausted = rows.empty() && slots.empty();
    // Handed over together, so each already knows how many share the speed limit.
    std::vector<TransferLanes::Job> jobs;
    std::vector<std::size_t> waiting;
    for (const Row& row : rows) {
      if (static_cast<int>(jobs.size()) >= lanes.free()) break;
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
      if (slots.back().settled) continue;
      slots.back().result = std::make_shared<LaneResult>();
      jobs.push_back(RestoreJob(row.entryKey, slots.back().file, slots.back().result));
      waiting.push_back(slots.size() - 1);
    }
    if (jobs.empty()) return;
    auto tickets = lanes.Submit(std::move(jobs));
    for (std::size_t i = 0; i < tickets.size(); ++i) slots[waiting[i]].ticket = std::move(tickets[i]);
  };

  // A lane's job ended: a failure that may pass is sent again (a download asks for a new address).
  const auto settle = [&](Slot& slot) {
    slot.settled = true;
    const std::exception_ptr failure = slot.ticket->failure();
    if (!failure) return;
    try {
      std::rethrow_exception(failure);
    } catch (const TransferAbandoned&) {
    } catch (const std::exception& e) {
      bool again = false;
      if (slot.result->step == Step::Deliver) {
        again = service_.retrier().WaitToRetry("items/get/deliver", RepeatSafetyOf("items/get/deliver"), e,
                                              ++slot.failures);
      } else if (slot.result->step == Step::Download) {
        again = service_.retrier().WaitToRetry("download of " + slot.row.displayName, RepeatSafety::Idempotent, e,
                                              ++slot.failures);
      }
      if (again && !state.DownloadsCancelled) submit(slot);
    }
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
    if (!ending && !state.DownloadsCancelled) dispatch();
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
    state.bytesReceived += lanes.TakeMovedBytes();
    if (const auto& ticket = slots.front().ticket) {
      ui().SetProgress(ProgressBar::DownloadFile, ticket->requestMoved(), ticket->requestTotal());
    }
    ui().ProcessMessages();
    for (Slot& slot : slots) {
      if (!slot.settled && slot.ticket && slot.ticket->done()) settle(slot);
    }
  }
  ui().SetProgress(ProgressBar::DownloadFile, 0, 0);
  // The pass that finds nothing left moves the total bar too.
  if (listExhausted && !ending && !state.DownloadsCancelled) {
    ++state.totalPosition;
    MoveTotalBar();
  }
  if (endingError) std::rethrow_exception(endingError);
}

} // namespace velmora
