// velmora: the uploader for scripts and headless machines.

#include "base/SystemFacts.h"
#include "base/Text.h"
#include "cli/Command.h"
#include "cli/TerminalUi.h"

#include <cstring>
#include <iostream>

namespace velmora::cli {

std::vector<CommandEntry>& Commands() {
  static std::vector<CommandEntry> commands;
  return commands;
}

} // namespace velmora::cli

int main(int argc, char** argv) {
  using namespace velmora::cli;
  GlobalOptions global;

  // As in the window, a first argument "/stage" + separator + host redirects the service.
  std::vector<char*> args(argv, argv + argc);
  if (args.size() > 1 && velmora::TrimmedBlanksAndControls(args[1]).rfind("/stage", 0) == 0) {
    global.firstArgument = velmora::TrimmedBlanksAndControls(args[1]);
    args.erase(args.begin() + 1);
  }

  CLI::App app{"Velmora Uploader: sends your music to your Velmora online locker and restores it."};
  app.name("velmora");
  app.require_subcommand(1);
  app.set_version_flag("--version", velmora::ProgramVersion());
  std::string stageHost;
  app.add_option("--stage", stageHost, "Use the service at HOST instead of the default");
  app.add_option("--user", global.user, "Account name for this run");

  std::vector<std::pair<CLI::App*, CommandRunner>> runners;
  for (const auto& entry : Commands()) {
    CLI::App* command = app.add_subcommand(entry.name, entry.description);
    runners.emplace_back(command, entry.setup(*command));
  }

  try {
    app.parse(static_cast<int>(args.size()), args.data());
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (!stageHost.empty()) global.firstArgument = "/stage " + stageHost;

  for (auto& [command, run] : runners) {
    if (command->parsed()) {
      try {
        return run(global);
      } catch (const std::exception& error) {
        std::cerr << "Error: " << TerminalText(error.what()) << "\n";
        return kExitFailed;
      }
    }
  }
  return kExitUsage;
}
