// A file's hash id is the SHA-1 of its bytes, computed once per absolute path and answered from the
// cache while the file keeps its size and modification time; files that cannot be read, or change
// while they are read, get "invalidhashvalue" and leave no cache row.

#include "app/Engine.h"
#include "store/HashWorkers.h"
#include "store/Sha1.h"
#include "store/Statements.h"

#include "RecordingUi.h"
#include "TempHome.h"

#include <SQLiteCpp/Statement.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

constexpr const char* kEmptySha1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
constexpr const char* kAbcSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";

class FingerprinterTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    engine = std::make_unique<Engine>(ui);
    engine->Startup();
    ui.statusTexts.clear();
    ui.viewChanges.clear();
  }
  void TearDown() override {
    engine.reset();
    TempHomeTest::TearDown();
  }
  static void SetModified(const std::filesystem::path& file, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  }
  int CacheRows() { return engine->databases().meta->execAndGet("SELECT count(*) FROM knownfilehashvalues").getInt(); }

  test::RecordingUi ui;
  std::unique_ptr<Engine> engine;
};

TEST_F(FingerprinterTest, HashesKnownContentAndShowsDeepAnalysisWhileReading) {
  const auto file = files() / "abc.mp3";
  test::WriteFile(file, "abc");
  bool badgeShownDuringHash = false;
  ui.onProcessMessages = [&] { badgeShownDuringHash |= engine->fingerprinter().DeepAnalysisVisible(); };

  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  EXPECT_TRUE(ui.sawStatus("     Deep analysis of " + file.string()));
  EXPECT_TRUE(badgeShownDuringHash);
  EXPECT_FALSE(engine->fingerprinter().DeepAnalysisVisible());
  EXPECT_EQ(CacheRows(), 1);
}

TEST_F(FingerprinterTest, EmptyFileAndBlockBoundariesHashCorrectly) {
  test::WriteFile(files() / "empty", "");
  EXPECT_EQ(engine->FileFingerprint((files() / "empty").string()), kEmptySha1);
  // Sizes around the read block, and files read on a second thread, must not lose or repeat bytes.
  for (std::size_t size : {262143u, 262144u, 262145u, 1000001u, 1048576u, 1310721u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 255);
    const auto file = files() / ("block" + std::to_string(size));
    test::WriteFile(file, bytes);
    EXPECT_EQ(engine->FileFingerprint(file.string()), Sha1Hex(bytes)) << size;
  }
}

TEST_F(FingerprinterTest, EditedFileGetsTheIdOfItsNewContentAndItsRowIsReplaced) {
  const auto file = files() / "song.mp3";
  test::WriteFile(file, "abc");
  ASSERT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  ui.statusTexts.clear();
  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  EXPECT_TRUE(ui.statusTexts.empty()); // nothing shown on a cache hit

  // Re-tagged in place: same size, only the modification time tells.
  test::WriteFile(file, "xyz");
  SetModified(file, 1700000000, 5);
  EXPECT_EQ(engine->FileFingerprint(file.string()), Sha1Hex("xyz"));
  SetModified(file, 1700000000, 6); // a nanosecond later: touched again
  ui.statusTexts.clear();
  EXPECT_EQ(engine->FileFingerprint(file.string()), Sha1Hex("xyz"));
  EXPECT_TRUE(ui.sawStatus("     Deep analysis of " + file.string()));
  // A new size with the same time.
  test::WriteFile(file, "new tags written into the file");
  SetModified(file, 1700000000, 6);
  EXPECT_EQ(engine->FileFingerprint(file.string()), Sha1Hex("new tags written into the file"));
  EXPECT_EQ(CacheRows(), 1);
}

TEST_F(FingerprinterTest, CacheSurvivesARestart) {
  const auto file = files() / "song.mp3";
  test::WriteFile(file, "abc");
  ASSERT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  engine.reset();
  ui.statusTexts.clear();
  engine = std::make_unique<Engine>(ui);
  engine->Startup();
  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  EXPECT_FALSE(ui.sawStatus("     Deep analysis of " + file.string()));
}

