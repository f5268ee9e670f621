#include "store/LocalDatabases.h"

#include "store/Statements.h"

#include <SQLiteCpp/Exception.h>

#include <stdexcept>

namespace velmora {

void ExecStatement(SQLite::Database& db, const std::string& sql) {
  try {
    db.exec(sql);
  } catch (const SQLite::Exception& error) {
    throw std::runtime_error(std::string(error.what()) + "\n\n" + sql);
  }
}

LocalDatabases OpenLocalDatabases(const std::string& folder) {
  const int flags = SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE;
  LocalDatabases dbs;
  dbs.temporary = std::make_unique<SQLite::Database>(folder + "tmp_Velmora.db", flags);
  dbs.meta = std::make_unique<SQLite::Database>(folder + "meta_Velmora.db", flags);

  SQLite::Database& temporary = *dbs.temporary;
  ExecStatement(temporary, "begin transaction");
  for (const char* statement : {sql::kCreateWinampLookup, sql::kCreateDownloadMetaInfo,
                                sql::kClearDownloadMetaInfo}) {
    ExecStatement(temporary, statement);
    ExecStatement(temporary, "commit transaction");
    ExecStatement(temporary, "begin transaction");
  }
  // The temporary database stays inside this last transaction for the rest of the run.

  SQLite::Database& meta = *dbs.meta;
  ExecStatement(meta, "begin transaction");
  ExecStatement(meta, sql::kCreateKnownFileHashValues);
  ExecStatement(meta, sql::kCreateTrimmedLocationIndex);
  ExecStatement(meta, "commit transaction");
  return dbs;
}

} // namespace velmora
