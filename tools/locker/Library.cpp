#include "Library.h"

#include <SQLiteCpp/SQLiteCpp.h>

#include <ctime>

#include "Digest.h"

namespace velmora::locker {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS users (
  name TEXT PRIMARY KEY COLLATE NOCASE,
  password_md5 TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS items (
  entrykey TEXT PRIMARY KEY,
  user TEXT NOT NULL COLLATE NOCASE,
  hashid TEXT NOT NULL,
  name TEXT NOT NULL DEFAULT '', artist TEXT NOT NULL DEFAULT '', album TEXT NOT NULL DEFAULT '',
  genre TEXT NOT NULL DEFAULT '', trackno TEXT NOT NULL DEFAULT '', year TEXT NOT NULL DEFAULT '',
  length TEXT NOT NULL DEFAULT '', bitrate TEXT NOT NULL DEFAULT '', size TEXT NOT NULL DEFAULT '',
  location TEXT NOT NULL DEFAULT '', metainfo TEXT NOT NULL DEFAULT '',
  added TEXT NOT NULL,
  seq INTEGER NOT NULL,
  UNIQUE (user, hashid));
CREATE TABLE IF NOT EXISTS playlists (
  entrykey TEXT PRIMARY KEY,
  user TEXT NOT NULL COLLATE NOCASE,
  name TEXT NOT NULL,
  dynamic INTEGER NOT NULL DEFAULT 0,
  shared INTEGER NOT NULL DEFAULT 0,
  seq INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS playlists_by_user ON playlists (user, name);
CREATE TABLE IF NOT EXISTS playlist_entries (
  playlist TEXT NOT NULL,
  position INTEGER NOT NULL,
  hashid TEXT NOT NULL,
  PRIMARY KEY (playlist, position));
CREATE TABLE IF NOT EXISTS invitations (
  user TEXT NOT NULL,
  email TEXT NOT NULL,
  at TEXT NOT NULL);
)sql";

std::string NowUtc() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::gmtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

constexpr const char* kItemColumns =
    "entrykey, user, hashid, name, artist, album, genre, trackno, year, length, bitrate, size, "
    "location, metainfo, added";

LibraryItem ReadItem(SQLite::Statement& row) {
  LibraryItem item;
  item.entryKey = row.getColumn(0).getString();
  item.user = row.getColumn(1).getString();
  item.hashId = row.getColumn(2).getString();
  item.meta.name = row.getColumn(3).getString();
  item.meta.artist = row.getColumn(4).getString();
  item.meta.album = row.getColumn(5).getString();
  item.meta.genre = row.getColumn(6).getString();
  item.meta.trackNo = row.getColumn(7).getString();
  item.meta.year = row.getColumn(8).getString();
  item.meta.length = row.getColumn(9).getString();
  item.meta.bitrate = row.getColumn(10).getString();
  item.meta.size = row.getColumn(11).getString();
  item.meta.location = row.getColumn(12).getString();
  item.meta.document = row.getColumn(13).getString();
  item.meta.hashValue = item.hashId;
  item.added = row.getColumn(14).getString();
  return item;
}

std::int64_t NextSeq(SQLite::Database& db, const char* table) {
  SQLite::Statement query(db, std::string("SELECT COALESCE(MAX(seq), 0) + 1 FROM ") + table);
  query.executeStep();
  return query.getColumn(0).getInt64();
}

} // namespace

Library::Library(const std::filesystem::path& databaseFile)
    : db_(std::make_unique<SQLite::Database>(databaseFile.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE)) {
  db_->exec("PRAGMA journal_mode = WAL");
  // With the write-ahead log, NORMAL keeps every commit when this process is killed; only a crash
  // of the whole machine may lose the last ones. FULL waited for the disk at each commit while the
  // library's lock was held, so on a busy machine every client's requests queued behind the disk
  // (about 12 ms each, up to 90 ms) and transfer figures measured the disk, not the link.
  db_->exec("PRAGMA synchronous = NORMAL");
  db_->exec("PRAGMA foreign_keys = ON");
  db_->setBusyTimeout(5000);
  db_->exec(kSchema);
}

Library::~Library() = default;

void Library::PutUser(const std::string& name, const std::string& passwordMd5) {
  Lock lock(mutex_);
  SQLite::Statement put(*db_,
                        "INSERT INTO users (name, password_md5) VALUES (:name, :md5) "
                        "ON CONFLICT (name) DO UPDATE SET password_md5 = excluded.password_md5");
  put.bind(":name", name);
  put.bind(":md5", passwordMd5);
  put.exec();
}

std::optional<User> Library::FindUser(const std::string& name) const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, "SELECT name, password_md5 FROM users WHERE name = :name");
  query.bind(":name", name);
  if (!query.executeStep()) return std::nullopt;
  return User{query.getColumn(0).getString(), query.getColumn(1).getString()};
}

