// velmora playlists: the user's own playlists on the service, "name TAB entrykey" per line.

#include "cli/PrintedName.h"
#include "cli/Session.h"
#include "service/ServicePlaylists.h"

#include <iostream>

namespace velmora::cli {
namespace {

const RegisterCommand kPlaylists{
    "playlists", "List your playlists on the service: name TAB entrykey", [](CLI::App&) -> CommandRunner {
      return [](const GlobalOptions& global) {
        return RunLoggedIn(global, [](Session& session) {
          // The login listed them already, but without telling whether the service
          // refused.
          const ServiceReply listing = session.engine().LoadServicePlaylists();
          if (!listing.Success) {
            session.ui().ShowErrorMessage("Could not load data from server - error " +
                                          std::to_string(listing.ErrorCode) + " (details: " + listing.ErrorMessage +
                                          ")");
            return kExitFailed;
          }
          for (const ServicePlaylistRow& row : session.engine().servicePlaylists().rows) {
            std::cout << PrintedName(row.name) << '\t' << PrintedName(row.entryKey) << '\n';
          }
          std::cout << std::flush;
          return kExitOk;
        });
      };
    }};

} // namespace
} // namespace velmora::cli