TEST_F(FingerprinterTest, RowsOfAnEarlierCacheCountAsMissesOnceThenAreReplaced) {
  const auto file = files() / "song.mp3";
  test::WriteFile(file, "abc");
  engine.reset();
  std::filesystem::remove(workFolder() / "meta_Velmora.db");
  {
    SQLite::Database earlier((workFolder() / "meta_Velmora.db").string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    earlier.exec(sql::kCreateKnownFileHashValues);
    earlier.exec("INSERT INTO knownfilehashvalues (hashid,location) VALUES ('" + std::string(kEmptySha1) + "', '" +
                 file.string() + "')");
  }
  engine = std::make_unique<Engine>(ui);
  engine->Startup();
  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  EXPECT_EQ(CacheRows(), 1);
  ui.statusTexts.clear();
  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  EXPECT_TRUE(ui.statusTexts.empty());
}

TEST_F(FingerprinterTest, RelativeAndUnnormalisedPathsShareTheAbsolutePathsRow) {
  test::WriteFile(files() / "song.mp3", "abc");
  const auto oldFolder = std::filesystem::current_path();
  std::filesystem::current_path(files());
  const std::string relative = engine->FileFingerprint("song.mp3");
  std::filesystem::current_path(oldFolder);
  EXPECT_EQ(relative, kAbcSha1);
  EXPECT_TRUE(ui.sawStatus("     Deep analysis of " + (files() / "song.mp3").string()));
  ui.statusTexts.clear();
  EXPECT_EQ(engine->FileFingerprint((files() / "." / "x" / ".." / "song.mp3").string()), kAbcSha1);
  EXPECT_TRUE(ui.statusTexts.empty());
  EXPECT_EQ(CacheRows(), 1);
}

TEST_F(FingerprinterTest, FileThatChangesWhileItIsReadGetsNoIdAndNoRow) {
  const auto file = files() / "growing.mp3";
  test::WriteFile(file, std::string(600 * 1024, 'a')); // several read blocks
  int blocks = 0;
  engine->fingerprinter().SetAfterEachBlock([&] {
    if (++blocks == 1) {
      std::ofstream more(file, std::ios::binary | std::ios::app);
      more << "more audio";
    }
  });
  EXPECT_EQ(engine->FileFingerprint(file.string()), kInvalidHashValue);
  EXPECT_FALSE(engine->fingerprinter().DeepAnalysisVisible());
  EXPECT_EQ(CacheRows(), 0);

  engine->fingerprinter().SetAfterEachBlock({});
  EXPECT_EQ(engine->FileFingerprint(file.string()), Sha1Hex(std::string(600 * 1024, 'a') + "more audio"));
  EXPECT_EQ(CacheRows(), 1);
}

TEST_F(FingerprinterTest, CacheFailuresCarrySqliteMessageAndStatement) {
  const auto file = files() / "song.mp3";
  test::WriteFile(file, "abc");
  engine->databases().meta->exec(
      "CREATE TRIGGER refuse BEFORE INSERT ON knownfilehashvalues BEGIN SELECT RAISE(ABORT, 'cache refused'); END;");
  try {
    engine->FileFingerprint(file.string());
    FAIL() << "the failed insert must reach the caller";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), std::string("cache refused\n\n") + sql::kInsertKnownHash);
  }
  EXPECT_FALSE(engine->fingerprinter().DeepAnalysisVisible());

  engine->databases().meta->exec("DROP TABLE knownfilehashvalues");
  EXPECT_EQ(engine->FileFingerprint(file.string()), kInvalidHashValue);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"error with " + file.string()});
  ASSERT_EQ(ui.errorDisplays.size(), 1u);
  EXPECT_EQ(ui.errorDisplays[0], std::string("no such table: knownfilehashvalues\n\n") + sql::kSelectKnownHash);
}

TEST_F(FingerprinterTest, PathsDifferingOnlyInCaseAreDifferentFiles) {
  test::WriteFile(files() / "Song.mp3", "abc");
  test::WriteFile(files() / "song.mp3", "");
  EXPECT_EQ(engine->FileFingerprint((files() / "Song.mp3").string()), kAbcSha1);
  EXPECT_EQ(engine->FileFingerprint((files() / "song.mp3").string()), kEmptySha1);
  EXPECT_EQ(CacheRows(), 2);
}

