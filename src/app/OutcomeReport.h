#pragma once
// The report of a run as JSON Lines: one object per file considered, in the order decided, then
// one summary object with the counts. The command line's --report, the window's "Save report..."
// and any later unattended run write the same lines through this file.
//
//   {"type":"file","path":"/m/a.mp3","hash_id":"...","outcome":"sent","reason":null,"bytes":4212,"seconds":0.105}
//   {"type":"summary","report":"upload","counts":{"sent":1,...},"files":1,"bytes":4212,"seconds":0.105}

#include "model/FileOutcome.h"

#include <filesystem>
#include <string>

namespace velmora {

// One line each, without the line break. Text that is not UTF-8 (a file name in another
// encoding) is written with U+FFFD in place of the bad bytes, so every line stays valid JSON.
// The lines of a dry run's log carry "dry_run":true: their outcomes are what a run would do.
std::string OutcomeJsonLine(const FileOutcome& outcome, bool dryRun = false);
std::string SummaryJsonLine(const OutcomeLog& log);

// The report is kept whole: the file on disk is the last complete version (its old content until
// the first one), replaced by writing a temporary file beside it and renaming that over it. A run
// stopped or killed half way never leaves an empty or half-written report.
class OutcomeReportFile {
public:
  // Checks at once that the report can be written (a temporary file can be made in its folder,
  // and the path is no folder), so a report that cannot be written is known before any work
  // starts. Throws std::runtime_error naming the file and the cause.
  explicit OutcomeReportFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return path_; }
  // Adds one line; it reaches the file with the next Flush or AppendSummary.
  void Append(const FileOutcome& outcome, bool dryRun = false);
  // Adds the summary line and writes the file.
  void AppendSummary(const OutcomeLog& log);
  // Replaces the file with every line added so far; throws std::runtime_error when it cannot.
  void Flush();
  // Every entry of `log`, then its summary.
  void Write(const OutcomeLog& log);

private:
  std::filesystem::path path_;
  std::string lines_;
};

} // namespace velmora
