// velmora logout: forgets the stored credentials, as "Logout user" in the window does.

#include "cli/Session.h"

namespace velmora::cli {
namespace {

const RegisterCommand kLogout{"logout", "Forget the stored credentials", [](CLI::App&) -> CommandRunner {
                                return [](const GlobalOptions& global) {
                                  Session session(global);
                                  session.engine().Logout();
                                  session.Finish();
                                  return kExitOk;
                                };
                              }};

} // namespace
} // namespace velmora::cli
