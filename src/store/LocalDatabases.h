#pragma once
// The two SQLite files in the work folder: the per-run temporary database (restore work list)
// and the persistent metadata database (fingerprint cache).

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>

#include <memory>
#include <stdexcept>
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

// Runs `sql` on `db`; a failure carries SQLite's message, two line breaks and the statement text.
void ExecStatement(SQLite::Database& db, const std::string& sql);

// Prepares the catalogue statement `sql` on `db` and hands it to `use` (bind, step, read); a
// failure of SQLite anywhere in it carries SQLite's message, two line breaks and the statement text.
template <typename Use>
auto RunStatement(SQLite::Database& db, const char* sql, Use&& use) {
  try {
    SQLite::Statement statement(db, sql);
    return use(statement);
  } catch (const SQLite::Exception& error) {
    throw std::runtime_error(std::string(error.what()) + "\n\n" + sql);
  }
}

} // namespace velmora
