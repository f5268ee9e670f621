// velmora itunes [--library FILE] [--all | --playlist NAME...]: the iTunes tab from the command
// line: analyse the library, choose, "Start upload now", and the run to its end.

#include "cli/Session.h"
#include "cli/TransferOptions.h"
#include "cli/UploadRun.h"
#include "sources/ITunesSource.h"

#include <algorithm>
#include <filesystem>
#include <memory>

namespace velmora::cli {
namespace {

struct ITunesOptions {
  std::string library;
  bool all = false;
  std::vector<std::string> playlists;
  TransferOptions transfer;
};

// Analyses the library, chooses the playlists, starts the upload and runs it to its end.
int Run(Session& session, const ITunesOptions& options) {
  Engine& engine = session.engine();
  if (!options.library.empty()) engine.SetITunesLibraryFile(std::filesystem::absolute(options.library));
  engine.AnalyzeITunesLibraryNow();
  if (!engine.iTunes().reference) return kExitFailed;
  for (const std::string& name : options.playlists) {
    const auto& rows = engine.iTunes().rows;
    if (std::none_of(rows.begin(), rows.end(), [&](const auto& row) { return row.caption == name; })) {
      session.ui().ShowErrorMessage("No playlist named \"" + name + "\" in the iTunes library");
      return kExitFailed;
    }
  }
  if (!options.playlists.empty()) {
    const auto& rows = engine.iTunes().rows;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      engine.SetITunesPlaylistChecked(
          i, std::count(options.playlists.begin(), options.playlists.end(), rows[i].caption) > 0);
    }
  }
  engine.SetITunesScope(!options.all);
  if (!engine.StartITunesUpload()) return kExitFailed;
  return RunUploadToEnd(session);
}

const RegisterCommand kITunes{
    "itunes", "Upload your iTunes library: chosen playlists, or everything with --all",
    [](CLI::App& command) -> CommandRunner {
      auto options = std::make_shared<ITunesOptions>();
      // A missing or unreadable library gets the program's own "Unable to start iTunes ..." message.
      command.add_option("--library", options->library, "The iTunes library XML file");
      auto* all = command.add_flag("--all", options->all, "All media - items and playlists");
      command.add_option("--playlist", options->playlists, "Upload only these playlists (all listed ones otherwise)")
          ->excludes(all);
      AddTransferOptions(command, options->transfer);
      AddDryRunOption(command, options->transfer);
      return [options](const GlobalOptions& global) {
        return RunUploadCommand(global, options->transfer, [&](Session& session) { return Run(session, *options); });
      };
    }};

} // namespace
} // namespace velmora::cli
