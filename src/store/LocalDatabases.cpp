#include "store/LocalDatabases.h"

#include "store/Statements.h"

#include <set>
#include <stdexcept>

namespace velmora {
namespace {

std::set<std::string> ColumnsOf(SQLite::Database& db, const char* table) {
  std::set<std::string> columns;
  RunStatement(db, sql::kKnownHashColumns, [&](SQLite::Statement& query) {
    query.bind(1, table);
    while (query.executeStep()) columns.insert(query.getColumn(0).getString());
  });
  return columns;
}

} // namespace

void ThrowStatementError(const SQLite::Exception& error, const std::string& sql) {
  throw std::runtime_error(std::string(error.what()) + "\n\n" + sql);
}

void ExecStatement(SQLite::Database& db, const std::string& sql) {
  try {
    db.exec(sql);
  } catch (const SQLite::Exception& error) {
    ThrowStatementError(error, sql);
  }
}

LocalDatabases OpenLocalDatabases(const std::string& sharedFolder, const std::string& runFolder) {
  const int flags = SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE;
  LocalDatabases dbs;
  dbs.temporary = std::make_unique<SQLite::Database>(runFolder + "tmp_Velmora.db", flags);
  dbs.meta = std::make_unique<SQLite::Database>(sharedFolder + "meta_Velmora.db", flags, kSharedDatabaseBusyTimeoutMs);

  SQLite::Database& temporary = *dbs.temporary;
  ExecStatement(temporary, "begin transaction");
  for (const char* statement : {sql::kCreateWinampLookup, sql::kCreateDownloadMetaInfo, sql::kClearDownloadMetaInfo}) {
    ExecStatement(temporary, statement);
    ExecStatement(temporary, "commit transaction");
    ExecStatement(temporary, "begin transaction");
  }
  // The temporary database stays inside this last transaction for the rest of the run.

  SQLite::Database& meta = *dbs.meta;
  // Other programs may set the shared file up at the same moment: the write lock is taken first
  // (waiting for theirs), so no transaction has to upgrade a read lock, which SQLite refuses
  // without waiting when another writer is ahead.
  ExecStatement(meta, "begin immediate transaction");
  try {
    ExecStatement(meta, sql::kCreateKnownFileHashValues);
    ExecStatement(meta, sql::kCreateTrimmedLocationIndex);
    const std::set<std::string> columns = ColumnsOf(meta, "knownfilehashvalues");
    if (!columns.count("filesize")) ExecStatement(meta, sql::kAddKnownHashFileSize);
    if (!columns.count("filemtime")) ExecStatement(meta, sql::kAddKnownHashFileTime);
    ExecStatement(meta, "commit transaction");
  } catch (...) {
    try {
      meta.exec("rollback transaction");
    } catch (...) {
    }
    throw;
  }
  return dbs;
}

} // namespace velmora
