#pragma once
// The command-line front end: each command lives in its own file and registers itself here.

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace velmora::cli {

// Exit codes of every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Options that come before the command.
struct GlobalOptions {
  std::string firstArgument; // "/stage HOST", from --stage or a first "/stage" argument
  std::string user;          // --user NAME: the account for this run
  bool quiet = false;        // a command's --quiet: only errors and the summary line on stderr
};

using CommandRunner = std::function<int(const GlobalOptions&)>;
// Adds the command's options to `command` and returns what runs it once parsed.
using CommandSetup = std::function<CommandRunner(CLI::App& command)>;

struct CommandEntry {
  std::string name;
  std::string description;
  CommandSetup setup;
};

std::vector<CommandEntry>& Commands();

struct RegisterCommand {
  RegisterCommand(std::string name, std::string description, CommandSetup setup) {
    Commands().push_back({std::move(name), std::move(description), std::move(setup)});
  }
};

} // namespace velmora::cli
