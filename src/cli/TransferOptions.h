#pragma once
// The options every transferring command shares: --limit-rate RATE, --report FILE, --retries N,
// --transfers N and --quiet, and what a command does with them around its run.

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
  int retries = 0;      // --retries: 0 to 100
  int transfers = 1;    // --transfers: 1 to 16
  bool dryRun = false;  // --dry-run: upload commands only
  bool quiet = false;   // --quiet
};

// Adds --limit-rate, --report, --retries, --transfers and --quiet to `command`; `options` must outlive the parse.
// `defaultRetries` and `defaultTransfers` are what --retries and --transfers are when not given.
void AddTransferOptions(CLI::App& command, TransferOptions& options, int defaultRetries = 0,
                        int defaultTransfers = 1);

// Adds --dry-run (upload, itunes, winamp): analyse and ask the service which files it holds, then
// list what a run would do instead of sending (see RunUploadToEnd).
void AddDryRunOption(CLI::App& command, TransferOptions& options);

// The report file, checked now, before anything is sent; nullptr without --report.
// Throws std::runtime_error when it cannot be written.
std::unique_ptr<OutcomeReportFile> OpenReportFile(const TransferOptions& options);

// --limit-rate for this run, in place of the stored limit (never saved).
void ApplyLimitRate(Engine& engine, const TransferOptions& options);

// What a transferring command runs: the report file is checked first (before anything is sent),
// then the session logs in and takes --limit-rate and --retries, then `body` runs with the report
// (or nullptr). During `body`, SIGINT and SIGTERM stop the command's work as StopSignals says; the
// message pumps apply them.
int RunTransferCommand(const GlobalOptions& global, const TransferOptions& options,
                       const std::function<int(Session&, OutcomeReportFile*)>& body);
// The same for an upload command: `body` is wrapped in WithUploadReport.
int RunUploadCommand(const GlobalOptions& global, const TransferOptions& options,
                     const std::function<int(Session&)>& body);

// The upload run's figures for the live line while a run is active. The status window's timer is
// ticked here once a second, as the window's own timer does, so the speed and time left are the
// window's.
std::function<std::optional<TransferFigures>()> UploadRunFigures(Engine& engine);

// Runs an upload command's `body`, then, however it ends, prints the run's summary line and
// writes the report (when asked for). A run with a failed file, or stopped by a signal, exits 1.
int WithUploadReport(Session& session, OutcomeReportFile* report, const std::function<int()>& body);

} // namespace velmora::cli
