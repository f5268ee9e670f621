#pragma once
// The options every transferring command shares: --limit-rate RATE and --report FILE, and what a
// command does with them around its run.

#include "app/Engine.h"
#include "app/OutcomeReport.h"
#include "cli/Session.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

namespace velmora::cli {

struct TransferOptions {
  std::string limitRate; // as typed; checked by the parser (a malformed rate is a usage error)
  std::string reportFile;
};

// Adds --limit-rate and --report to `command`; `options` must outlive the parse.
void AddTransferOptions(CLI::App& command, TransferOptions& options);

// The report file, created (emptied) now, before anything is sent; nullptr without --report.
// Throws std::runtime_error when it cannot be written.
std::unique_ptr<OutcomeReportFile> OpenReportFile(const TransferOptions& options);

// --limit-rate for this run, in place of the stored limit (never saved).
void ApplyLimitRate(Engine& engine, const TransferOptions& options);

// Runs an upload command's `body`, then, however it ends, prints the run's summary line and
// writes the report (when asked for). A run with a failed file exits 1.
int WithUploadReport(Session& session, OutcomeReportFile* report, const std::function<int()>& body);

} // namespace velmora::cli
