#pragma once
// What the upload loop does with a queued file, decided by the duplicate check's answer for it.
// The loop acts on it; a dry run records it as the run's outcome instead of sending.

#include "model/FileOutcome.h"
#include "service/ApiResult.h"
#include "service/FormData.h"
#include "upload/UploadQueue.h"

#include <string>

namespace velmora {

enum class RecordAction {
  SendContent,  // 404: the service lacks the content; register it and send the file
  SendMetadata, // 204: the service holds the content; only the tags go
  Nothing,      // any other answer; see NothingToSendReason
};

RecordAction RecordActionOf(const UploadQueueRecord& record);
// Why nothing is sent for a record whose action is Nothing.
std::string NothingToSendReason(const UploadQueueRecord& record);
// The outcome a run that succeeds records for the record: sent with the file's size, metadata
// only, or skipped with the reason.
FileOutcome PlannedOutcome(const UploadQueueRecord& record);
// The artist and the title; a file without an artist is named by its title alone.
std::string TrackLine(const UploadQueueRecord& record, const char* separator);
// The form that carries a new file's content to its upload address, with its metadata document
// when that could be written.
FormData ContentForm(const UploadQueueRecord& record, const std::string& metadataFile);
// A refusal as a file's outcome reason.
std::string RefusalReason(const ServiceReply& reply);

} // namespace velmora
