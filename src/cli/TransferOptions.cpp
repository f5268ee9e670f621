#include "cli/TransferOptions.h"

#include "base/RateTimetable.h"
#include "cli/StopSignals.h"
#include "service/TransferLanes.h"

#include <chrono>

namespace velmora::cli {

void AddTransferOptions(CLI::App& command, TransferOptions& options, int defaultRetries, int defaultTransfers) {
  options.retries = defaultRetries;
  options.transfers = defaultTransfers;
  command
      .add_option("--limit-rate", options.limitRate,
                  "Limit every transfer to RATE bytes per second; K, M and G multiply by 1024 each (1M = "
                  "1048576), 0 means no limit. Or a timetable by local time of day, \"08:00,512K 18:00,2M "
                  "23:00,off\": a transfer takes the rate of the moment it starts. Replaces the stored limit "
                  "for this run")
      ->type_name("RATE")
      ->check(CLI::Validator([](const std::string& text) { return ParseRateTimetable(text).error; }, "RATE"));
  command
      .add_option("--report", options.reportFile,
                  "Write what happened to every file to FILE as JSON Lines, with a last summary line")
      ->type_name("FILE")
      ->check(CLI::Validator(
          [](const std::string& text) {
            return text.empty() ? std::string("no file named: give a path") : std::string();
          },
          ""));
  command
      .add_option("--retries", options.retries,
                  "Send a request that failed for a passing reason (no connection, a dead link, HTTP 5xx or 429) "
                  "up to N times more, waiting 1, 2, 4 ... seconds (at most 60) or what the service's Retry-After "
                  "asks (at most 300); 0 to 100 (default " +
                      std::to_string(defaultRetries) + ")")
      ->type_name("N")
      ->check(CLI::Range(0, kMaxRetries));
  command
      .add_option("--transfers", options.transfers,
                  "Move up to N files at once, each over a connection kept open for the run; --limit-rate bounds "
                  "their sum. 1 to " +
                      std::to_string(kMaxTransfers) + " (default " + std::to_string(defaultTransfers) +
                      "; 1 sends one file after the other with a new connection per request)")
      ->type_name("N")
      ->check(CLI::Range(kMinTransfers, kMaxTransfers));
  command.add_flag("--quiet", options.quiet,
                   "Show only errors and the summary line: no status lines, and no live progress line on a terminal");
}

void AddDryRunOption(CLI::App& command, TransferOptions& options) {
  command.add_flag("--dry-run", options.dryRun,
                   "Analyse and ask the service which files it holds, then list what would be sent and how much, "
                   "and send nothing");
}

std::unique_ptr<OutcomeReportFile> OpenReportFile(const TransferOptions& options) {
  if (options.reportFile.empty()) return nullptr;
  return std::make_unique<OutcomeReportFile>(options.reportFile);
}

void ApplyLimitRate(Engine& engine, const TransferOptions& options) {
  if (options.limitRate.empty()) return;
  engine.OverrideRateLimit(ParseRateTimetable(options.limitRate).timetable);
}

int RunTransferCommand(const GlobalOptions& global, const TransferOptions& options,
                       const std::function<int(Session&, OutcomeReportFile*)>& body) {
  const auto report = OpenReportFile(options);
  GlobalOptions quietGlobal = global;
  quietGlobal.quiet = options.quiet;
  return RunLoggedIn(quietGlobal, [&](Session& session) {
    ApplyLimitRate(session.engine(), options);
    session.engine().OverrideRetries(options.retries);
    session.engine().SetDryRun(options.dryRun);
    // From here on there is work to finish and to report; a signal at the password prompt or
    // during the login still ends the program at once.
    const StopSignals signals;
    session.ui().onProcessMessages = [&engine = session.engine()] { ApplyStopSignal(engine); };
    return body(session, report.get());
  }, PasswordPrompt::WhenNotStored,
  // Several transfers keep their connections from the login on.
  [&](Engine& engine) { engine.OverrideTransfers(options.transfers); });
}

int RunUploadCommand(const GlobalOptions& global, const TransferOptions& options,
                     const std::function<int(Session&)>& body) {
  return RunTransferCommand(global, options, [&](Session& session, OutcomeReportFile* report) {
    return WithUploadReport(session, report, [&] { return body(session); });
  });
}

std::function<std::optional<TransferFigures>()> UploadRunFigures(Engine& engine) {
  using Clock = std::chrono::steady_clock;
  auto begun = std::make_shared<std::optional<Clock::time_point>>();
  return [&engine, begun]() -> std::optional<TransferFigures> {
    const UploadPipeline& upload = engine.upload();
    if (!upload.RunActive()) {
      begun->reset();
      return std::nullopt;
    }
    if (!*begun) *begun = Clock::now();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - **begun).count();
    while (upload.RunActive() && upload.statusWindow().ElapsedSeconds < seconds) engine.OnStatusTimer();
    return upload.Figures();
  };
}

int WithUploadReport(Session& session, OutcomeReportFile* report, const std::function<int()>& body) {
  bool anyFailed = false;
  const auto finish = [&] {
    const OutcomeLog log = session.engine().UploadReport();
    session.ui().ShowSummary(SummaryLine(log));
    anyFailed = log.Count(FileOutcomeKind::Failed) > 0;
    if (report) report->Write(log);
  };
  int exitCode = kExitFailed;
  try {
    exitCode = body();
  } catch (...) {
    finish();
    throw;
  }
  finish();
  // A run that went on past a refused file still did not send it; a stopped run did not finish.
  return exitCode == kExitOk && (anyFailed || StopSignals::Requested()) ? kExitFailed : exitCode;
}

} // namespace velmora::cli
