#pragma once
// One run of a service command: the window's start-up, the account of this run, the login, and
// the window's shutdown (which stores the settings) at the end.

#include "app/Engine.h"
#include "cli/Command.h"
#include "cli/TerminalUi.h"

#include <functional>
#include <memory>

namespace velmora::cli {

enum class PasswordPrompt {
  WhenNotStored, // ask on a terminal only when no credentials are stored for the account
  Always,        // ask on a terminal even then (the login command)
};

class Session {
public:
  // Starts the engine and applies --user: another account than the stored one starts with no password.
  explicit Session(const GlobalOptions& global);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Engine& engine() { return *engine_; }
  TerminalUi& ui() { return ui_; }

  // Takes the password from VELMORA_PASSWORD, else from a prompt on a terminal, else the stored
  // one, and runs the window's login. Returns the exit code: 0 logged in, 1 refused or failed,
  // 2 when no account is known at all or no password was given for another account than the
  // stored one (nothing is sent then). A refused login of another account leaves the stored
  // credentials as they are.
  int Login(PasswordPrompt prompt = PasswordPrompt::WhenNotStored);

  // The window's shutdown; afterwards the settings file holds what the run leaves behind.
  void Finish();

private:
  TerminalUi ui_;
  std::unique_ptr<Engine> engine_;
  bool storedAccount_ = false; // the stored credentials belong to the account of this run
};

// Runs `body` after a successful login. Errors nobody handled go to the error display and give
// exit code 1; the shutdown runs in every case. `beforeLogin` sets up the engine for the login
// (e.g. a kept connection that the login opens and the run goes on using).
int RunLoggedIn(const GlobalOptions& global, const std::function<int(Session&)>& body,
                PasswordPrompt prompt = PasswordPrompt::WhenNotStored,
                const std::function<void(Engine&)>& beforeLogin = {});

// Reads a line from the terminal without echo; nothing when standard input is no terminal.
bool ReadSecretFromTerminal(const std::string& prompt, std::string& secret, bool echo = false);

} // namespace velmora::cli
