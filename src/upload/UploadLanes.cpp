// The upload loop with several lanes: up to N queue records in transfer at once, each lane keeping
// its connection. The engine thread hands records to the lanes in queue order, pumps messages and
// moves the bars while they run, and takes their results in queue order, so a record leaves the
// queue only when its own transfer succeeded and what a failure ends is decided as in the loop
// that sends one record at a time (UploadLoop.cpp).

#include "upload/UploadPipeline.h"

#include "base/ScopedFile.h"
#include "base/ShowStatus.h"
#include "service/ApiError.h"
#include "service/ApiResult.h"
#include "service/CallApi.h"
#include "service/CallService.h"
#include "service/TransferLanes.h"
#include "store/Sha1.h"
#include "upload/UploadAnswers.h"
#include "upload/UploadPlan.h"

#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <unordered_set>

namespace velmora {
namespace {

// How long the engine thread waits for a lane before it pumps messages again.
constexpr std::chrono::milliseconds kPumpInterval{50};

// The step a lane's job was at; a failure is judged by it.
enum class Step {
  Metadata,     // "transmitfile"
  Registration, // "items/add"
  Location,     // reading the upload address: not sent again
  Transfer,     // the content to the upload address
};

// Written by a lane's job, read by the engine thread once the job's ticket is done.
struct LaneResult {
  Step step = Step::Metadata;
  ServiceReply reply;
  std::string location;
};

std::string WhatOf(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown failure";
  }
}

TransferLanes::Job MetadataJob(const UploadQueueRecord& record, const std::string& metadataFile,
                               const std::shared_ptr<LaneResult>& result) {
  return [record, metadataFile, result](TransferLane& lane) {
    result->step = Step::Metadata;
    FormData form;
    form.AddText("checkhashresponse", record.hashcheckresponse);
    if (!record.autoadd2plist.empty()) form.AddText("playlistname", record.autoadd2plist);
    form.AddFile("metainfo", metadataFile, "audio/info");
    form.AddText("hashvalue", record.hashid);
    HttpReply answer;
    lane.Post("transmitfile", std::move(form), answer);
    result->reply = ParseApiResult(answer.Body);
  };
}

TransferLanes::Job NewFileJob(const UploadQueueRecord& record, const std::string& metadataFile,
                              const std::shared_ptr<LaneResult>& result) {
  return [record, metadataFile, result](TransferLane& lane) {
    result->step = Step::Registration;
    FormData registration;
    registration.AddText("checkhashresponse", record.hashcheckresponse);
    if (!record.autoadd2plist.empty()) registration.AddText("playlistname", record.autoadd2plist);
    HttpReply answer;
    lane.Post("items/add", std::move(registration), answer);
    result->reply = ParseApiResult(answer.Body);
    if (!result->reply.Success) return;
    result->step = Step::Location;
    result->location = ReadUploadLocation(result->reply.ResponseText);
    if (result->location.empty()) return;

    result->step = Step::Transfer;
    FormData transfer = ContentForm(record, metadataFile);
    try {
      HttpReply ignored;
      lane.Post(result->location, std::move(transfer), ignored);
    } catch (const ApiError& refusal) {
      // As in the one-at-a-time loop: a file edited since it was analysed is named as the cause.
      if (refusal.httpStatus() >= 400 && Sha1OfFile(record.location) != record.hashid) {
        throw ApiError("The file " + record.location +
                           " changed since it was analysed, so the service refused it (HTTP status " +
                           std::to_string(refusal.httpStatus()) + "); analyse it again to send it",
                       refusal.httpStatus());
      }
      throw;
    }
  };
}

} // namespace

class UploadPipeline::LaneRun {
public:
  explicit LaneRun(UploadPipeline& pipeline)
      : p_(pipeline), lanes_(pipeline.service_.transfers(), pipeline.service_.laneIdentity(),
                             [&service = pipeline.service_] { return service.rateLimit(); }) {}
  LaneRun(const LaneRun&) = delete;
  LaneRun& operator=(const LaneRun&) = delete;
  ~LaneRun() {
    // Left by an exception with jobs still out: stalled ones give up before the lanes close.
    lanes_.SetStopRequested(true);
  }