TEST_F(FingerprinterTest, StoredLocationWithBlanksStillMatches) {
  const auto file = files() / "blank.mp3";
  test::WriteFile(file, "not what the cache says");
  SetModified(file, 1700000000, 0);
  engine->databases().meta->exec("INSERT INTO knownfilehashvalues (hashid,location,filesize,filemtime) VALUES ('" +
                                 std::string(kAbcSha1) + "', '" + file.string() + "   ', " +
                                 std::to_string(std::filesystem::file_size(file)) + ", 1700000000000000000)");
  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
}

TEST_F(FingerprinterTest, UnreadableInputGivesInvalidHashValueAndNoRow) {
  std::filesystem::create_directories(files() / "a folder.mp3");
  const auto fifo = files() / "pipe.mp3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(engine->FileFingerprint((files() / "missing.mp3").string()), kInvalidHashValue);
  EXPECT_TRUE(ui.statusTexts.empty()); // a missing file is silent
  EXPECT_EQ(engine->FileFingerprint((files() / "a folder.mp3").string()), kInvalidHashValue);
  EXPECT_EQ(engine->FileFingerprint(fifo.string()), kInvalidHashValue); // and does not hang
  if (::geteuid() != 0) {
    const auto locked = files() / "locked.mp3";
    test::WriteFile(locked, "abc");
    ::chmod(locked.c_str(), 0);
    EXPECT_EQ(engine->FileFingerprint(locked.string()), kInvalidHashValue);
    ::chmod(locked.c_str(), 0600);
    EXPECT_EQ(engine->FileFingerprint(locked.string()), kAbcSha1); // tried again, now readable
  }
  EXPECT_FALSE(engine->fingerprinter().DeepAnalysisVisible());
  EXPECT_EQ(CacheRows(), ::geteuid() != 0 ? 1 : 0); // only the file that became readable
}

// A list hashed ahead on worker threads answers exactly as one call after another: same ids, same
// status lines in list order, same rows; files left out are passed over, a second listing of a
// path is found in the cache, a missing file stays silent and a folder is "invalidhashvalue".
TEST_F(FingerprinterTest, ListHashedAheadAnswersAsOneCallAfterAnother) {
  std::vector<std::string> list;
  for (const std::string name : {"a.mp3", "b.mp3", "left out.mp3", "c.mp3"}) {
    test::WriteFile(files() / name, name + std::string(300 * 1024, 'x'));
    list.push_back((files() / name).string());
  }
  std::filesystem::create_directories(files() / "folder.mp3");
  list.push_back((files() / "folder.mp3").string());
  list.push_back((files() / "missing.mp3").string());
  list.push_back(list[0]);
  ASSERT_EQ(engine->FileFingerprint(list[1]), Sha1Hex("b.mp3" + std::string(300 * 1024, 'x'))); // cached
  ui.statusTexts.clear();

  std::vector<std::string> ids;
  {
    const HashAheadScope ahead = engine->fingerprinter().HashAhead(list);
    EXPECT_TRUE(ahead.IsRegularFile(0));
    EXPECT_FALSE(ahead.IsRegularFile(4));
    EXPECT_TRUE(ahead.Exists(4));
    EXPECT_FALSE(ahead.Exists(5));
    for (const std::size_t i : {0, 1, 3, 4, 5, 6}) ids.push_back(engine->FileFingerprint(list[i]));
  }
  const auto id = [](const std::string& name) { return Sha1Hex(name + std::string(300 * 1024, 'x')); };
  EXPECT_EQ(ids, (std::vector<std::string>{id("a.mp3"), id("b.mp3"), id("c.mp3"), kInvalidHashValue, kInvalidHashValue,
                                           id("a.mp3")}));
  EXPECT_EQ(ui.statusTexts,
            (std::vector<std::string>{"     Deep analysis of " + list[0], "     Deep analysis of " + list[3],
                                      "     Deep analysis of " + list[4]}));
  EXPECT_FALSE(engine->fingerprinter().DeepAnalysisVisible());
  EXPECT_EQ(CacheRows(), 3);
}

