#include "restore/RestoreAnswers.h"

#include <pugixml.hpp>

#include <stdexcept>

namespace velmora {
namespace {

bool HasText(const pugi::xml_node& element) { return element.first_child(); }
std::string Text(const pugi::xml_node& element) { return element.first_child().value(); }

} // namespace

std::string ListedItem::DisplayName() const {
  std::string display = artist + " - " + name;
  if (!album.empty()) display += " (" + album + ")";
  return display;
}

ListedItem ReadListedItem(const pugi::xml_node& item) {
  ListedItem listed;
  for (pugi::xml_node child = item.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element) continue;
    const std::string name = child.name();
    if (name == "entrykey") {
      if (!HasText(child)) throw std::runtime_error("The service listed an item without an entry key");
      listed.entryKey = Text(child);
    } else if (name == "name") {
      listed.name = HasText(child) ? Text(child) : listed.entryKey;
    } else if (name == "artist") {
      listed.artist = HasText(child) ? Text(child) : "unknown artist";
    } else if (name == "album") {
      listed.album = HasText(child) ? Text(child) : "unknown";
    }
  }
  return listed;
}

std::optional<std::string> ReadDeliveryLocation(const pugi::xml_document& answer) {
  const pugi::xml_node location = answer.select_node("//result/location").node();
  if (!location || !HasText(location) || Text(location).empty()) return std::nullopt;
  return Text(location);
}

} // namespace velmora
