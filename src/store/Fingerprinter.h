#pragma once
// Hash ids of audio files, cached in the metadata database by absolute path together with the
// file's size and modification time, so a file is read again only when it changed.

#include "base/Ui.h"
#include "store/Sha1.h"

#include <SQLiteCpp/Database.h>

#include <functional>
#include <string>

namespace velmora {

// Records that the file under `key` (a LookupKey) with these facts has this hash id: its rows are
// replaced in one transaction, as after hashing it. For files whose digest was taken another way
// (a restore hashes each download as it arrives).
void StoreFileHash(SQLite::Database& meta, const std::string& key, const std::string& hashId, const FileFacts& facts);

class Fingerprinter {
public:
  Fingerprinter(SQLite::Database& meta, Ui& ui) : meta_(meta), ui_(ui) {}

  // The hash id of the file's present content: from the cache when the row for its path still
  // names the file's size and modification time, else by reading it (the row is then replaced).
  // "invalidhashvalue" when the file is missing, unreadable, or changed while it was read; no row
  // is written then.
  std::string FileFingerprint(const std::string& path);

  // Whether the "Deep analysis" badge is showing (a file is being read for hashing).
  bool DeepAnalysisVisible() const { return deepAnalysis_; }

  // The key under which a path is cached: the absolute, lexically normal path (relative paths
  // resolve against the current folder). Letter case is kept: on this file system two paths
  // that differ in case are two files.
  static std::string LookupKey(const std::string& path);

  // Runs after every block read while a file is hashed (tests change the file there).
  void SetAfterEachBlock(std::function<void()> hook) { afterEachBlock_ = std::move(hook); }

private:
  void SetDeepAnalysis(bool visible);

  SQLite::Database& meta_;
  Ui& ui_;
  bool deepAnalysis_ = false;
  std::function<void()> afterEachBlock_;
};

} // namespace velmora