std::vector<User> Library::Users() const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, "SELECT name, password_md5 FROM users ORDER BY name");
  std::vector<User> users;
  while (query.executeStep()) users.push_back({query.getColumn(0).getString(), query.getColumn(1).getString()});
  return users;
}

std::optional<LibraryItem> Library::ItemByHash(const std::string& user, const std::string& hashId) const {
  Lock lock(mutex_);
  SQLite::Statement query(
      *db_, std::string("SELECT ") + kItemColumns + " FROM items WHERE user = :user AND hashid = :hashid");
  query.bind(":user", user);
  query.bind(":hashid", hashId);
  if (!query.executeStep()) return std::nullopt;
  return ReadItem(query);
}

std::optional<LibraryItem> Library::ItemByKey(const std::string& entryKey) const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, std::string("SELECT ") + kItemColumns + " FROM items WHERE entrykey = :key");
  query.bind(":key", entryKey);
  if (!query.executeStep()) return std::nullopt;
  return ReadItem(query);
}

std::unordered_set<std::string> Library::HashIds(const std::string& user) const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, "SELECT hashid FROM items WHERE user = :user");
  query.bind(":user", user);
  std::unordered_set<std::string> hashIds;
  while (query.executeStep()) hashIds.insert(query.getColumn(0).getString());
  return hashIds;
}

std::vector<LibraryItem> Library::Items(const std::string& user) const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, std::string("SELECT ") + kItemColumns + " FROM items" +
                                    (user.empty() ? "" : " WHERE user = :user") + " ORDER BY seq");
  if (!user.empty()) query.bind(":user", user);
  std::vector<LibraryItem> items;
  while (query.executeStep()) items.push_back(ReadItem(query));
  return items;
}

LibraryItem Library::PutItem(const std::string& user, const std::string& hashId, const ItemMetadata& meta) {
  Lock lock(mutex_);
  SQLite::Transaction transaction(*db_);
  std::string entryKey;
  {
    SQLite::Statement existing(*db_, "SELECT entrykey FROM items WHERE user = :user AND hashid = :hashid");
    existing.bind(":user", user);
    existing.bind(":hashid", hashId);
    if (existing.executeStep()) entryKey = existing.getColumn(0).getString();
  }
  if (entryKey.empty()) {
    entryKey = RandomHex(16);
    SQLite::Statement insert(*db_,
                             "INSERT INTO items (entrykey, user, hashid, added, seq) "
                             "VALUES (:key, :user, :hashid, :added, :seq)");
    insert.bind(":key", entryKey);
    insert.bind(":user", user);
    insert.bind(":hashid", hashId);
    insert.bind(":added", NowUtc());
    insert.bind(":seq", NextSeq(*db_, "items"));
    insert.exec();
  }
  SQLite::Statement update(*db_,
                           "UPDATE items SET name = :name, artist = :artist, album = :album, genre = :genre, "
                           "trackno = :trackno, year = :year, length = :length, bitrate = :bitrate, size = :size, "
                           "location = :location, metainfo = :metainfo WHERE entrykey = :key");
  update.bind(":name", meta.name);
  update.bind(":artist", meta.artist);
  update.bind(":album", meta.album);
  update.bind(":genre", meta.genre);
  update.bind(":trackno", meta.trackNo);
  update.bind(":year", meta.year);
  update.bind(":length", meta.length);
  update.bind(":bitrate", meta.bitrate);
  update.bind(":size", meta.size);
  update.bind(":location", meta.location);
  update.bind(":metainfo", meta.document);
  update.bind(":key", entryKey);
  update.exec();
  transaction.commit();
  return *ItemByKey(entryKey);
}

