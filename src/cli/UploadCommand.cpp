// velmora upload [--playlist NAME] PATH...: the paths as one drop on the window, "Analyze and
// upload", then the run to its end.

#include "cli/Session.h"
#include "cli/TransferOptions.h"
#include "cli/UploadRun.h"
#include "sources/DroppedFiles.h"

#include <filesystem>
#include <memory>

namespace velmora::cli {
namespace {

// Drops carry full paths; the fingerprint cache and the service see these paths.
std::vector<std::string> DroppedPaths(const std::vector<std::string>& arguments) {
  std::vector<std::string> paths;
  for (const std::string& argument : arguments) {
    paths.push_back(std::filesystem::absolute(argument).lexically_normal().string());
  }
  return paths;
}

const RegisterCommand kUpload{
    "upload", "Upload files, folders and .m3u/.m3u8/.pls playlists as if dropped on the window",
    [](CLI::App& command) -> CommandRunner {
      auto paths = std::make_shared<std::vector<std::string>>();
      auto playlist = std::make_shared<std::string>();
      auto transfer = std::make_shared<TransferOptions>();
      command.add_option("--playlist", *playlist, "Add every uploaded file to this playlist on the service");
      AddTransferOptions(command, *transfer);
      AddDryRunOption(command, *transfer);
      command.add_option("PATH", *paths, "Audio files, folders, .m3u, .m3u8 and .pls playlists")
          ->required()
          ->check(CLI::ExistingPath);
      return [paths, playlist, transfer](const GlobalOptions& global) {
        return RunUploadCommand(global, *transfer, [&](Session& session) {
          Engine& engine = session.engine();
          engine.DropFiles(DroppedPaths(*paths));
          engine.SetDropPlaylist(*playlist);
          if (!engine.AnalyzeAndUpload()) return kExitFailed;
          return RunUploadToEnd(session);
        });
      };
    }};

} // namespace
} // namespace velmora::cli
