#pragma once
// The two SQLite files of the program: the per-run temporary database (restore work list) in the
// program's own run folder, and the persistent metadata database (fingerprint cache) in the work
// folder, shared by every program of the user that runs at the same time.

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Exception.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace velmora {

struct LocalDatabases {
  std::unique_ptr<SQLite::Database> temporary; // "tmp_Velmora.db"
  std::unique_ptr<SQLite::Database> meta;      // "meta_Velmora.db"
};

// How long a statement on the shared metadata database waits for another program's lock before
// it fails.
inline constexpr int kSharedDatabaseBusyTimeoutMs = 10000;

// Opens (creating when missing) "meta_Velmora.db" in `sharedFolder` and "tmp_Velmora.db" in
// `runFolder` (both with trailing separator), creates their tables and indexes, adds the file
// facts to a fingerprint cache of an earlier version, empties the restore work list and leaves
// the temporary database inside an open transaction. Errors carry SQLite's message, two line
// breaks and the statement text.
LocalDatabases OpenLocalDatabases(const std::string& sharedFolder, const std::string& runFolder);

// The error of a failed statement: SQLite's message, two line breaks and the statement text.
[[noreturn]] void ThrowStatementError(const SQLite::Exception& error, const std::string& sql);

// Runs `sql` on `db` (every statement in it), turning a failure into the error text above.
void ExecStatement(SQLite::Database& db, const std::string& sql);

// Begins a transaction that rolls back when it is left without CommitTransaction. A failure
// carries the error text above with "begin transaction" or "begin immediate transaction".
SQLite::Transaction BeginTransaction(SQLite::Database& db,
                                     SQLite::TransactionBehavior behavior = SQLite::TransactionBehavior::DEFERRED);
// Commits it; a failure carries the error text above with "commit transaction" and leaves the
// rollback to the transaction's end.
void CommitTransaction(SQLite::Transaction& transaction);

// Prepares `sql` and hands the statement to `use`, which binds and runs it; whatever SQLite
// reports on the way becomes the error text above. Returns what `use` returns.
template <typename Use>
decltype(auto) RunStatement(SQLite::Database& db, const char* sql, Use&& use) {
  try {
    SQLite::Statement statement(db, sql);
    return std::forward<Use>(use)(statement);
  } catch (const SQLite::Exception& error) {
    ThrowStatementError(error, sql);
  }
}

} // namespace velmora
