#include "app/OutcomeReport.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace velmora {
namespace {

using Json = nlohmann::ordered_json;

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

double Milliseconds(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

std::string Dump(const Json& object) { return object.dump(-1, ' ', false, Json::error_handler_t::replace); }

} // namespace

std::string OutcomeJsonLine(const FileOutcome& outcome) {
  Json line;
  line["type"] = "file";
  line["path"] = outcome.path;
  line["hash_id"] = TextOrNull(outcome.hashId);
  if (!outcome.entryKey.empty()) line["entry_key"] = outcome.entryKey;
  line["outcome"] = OutcomeName(outcome.kind);
  line["reason"] = TextOrNull(outcome.reason);
  line["bytes"] = outcome.bytes;
  line["seconds"] = Milliseconds(outcome.seconds);
  return Dump(line);
}

std::string SummaryJsonLine(const OutcomeLog& log) {
  Json counts = Json::object();
  for (const FileOutcomeKind kind : log.Kinds()) counts[OutcomeName(kind)] = log.Count(kind);
  Json line;
  line["type"] = "summary";
  line["report"] = log.kind() == ReportKind::Upload ? "upload" : "restore";
  line["counts"] = std::move(counts);
  line["files"] = log.entries().size();
  line["bytes"] = log.TotalBytes();
  line["seconds"] = Milliseconds(log.TotalSeconds());
  return Dump(line);
}

OutcomeReportFile::OutcomeReportFile(std::filesystem::path path) : path_(std::move(path)) {
  errno = 0;
  out_.open(path_, std::ios::out | std::ios::trunc | std::ios::binary);
  if (!out_) {
    throw std::runtime_error("Cannot write the report file " + path_.string() + ": " +
                             (errno ? std::strerror(errno) : "cannot be created"));
  }
}

void OutcomeReportFile::WriteLine(const std::string& line) {
  out_ << line << '\n';
  out_.flush();
  if (!out_) throw std::runtime_error("Cannot write the report file " + path_.string());
}

void OutcomeReportFile::Append(const FileOutcome& outcome) { WriteLine(OutcomeJsonLine(outcome)); }

void OutcomeReportFile::AppendSummary(const OutcomeLog& log) { WriteLine(SummaryJsonLine(log)); }

void OutcomeReportFile::Write(const OutcomeLog& log) {
  for (const FileOutcome& outcome : log.entries()) Append(outcome);
  AppendSummary(log);
}

} // namespace velmora
