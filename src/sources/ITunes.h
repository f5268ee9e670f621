#pragma once
// The automation layer through which the iTunes source reads the user's iTunes library: an
// application with its library playlist and library source, playlist and track collections with
// 1-based members, tracks and their file-track side. On this platform it is served from the
// library's XML export (ITunesXmlLibrary.h); tests may serve it from a fake.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace velmora::itunes {

// Playlist kinds the source tests: the library playlist and plain user playlists.
inline constexpr int kPlaylistKindUnknown = 0;
inline constexpr int kPlaylistKindLibrary = 1;
inline constexpr int kPlaylistKindUser = 2;
inline constexpr int kPlaylistKindOther = 3; // smart, folder and built-in playlists

// Track kinds: only file tracks are taken.
inline constexpr int kTrackKindUnknown = 0;
inline constexpr int kTrackKindFile = 1;
inline constexpr int kTrackKindUrl = 3;
inline constexpr int kTrackKindShared = 5;

// Any failed read of the automation layer.
class ITunesError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The file-track side of a track: only tracks backed by a file offer it.
class FileTrack {
public:
  virtual ~FileTrack() = default;
  virtual std::string Location() const = 0; // full path of the file
  virtual int BitRate() const = 0;
  virtual int SampleRate() const = 0;
};

class Track {
public:
  virtual ~Track() = default;
  virtual int Kind() const = 0;
  virtual std::string Name() const = 0;
  virtual std::string Artist() const = 0;
  virtual std::string Album() const = 0;
  virtual std::string Genre() const = 0;
  virtual int Rating() const = 0;
  virtual int TrackNumber() const = 0;
  virtual int Year() const = 0;
  virtual int PlayedCount() const = 0;
  virtual int Duration() const = 0; // whole seconds
  virtual int BPM() const = 0;
  virtual int TrackID() const = 0;
  virtual std::string DatabaseID() const = 0; // decimal text
  virtual std::string PlayedDate() const = 0; // last played, as text; empty when never played
  // The file-track side; throws ITunesError when the track has none.
  virtual std::shared_ptr<const FileTrack> AsFileTrack() const = 0;
};

class TrackCollection {
public:
  virtual ~TrackCollection() = default;
  virtual int Count() const = 0;
  // Member at a 1-based index; throws ITunesError when it cannot be fetched.
  virtual std::shared_ptr<const Track> Item(int index) const = 0;
};

class Playlist {
public:
  virtual ~Playlist() = default;
  virtual std::string Name() const = 0;
  virtual int Kind() const = 0;
  virtual std::shared_ptr<const TrackCollection> Tracks() const = 0;
};

class PlaylistCollection {
public:
  virtual ~PlaylistCollection() = default;
  virtual int Count() const = 0;
  virtual std::shared_ptr<const Playlist> Item(int index) const = 0; // 1-based
};

class Source {
public:
  virtual ~Source() = default;
  virtual std::shared_ptr<const PlaylistCollection> Playlists() const = 0;
};

class Application {
public:
  virtual ~Application() = default;
  virtual std::shared_ptr<const Playlist> LibraryPlaylist() const = 0;
  virtual std::shared_ptr<const Source> LibrarySource() const = 0;
};

} // namespace velmora::itunes