// Workers never touch the window: the engine pumps its messages while it waits for a digest, and a
// call made from inside the pump is answered at once, outside the list.
TEST_F(FingerprinterTest, MessagesArePumpedWhileAWorkerHashes) {
  const auto slow = files() / "slow.mp3";
  const auto other = files() / "other.mp3";
  test::WriteFile(slow, std::string(600 * 1024, 's'));
  test::WriteFile(other, "abc");
  std::atomic<int> pumps{0};
  std::string fromPump;
  ui.onProcessMessages = [&] {
    if (++pumps == 3) fromPump = engine->FileFingerprint(other.string());
  };
  const std::thread::id engineThread = std::this_thread::get_id();
  engine->fingerprinter().SetAfterEachBlock([&] {
    if (std::this_thread::get_id() == engineThread) return; // the call from the pump
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pumps < 5 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  const HashAheadScope ahead = engine->fingerprinter().HashAhead({slow.string(), other.string()});
  EXPECT_EQ(engine->FileFingerprint(slow.string()), Sha1Hex(std::string(600 * 1024, 's')));
  EXPECT_GE(pumps, 5);
  EXPECT_EQ(fromPump, kAbcSha1);
  EXPECT_EQ(CacheRows(), 2);
}

// A file that changes while a worker reads it gets no id and no row, as in one thread.
TEST_F(FingerprinterTest, FileThatChangesWhileAWorkerReadsItGetsNoIdAndNoRow) {
  const auto file = files() / "growing.mp3";
  test::WriteFile(file, std::string(600 * 1024, 'a'));
  std::atomic<bool> appended{false};
  engine->fingerprinter().SetAfterEachBlock([&] {
    if (appended.exchange(true)) return;
    std::ofstream more(file, std::ios::binary | std::ios::app);
    more << "more audio";
  });
  const HashAheadScope ahead = engine->fingerprinter().HashAhead({file.string()});
  EXPECT_EQ(engine->FileFingerprint(file.string()), kInvalidHashValue);
  EXPECT_TRUE(ui.sawStatus("     Deep analysis of " + file.string()));
  EXPECT_EQ(CacheRows(), 0);
}

// A list given up early (an analysis that fails half-way) stops its workers and leaves no rows for
// the files it did not take.
TEST_F(FingerprinterTest, ListGivenUpEarlyStopsItsWorkers) {
  std::vector<std::string> list;
  for (int i = 0; i < 8; ++i) {
    list.push_back((files() / ("f" + std::to_string(i) + ".mp3")).string());
    test::WriteFile(list.back(), std::string(1024 * 1024, static_cast<char>('a' + i)));
  }
  {
    const HashAheadScope ahead = engine->fingerprinter().HashAhead(list);
    EXPECT_EQ(engine->FileFingerprint(list[0]), Sha1Hex(std::string(1024 * 1024, 'a')));
  }
  EXPECT_EQ(CacheRows(), 1);
  EXPECT_EQ(engine->FileFingerprint(list[7]), Sha1Hex(std::string(1024 * 1024, 'h'))); // without a list again
  EXPECT_EQ(CacheRows(), 2);
}

// A list longer than one share of cache lookups is answered wholly from the cache the second time:
// no file at a share's edge is read again.
TEST_F(FingerprinterTest, ALongListIsAnsweredFromTheCacheTheSecondTime) {
  std::vector<std::string> list;
  for (int i = 0; i < 1001; ++i) {
    list.push_back((files() / ("f" + std::to_string(i) + ".mp3")).string());
    test::WriteFile(list.back(), std::to_string(i));
  }
  for (int pass = 0; pass < 2; ++pass) {
    ui.statusTexts.clear();
    const HashAheadScope ahead = engine->fingerprinter().HashAhead(list);
    for (const std::string& file : list) engine->FileFingerprint(file);
  }
  EXPECT_EQ(ui.statusTexts, std::vector<std::string>{});
  EXPECT_EQ(CacheRows(), 1001);
}

// A stop request (the user stops the analysis) gives the file being read up after the block in
// hand: no digest, nothing more read.
TEST_F(FingerprinterTest, AStopRequestEndsTheReadingOfTheFileInHand) {
  const auto file = files() / "long.mp3";
  test::WriteFile(file, std::string(4 * kHashReadBlock, 'x'));
  std::stop_source stop;
  int blocks = 0;
  const FileDigest digest = Sha1OfFileChecked(file.string(), [&] {
    ++blocks;
    stop.request_stop();
  }, stop.get_token());
  EXPECT_EQ(digest.outcome, FileDigest::Outcome::Unreadable);
  EXPECT_EQ(blocks, 1);
}

// The workers are started once and serve every later list: two analyses are hashed by the same
// threads, one per core, whatever the number of files, each file on the thread that reads it.
TEST_F(FingerprinterTest, EveryListIsHashedByTheSameThreads) {
  const std::size_t workers = HashWorkers::DefaultThreads();
  std::mutex mutex;
  std::condition_variable joined;
  std::set<pid_t> all, thisList;
  engine->fingerprinter().SetAfterEachBlock([&] {
    std::unique_lock lock(mutex);
    all.insert(::gettid());
    thisList.insert(::gettid());
    joined.notify_all();
    // Held until every worker holds a file of this list, so each of them takes part in it.
    joined.wait_for(lock, std::chrono::seconds(10), [&] { return thisList.size() >= workers; });
  });
  for (const std::string analysis : {"first", "second"}) {
    {
      const std::lock_guard lock(mutex);
      thisList.clear();
    }
    std::vector<std::string> list;
    for (std::size_t i = 0; i < 4 * workers; ++i) {
      list.push_back((files() / (analysis + std::to_string(i) + ".mp3")).string());
      test::WriteFile(list.back(), analysis + std::to_string(i));
    }
    const HashAheadScope ahead = engine->fingerprinter().HashAhead(list);
    for (std::size_t i = 0; i < list.size(); ++i)
      EXPECT_EQ(engine->FileFingerprint(list[i]), Sha1Hex(analysis + std::to_string(i)));
  }
  EXPECT_EQ(all.size(), workers);
  EXPECT_FALSE(all.count(::gettid())); // not the engine's thread
}

// A large file with no other file to start is read ahead by a second worker while the first hashes
// it, block after block in file order.
// Three in turn, each alone: whichever worker hashes the next one, a relay that was helped with
// one file is used again for another.
TEST_F(FingerprinterTest, LargeFilesInTurnAreEachReadOnTwoThreadsInOrder) {
  if (HashWorkers::DefaultThreads() < 2) GTEST_SKIP() << "one core: no worker to help";
  std::mutex mutex;
  std::condition_variable seen;
  std::set<pid_t> readers;
  bool waited = false; // for a second reader, once per file
  engine->fingerprinter().SetAfterEachBlock([&] {
    std::unique_lock lock(mutex);
    readers.insert(::gettid());
    seen.notify_all();
    if (!std::exchange(waited, true)) seen.wait_for(lock, std::chrono::seconds(10), [&] { return readers.size() >= 2; });
  });
  for (int n = 1; n <= 3; ++n) {
    std::string content(static_cast<std::size_t>(kHelpedReadMinimum) + 3 * kHashReadBlock / 2, '\0');
    for (std::size_t i = 0; i < content.size(); i += 4096) content.replace(i, 8, std::to_string(n * 10000000 + i / 4096));
    const auto file = files() / ("album" + std::to_string(n) + ".flac");
    test::WriteFile(file, content);
    {
      const std::lock_guard lock(mutex);
      readers.clear();
      waited = false;
    }
    const HashAheadScope ahead = engine->fingerprinter().HashAhead({file.string()});
    EXPECT_EQ(engine->FileFingerprint(file.string()), Sha1Hex(content)) << "file " << n;
    EXPECT_EQ(readers.size(), 2u) << "file " << n;
  }
}

} // namespace
} // namespace velmora
