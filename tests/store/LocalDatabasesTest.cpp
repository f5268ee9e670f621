// Both local databases are set up with their tables and indexes on every start; the fingerprint
// cache survives restarts, the restore work list does not.

#include "store/LocalDatabases.h"
#include "store/Statements.h"

#include "TempHome.h"

#include <SQLiteCpp/Statement.h>
#include <gtest/gtest.h>

namespace velmora {
namespace {

class LocalDatabasesTest : public test::TempHomeTest {
protected:
  std::string folder() { return workFolder().string() + "/"; }
};

std::set<std::string> SchemaNames(SQLite::Database& db) {
  std::set<std::string> names;
  SQLite::Statement query(db, "SELECT name FROM sqlite_master");
  while (query.executeStep()) names.insert(query.getColumn(0).getString());
  return names;
}

TEST_F(LocalDatabasesTest, FirstRunCreatesFolderFilesTablesAndIndexes) {
  std::filesystem::create_directories(workFolder());
  auto dbs = OpenLocalDatabases(folder(), folder());
  EXPECT_TRUE(std::filesystem::exists(workFolder() / "tmp_Velmora.db"));
  EXPECT_TRUE(std::filesystem::exists(workFolder() / "meta_Velmora.db"));
  EXPECT_EQ(SchemaNames(*dbs.temporary), (std::set<std::string>{"winamplookup", "downloadmetainfo"}));
  EXPECT_EQ(SchemaNames(*dbs.meta),
            (std::set<std::string>{"knownfilehashvalues", "hashid_index", "location_index", "location_trim_index"}));
}

TEST_F(LocalDatabasesTest, SecondSetUpKeepsCacheRowsAndEmptiesWorkList) {
  std::filesystem::create_directories(workFolder());
  {
    auto dbs = OpenLocalDatabases(folder(), folder());
    dbs.meta->exec("INSERT INTO knownfilehashvalues (location, hashid) VALUES ('/a.mp3', 'abc')");
    SQLite::Statement insert(*dbs.temporary, sql::kInsertDownloadMetaInfo);
    insert.bind(":handled", 0);
    insert.bind(":entrykey", "k1");
    insert.bind(":displayname", "A - B (C)");
    insert.bind(":playlistkey", "");
    insert.bind(":playlistname", "All items");
    insert.exec();
    dbs.temporary->exec("commit transaction"); // even a committed row must not survive
  }
  auto dbs = OpenLocalDatabases(folder(), folder());
  EXPECT_EQ(dbs.meta->execAndGet("SELECT count(*) FROM knownfilehashvalues").getInt(), 1);
  EXPECT_EQ(dbs.temporary->execAndGet("SELECT count(*) FROM downloadmetainfo").getInt(), 0);
}

TEST_F(LocalDatabasesTest, CacheLookUpMatchesTrimmedStoredLocationsThroughTheIndex) {
  std::filesystem::create_directories(workFolder());
  auto dbs = OpenLocalDatabases(folder(), folder());
  dbs.meta->exec("INSERT INTO knownfilehashvalues (location, hashid) VALUES ('/music/a.mp3  ', 'aaa')");
  dbs.meta->exec("INSERT INTO knownfilehashvalues (location, hashid) VALUES ('/music/b.mp3', 'bbb')");

  auto lookUp = [&](const std::string& key) {
    SQLite::Statement query(*dbs.meta, sql::kSelectKnownHash);
    query.bind(":location", key);
    return query.executeStep() ? query.getColumn("hashid").getString() : std::string("(none)");
  };
  EXPECT_EQ(lookUp("/music/a.mp3"), "aaa");
  EXPECT_EQ(lookUp(" /music/b.mp3"), "(none)"); // the key itself is never trimmed
  EXPECT_EQ(lookUp("/Music/b.mp3"), "(none)");  // nor lowered

  for (const char* statement : {sql::kSelectKnownHash, sql::kDeleteKnownHash}) {
    SQLite::Statement plan(*dbs.meta, std::string("EXPLAIN QUERY PLAN ") + statement);
    plan.bind(":location", "/music/a.mp3");
    ASSERT_TRUE(plan.executeStep());
    EXPECT_NE(plan.getColumn("detail").getString().find("location_trim_index"), std::string::npos)
        << statement << ": " << plan.getColumn("detail").getString();
  }
}

TEST_F(LocalDatabasesTest, FailingStatementReportsMessageAndText) {
  std::filesystem::create_directories(workFolder());
  auto dbs = OpenLocalDatabases(folder(), folder());
  try {
    ExecStatement(*dbs.meta, "SELECT nonsense FROM nowhere");
    FAIL();
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("no such table"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("\n\nSELECT nonsense FROM nowhere"), std::string::npos);
  }
}

} // namespace
} // namespace velmora
