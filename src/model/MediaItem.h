#pragma once
// The in-memory form every source turns what it finds into: media items and playlists.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// One collected audio file. Text is UTF-8; all text starts empty, the integers at 0 and the
// optional numbers without a value. A number without a value is written as an empty element.
struct MediaItem {
  std::int32_t HashCheckResponse = 0; // the duplicate check's code for HashValue; 0 until it answered
  std::string Location;               // full path of the file
  std::string Artist;
  std::string Album;
  std::string Name; // title of the track
  std::string Genre;
  // Track and year are text: an ID3v2 tag holds them as text ("5/12", "2002-05"), written as read.
  std::string TrackNo;
  std::optional<std::int32_t> Bitrate; // kbit/s; none without MPEG frames
  std::string Year;
  std::int32_t Bpm = 0;
  std::optional<std::int64_t> Length; // whole seconds; none without MPEG frames
  std::int64_t Size = 0;              // bytes, -1 when the file was not found
  std::optional<std::int32_t> Rating; // iTunes only
  std::string LastPlayed;
  std::optional<std::int32_t> PlayedTimes; // iTunes only
  std::optional<std::int32_t> SampleRate;  // Hz; none without MPEG frames
  std::string Added;                       // no source fills it
  std::string HashValue;                   // the file's hash id
  std::string iTunesPersistentID;
  std::string iTunesTrackID;
  std::string iTunesSortAlbum; // no source fills it
};

using MediaItems = std::vector<MediaItem>;

// One collected playlist; it owns its lists.
struct Playlist {
  std::string Name;
  std::string FilePath; // Winamp only: the file listing the entries
  std::int32_t ItemCount = 0;
  std::vector<std::string> HashValues; // hash ids of the taken items, in playlist order
  std::vector<std::string> Locations;  // Winamp only: paths of the taken items
};

using Playlists = std::vector<Playlist>;

// What a source collected for one run: the media items in the order found and the playlists.
// A file a source found but could not describe, and why; the run's report lists it as skipped.
struct SkippedFile {
  std::string path;
  std::string reason;
};

struct Collection {
  MediaItems items;
  Playlists playlists;
  std::vector<SkippedFile> skipped;
  void Clear() {
    items.clear();
    playlists.clear();
    skipped.clear();
  }
};

// Which source a collection came from; part of the exchange files' names.
using SourceNumber = std::uint8_t;
inline constexpr SourceNumber kSourceITunes = 0;
inline constexpr SourceNumber kSourceWinamp = 1;
inline constexpr SourceNumber kSourceDroppedFiles = 3;

} // namespace velmora
