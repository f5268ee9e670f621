#include "app/OutcomeReport.h"

#include "base/AtomicFile.h"
#include "base/SystemFacts.h"

#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace velmora {
namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

double Milliseconds(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

std::string Dump(const Json& object) { return object.dump(-1, ' ', false, Json::error_handler_t::replace); }

} // namespace

std::string OutcomeJsonLine(const FileOutcome& outcome, bool dryRun) {
  Json line;
  line["type"] = "file";
  line["path"] = outcome.path;
  line["hash_id"] = TextOrNull(outcome.hashId);
  if (!outcome.entryKey.empty()) line["entry_key"] = outcome.entryKey;
  line["outcome"] = OutcomeName(outcome.kind);
  line["reason"] = TextOrNull(outcome.reason);
  line["bytes"] = outcome.bytes;
  line["seconds"] = Milliseconds(outcome.seconds);
  if (dryRun) line["dry_run"] = true;
  return Dump(line);
}

std::string SummaryJsonLine(const OutcomeLog& log) {
  Json counts = Json::object();
  for (const FileOutcomeKind kind : log.Kinds()) {
    // Named only when a stop left some, as in the summary line.
    if (kind == FileOutcomeKind::NotSent && log.Count(kind) == 0) continue;
    counts[OutcomeName(kind)] = log.Count(kind);
  }
  Json line;
  line["type"] = "summary";
  line["report"] = log.kind() == ReportKind::Upload ? "upload" : "restore";
  line["counts"] = std::move(counts);
  line["files"] = log.entries().size();
  line["bytes"] = log.TotalBytes();
  line["seconds"] = Milliseconds(log.TotalSeconds());
  if (log.dryRun()) line["dry_run"] = true;
  return Dump(line);
}

OutcomeReportFile::OutcomeReportFile(std::filesystem::path path) : path_(std::move(path)) {
  const auto fail = [&](int error) {
    throw std::runtime_error("Cannot write the report file " + path_.string() + ": " + std::strerror(error));
  };
  std::error_code error;
  if (std::filesystem::is_directory(path_, error)) fail(EISDIR);
  // The same kind of temporary file the report is later written through.
  const std::filesystem::path folder = path_.has_parent_path() ? path_.parent_path() : ".";
  std::string pattern = (folder / ".velmora-report.XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) fail(errno);
  ::close(fd);
  ::unlink(pattern.c_str());
}

void OutcomeReportFile::Append(const FileOutcome& outcome, bool dryRun) {
  lines_ += OutcomeJsonLine(outcome, dryRun);
  lines_ += '\n';
}

void OutcomeReportFile::AppendSummary(const OutcomeLog& log) {
  lines_ += SummaryJsonLine(log);
  lines_ += '\n';
  Flush();
}

void OutcomeReportFile::Flush() {
  const mode_t mask = FileCreationMask();
  WriteFileAtomically(path_, lines_, 0666 & ~mask);
}

void OutcomeReportFile::Write(const OutcomeLog& log) {
  for (const FileOutcome& outcome : log.entries()) Append(outcome, log.dryRun());
  AppendSummary(log);
}

} // namespace velmora
