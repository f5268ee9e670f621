#pragma once
// The playlist file a restore writes beside each restored playlist folder, so a music player opens
// the playlist as the service orders it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

// One track of a restored playlist file.
struct PlaylistFileEntry {
  std::string path;          // relative to the playlist file, "/" as separator
  std::int64_t seconds = -1; // playing time; -1 when unknown
  std::string title;         // "Artist - Name"
};

// An extended M3U text in UTF-8: "#EXTM3U", then per entry "#EXTINF:seconds,title" and the path,
// each line ending in LF. Control characters in a title become blanks (a line break would end the
// line); a path that begins with "#" is written as "./" + path, so no player takes it for a
// comment. Entries whose path holds a line break cannot be written and are left out.
std::string ExtendedM3uText(const std::vector<PlaylistFileEntry>& entries);

// The whole seconds an MP3 file plays (from its first MPEG frames, behind an ID3v2 tag), or -1
// when that cannot be told (not MPEG audio, unreadable).
std::int64_t PlayingSeconds(const std::filesystem::path& file);

} // namespace velmora
