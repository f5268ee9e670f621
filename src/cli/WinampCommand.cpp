// velmora winamp [--playlists-file FILE] [--only TITLE...]: the Winamp tab from the command line:
// analyse Winamp's playlists, keep the chosen ones checked, "Start upload", and the run to its end.

#include "cli/Session.h"
#include "cli/TransferOptions.h"
#include "cli/UploadRun.h"
#include "sources/WinampSource.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace velmora::cli {
namespace {

struct WinampOptions {
  std::string playlistsFile;
  std::vector<std::string> only;
  TransferOptions transfer;
};

// Analyses Winamp's playlists, keeps the chosen ones checked, starts the upload and runs it to its end.
int Run(Session& session, const WinampOptions& options) {
  Engine& engine = session.engine();
  if (!options.playlistsFile.empty()) {
    engine.SetWinampLocation(std::filesystem::absolute(options.playlistsFile).string());
  }
  engine.AnalyzeWinampData();
  std::error_code error;
  if (!std::filesystem::is_regular_file(engine.winampLocation(), error)) return kExitFailed;
  if (!options.only.empty()) {
    // With no row checked every playlist would go: a title that matches nothing is an error,
    // never an empty choice.
    std::string unmatched;
    for (const std::string& title : options.only) {
      const auto& rows = engine.winamp().rows;
      if (std::none_of(rows.begin(), rows.end(), [&](const auto& row) { return row.caption == title; })) {
        unmatched += (unmatched.empty() ? "\"" : ", \"") + title + "\"";
      }
    }
    if (!unmatched.empty()) {
      session.ui().ShowErrorMessage("No Winamp playlist titled " + unmatched);
      return kExitFailed;
    }
    const auto& rows = engine.winamp().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      engine.SetWinampPlaylistChecked(i, std::count(options.only.begin(), options.only.end(), rows[i].caption) > 0);
    }
  }
  if (!engine.StartWinampUpload()) return kExitFailed;
  return RunUploadToEnd(session);
}

const RegisterCommand kWinamp{
    "winamp", "Upload Winamp's media library playlists", [](CLI::App& command) -> CommandRunner {
      auto options = std::make_shared<WinampOptions>();
      command.add_option("--playlists-file", options->playlistsFile,
                         "Winamp's playlists.xml (found in the Wine prefix otherwise)");
      command.add_option("--only", options->only, "Upload only the playlists with these titles");
      AddTransferOptions(command, options->transfer);
      AddDryRunOption(command, options->transfer);
      return [options](const GlobalOptions& global) {
        return RunUploadCommand(global, options->transfer, [&](Session& session) { return Run(session, *options); });
      };
    }};

} // namespace
} // namespace velmora::cli
