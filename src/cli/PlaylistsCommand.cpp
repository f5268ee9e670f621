// velmora playlists: the user's own playlists on the service, "name TAB entrykey" per line.

#include "cli/Session.h"
#include "service/ServicePlaylists.h"

#include <iostream>

namespace velmora::cli {
namespace {

// A tab or line break inside a name would split the line; scripts read one playlist per line.
std::string OneField(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

const RegisterCommand kPlaylists{"playlists", "List your playlists on the service: name TAB entrykey",
                                 [](CLI::App&) -> CommandRunner {
                                   return [](const GlobalOptions& global) {
                                     return RunLoggedIn(global, [](Session& session) {
                                       // The login listed them already, but without telling whether the service
                                       // refused.
                                       const ServiceReply listing = session.engine().LoadServicePlaylists();
                                       if (!listing.Success) {
                                         session.ui().ShowErrorMessage("Could not load data from server - error " +
                                                                       std::to_string(listing.ErrorCode) +
                                                                       " (details: " + listing.ErrorMessage + ")");
                                         return kExitFailed;
                                       }
                                       for (const ServicePlaylistRow& row : session.engine().servicePlaylists().rows) {
                                         std::cout << OneField(row.name) << '\t' << OneField(row.entryKey) << '\n';
                                       }
                                       std::cout << std::flush;
                                       return kExitOk;
                                     });
                                   };
                                 }};

} // namespace
} // namespace velmora::cli
