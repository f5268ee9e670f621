#pragma once
// What happened to each file an upload run or a restore considered, and the counts of the run.
// The upload and restore layers record the outcomes as they decide them; front ends show the
// counts and write them as a report.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

enum class FileOutcomeKind {
  Sent,             // the content went to the service
  MetadataOnly,     // the service held the content; only the tags went
  AlreadyInLibrary, // the file is in the user's library already; nothing went
  Skipped,          // left out by a rule, for the reason given (unsupported type, vanished, ...)
  NotSent,          // queued, but the run was stopped or the file was taken out of the queue
  Failed,           // sending was tried and did not succeed (a refusal, a cut transfer)
  Restored,         // downloaded into the target folder
  AlreadyThere,     // the restore found the file in the target folder
};

// "sent", "metadata-only", "already-in-library", "skipped", "not-sent", "failed", "restored",
// "already-there".
const char* OutcomeName(FileOutcomeKind kind);

struct FileOutcome {
  std::string path;     // the local file
  std::string hashId;   // upload: the file's hash id (empty when none was computed)
  std::string entryKey; // restore: the service's key of the item
  FileOutcomeKind kind = FileOutcomeKind::Skipped;
  std::string reason; // why a file was skipped or failed; empty otherwise
  std::int64_t bytes = 0;
  double seconds = 0;
};

enum class ReportKind { Upload, Restore };

// The outcomes of one run in the order they were decided. An entry recorded again under the same
// key replaces the earlier one (a record that failed and was sent after "Resume upload").
class OutcomeLog {
public:
  explicit OutcomeLog(ReportKind kind) : kind_(kind) {}
  ReportKind kind() const { return kind_; }
  // A dry run's log: what a run would do with each file; nothing was sent. Outcomes and counts
  // are those the run would report.
  bool dryRun() const { return dryRun_; }
  void SetDryRun(bool dryRun) { dryRun_ = dryRun; }
  void Clear();
  void Add(FileOutcome outcome);
  // Adds, or replaces the entry added earlier with the same nonzero key.
  void Set(std::uint64_t key, FileOutcome outcome);
  bool Has(std::uint64_t key) const { return byKey_.count(key) != 0; }
  const std::vector<FileOutcome>& entries() const { return entries_; }
  int Count(FileOutcomeKind kind) const;
  std::int64_t TotalBytes() const;
  double TotalSeconds() const;
  // The kinds this report counts, in the order the summary names them.
  const std::vector<FileOutcomeKind>& Kinds() const;

private:
  ReportKind kind_;
  bool dryRun_ = false;
  std::vector<FileOutcome> entries_;
  std::unordered_map<std::uint64_t, std::size_t> byKey_;
};

// The run in one line, every kind named even when zero: "12 sent, 3 metadata only, 40 already in
// your library, 2 skipped, 0 failed"; a restore: "5 restored, 2 already there, 0 failed". Files a
// stop kept from being sent are named only when there are some: "..., 2 skipped, 17 not sent
// (stopped), 0 failed". A dry run: "Dry run: 12 to send (48.2 MiB), 3 metadata only, ...,
// nothing was sent".
std::string SummaryLine(const OutcomeLog& log);

// Reasons the engine gives.
namespace reason {
inline constexpr const char* kUnsupportedType = "unsupported type";
inline constexpr const char* kVanished = "vanished: the file is no longer there";
inline constexpr const char* kEmpty = "empty file";
inline constexpr const char* kTooLarge = "too large: 20 MiB or more";
inline constexpr const char* kSameContent = "same content as another file of this run";
inline constexpr const char* kNoHashId = "unreadable: no hash id could be computed";
inline constexpr const char* kNoCheckAnswer = "the service did not answer the duplicate check for this file";
inline constexpr const char* kStillQueued = "not sent: still in the upload queue (the run was stopped)";
inline constexpr const char* kRemovedFromQueue = "removed from the upload queue";
} // namespace reason

} // namespace velmora
