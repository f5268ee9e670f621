#include "upload/UploadPlan.h"

#include <charconv>
#include <filesystem>

namespace velmora {
namespace {

constexpr int kCodeMetadataOnly = 204;
constexpr int kCodeContentMissing = 404;
// The hash id the fingerprinter gives a file it could not read.
constexpr const char* kUnreadablePlaceholder = "invalidhashvalue";

int RecordCode(const std::string& text) {
  int code = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), code);
  return error == std::errc() && end == text.data() + text.size() ? code : 0;
}

} // namespace

RecordAction RecordActionOf(const UploadQueueRecord& record) {
  switch (RecordCode(record.hashcheckresponse)) {
  case kCodeMetadataOnly: return RecordAction::SendMetadata;
  case kCodeContentMissing: return RecordAction::SendContent;
  default: return RecordAction::Nothing;
  }
}

std::string NothingToSendReason(const UploadQueueRecord& record) {
  // An unreadable file's placeholder id gets 400.
  return record.hashid == kUnreadablePlaceholder ? reason::kNoHashId
                                                 : "the service answered code " + record.hashcheckresponse;
}

FileOutcome PlannedOutcome(const UploadQueueRecord& record) {
  FileOutcome outcome{record.location, record.hashid, {}, FileOutcomeKind::Skipped, {}};
  switch (RecordActionOf(record)) {
  case RecordAction::SendContent:
    outcome.kind = FileOutcomeKind::Sent;
    outcome.bytes = record.size;
    break;
  case RecordAction::SendMetadata: outcome.kind = FileOutcomeKind::MetadataOnly; break;
  case RecordAction::Nothing: outcome.reason = NothingToSendReason(record); break;
  }
  return outcome;
}

std::string TrackLine(const UploadQueueRecord& record, const char* separator) {
  return record.artist.empty() ? record.name : record.artist + separator + record.name;
}

FormData ContentForm(const UploadQueueRecord& record, const std::string& metadataFile) {
  FormData transfer;
  transfer.AddFile("filedata", record.location, "audio/unknown");
  if (!record.autoadd2plist.empty()) transfer.AddText("playlistname", record.autoadd2plist);
  std::error_code error;
  if (std::filesystem::exists(metadataFile, error)) transfer.AddFile("metainfo", metadataFile, "text/xml");
  return transfer;
}

std::string RefusalReason(const ServiceReply& reply) {
  return "refused by the service: " + reply.ErrorMessage + " (Error #" + std::to_string(reply.ErrorCode) + ")";
}

} // namespace velmora
