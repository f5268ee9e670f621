#include "model/PlaylistFile.h"

#include "base/ShowStatus.h"
#include "base/WorkFolder.h"
#include "model/MediaLibraryFile.h"

#include <pugixml.hpp>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace velmora {

std::string WritePlaylistFile(Playlists& playlists, SourceNumber source, Ui& ui,
                              const LocationHashLookup& lookupLocation) {
  ShowStatus(ui, "Transmitting playlist information");

  // What each playlist holds before the look-ups add to it: the hash ids of its taken entries.
  std::vector<std::size_t> taken;
  for (const Playlist& playlist : playlists) taken.push_back(playlist.HashValues.size());
  if (source == kSourceWinamp && lookupLocation) {
    for (Playlist& playlist : playlists) {
      if (playlist.ItemCount <= 0) continue;
      for (const std::string& location : playlist.Locations) {
        if (const auto hashId = lookupLocation(location)) playlist.HashValues.push_back(*hashId);
      }
    }
  }

  pugi::xml_document document;
  pugi::xml_node declaration = document.append_child(pugi::node_declaration);
  declaration.append_attribute("version") = "1.0";
  declaration.append_attribute("encoding") = "utf-8";
  pugi::xml_node list = document.append_child("playlists").append_child("playlist");
  for (std::size_t p = 0; p < playlists.size(); ++p) {
    const Playlist& playlist = playlists[p];
    if (playlist.ItemCount <= 0) continue;
    pugi::xml_node item = list.append_child("item");
    item.append_child("Name").text().set(XmlSafeText(playlist.Name).c_str());
    pugi::xml_node items = item.append_child("items");
    // A playlist whose song count is above the entries taken from it (missing files, other
    // formats) lists the hash ids of its taken entries, never the copies the look-ups appended.
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(playlist.ItemCount), taken[p]);
    for (std::size_t i = 0; i < count; ++i) items.append_child("item").text().set(playlist.HashValues[i].c_str());
  }

  std::ostringstream text;
  document.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
  return WriteExchangeFile("playlists_" + std::to_string(source) + ".xml", text.str());
}

} // namespace velmora
