#pragma once
// The playlist file: the collected playlists by name, each with its tracks' hash ids, sent once
// at the start of every upload run so the service can rebuild them (see UploadPipeline).

#include "base/Ui.h"
#include "model/MediaItem.h"

#include <functional>
#include <optional>
#include <string>

namespace velmora {

// The hash id of a playlist entry's file, looked up by its exact location. The Winamp source
// passes its location table; nothing when the location is unknown.
using LocationHashLookup = std::function<std::optional<std::string>(const std::string& location)>;

// Writes the exchange file "playlists_" + source + ".xml" (see WriteExchangeFile):
// "playlists"/"playlist" with one "item" ("Name", "items") per playlist whose ItemCount is above
// 0, listing its first ItemCount hash ids of those it held on entry (fewer when it held fewer).
// With `lookupLocation` (the Winamp source), every playlist's Locations are looked up first and
// the hash ids found appended to its HashValues; those copies are never listed. Shows
// "Transmitting playlist information". Returns the path of the program's own copy; the caller
// makes it the current playlist file. Throws std::runtime_error naming the file when it cannot be
// written.
std::string WritePlaylistFile(Playlists& playlists, SourceNumber source, Ui& ui,
                              const LocationHashLookup& lookupLocation = {});

} // namespace velmora
