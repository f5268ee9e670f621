#pragma once
// Hash ids of audio files, cached by path in the metadata database so a file is read only once.

#include "app/Ui.h"

#include <SQLiteCpp/Database.h>

#include <string>

namespace velmora {

class Fingerprinter {
public:
  Fingerprinter(SQLite::Database& meta, Ui& ui) : meta_(meta), ui_(ui) {}

  // The file's hash id, from the cache when its path was hashed before (even if the file has
  // changed since), else by reading it; "invalidhashvalue" when it is missing or unreadable.
  std::string FileFingerprint(const std::string& path);

  // Whether the "Deep analysis" badge is showing (a file is being read for hashing).
  bool DeepAnalysisVisible() const { return deepAnalysis_; }

  // The key under which a path is cached. Paths keep their letter case: on this file system
  // two paths that differ in case are two files.
  static std::string LookupKey(const std::string& path) { return path; }

private:
  void SetDeepAnalysis(bool visible);

  SQLite::Database& meta_;
  Ui& ui_;
  bool deepAnalysis_ = false;
};

} // namespace velmora
