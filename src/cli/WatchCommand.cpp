// velmora watch [--playlist NAME] [--settle SECONDS] [--limit-rate RATE] [--report FILE]
// [--retries N] [DIR...]: uploads what the folders hold (without DIR, the window's watched folders), as `upload` would, then follows them: every
// supported file created, changed or moved in below them is uploaded the same way once it has
// stayed unchanged for the settle time. Each run ends with its summary line; the report grows by
// each run's files and ends with the summary of the whole watch. A file the service refuses fails
// alone; files a run could not bring to an unreachable service wait and go later. SIGINT and
// SIGTERM let the file in transfer complete (or give it up once it has moved nothing for 10 s) and
// end the watch with exit code 0; a run held with files left in its queue ends it with 1.

#include "app/Settings.h"
#include "cli/Session.h"
#include "cli/StopSignals.h"
#include "cli/TransferOptions.h"
#include "cli/UploadRun.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <system_error>

namespace velmora::cli {
namespace {

struct WatchCommandOptions {
  std::vector<std::string> folders;
  std::string playlist;
  double settleSeconds = 10;
  TransferOptions transfer;
};

// Every run of the watch: its summary line on stderr, its files appended to the report; the
// report's summary covers the whole watch.
class WatchReport {
public:
  WatchReport(Session& session, OutcomeReportFile* file) : session_(session), file_(file) {}
  ~WatchReport() {
    try {
      if (file_) file_->AppendSummary(total_);
    } catch (const std::exception& failure) {
      session_.ui().ShowErrorMessage(failure.what());
    }
  }
  WatchReport(const WatchReport&) = delete;
  WatchReport& operator=(const WatchReport&) = delete;

  // Runs an upload to its end, then reports it; a run with a failed file gives exit code 1.
  int Run(const std::function<int()>& run) {
    return WithUploadReport(session_, nullptr, [&] { return Record(run); });
  }

private:
  int Record(const std::function<int()>& run) {
    int result = kExitFailed;
    try {
      result = run();
    } catch (...) {
      Append();
      throw;
    }
    Append();
    return result;
  }
  void Append() {
    const OutcomeLog run = session_.engine().UploadReport();
    for (const FileOutcome& outcome : run.entries()) {
      total_.Add(outcome);
      if (file_) file_->Append(outcome);
    }
    if (file_) file_->Flush();
  }

  Session& session_;
  OutcomeReportFile* file_;
  OutcomeLog total_{ReportKind::Upload};
};

std::string AbsoluteFolder(const std::string& folder) {
  std::string path = std::filesystem::absolute(folder).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// Blocks until the watch has events, its next deadline has come, or a stop signal arrived.
void WaitForWatch(Engine& engine) {
  const auto timeout = engine.WatchTimeout();
  const int milliseconds = timeout ? static_cast<int>(std::min<long long>(timeout->count(), INT_MAX)) : -1;
  pollfd ready[2] = {{engine.watchDescriptor(), POLLIN, 0}, {StopSignals::WakeDescriptor(), POLLIN, 0}};
  if (::poll(ready, 2, milliseconds) < 0 && errno != EINTR)
    throw std::system_error(errno, std::generic_category(), "poll");
}

int Watch(Session& session, const WatchCommandOptions& options, OutcomeReportFile* reportFile) {
  Engine& engine = session.engine();
  WatchReport report(session, reportFile);
  const auto interrupted = [&engine] { return ApplyStopSignal(engine); };
  std::vector<std::string> folders;
  for (const std::string& folder : options.folders) folders.push_back(AbsoluteFolder(folder));
  WatchOptions watch;
  watch.settle = std::chrono::milliseconds(static_cast<std::int64_t>(options.settleSeconds * 1000));
  watch.playlist = options.playlist;
  // Following starts first, so a file arriving during the first upload is not missed.
  if (!engine.StartWatching(folders, watch)) return kExitFailed;

  // One run of watched files. A refused file fails alone and files that could not reach the
  // service wait for the next try; only a run held with files in its queue ends the watch.
  const auto runWatched = [&] {
    const int result = report.Run([&] { return interrupted() ? kExitOk : RunUploadToEnd(session); });
    const RunOutcome outcome = engine.upload().outcome();
    return outcome == RunOutcome::Stopped || outcome == RunOutcome::Failed ? result : kExitOk;
  };
  // What the folders hold goes first, as watched files.
  engine.AddWatchFiles(folders);
  if (engine.OnWatchEvents()) {
    const int first = runWatched();
    if (interrupted()) return kExitOk;
    if (first != kExitOk) return first;
  }
  if (interrupted()) return kExitOk;

  session.ui().ShowMessage("Watching " + std::to_string(engine.watchedRootCount()) +
                           " folder(s) for new files; Ctrl-C ends the watch");
  while (!interrupted()) {
    if (engine.watchedRootCount() == 0) {
      session.ui().ShowErrorMessage("No watched folder is left");
      return kExitFailed;
    }
    WaitForWatch(engine);
    if (interrupted()) break;
    // Most wake-ups only note events; a run starts once files have settled.
    if (!engine.OnWatchEvents()) continue;
    const int result = runWatched();
    if (result != kExitOk && !interrupted()) return result;
  }
  session.ui().ShowMessage("Watch ended");
  return kExitOk;
}

const RegisterCommand kWatch{
    "watch", "Upload what folders hold, then every audio file that arrives in them",
    [](CLI::App& command) -> CommandRunner {
      auto options = std::make_shared<WatchCommandOptions>();
      command.add_option("--playlist", options->playlist, "Add every uploaded file to this playlist on the service");
      command
          .add_option("--settle", options->settleSeconds,
                      "Seconds a new or changed file must stay unchanged before it is uploaded (default 10)")
          // NaN compares false with both ends of the range, so the number is checked to be finite first.
          ->check(CLI::Validator(
              [](const std::string& text) {
                double seconds = 0;
                return CLI::detail::lexical_cast(text, seconds) && std::isfinite(seconds)
                           ? std::string()
                           : "not a number of seconds: " + text;
              },
              ""))
          ->check(CLI::Range(0.0, 86400.0));
      AddTransferOptions(command, options->transfer, /*defaultRetries=*/5, /*defaultTransfers=*/4);
      command
          .add_option("DIR", options->folders,
                      "Folders to watch, with everything below them (default: the watched folders stored by the "
                      "window's File > Preferences)")
          ->check(CLI::ExistingDirectory);
      return [options](const GlobalOptions& global) {
        // One setting serves the window and the command; checked before anything is sent.
        if (options->folders.empty()) options->folders = LoadSettings().watchedFolders;
        if (options->folders.empty()) {
          std::cerr << "No folder to watch: name one, or add watched folders under File > Preferences in the "
                       "window (WatchedFolder1, WatchedFolder2, ... in "
                    << TerminalText(SettingsFilePath().string()) << ")\n";
          return kExitUsage;
        }
        return RunTransferCommand(global, options->transfer, [&](Session& session, OutcomeReportFile* report) {
          return Watch(session, *options, report);
        });
      };
    }};

} // namespace
} // namespace velmora::cli