  // Runs until the queue is worked through, a stop, or a failure that ends the run; throws
  // what ends it as UploadNext's one-at-a-time loop would, once every lane has ended.
  void Run();

private:
  struct Slot {
    UploadQueueRecord record;
    RecordAction action = RecordAction::Nothing;
    std::string metadataFile;
    std::chrono::steady_clock::time_point started;
    std::shared_ptr<LaneResult> result;
    std::shared_ptr<LaneTicket> ticket;
    // What failed before anything was sent (the metadata file).
    std::exception_ptr localFailure;
    int failures = 0;
    // No retry is pending: the slot waits to be taken in order.
    bool settled = false;
    // The service could not be reached in a watched run: the file goes back to the watch.
    bool unreachable = false;
    std::string unreachableWhy;
  };

  bool MayDispatch() const { return !ending_ && !unreachable_ && !p_.uploadStopped_; }
  void Dispatch();
  // Records of one named playlist are added in queue order: the next waits for the one before.
  bool PlaylistBusy(const std::string& playlist) const;
  TransferLanes::Job JobOf(Slot& slot);
  void WaitForLanes();
  void Settle(Slot& slot);
  void TakeSettled();
  void Take(Slot& slot);
  void ShowOldest();

  UploadPipeline& p_;
  TransferLanes lanes_;
  std::deque<Slot> slots_;
  std::unordered_set<std::uint64_t> inTransfer_;
  std::exception_ptr ending_;
  bool unreachable_ = false;
  std::string unreachableWhy_;
  std::uint64_t shownId_ = 0;
};

void UploadPipeline::UploadInLanes() {
  LaneRun run(*this);
  run.Run();
}

void UploadPipeline::LaneRun::Run() {
  for (;;) {
    TakeSettled();
    if (MayDispatch()) Dispatch();
    TakeSettled();
    if (slots_.empty()) break;
    ShowOldest();
    WaitForLanes();
  }
  // However the run ends, the files that have left are no longer counted.
  p_.controls_.itemsToUpload = std::to_string(p_.queue_.QueueCount());
  if (unreachable_) throw ServiceUnreachable(unreachableWhy_);
  if (ending_) std::rethrow_exception(ending_);
  if (p_.uploadStopped_) {
    p_.outcome_ = RunOutcome::Stopped;
    p_.Signal(View::UploadQueue);
    return;
  }
  p_.FinishUploadRun();
  p_.windows_.uploadDoneBarVisible = true;
  p_.Signal(View::UploadWindows);
  p_.outcome_ = RunOutcome::Finished;
  p_.EndRun(FinishedRunNotice(p_.runFileCounts_));
}

bool UploadPipeline::LaneRun::PlaylistBusy(const std::string& playlist) const {
  if (playlist.empty()) return false;
  for (const Slot& slot : slots_) {
    if (slot.record.autoadd2plist == playlist && !slot.settled) return true;
  }
  return false;
}

void UploadPipeline::LaneRun::Dispatch() {
  std::vector<TransferLanes::Job> jobs;
  std::vector<std::size_t> waiting;
  for (const UploadQueueRecord& queued : p_.queue_.records()) {
    if (static_cast<int>(jobs.size()) >= lanes_.free()) break;
    if (inTransfer_.count(queued.id) != 0) continue;
    // Taken in queue order: a record that has to wait holds back the ones after it.
    if (PlaylistBusy(queued.autoadd2plist)) break;
    Slot slot;
    slot.record = queued; // a copy: the user may clear the queue or remove rows meanwhile
    slot.action = RecordActionOf(queued);
    slot.started = std::chrono::steady_clock::now();
    inTransfer_.insert(queued.id);
    ++p_.statusWindow_.ItemsStarted;
    p_.controls_.itemsToUpload = std::to_string(p_.queue_.QueueCount());
    try {
      slot.metadataFile = SaveResponseFile(slot.record.xml);
      ShowStatus(p_.ui(), "Upload of " + slot.record.location);
      if (slot.action == RecordAction::SendMetadata) CheckReadableFile(slot.metadataFile);
    } catch (...) {
      slot.localFailure = std::current_exception();
    }
    const bool sends = !slot.localFailure && slot.action != RecordAction::Nothing;
    slot.settled = !sends;
    slots_.push_back(std::move(slot));
    if (sends) {
      jobs.push_back(JobOf(slots_.back()));
      waiting.push_back(slots_.size() - 1);
    }
  }
  p_.Signal(View::UploadQueue);
  if (jobs.empty()) return;
  auto tickets = lanes_.Submit(std::move(jobs));
  for (std::size_t i = 0; i < tickets.size(); ++i) slots_[waiting[i]].ticket = std::move(tickets[i]);
}

