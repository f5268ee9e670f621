#include "cli/Session.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace velmora::cli {

bool ReadSecretFromTerminal(const std::string& prompt, std::string& secret, bool echo) {
  if (::isatty(STDIN_FILENO) != 1) return false;
  std::fputs(prompt.c_str(), stderr);
  std::fflush(stderr);
  termios saved{};
  const bool canHide = !echo && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (canHide) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  const bool read = static_cast<bool>(std::getline(std::cin, secret));
  if (canHide) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputs("\n", stderr);
  }
  if (!read) secret.clear();
  return read;
}

Session::Session(const GlobalOptions& global)
    : engine_(std::make_unique<Engine>(ui_, EngineOptions{global.firstArgument, {}})) {
  ui_.SetQuiet(global.quiet);
  engine_->Startup();
  // A user name without a password (a locked keyring left closed) is no stored account to log in
  // with: an empty password is never sent in its place.
  storedAccount_ = engine_->HasStoredPassword();
  if (!global.user.empty() && global.user != engine_->userName()) {
    engine_->SetCredentials(global.user, {});
    storedAccount_ = false;
  }
}

Session::~Session() {
  try {
    Finish();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "Error: %s\n", TerminalText(error.what()).c_str());
  }
}

void Session::Finish() { engine_->Shutdown(); }

int Session::Login(PasswordPrompt prompt) {
  Engine& engine = *engine_;
  // The stored password counts as given for the stored account; an empty VELMORA_PASSWORD or an
  // empty line typed at the prompt is given too.
  bool passwordGiven = storedAccount_;
  if (const char* password = std::getenv("VELMORA_PASSWORD")) {
    engine.SetCredentials(engine.userName(), password);
    passwordGiven = true;
  } else if (prompt == PasswordPrompt::Always || !storedAccount_) {
    std::string typed;
    if (engine.userName().empty() && ReadSecretFromTerminal("Username: ", typed, true))
      engine.SetCredentials(typed, engine.password());
    if (!engine.userName().empty() && ReadSecretFromTerminal("Password: ", typed)) {
      engine.SetCredentials(engine.userName(), typed);
      passwordGiven = true;
    }
  }
  if (engine.userName().empty() && engine.password().empty()) {
    // The window would show its login dialog here; a script has to name the account.
    ui_.ShowErrorMessage("No account to log in with: give --user NAME and the password in VELMORA_PASSWORD");
    return kExitUsage;
  }
  if (!passwordGiven) {
    // Trying an empty password nobody gave would only earn a refusal.
    ui_.ShowErrorMessage("A password is needed for " + engine.userName() +
                         ": give it in VELMORA_PASSWORD or run the command on a terminal");
    engine.UseStoredCredentials(); // the shutdown keeps the stored account, not an untried one
    return kExitUsage;
  }
  return engine.Login() ? kExitOk : kExitFailed;
}

int RunLoggedIn(const GlobalOptions& global, const std::function<int(Session&)>& body, PasswordPrompt prompt,
                const std::function<void(Engine&)>& beforeLogin) {
  Session session(global);
  int exitCode = kExitFailed;
  try {
    if (beforeLogin) beforeLogin(session.engine());
    exitCode = session.Login(prompt);
    if (exitCode == kExitOk) exitCode = body(session);
  } catch (const std::exception& error) {
    session.ui().ShowErrorDisplay(error.what());
    exitCode = kExitFailed;
  }
  session.Finish();
  return exitCode;
}

} // namespace velmora::cli