std::optional<Playlist> Library::FindPlaylist(const std::string& user, const std::string& name) const {
  SQLite::Statement query(*db_,
                          "SELECT entrykey FROM playlists WHERE user = :user AND name = :name "
                          "AND dynamic = 0 ORDER BY seq LIMIT 1");
  query.bind(":user", user);
  query.bind(":name", name);
  if (!query.executeStep()) return std::nullopt;
  return LoadPlaylist(query.getColumn(0).getString());
}

Playlist Library::LoadPlaylist(const std::string& entryKey) const {
  SQLite::Statement head(*db_, "SELECT entrykey, user, name, dynamic, shared FROM playlists WHERE entrykey = :key");
  head.bind(":key", entryKey);
  if (!head.executeStep()) throw std::runtime_error("no playlist " + entryKey);
  Playlist playlist;
  playlist.entryKey = head.getColumn(0).getString();
  playlist.user = head.getColumn(1).getString();
  playlist.name = head.getColumn(2).getString();
  playlist.dynamic = head.getColumn(3).getInt() != 0;
  playlist.shared = head.getColumn(4).getInt() != 0;
  SQLite::Statement entries(*db_, "SELECT hashid FROM playlist_entries WHERE playlist = :key ORDER BY position");
  entries.bind(":key", entryKey);
  while (entries.executeStep()) playlist.hashIds.push_back(entries.getColumn(0).getString());
  return playlist;
}

std::string Library::NewPlaylist(const std::string& user, const std::string& name, bool dynamic, bool shared) {
  const std::string entryKey = RandomHex(16);
  SQLite::Statement insert(*db_,
                           "INSERT INTO playlists (entrykey, user, name, dynamic, shared, seq) "
                           "VALUES (:key, :user, :name, :dynamic, :shared, :seq)");
  insert.bind(":key", entryKey);
  insert.bind(":user", user);
  insert.bind(":name", name);
  insert.bind(":dynamic", dynamic ? 1 : 0);
  insert.bind(":shared", shared ? 1 : 0);
  insert.bind(":seq", NextSeq(*db_, "playlists"));
  insert.exec();
  return entryKey;
}

Playlist Library::ReplacePlaylist(const std::string& user, const std::string& name,
                                  const std::vector<std::string>& hashIds) {
  Lock lock(mutex_);
  SQLite::Transaction transaction(*db_);
  const auto existing = FindPlaylist(user, name);
  const std::string entryKey = existing ? existing->entryKey : NewPlaylist(user, name, false, false);
  SQLite::Statement clear(*db_, "DELETE FROM playlist_entries WHERE playlist = :key");
  clear.bind(":key", entryKey);
  clear.exec();
  SQLite::Statement insert(*db_,
                           "INSERT INTO playlist_entries (playlist, position, hashid) "
                           "VALUES (:key, :position, :hashid)");
  for (std::size_t i = 0; i < hashIds.size(); ++i) {
    insert.bind(":key", entryKey);
    insert.bind(":position", static_cast<std::int64_t>(i));
    insert.bind(":hashid", hashIds[i]);
    insert.exec();
    insert.reset();
  }
  transaction.commit();
  return LoadPlaylist(entryKey);
}

