#pragma once
// Names that must not collide within one listing: the folders of the account's playlists, and the
// files of one playlist's (or the library's) items. Each name is handed out in listing order, so
// the same listing gives every entry the same name on every run, and a restore that is run again
// finds its files where it left them.

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace velmora {

class ListingNames {
public:
  // At most this many bytes per name, suffix included (UTF-8 is never cut inside a character).
  explicit ListingNames(std::size_t maxBytes) : maxBytes_(maxBytes) {}

  // The name of the entry `key` whose own name is `base`: `base` when no other entry holds it,
  // else `base` + " (2)", " (3)", ... with the first number no entry holds, the base shortened as
  // far as the suffix needs. The same key asking with the same base gets its name again (a track
  // listed twice in one playlist is one file).
  std::string Take(const std::string& key, const std::string& base);

private:
  std::size_t maxBytes_;
  std::map<std::pair<std::string, std::string>, std::string> byEntry_;
  std::set<std::string> taken_;
};

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string CutUtf8(const std::string& text, std::size_t bytes);

} // namespace velmora
