#include "store/Fingerprinter.h"
#include "base/Text.h"

#include "base/ShowStatus.h"
#include "store/LocalDatabases.h"
#include "store/Sha1.h"
#include "store/Statements.h"

#include <SQLiteCpp/Statement.h>

#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace velmora {
namespace {

// The cached hash id of the first row for `key`, when that row names the file as it is now.
std::optional<std::string> CachedHashId(SQLite::Database& meta, const std::string& key, const FileFacts& now) {
  using Found = std::optional<std::string>;
  return RunStatement(meta, sql::kSelectKnownHash, [&](SQLite::Statement& lookup) -> Found {
    lookup.bind(":location", key);
    if (!lookup.executeStep()) return std::nullopt;
    const SQLite::Column size = lookup.getColumn("filesize");
    const SQLite::Column modified = lookup.getColumn("filemtime");
    // Rows of an earlier version lack the facts; like rows of a changed file they are misses.
    if (size.isNull() || modified.isNull()) return std::nullopt;
    if (!(FileFacts{size.getInt64(), modified.getInt64()} == now)) return std::nullopt;
    return lookup.getColumn("hashid").getString();
  });
}

} // namespace

void StoreFileHash(SQLite::Database& meta, const std::string& key, const std::string& hashId, const FileFacts& facts) {
  SQLite::Transaction transaction = BeginTransaction(meta);
  RunStatement(meta, sql::kDeleteKnownHash, [&](SQLite::Statement& remove) {
    remove.bind(":location", key);
    remove.exec();
  });
  RunStatement(meta, sql::kInsertKnownHash, [&](SQLite::Statement& insert) {
    insert.bind(":hashid", TrimmedBlanksAndControls(hashId));
    insert.bind(":location", key);
    insert.bind(":filesize", facts.size);
    insert.bind(":filemtime", facts.modifiedNs);
    insert.exec();
  });
  CommitTransaction(transaction);
}

std::string Fingerprinter::LookupKey(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

void Fingerprinter::SetDeepAnalysis(bool visible) {
  deepAnalysis_ = visible;
  ui_.ViewChanged(View::DeepAnalysis);
}

std::string Fingerprinter::FileFingerprint(const std::string& path) {
  const std::string key = LookupKey(path);
  struct stat info {};
  if (::stat(key.c_str(), &info) != 0) return kInvalidHashValue;

  try {
    if (auto cached = CachedHashId(meta_, key, FileFacts::Of(info))) return std::move(*cached);
  } catch (const std::exception& failure) {
    ui_.ShowMessage("error with " + key);
    ui_.ShowErrorDisplay(failure.what());
    return kInvalidHashValue;
  }

  SetDeepAnalysis(true);
  ShowStatus(ui_, "Deep analysis of " + key);
  ui_.ProcessMessages();
  const FileDigest digest = Sha1OfFileChecked(key, afterEachBlock_);
  if (digest.outcome != FileDigest::Outcome::Hashed) {
    // Unreadable now, or still being written: a later call tries again.
    SetDeepAnalysis(false);
    return kInvalidHashValue;
  }
  try {
    StoreFileHash(meta_, key, digest.hashId, digest.facts);
  } catch (...) {
    SetDeepAnalysis(false);
    throw;
  }
  SetDeepAnalysis(false);
  return digest.hashId;
}

} // namespace velmora
