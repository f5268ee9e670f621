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

// Fingerprint cache.
inline constexpr const char* kSelectKnownHash =
    "SELECT hashid,location FROM knownfilehashvalues WHERE trim(location) = :location ;";
inline constexpr const char* kInsertKnownHash =
    "INSERT INTO knownfilehashvalues (hashid,location) VALUES (:hashid,:location);";

// Restore work list.
inline constexpr const char* kInsertDownloadMetaInfo =
    "INSERT INTO downloadmetainfo (handled, entrykey,displayname,playlistkey,playlistname) VALUES "
    "(:handled,:entrykey,:displayname,:playlistkey,:playlistname);";
inline constexpr const char* kSelectUnhandledDownloads =
    "SELECT * FROM downloadmetainfo WHERE handled = 0 LIMIT 10";
inline constexpr const char* kMarkDownloadHandled =
    "UPDATE downloadmetainfo SET handled = 1 WHERE entrykey = :entrykey;";
// What a restore left undone (the command line's exit code).
inline constexpr const char* kCountUnhandledDownloads = "SELECT count(*) FROM downloadmetainfo WHERE handled = 0;";

} // namespace velmora::sql
