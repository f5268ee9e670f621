#pragma once
// The two SQLite files in the work folder: the per-run temporary database (restore work list)
// and the persistent metadata database (fingerprint cache).

#include <SQLiteCpp/Database.h>

#include <memory>
#include <string>

namespace velmora {

struct LocalDatabases {
  std::unique_ptr<SQLite::Database> temporary; // "tmp_Velmora.db"
  std::unique_ptr<SQLite::Database> meta;      // "meta_Velmora.db"
};

// Opens (creating when missing) both files in `folder` (with trailing separator), creates their
// tables and indexes, empties the restore work list and leaves the temporary database inside an
// open transaction. Errors carry SQLite's message, two line breaks and the statement text.
LocalDatabases OpenLocalDatabases(const std::string& folder);

// Runs `sql` on `db`, turning a failure into the error text described above.
void ExecStatement(SQLite::Database& db, const std::string& sql);

} // namespace velmora
