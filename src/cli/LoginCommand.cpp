// velmora login: the login the window runs at its first show.

#include "cli/Session.h"

namespace velmora::cli {
namespace {

const RegisterCommand kLogin{"login", "Log in to the service; the credentials are stored for later runs",
                             [](CLI::App&) -> CommandRunner {
                               return [](const GlobalOptions& global) {
                                 return RunLoggedIn(
                                     global, [](Session&) { return kExitOk; }, PasswordPrompt::Always);
                               };
                             }};

} // namespace
} // namespace velmora::cli