TransferLanes::Job UploadPipeline::LaneRun::JobOf(Slot& slot) {
  slot.result = std::make_shared<LaneResult>();
  return slot.action == RecordAction::SendMetadata ? MetadataJob(slot.record, slot.metadataFile, slot.result)
                                                   : NewFileJob(slot.record, slot.metadataFile, slot.result);
}

void UploadPipeline::LaneRun::WaitForLanes() {
  if (!slots_.front().settled) {
    lanes_.SetStopRequested(p_.service_.StopRequested());
    lanes_.WaitForAny(kPumpInterval);
  }
  RunCounters& counters = p_.service_.counters();
  if (const std::int64_t moved = lanes_.TakeMovedBytes(); moved > 0) {
    counters.UploadedBytes += moved;
    counters.ShownUploadedBytes = counters.UploadedBytes;
    counters.BytesLeft = counters.TotalBytes - counters.ShownUploadedBytes;
    p_.ui().SetProgress(ProgressBar::StatusGlobal, counters.ShownUploadedBytes / 1024, counters.TotalBytes / 1024);
  }
  // The file bars follow the oldest record in transfer.
  if (const auto& ticket = slots_.front().ticket) {
    p_.ui().SetProgress(ProgressBar::File, ticket->requestMoved(), ticket->requestTotal());
  }
  p_.ui().ProcessMessages();
  // Settling may wait for a retry (pumping messages); the slots stay where they are meanwhile.
  for (Slot& slot : slots_) {
    if (!slot.settled && slot.ticket && slot.ticket->done()) Settle(slot);
  }
}

void UploadPipeline::LaneRun::Settle(Slot& slot) {
  slot.settled = true;
  const bool again = SendJobAgain(slot.ticket->failure(), [&](const std::exception& e) {
    if (slot.result->step == Step::Metadata) {
      return p_.service_.retrier().WaitToRetry("transmitfile", RepeatSafetyOf("transmitfile"), e, ++slot.failures);
    }
    if (slot.result->step != Step::Registration && slot.result->step != Step::Transfer) return false;
    // Back to "items/add" either way: an upload address works once.
    try {
      return p_.SendAgain("upload of " + slot.record.location, e, ++slot.failures);
    } catch (const ServiceUnreachable& unreachable) {
      slot.unreachable = true;
      slot.unreachableWhy = unreachable.what();
      return false;
    }
  });
  if (again && !p_.uploadStopped_) {
    slot.settled = false;
    auto tickets = lanes_.Submit({JobOf(slot)});
    slot.ticket = std::move(tickets.front());
  }
}

void UploadPipeline::LaneRun::TakeSettled() {
  while (!slots_.empty() && slots_.front().settled) {
    Slot slot = std::move(slots_.front());
    slots_.pop_front();
    inTransfer_.erase(slot.record.id);
    Take(slot);
  }
}

