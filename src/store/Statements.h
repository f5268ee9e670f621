#pragma once
// Every statement the program runs against its two local databases, in one place.

namespace velmora::sql {

// Set-up of the temporary database, each statement committed by itself.
inline constexpr const char* kCreateWinampLookup =
    "CREATE TABLE IF NOT EXISTS winamplookup (winamplocation text, hashid text);";
inline constexpr const char* kCreateDownloadMetaInfo =
    "CREATE TABLE IF NOT EXISTS downloadmetainfo (handled integer, entrykey text, playlistkey text, "
    "playlistname text, displayname text);";
inline constexpr const char* kClearDownloadMetaInfo = "DELETE FROM downloadmetainfo;";

// Set-up of the metadata database, run as one script.
inline constexpr const char* kCreateKnownFileHashValues =
    "CREATE TABLE IF NOT EXISTS knownfilehashvalues ( location varchar(255), hashid varchar(100) );\n"
    "CREATE INDEX IF NOT EXISTS hashid_index ON knownfilehashvalues (hashid);\n"
    "CREATE INDEX IF NOT EXISTS location_index ON knownfilehashvalues (location);";
// The look-up compares trim(location); this index lets SQLite search instead of scanning.
inline constexpr const char* kCreateTrimmedLocationIndex =
    "CREATE INDEX IF NOT EXISTS location_trim_index ON knownfilehashvalues (trim(location));";

// The size and modification time (nanoseconds) of the file when its hash id was taken. A cache
// written by an earlier version gets these columns at set-up; its rows hold NULL there and are
// taken as misses, so each such file is hashed once more and its row replaced.
inline constexpr const char* kKnownHashColumns = "SELECT name FROM pragma_table_info(?);";
inline constexpr const char* kAddKnownHashFileSize = "ALTER TABLE knownfilehashvalues ADD COLUMN filesize integer;";
inline constexpr const char* kAddKnownHashFileTime = "ALTER TABLE knownfilehashvalues ADD COLUMN filemtime integer;";

// Fingerprint cache. A location's row is replaced by deleting every row for it, then inserting,
// in one transaction.
inline constexpr const char* kSelectKnownHash =
    "SELECT hashid,location,filesize,filemtime FROM knownfilehashvalues WHERE trim(location) = :location ;";
inline constexpr const char* kDeleteKnownHash = "DELETE FROM knownfilehashvalues WHERE trim(location) = :location ;";
inline constexpr const char* kInsertKnownHash =
    "INSERT INTO knownfilehashvalues (hashid,location,filesize,filemtime) VALUES "
    "(:hashid,:location,:filesize,:filemtime);";

// Restore work list.
inline constexpr const char* kInsertDownloadMetaInfo =
    "INSERT INTO downloadmetainfo (handled, entrykey,displayname,playlistkey,playlistname) VALUES "
    "(:handled,:entrykey,:displayname,:playlistkey,:playlistname);";
inline constexpr const char* kSelectUnhandledDownloads = "SELECT * FROM downloadmetainfo WHERE handled = 0 LIMIT 10";
// The first :count rows still to do, in the order listed (several downloads at once).
inline constexpr const char* kSelectUnhandledDownloadsInOrder =
    "SELECT entrykey, playlistname, displayname FROM downloadmetainfo WHERE handled = 0 ORDER BY rowid LIMIT :count";
inline constexpr const char* kMarkDownloadHandled =
    "UPDATE downloadmetainfo SET handled = 1 WHERE entrykey = :entrykey;";
// What a restore left undone (the command line's exit code).
inline constexpr const char* kCountUnhandledDownloads = "SELECT count(*) FROM downloadmetainfo WHERE handled = 0;";

} // namespace velmora::sql
