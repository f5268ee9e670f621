// The loop of an upload run: one queued file per pass, always the first record.

#include "upload/UploadPipeline.h"

#include "base/ScopedFile.h"
#include "base/ShowStatus.h"
#include "service/ApiError.h"
#include "service/ApiResult.h"
#include "service/CallApi.h"
#include "service/CallService.h"
#include "store/Sha1.h"
#include "upload/UploadAnswers.h"
#include "upload/UploadPlan.h"

#include <pugixml.hpp>

#include <chrono>
#include <filesystem>

namespace velmora {
namespace {

// Resets the loop's running mark however the loop is left.
class LoopMark {
public:
  explicit LoopMark(bool& active) : active_(active) { active_ = true; }
  ~LoopMark() { active_ = false; }
  LoopMark(const LoopMark&) = delete;
  LoopMark& operator=(const LoopMark&) = delete;

private:
  bool& active_;
};

} // namespace

void UploadPipeline::UploadNext() {
  if (loopActive_) return;
  LoopMark mark(loopActive_);
  outcome_ = RunOutcome::Running;
  try {
    if (service_.transfers() > 1) return UploadInLanes();
    for (;;) {
      if (uploadStopped_) {
        outcome_ = RunOutcome::Stopped;
        // The item just sent has left: the count is what is still queued.
        controls_.itemsToUpload = std::to_string(queue_.QueueCount());
        // The run's counts are final: front ends showing them re-read.
        Signal(View::UploadQueue);
        return;
      }
      controls_.itemsToUpload = std::to_string(queue_.QueueCount());
      Signal(View::UploadQueue);
      const UploadQueueRecord* first = queue_.First();
      if (!first) {
        FinishUploadRun();
        windows_.uploadDoneBarVisible = true;
        Signal(View::UploadWindows);
        outcome_ = RunOutcome::Finished;
        EndRun(FinishedRunNotice(runFileCounts_));
        return;
      }
      // A copy: the user may clear the queue or remove rows while this record is in transfer.
      const UploadQueueRecord record = *first;
      SendRecord(record);

      SetGlobalProgress(controls_.globalPosition + 1, controls_.globalMaximum);
      controls_.lastUploadedFile = TrackLine(record, " ");
      // Only the record just processed leaves, whatever happened to the queue meanwhile.
      queue_.Remove(record.id);
      Signal(View::UploadQueue);
      ui().ProcessMessages();
    }
  } catch (const ServiceUnreachable& failure) {
    // The watch takes the queued files back and tries again later; it tells the user once, so
    // the run's end carries no notice of its own.
    outcome_ = RunOutcome::Interrupted;
    for (const UploadQueueRecord& record : queue_.records()) heldBack_.push_back(record.location);
    heldBackReason_ = failure.what();
    queue_.Clear();
    FinishUploadRun();
    ShowStatus(ui(), std::string("The service cannot be reached: ") + failure.what());
    EndRun({});
  } catch (const std::exception& failure) {
    // Not handled here: the record stays first, and "Stop upload" then "Resume upload" retries it.
    outcome_ = RunOutcome::Failed;
    // Before the error display, which a front end may show modally.
    EndRun(FailedRunNotice(failure.what()));
    ui().ShowErrorDisplay(failure.what());
  }
}

void UploadPipeline::SendRecord(const UploadQueueRecord& record) {
  statusWindow_.nameLabel = TrackLine(record, ": ");
  ++statusWindow_.ItemsStarted;
  statusWindow_.currentTrack = record.location;
  Signal(View::UploadStatus);
  RefreshUploadStatus();

  const auto started = std::chrono::steady_clock::now();
  const auto decide = [&](FileOutcomeKind kind, std::string why) {
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    // The file's own bytes, as a restore counts them: the form fields and the metadata around
    // them are not the file. Content stored with the hash id it was queued with has its size.
    const std::int64_t bytes = kind == FileOutcomeKind::Sent ? record.size : 0;
    outcomes_.Set(record.id, {record.location, record.hashid, {}, kind, std::move(why), bytes, seconds.count()});
  };
  try {
    // Removed when the item's transfer has ended, sent or not.
    const ScopedFile metadata(SaveResponseFile(record.xml));
    const std::string& metadataFile = metadata.path();
    ShowStatus(ui(), "Upload of " + record.location);

    const RecordAction action = RecordActionOf(record);
    if (action == RecordAction::SendMetadata) {
      FormData form;
      form.AddText("checkhashresponse", record.hashcheckresponse);
      if (!record.autoadd2plist.empty()) form.AddText("playlistname", record.autoadd2plist);
      form.AddFile("metainfo", metadataFile, "audio/info");
      form.AddText("hashvalue", record.hashid);
      // A metadata file that cannot be opened is not an answer of the service: it ends the run
      // with the error, and the record stays first.
      CheckReadableFile(metadataFile);
      // Whatever the answer, the record is done: the service can be asked again by a new analysis.
      const ServiceReply reply = service_.Call("transmitfile", std::move(form), true, "");
      if (watchedRun_ && reply.Transient) throw ServiceUnreachable(reply.ErrorMessage);
      if (reply.Success) {
        ++runFileCounts_.alreadyThere;
        decide(FileOutcomeKind::MetadataOnly, {});
      } else {
        decide(FileOutcomeKind::Failed, RefusalReason(reply));
      }
    } else if (action == RecordAction::SendContent) {
      auto [kind, why] = SendNewFile(record, metadataFile);
      decide(kind, std::move(why));
    } else {
      decide(FileOutcomeKind::Skipped, NothingToSendReason(record));
    }
  } catch (const ServiceUnreachable&) {
    throw; // no outcome yet: the file waits for the next try
  } catch (const std::exception& failure) {
    decide(FileOutcomeKind::Failed, failure.what());
    // A watched run goes on with the other files (a file that changed or vanished fails alone).
    if (!watchedRun_) throw;
  }
}

std::pair<FileOutcomeKind, std::string> UploadPipeline::SendNewFile(const UploadQueueRecord& record,
                                                                    const std::string& metadataFile) {
  const std::string what = "upload of " + record.location;
  for (int failures = 0;;) {
    FormData registration;
    registration.AddText("checkhashresponse", record.hashcheckresponse);
    if (!record.autoadd2plist.empty()) registration.AddText("playlistname", record.autoadd2plist);

    // The one upload call whose failure is also shown as an error before it counts as a refusal,
    // so the guarded block is spelled out here rather than taken from CallService.
    ServiceReply result;
    try {
      HttpReply response;
      service_.Post("items/add", std::move(registration), response, true);
      result = ParseApiResult(response.Body);
    } catch (const TransferAbandoned&) {
      // Stopped by the user, not refused: the record stays first for the next run.
      throw;
    } catch (const std::exception& failure) {
      if (SendAgain(what, failure, ++failures)) continue;
      // Unattended, the cause goes with the file's refusal instead of an error box.
      if (!watchedRun_) ui().ShowErrorDisplay(failure.what());
      SetApiError(result, kNoAnswerCode, watchedRun_ ? failure.what() : "");
    }

    std::string location;
    if (result.Success) {
      location = ReadUploadLocation(result.ResponseText);
      // Without an address the file cannot be sent; treated like a refusal rather than posting to
      // the API base.
      if (location.empty()) SetApiError(result, kNoAnswerCode, "The service named no upload location");
    }
    if (!result.Success || location.empty()) {
      const std::string refusal = result.ErrorMessage + "  (Error #" + std::to_string(result.ErrorCode);
      if (watchedRun_) {
        // Unattended: the file fails alone and the others still go.
        ShowStatus(ui(), "Not uploaded: " + record.location + ": " + refusal + ")");
        return {FileOutcomeKind::Failed, RefusalReason(result)};
      }
      EndRun(FailedRunNotice(refusal));
      ui().ShowMessage(refusal);
      StopUpload();
      return {FileOutcomeKind::Failed, RefusalReason(result)};
    }

    FormData transfer = ContentForm(record, metadataFile);
    try {
      HttpReply ignored;
      service_.Post(location, std::move(transfer), ignored, true);
    } catch (const std::exception& failure) {
      // A file edited since its hash id was computed arrives with other content than announced,
      // which the service refuses; the HTTP status alone would not tell the user why.
      const auto* refusal = dynamic_cast<const ApiError*>(&failure);
      if (refusal && refusal->httpStatus() >= 400 && Sha1OfFile(record.location) != record.hashid) {
        throw ApiError("The file " + record.location +
                           " changed since it was analysed, so the service refused it (HTTP status " +
                           std::to_string(refusal->httpStatus()) + "); analyse it again to send it",
                       refusal->httpStatus());
      }
      // Not the same address again: it may already be used up by the body that got through, or
      // forgotten by a restarted service. A new registration names a fresh one; the service keeps
      // content by hash id and lists a file once, so a second copy adds nothing.
      if (SendAgain(what, failure, ++failures)) continue;
      throw;
    }
    ++runFileCounts_.uploaded;
    return {FileOutcomeKind::Sent, {}};
  }
}

} // namespace velmora
