#pragma once
// Reading the service's answers of the restore: the items a listing names and the address a
// delivery names. Pure functions of the answer document, so they can be checked without a service.

#include <optional>
#include <string>

namespace pugi {
class xml_document;
class xml_node;
} // namespace pugi

namespace velmora {

// One item of "sets/set/getitems/" or "items/get" as the restore work list keeps it.
struct ListedItem {
  std::string entryKey, name, artist, album;
  // "artist - name", followed by " (album)" when there is an album: the restored file's name.
  std::string DisplayName() const;
};

// An "item" element: an empty "name" stands in as the entry key, an empty "artist" as
// "unknown artist", an empty "album" as "unknown". Throws std::runtime_error when "entrykey" is
// there but has no text.
ListedItem ReadListedItem(const pugi::xml_node& item);

// The first "//result/location" of an "items/get/deliver" answer, when it has text that is not
// empty.
std::optional<std::string> ReadDeliveryLocation(const pugi::xml_document& answer);

} // namespace velmora
