#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace SQLite {
class Database;
}

namespace velmora::locker {

struct User {
  std::string name;        // as first registered; look-ups ignore letter case
  std::string passwordMd5; // upper-case hex
};

// What an item metadata document says about a file.
struct ItemMetadata {
  std::string name, artist, album, genre, trackNo, year, length, bitrate, size, location;
  std::string hashValue; // the "HashValue" the document announces, if any
  std::string document;  // the document as received
};

struct LibraryItem {
  std::string entryKey;
  std::string user;
  std::string hashId;
  ItemMetadata meta;
  std::string added; // UTC, ISO 8601
};

struct Playlist {
  std::string entryKey;
  std::string user;
  std::string name;
  bool dynamic = false;
  bool shared = false;              // listed to every user, not only its owner
  std::vector<std::string> hashIds; // in playlist order
};

struct Invitation {
  std::string user;
  std::string email;
  std::string at;
};

// Users, per-user library items, playlists and invitations in one SQLite file. Safe to use from
// the server's threads: every call holds the one connection for its duration.
class Library {
public:
  explicit Library(const std::filesystem::path& databaseFile);
  ~Library();

  void PutUser(const std::string& name, const std::string& passwordMd5);
  std::optional<User> FindUser(const std::string& name) const;
  std::vector<User> Users() const;

  std::optional<LibraryItem> ItemByHash(const std::string& user, const std::string& hashId) const;
  std::optional<LibraryItem> ItemByKey(const std::string& entryKey) const;
  // The hash ids of every file in the user's library.
  std::unordered_set<std::string> HashIds(const std::string& user) const;
  // All of a user's items in the order they were added; every user's when `user` is empty.
  std::vector<LibraryItem> Items(const std::string& user) const;
  // Adds the file to the user's library, or refreshes its metadata when it is there already.
  LibraryItem PutItem(const std::string& user, const std::string& hashId, const ItemMetadata& meta);

  // The user's playlist of that name gets exactly these entries (created when missing).
  Playlist ReplacePlaylist(const std::string& user, const std::string& name, const std::vector<std::string>& hashIds);
  // Appends the file to the user's playlist of that name unless it is listed already.
  Playlist AddToPlaylist(const std::string& user, const std::string& name, const std::string& hashId);
  // A playlist made through the control interface: any owner, dynamic or shared.
  Playlist CreatePlaylist(const Playlist& playlist);
  std::optional<Playlist> PlaylistByKey(const std::string& entryKey) const;
  // The user's own playlists and the shared ones of other users.
  std::vector<Playlist> VisiblePlaylists(const std::string& user) const;
  // Every user's when `user` is empty.
  std::vector<Playlist> Playlists(const std::string& user) const;

  void AddInvitation(const std::string& user, const std::string& email);
  std::vector<Invitation> Invitations() const;

private:
  std::optional<Playlist> FindPlaylist(const std::string& user, const std::string& name) const;
  Playlist LoadPlaylist(const std::string& entryKey) const;
  std::string NewPlaylist(const std::string& user, const std::string& name, bool dynamic, bool shared);

  mutable std::recursive_mutex mutex_;
  std::unique_ptr<SQLite::Database> db_;
};

} // namespace velmora::locker
