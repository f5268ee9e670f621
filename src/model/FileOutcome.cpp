#include "model/FileOutcome.h"

#include "base/ByteUnits.h"

namespace velmora {

const char* OutcomeName(FileOutcomeKind kind) {
  switch (kind) {
  case FileOutcomeKind::Sent: return "sent";
  case FileOutcomeKind::MetadataOnly: return "metadata-only";
  case FileOutcomeKind::AlreadyInLibrary: return "already-in-library";
  case FileOutcomeKind::Skipped: return "skipped";
  case FileOutcomeKind::NotSent: return "not-sent";
  case FileOutcomeKind::Failed: return "failed";
  case FileOutcomeKind::Restored: return "restored";
  case FileOutcomeKind::AlreadyThere: return "already-there";
  }
  return "failed";
}

void OutcomeLog::Clear() {
  entries_.clear();
  byKey_.clear();
}

void OutcomeLog::Add(FileOutcome outcome) { entries_.push_back(std::move(outcome)); }

void OutcomeLog::Set(std::uint64_t key, FileOutcome outcome) {
  if (key != 0) {
    if (const auto found = byKey_.find(key); found != byKey_.end()) {
      entries_[found->second] = std::move(outcome);
      return;
    }
    byKey_[key] = entries_.size();
  }
  entries_.push_back(std::move(outcome));
}

int OutcomeLog::Count(FileOutcomeKind kind) const {
  int count = 0;
  for (const FileOutcome& entry : entries_) count += entry.kind == kind ? 1 : 0;
  return count;
}

std::int64_t OutcomeLog::TotalBytes() const {
  std::int64_t bytes = 0;
  for (const FileOutcome& entry : entries_) bytes += entry.bytes;
  return bytes;
}

double OutcomeLog::TotalSeconds() const {
  double seconds = 0;
  for (const FileOutcome& entry : entries_) seconds += entry.seconds;
  return seconds;
}

const std::vector<FileOutcomeKind>& OutcomeLog::Kinds() const {
  using K = FileOutcomeKind;
  static const std::vector<K> upload{K::Sent, K::MetadataOnly, K::AlreadyInLibrary, K::Skipped, K::NotSent, K::Failed};
  static const std::vector<K> restore{K::Restored, K::AlreadyThere, K::Failed};
  return kind_ == ReportKind::Upload ? upload : restore;
}

std::string SummaryLine(const OutcomeLog& log) {
  std::string line;
  for (const FileOutcomeKind kind : log.Kinds()) {
    if (kind == FileOutcomeKind::NotSent && log.Count(kind) == 0) continue;
    if (!line.empty()) line += ", ";
    line += std::to_string(log.Count(kind)) + " ";
    if (log.dryRun() && kind == FileOutcomeKind::Sent) {
      line += "to send (" + HumanBytes(log.TotalBytes()) + ")";
      continue;
    }
    switch (kind) {
    case FileOutcomeKind::MetadataOnly: line += "metadata only"; break;
    case FileOutcomeKind::AlreadyInLibrary: line += "already in your library"; break;
    case FileOutcomeKind::AlreadyThere: line += "already there"; break;
    case FileOutcomeKind::NotSent: line += "not sent (stopped)"; break;
    default: line += OutcomeName(kind);
    }
  }
  return log.dryRun() ? "Dry run: " + line + "; nothing was sent" : line;
}

} // namespace velmora
