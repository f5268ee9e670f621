#pragma once
// The user's own playlists on the service, for the restore tab and the drop tab's playlist box.

#include "service/ApiResult.h"

#include <string>

namespace velmora {

class Engine;

// One row of the restore tab's playlist list.
struct ServicePlaylistRow {
  std::string caption;  // SafeFileName(name): also the playlist's restore folder
  std::string entryKey;
  std::string items;    // item count, filled when the playlist's items are listed
  bool checked = true;
  std::string name;     // the name as the service spells it
};

// The text without the nine characters no file name may hold: " * / : < > ? \ |.
std::string SafeFileName(const std::string& text);

// Lists the user's own, non-dynamic playlists into Engine::RestorePlaylists and
// Engine::DropPlaylistNames (the box's typed text stays) and signals View::RestorePlaylists.
// Returns the call's result, which the window ignores. Throws when the answer is not XML (also
// after a failed call) or an item's "entrykey", "dynamic" or "username" has no text; the rows
// listed before that stay.
TWSReturnData LoadPlaylists(Engine& engine);

} // namespace velmora
