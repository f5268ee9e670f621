// velmora login: the login the window runs at its first show; the credentials are stored at once
// and stderr says where the password is kept.

#include "cli/Session.h"

#include "app/Settings.h"

#include <cstdio>

namespace velmora::cli {
namespace {

// Stores the credentials now and says once where the password went.
void SayWherePasswordIsKept(Session& session) {
  Engine& engine = session.engine();
  engine.SaveSettings();
  switch (engine.passwordPlace()) {
  case Engine::PasswordPlace::Keyring: std::fprintf(stderr, "The password is kept in the desktop keyring\n"); break;
  case Engine::PasswordPlace::SettingsFile:
    if (engine.keyringLocked()) {
      std::fprintf(stderr,
                   "The desktop keyring is locked: the password is kept in %s (readable only by you) until a "
                   "login finds the keyring unlocked\n",
                   TerminalText(engine.options().settingsFile.string()).c_str());
    } else {
      std::fprintf(stderr, "No desktop keyring answers: the password is kept in %s (readable only by you)\n",
                   TerminalText(engine.options().settingsFile.string()).c_str());
    }
    break;
  case Engine::PasswordPlace::None: break;
  }
}

const RegisterCommand kLogin{"login", "Log in to the service; the credentials are stored for later runs",
                             [](CLI::App&) -> CommandRunner {
                               return [](const GlobalOptions& global) {
                                 return RunLoggedIn(
                                     global,
                                     [](Session& session) {
                                       SayWherePasswordIsKept(session);
                                       return kExitOk;
                                     },
                                     PasswordPrompt::Always);
                               };
                             }};

} // namespace
} // namespace velmora::cli
