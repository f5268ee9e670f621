#include "store/LocalDatabases.h"

#include "store/Statements.h"

#include <sqlite3.h>

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

// The cache is rebuilt by hashing again, so it does not need every row on disk the moment it is
// written: with a write-ahead log and normal synchronisation a commit costs no fdatasync (only a
// checkpoint, every thousand pages, does), readers never block the writer, and a crash can only
// lose the last rows, never leave a wrong one. A file system without shared memory keeps the
// rollback journal; the cache then works as before, only slower.
void UseWriteAheadLog(SQLite::Database& meta) {
  try {
    // With the rollback journal, normal synchronisation could corrupt the file in a power cut.
    if (meta.execAndGet("PRAGMA journal_mode=WAL").getString() != "wal") return;
    meta.exec("PRAGMA synchronous=NORMAL");
  } catch (const SQLite::Exception&) {
    // Another program holding the file in an old-style transaction keeps its mode for now.
    return;
  }
  // The log is copied into the database when it reaches a thousand pages (two syncs), by whichever
  // program gets there, not at every program's end: a run that hashes a few files syncs nothing.
  sqlite3_db_config(meta.getHandle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
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

SQLite::Transaction BeginTransaction(SQLite::Database& db, SQLite::TransactionBehavior behavior) {
  try {
    return SQLite::Transaction(db, behavior);
  } catch (const SQLite::Exception& error) {
    ThrowStatementError(error, behavior == SQLite::TransactionBehavior::IMMEDIATE ? "begin immediate transaction"
                                                                                  : "begin transaction");
  }
}

void CommitTransaction(SQLite::Transaction& transaction) {
  try {
    transaction.commit();
  } catch (const SQLite::Exception& error) {
    ThrowStatementError(error, "commit transaction");
  }
}

LocalDatabases OpenLocalDatabases(const std::string& sharedFolder, const std::string& runFolder) {
  const int flags = SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE;
  LocalDatabases dbs;
  dbs.temporary = std::make_unique<SQLite::Database>(runFolder + "tmp_Velmora.db", flags);
  dbs.meta = std::make_unique<SQLite::Database>(sharedFolder + "meta_Velmora.db", flags, kSharedDatabaseBusyTimeoutMs);

  SQLite::Database& temporary = *dbs.temporary;
  // The run's own database is deleted with its run folder and begun anew by the next run: nothing
  // in it has to survive a crash, so it is never synced to disk.
  ExecStatement(temporary, "PRAGMA synchronous=OFF");
  for (const char* statement : {sql::kCreateWinampLookup, sql::kCreateDownloadMetaInfo, sql::kClearDownloadMetaInfo}) {
    SQLite::Transaction transaction = BeginTransaction(temporary);
    ExecStatement(temporary, statement);
    CommitTransaction(transaction);
  }
  // The temporary database stays inside one transaction for the rest of the run; it outlives this
  // function and ends with the database (closing it rolls back), so it has no owning object here.
  ExecStatement(temporary, "begin transaction");

  SQLite::Database& meta = *dbs.meta;
  UseWriteAheadLog(meta);
  // Other programs may set the shared file up at the same moment: the write lock is taken first
  // (waiting for theirs), so no transaction has to upgrade a read lock, which SQLite refuses
  // without waiting when another writer is ahead.
  SQLite::Transaction transaction = BeginTransaction(meta, SQLite::TransactionBehavior::IMMEDIATE);
  ExecStatement(meta, sql::kCreateKnownFileHashValues);
  ExecStatement(meta, sql::kCreateTrimmedLocationIndex);
  const std::set<std::string> columns = ColumnsOf(meta, "knownfilehashvalues");
  if (!columns.count("filesize")) ExecStatement(meta, sql::kAddKnownHashFileSize);
  if (!columns.count("filemtime")) ExecStatement(meta, sql::kAddKnownHashFileTime);
  CommitTransaction(transaction);
  return dbs;
}

} // namespace velmora
