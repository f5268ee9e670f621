#pragma once
// The report of a run as JSON Lines: one object per file considered, in the order decided, then
// one summary object with the counts. The command line's --report, the window's "Save report..."
// and any later unattended run write the same lines through this file.
//
//   {"type":"file","path":"/m/a.mp3","hash_id":"...","outcome":"sent","reason":null,"bytes":4212,"seconds":0.105}
//   {"type":"summary","report":"upload","counts":{"sent":1,...},"files":1,"bytes":4212,"seconds":0.105}

#include "model/FileOutcome.h"

#include <filesystem>
#include <fstream>
#include <string>

namespace velmora {

// One line each, without the line break. Text that is not UTF-8 (a file name in another
// encoding) is written with U+FFFD in place of the bad bytes, so every line stays valid JSON.
std::string OutcomeJsonLine(const FileOutcome& outcome);
std::string SummaryJsonLine(const OutcomeLog& log);

class OutcomeReportFile {
public:
  // Creates or empties the file at once, so a report that cannot be written is known before any
  // work starts. Throws std::runtime_error naming the file and the cause.
  explicit OutcomeReportFile(std::filesystem::path path);

  const std::filesystem::path& path() const { return path_; }
  // Appends one line and flushes it; throws std::runtime_error when it cannot be written.
  void Append(const FileOutcome& outcome);
  void AppendSummary(const OutcomeLog& log);
  // Every entry of `log`, then its summary.
  void Write(const OutcomeLog& log);

private:
  void WriteLine(const std::string& line);

  std::filesystem::path path_;
  std::ofstream out_;
};

} // namespace velmora