Playlist Library::AddToPlaylist(const std::string& user, const std::string& name, const std::string& hashId) {
  Lock lock(mutex_);
  SQLite::Transaction transaction(*db_);
  const auto existing = FindPlaylist(user, name);
  const std::string entryKey = existing ? existing->entryKey : NewPlaylist(user, name, false, false);
  SQLite::Statement listed(*db_, "SELECT 1 FROM playlist_entries WHERE playlist = :key AND hashid = :hashid");
  listed.bind(":key", entryKey);
  listed.bind(":hashid", hashId);
  if (!listed.executeStep()) {
    SQLite::Statement insert(*db_,
                             "INSERT INTO playlist_entries (playlist, position, hashid) VALUES "
                             "(:key, (SELECT COALESCE(MAX(position), -1) + 1 FROM playlist_entries "
                             "WHERE playlist = :key), :hashid)");
    insert.bind(":key", entryKey);
    insert.bind(":hashid", hashId);
    insert.exec();
  }
  transaction.commit();
  return LoadPlaylist(entryKey);
}

Playlist Library::CreatePlaylist(const Playlist& playlist) {
  Lock lock(mutex_);
  SQLite::Transaction transaction(*db_);
  const std::string entryKey = NewPlaylist(playlist.user, playlist.name, playlist.dynamic, playlist.shared);
  SQLite::Statement insert(*db_,
                           "INSERT INTO playlist_entries (playlist, position, hashid) "
                           "VALUES (:key, :position, :hashid)");
  for (std::size_t i = 0; i < playlist.hashIds.size(); ++i) {
    insert.bind(":key", entryKey);
    insert.bind(":position", static_cast<std::int64_t>(i));
    insert.bind(":hashid", playlist.hashIds[i]);
    insert.exec();
    insert.reset();
  }
  transaction.commit();
  return LoadPlaylist(entryKey);
}

std::optional<Playlist> Library::PlaylistByKey(const std::string& entryKey) const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, "SELECT 1 FROM playlists WHERE entrykey = :key");
  query.bind(":key", entryKey);
  if (!query.executeStep()) return std::nullopt;
  return LoadPlaylist(entryKey);
}

std::vector<Playlist> Library::VisiblePlaylists(const std::string& user) const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, "SELECT entrykey FROM playlists WHERE user = :user OR shared != 0 ORDER BY seq");
  query.bind(":user", user);
  std::vector<std::string> keys;
  while (query.executeStep()) keys.push_back(query.getColumn(0).getString());
  std::vector<Playlist> playlists;
  for (const auto& key : keys) playlists.push_back(LoadPlaylist(key));
  return playlists;
}

std::vector<Playlist> Library::Playlists(const std::string& user) const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, std::string("SELECT entrykey FROM playlists") +
                                    (user.empty() ? "" : " WHERE user = :user") + " ORDER BY seq");
  if (!user.empty()) query.bind(":user", user);
  std::vector<std::string> keys;
  while (query.executeStep()) keys.push_back(query.getColumn(0).getString());
  std::vector<Playlist> playlists;
  for (const auto& key : keys) playlists.push_back(LoadPlaylist(key));
  return playlists;
}

void Library::AddInvitation(const std::string& user, const std::string& email) {
  Lock lock(mutex_);
  SQLite::Statement insert(*db_, "INSERT INTO invitations (user, email, at) VALUES (:user, :email, :at)");
  insert.bind(":user", user);
  insert.bind(":email", email);
  insert.bind(":at", NowUtc());
  insert.exec();
}

std::vector<Invitation> Library::Invitations() const {
  Lock lock(mutex_);
  SQLite::Statement query(*db_, "SELECT user, email, at FROM invitations ORDER BY rowid");
  std::vector<Invitation> invitations;
  while (query.executeStep())
    invitations.push_back(
        {query.getColumn(0).getString(), query.getColumn(1).getString(), query.getColumn(2).getString()});
  return invitations;
}

} // namespace velmora::locker