void UploadPipeline::LaneRun::Take(Slot& slot) {
  // Removed when the item's transfer has ended, sent or not.
  const ScopedFile metadata(slot.metadataFile);
  const UploadQueueRecord& record = slot.record;
  const bool watched = p_.watchedRun_;
  const auto decide = [&](FileOutcomeKind kind, std::string why) {
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - slot.started;
    const std::int64_t bytes = kind == FileOutcomeKind::Sent ? record.size : 0;
    p_.outcomes_.Set(record.id, {record.location, record.hashid, {}, kind, std::move(why), bytes, seconds.count()});
  };
  // The record is done: it leaves the queue (if it is still there) and the bars move.
  const auto done = [&] {
    p_.SetGlobalProgress(p_.controls_.globalPosition + 1, p_.controls_.globalMaximum);
    p_.controls_.lastUploadedFile = TrackLine(record, " ");
    p_.queue_.Remove(record.id);
    p_.Signal(View::UploadQueue);
  };
  // Not handled here: unattended the file fails alone; otherwise the record stays in the queue
  // and the run ends with this failure once the lanes have ended.
  const auto fail = [&](const std::exception_ptr& failure) {
    decide(FileOutcomeKind::Failed, WhatOf(failure));
    if (watched) {
      done();
    } else if (!ending_) {
      ending_ = failure;
    }
  };
  const auto keepForWatch = [&](const std::string& why) {
    if (!unreachable_) unreachableWhy_ = why;
    unreachable_ = true;
  };

  if (slot.unreachable) return keepForWatch(slot.unreachableWhy);
  if (slot.localFailure) return fail(slot.localFailure);
  const std::exception_ptr failure = slot.ticket ? slot.ticket->failure() : nullptr;

  if (slot.action == RecordAction::SendMetadata) {
    ServiceReply reply = slot.result->reply;
    if (failure) {
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        SetApiError(reply, kNoAnswerCode, e.what());
        reply.Transient = DescribeFailure(e).transient;
      }
    }
    if (watched && reply.Transient) return keepForWatch(reply.ErrorMessage);
    if (reply.Success) {
      ++p_.runFileCounts_.alreadyThere;
      decide(FileOutcomeKind::MetadataOnly, {});
    } else {
      decide(FileOutcomeKind::Failed, RefusalReason(reply));
    }
    return done();
  }

  if (slot.action == RecordAction::SendContent) {
    ServiceReply reply = slot.result->reply;
    if (failure) {
      bool refused = false;
      try {
        std::rethrow_exception(failure);
      } catch (const TransferAbandoned&) {
        // Stopped by the user, not refused: handled below as a failure.
      } catch (const std::exception& e) {
        if (slot.result->step == Step::Registration) {
          refused = true;
          if (!watched) p_.ui().ShowErrorDisplay(e.what());
          SetApiError(reply, kNoAnswerCode, watched ? e.what() : "");
        }
      }
      if (!refused) return fail(failure);
    } else if (reply.Success && slot.result->location.empty()) {
      // Nothing was sent: without an address the file is refused, never counted as sent.
      reply.Success = false;
      SetApiError(reply, kNoAnswerCode, "The service named no upload location");
    }
    if (!reply.Success) {
      const std::string refusal = reply.ErrorMessage + "  (Error #" + std::to_string(reply.ErrorCode);
      decide(FileOutcomeKind::Failed, RefusalReason(reply));
      if (watched) {
        ShowStatus(p_.ui(), "Not uploaded: " + record.location + ": " + refusal + ")");
      } else {
        p_.EndRun(FailedRunNotice(refusal));
        p_.ui().ShowMessage(refusal);
        p_.StopUpload();
      }
      return done();
    }
    ++p_.runFileCounts_.uploaded;
    decide(FileOutcomeKind::Sent, {});
    return done();
  }

  decide(FileOutcomeKind::Skipped, NothingToSendReason(record));
  done();
}

void UploadPipeline::LaneRun::ShowOldest() {
  const UploadQueueRecord& oldest = slots_.front().record;
  if (oldest.id == shownId_) return;
  shownId_ = oldest.id;
  p_.statusWindow_.nameLabel = TrackLine(oldest, ": ");
  p_.statusWindow_.currentTrack = oldest.location;
  p_.Signal(View::UploadStatus);
  p_.RefreshUploadStatus();
}

} // namespace velmora
