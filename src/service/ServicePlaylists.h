#pragma once
// The user's own playlists on the service, for the restore tab and the drop tab's playlist box.

#include "service/ApiResult.h"
#include "service/ServiceClient.h"

#include <string>
#include <vector>

namespace pugi {
class xml_document;
}

namespace velmora {

// One row of the restore tab's playlist list.
struct ServicePlaylistRow {
  std::string caption; // SafeFileName(name): also the playlist's restore folder
  std::string entryKey;
  std::string items; // item count, filled when the playlist's items are listed
  bool checked = true;
  std::string name; // the name as the service spells it
};

// The text without the nine characters no file name may hold: " * / : < > ? \ |.
std::string SafeFileName(const std::string& text);

// The user's own playlists on the service as LoadPlaylists last listed them: the restore tab's
// rows and the drop tab's playlist box items.
struct AccountPlaylists {
  std::vector<ServicePlaylistRow> rows;
  std::vector<std::string> names;
};

// Lists the user's own, non-dynamic playlists into `playlists` (the drop box's typed text stays)
// and signals View::RestorePlaylists.
// Returns the call's result, which the window ignores. Throws when the answer is not XML (also
// after a failed call) or an item's "entrykey", "dynamic" or "username" has no text; the rows
// listed before that stay.
ServiceReply LoadPlaylists(ServiceClient& service, AccountPlaylists& playlists);

// The walk of a "sets/get" answer that LoadPlaylists does: appends a row and a name for each of
// `userName`'s own (any letter case of a to z), non-dynamic playlists with a name. Throws ApiError
// when an item's "entrykey", "dynamic" or "username" has no text; what was appended before stays.
void ReadPlaylistsAnswer(const pugi::xml_document& answer, const std::string& userName,
                         std::vector<ServicePlaylistRow>& rows, std::vector<std::string>& names);

} // namespace velmora
