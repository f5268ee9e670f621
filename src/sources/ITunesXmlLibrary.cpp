#include "sources/ITunesXmlLibrary.h"

#include <pugixml.hpp>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unordered_map>
#include <vector>

namespace velmora::itunes {
namespace {

struct TrackData {
  int kind = kTrackKindUnknown;
  std::string name, artist, album, genre, location, databaseId, playedDate;
  int rating = 0, trackNumber = 0, year = 0, playCount = 0, duration = 0, bpm = 0, trackId = 0;
  int bitRate = 0, sampleRate = 0;
};

struct PlaylistData {
  std::string name;
  int kind = kPlaylistKindUser;
  std::vector<std::shared_ptr<const TrackData>> tracks; // nullptr where the export names no track
};

int ToInt(const pugi::xml_node& value) {
  const long long number = std::strtoll(value.child_value(), nullptr, 10);
  if (number > INT32_MAX) return INT32_MAX;
  if (number < INT32_MIN) return INT32_MIN;
  return static_cast<int>(number);
}

bool IsTrue(const pugi::xml_node& value) { return std::strcmp(value.name(), "true") == 0; }

// Calls `visit(key, value)` for each entry of a property-list dictionary, in file order.
template <typename Visit>
void ForEachEntry(const pugi::xml_node& dict, Visit visit) {
  for (pugi::xml_node key = dict.child("key"); key; key = key.next_sibling("key")) {
    pugi::xml_node value = key.next_sibling();
    if (!value) break;
    visit(key.child_value(), value);
  }
}

// "2019-03-05T20:11:02Z" in local time: date, and the time unless it is exactly midnight.
std::string LocalDateText(const char* isoUtc) {
  std::tm utc{};
  if (!strptime(isoUtc, "%Y-%m-%dT%H:%M:%SZ", &utc)) return {};
  const std::time_t when = timegm(&utc);
  std::tm local{};
  localtime_r(&when, &local);
  char text[64];
  const char* format =
      (local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0) ? "%Y-%m-%d" : "%Y-%m-%d %H:%M:%S";
  std::strftime(text, sizeof text, format, &local);
  return text;
}

std::string PersistentIdAsDecimal(const std::string& hex) {
  if (hex.empty() || hex.size() > 16) return {};
  char* end = nullptr;
  const unsigned long long value = std::strtoull(hex.c_str(), &end, 16);
  if (!end || *end != '\0') return {};
  return std::to_string(value);
}

std::shared_ptr<TrackData> ReadTrack(const pugi::xml_node& dict) {
  auto track = std::make_shared<TrackData>();
  std::string trackType, location;
  ForEachEntry(dict, [&](const std::string& key, const pugi::xml_node& value) {
    if (key == "Track ID") track->trackId = ToInt(value);
    else if (key == "Name") track->name = value.child_value();
    else if (key == "Artist") track->artist = value.child_value();
    else if (key == "Album") track->album = value.child_value();
    else if (key == "Genre") track->genre = value.child_value();
    else if (key == "Rating") track->rating = ToInt(value);
    else if (key == "Track Number") track->trackNumber = ToInt(value);
    else if (key == "Year") track->year = ToInt(value);
    else if (key == "Play Count") track->playCount = ToInt(value);
    else if (key == "Total Time") track->duration = ToInt(value) / 1000;
    else if (key == "BPM") track->bpm = ToInt(value);
    else if (key == "Bit Rate") track->bitRate = ToInt(value);
    else if (key == "Sample Rate") track->sampleRate = ToInt(value);
    else if (key == "Persistent ID") track->databaseId = PersistentIdAsDecimal(value.child_value());
    else if (key == "Play Date UTC") track->playedDate = LocalDateText(value.child_value());
    else if (key == "Track Type") trackType = value.child_value();
    else if (key == "Location") location = value.child_value();
  });
  if (trackType == "File" || (trackType.empty() && location.rfind("file://", 0) == 0)) {
    track->kind = kTrackKindFile;
    track->location = FileUrlToPath(location);
  } else if (trackType == "URL") {
    track->kind = kTrackKindUrl;
  } else if (trackType == "Remote") {
    track->kind = kTrackKindShared;
  }
  return track;
}

int PlaylistKind(const pugi::xml_node& dict) {
  int kind = kPlaylistKindUser;
  ForEachEntry(dict, [&](const std::string& key, const pugi::xml_node& value) {
    if (key == "Master" && IsTrue(value)) kind = kPlaylistKindLibrary;
  });
  if (kind == kPlaylistKindLibrary) return kind;
  ForEachEntry(dict, [&](const std::string& key, const pugi::xml_node& value) {
    if ((key == "Folder" && IsTrue(value)) || key == "Smart Info" || key == "Smart Criteria" ||
        key == "Distinguished Kind" || (key == "Visible" && !IsTrue(value))) {
      kind = kPlaylistKindOther;
    }
  });
  return kind;
}

class XmlFileTrack : public FileTrack {
public:
  explicit XmlFileTrack(std::shared_ptr<const TrackData> data) : data_(std::move(data)) {}
  std::string Location() const override { return data_->location; }
  int BitRate() const override { return data_->bitRate; }
  int SampleRate() const override { return data_->sampleRate; }

private:
  std::shared_ptr<const TrackData> data_;
};

class XmlTrack : public Track {
public:
  explicit XmlTrack(std::shared_ptr<const TrackData> data) : data_(std::move(data)) {}
  int Kind() const override { return data_->kind; }
  std::string Name() const override { return data_->name; }
  std::string Artist() const override { return data_->artist; }
  std::string Album() const override { return data_->album; }
  std::string Genre() const override { return data_->genre; }
  int Rating() const override { return data_->rating; }
  int TrackNumber() const override { return data_->trackNumber; }
  int Year() const override { return data_->year; }
  int PlayedCount() const override { return data_->playCount; }
  int Duration() const override { return data_->duration; }
  int BPM() const override { return data_->bpm; }
  int TrackID() const override { return data_->trackId; }
  std::string DatabaseID() const override { return data_->databaseId; }
  std::string PlayedDate() const override { return data_->playedDate; }
  std::shared_ptr<const FileTrack> AsFileTrack() const override {
    if (data_->kind != kTrackKindFile) throw ITunesError("track " + data_->name + " has no file");
    return std::make_shared<XmlFileTrack>(data_);
  }

private:
  std::shared_ptr<const TrackData> data_;
};

class XmlTrackCollection : public TrackCollection {
public:
  explicit XmlTrackCollection(std::shared_ptr<const PlaylistData> playlist) : playlist_(std::move(playlist)) {}
  int Count() const override { return static_cast<int>(playlist_->tracks.size()); }
  std::shared_ptr<const Track> Item(int index) const override {
    if (index < 1 || index > Count()) throw ITunesError("track index out of range");
    const auto& data = playlist_->tracks[static_cast<std::size_t>(index - 1)];
    if (!data) throw ITunesError("the library lists a track it does not hold");
    return std::make_shared<XmlTrack>(data);
  }

private:
  std::shared_ptr<const PlaylistData> playlist_;
};

class XmlPlaylist : public Playlist {
public:
  explicit XmlPlaylist(std::shared_ptr<const PlaylistData> data) : data_(std::move(data)) {}
  std::string Name() const override { return data_->name; }
  int Kind() const override { return data_->kind; }
  std::shared_ptr<const TrackCollection> Tracks() const override { return std::make_shared<XmlTrackCollection>(data_); }

private:
  std::shared_ptr<const PlaylistData> data_;
};

class XmlPlaylistCollection : public PlaylistCollection, public Source {
public:
  explicit XmlPlaylistCollection(std::vector<std::shared_ptr<const PlaylistData>> playlists)
      : playlists_(std::move(playlists)) {}
  int Count() const override { return static_cast<int>(playlists_.size()); }
  std::shared_ptr<const Playlist> Item(int index) const override {
    if (index < 1 || index > Count()) throw ITunesError("playlist index out of range");
    return std::make_shared<XmlPlaylist>(playlists_[static_cast<std::size_t>(index - 1)]);
  }
  std::shared_ptr<const PlaylistCollection> Playlists() const override {
    return std::make_shared<XmlPlaylistCollection>(playlists_);
  }

private:
  std::vector<std::shared_ptr<const PlaylistData>> playlists_;
};

class XmlApplication : public Application {
public:
  XmlApplication(std::shared_ptr<const PlaylistData> library,
                 std::vector<std::shared_ptr<const PlaylistData>> playlists)
      : library_(std::move(library)), playlists_(std::move(playlists)) {}
  std::shared_ptr<const Playlist> LibraryPlaylist() const override { return std::make_shared<XmlPlaylist>(library_); }
  std::shared_ptr<const Source> LibrarySource() const override {
    return std::make_shared<XmlPlaylistCollection>(playlists_);
  }

private:
  std::shared_ptr<const PlaylistData> library_;
  std::vector<std::shared_ptr<const PlaylistData>> playlists_;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

} // namespace

std::string FileUrlToPath(const std::string& url) {
  std::string rest;
  if (url.rfind("file://localhost/", 0) == 0) rest = url.substr(16);
  else if (url.rfind("file:///", 0) == 0) rest = url.substr(7);
  else return url;
  std::string path;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '%' && i + 2 < rest.size() && HexDigit(rest[i + 1]) >= 0 && HexDigit(rest[i + 2]) >= 0) {
      path += static_cast<char>(HexDigit(rest[i + 1]) * 16 + HexDigit(rest[i + 2]));
      i += 2;
    } else {
      path += rest[i];
    }
  }
  return path;
}

