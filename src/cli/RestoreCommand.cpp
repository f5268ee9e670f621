// velmora restore --target DIR [--all | --playlist NAME...]: the Restore tab from the command
// line. The log lines go to stdout as they are written, the closing "N restored, M already there,
// K failed" also to stderr; the exit code is 1 when anything failed. SIGINT or SIGTERM asks the
// restore to stop after the current file, as "Cancel Downloads" does (a file that has moved nothing
// for 10 s is given up), and the run exits 1; a second signal ends it at once.

#include "cli/PrintedName.h"
#include "cli/Session.h"
#include "cli/StopSignals.h"
#include "cli/TerminalUi.h"
#include "cli/TransferOptions.h"
#include "restore/Restore.h"
#include "service/ServicePlaylists.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>

namespace velmora::cli {
namespace {

struct RestoreOptions {
  std::string target;
  bool all = false;
  std::vector<std::string> playlists;
  TransferOptions transfer;
};

// Whether a row is the playlist `name`: the service's name exactly, or, when no playlist has
// that name, the name as `velmora playlists` prints it (a name with a line break in it).
bool IsNamed(const std::vector<ServicePlaylistRow>& rows, const ServicePlaylistRow& row, const std::string& name) {
  if (row.name == name) return true;
  const bool exact = std::any_of(rows.begin(), rows.end(), [&](const auto& other) { return other.name == name; });
  return !exact && PrintedName(row.name) == name;
}

// Chooses the rows: the named playlists, or every listed one.
bool ChoosePlaylists(Session& session, const std::vector<std::string>& names) {
  auto& rows = session.engine().servicePlaylists().rows;
  for (const std::string& name : names) {
    if (std::none_of(rows.begin(), rows.end(), [&](const auto& row) { return IsNamed(rows, row, name); })) {
      session.ui().ShowErrorMessage("No playlist named \"" + name + "\" on the service");
      return false;
    }
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto& row = rows[i];
    session.engine().SetRestorePlaylistChecked(
        i, names.empty() || std::any_of(names.begin(), names.end(),
                                        [&](const std::string& name) { return IsNamed(rows, row, name); }));
  }
  return true;
}

const RegisterCommand kRestore{
    "restore", "Restore your library from the service into a folder", [](CLI::App& command) -> CommandRunner {
      auto options = std::make_shared<RestoreOptions>();
      // Whether the folder exists is the restore's own check, with its own message.
      command.add_option("--target", options->target, "Folder to restore into")->required();
      auto* all = command.add_flag("--all", options->all, "Restore the whole media library");
      command.add_option("--playlist", options->playlists, "Restore these playlists (all your playlists otherwise)")
          ->excludes(all);
      AddTransferOptions(command, options->transfer);
      return [options](const GlobalOptions& global) {
        return RunTransferCommand(global, options->transfer, [&](Session& session, OutcomeReportFile* report) {
          Engine& engine = session.engine();
          std::size_t printed = 0;
          TerminalUi& ui = session.ui();
          ui.onViewChanged = [&](View view) {
            if (view != View::RestoreLog || ui.quiet()) return;
            if (printed == engine.restoreState().log.size()) return;
            ui.ClearLiveLine(); // stdout may be the same terminal
            for (; printed < engine.restoreState().log.size(); ++printed)
              std::cout << TerminalText(engine.restoreState().log[printed]) << '\n'; // one log line a line
            std::cout << std::flush;
          };
          LiveProgress live(ui, [&engine]() -> std::optional<TransferFigures> {
            const RestoreState& state = engine.restoreState();
            if (!state.running || state.rowsToFetch == 0) return std::nullopt;
            return engine.restorer().Figures();
          });
          // Quiet, the status line that sums the restore up is not shown: it is shown here.
          const auto summary = [&] {
            if (ui.quiet()) ui.ShowSummary(RestoreSummary(engine.restoreState()));
          };
          bool cancelled = false;
          session.ui().onProcessMessages = [&] {
            if (!ApplyStopSignal(engine) || cancelled || !engine.restoreState().running) return;
            cancelled = true;
            engine.CancelDownloads();
          };

          engine.SetRestoreTarget(std::filesystem::absolute(options->target).lexically_normal().string());
          engine.SetRestoreWholeLibrary(options->all);
          if (!options->all && !ChoosePlaylists(session, options->playlists)) return kExitFailed;
          bool ran = false;
          try {
            ran = engine.RestoreNow();
          } catch (...) {
            ui.EndLiveProgress();
            summary();
            // The files reached before the error are reported too.
            if (report) report->Write(engine.RestoreReport());
            throw;
          }
          ui.EndLiveProgress();
          if (ran) summary();
          // Refused before it began (a target that is no folder): quiet still says why.
          else if (ui.quiet() && !ui.heldMessage().empty()) ui.ShowErrorMessage(ui.heldMessage());
          if (report) report->Write(engine.RestoreReport());
          if (!ran || StopSignals::Requested()) return kExitFailed;
          // A refused listing was shown, but what it would have listed was never restored.
          if (engine.restoreState().listingFailed) return kExitFailed;
          // The summary line on stderr has counted them.
          if (engine.restoreState().failedCount > 0 || engine.restoreState().playlistFileFailed) return kExitFailed;
          const int left = engine.restorer().UnhandledRows();
          if (left > 0) {
            session.ui().ShowMessage(std::to_string(left) + " item(s) not restored");
            return kExitFailed;
          }
          return kExitOk;
        });
      };
    }};

} // namespace
} // namespace velmora::cli