std::filesystem::path DefaultLibraryFile() {
  if (const char* file = std::getenv("VELMORA_ITUNES_LIBRARY"); file && *file) return file;
  const char* home = std::getenv("HOME");
  const std::filesystem::path folder = std::filesystem::path(home ? home : "") / "Music" / "iTunes";
  for (const char* name : {"iTunes Music Library.xml", "iTunes Library.xml"}) {
    std::error_code error;
    if (std::filesystem::exists(folder / name, error)) return folder / name;
  }
  return folder / "iTunes Music Library.xml";
}

std::shared_ptr<const Application> OpenXmlLibrary(const std::filesystem::path& file) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_file(file.c_str());
  if (!parsed) {
    throw ITunesError("cannot read the iTunes library " + file.string() + ": " + parsed.description());
  }
  const pugi::xml_node root = document.child("plist").child("dict");
  if (!root) throw ITunesError("the file " + file.string() + " is not an iTunes library");

  std::unordered_map<std::string, std::shared_ptr<const TrackData>> tracksById;
  std::vector<std::shared_ptr<const TrackData>> tracksInOrder;
  pugi::xml_node playlistsArray;
  ForEachEntry(root, [&](const std::string& key, const pugi::xml_node& value) {
    if (key == "Tracks") {
      ForEachEntry(value, [&](const std::string& id, const pugi::xml_node& trackDict) {
        auto track = ReadTrack(trackDict);
        tracksById[id] = track;
        tracksInOrder.push_back(track);
      });
    } else if (key == "Playlists") {
      playlistsArray = value;
    }
  });
  if (tracksInOrder.empty() && !playlistsArray) {
    throw ITunesError("the file " + file.string() + " is not an iTunes library");
  }

  std::shared_ptr<const PlaylistData> library;
  std::vector<std::shared_ptr<const PlaylistData>> playlists;
  for (pugi::xml_node dict = playlistsArray.child("dict"); dict; dict = dict.next_sibling("dict")) {
    auto playlist = std::make_shared<PlaylistData>();
    playlist->kind = PlaylistKind(dict);
    ForEachEntry(dict, [&](const std::string& key, const pugi::xml_node& value) {
      if (key == "Name") playlist->name = value.child_value();
      if (key != "Playlist Items") return;
      for (pugi::xml_node item = value.child("dict"); item; item = item.next_sibling("dict")) {
        ForEachEntry(item, [&](const std::string& itemKey, const pugi::xml_node& id) {
          if (itemKey != "Track ID") return;
          const auto found = tracksById.find(id.child_value());
          playlist->tracks.push_back(found == tracksById.end() ? nullptr : found->second);
        });
      }
    });
    if (playlist->kind == kPlaylistKindLibrary && !library) library = playlist;
    playlists.push_back(std::move(playlist));
  }
  if (!library) { // an export without a library playlist still holds the library's tracks
    auto all = std::make_shared<PlaylistData>();
    all->name = "Library";
    all->kind = kPlaylistKindLibrary;
    all->tracks = tracksInOrder;
    library = all;
  }
  return std::make_shared<XmlApplication>(library, std::move(playlists));
}

} // namespace velmora::itunes
