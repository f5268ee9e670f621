// A file's hash id is the SHA-1 of its bytes, computed once per path and answered from the cache
// afterwards; files that cannot be read get "invalidhashvalue" and leave no cache row.

#include "app/Engine.h"
#include "upload/Sha1.h"

#include "RecordingUi.h"
#include "TempHome.h"

#include <SQLiteCpp/Statement.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
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
  int CacheRows() {
    return engine->databases().meta->execAndGet("SELECT count(*) FROM knownfilehashvalues").getInt();
  }

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
  // Sizes around the read block must not lose or repeat bytes.
  for (std::size_t size : {262143u, 262144u, 262145u, 1000001u}) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 255);
    const auto file = files() / ("block" + std::to_string(size));
    test::WriteFile(file, bytes);
    EXPECT_EQ(engine->FileFingerprint(file.string()), Sha1Hex(bytes)) << size;
  }
}

TEST_F(FingerprinterTest, SecondCallIsAnsweredFromTheCacheEvenAfterTheFileChanged) {
  const auto file = files() / "song.mp3";
  test::WriteFile(file, "abc");
  ASSERT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  test::WriteFile(file, "new tags written into the file");
  ui.statusTexts.clear();
  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  EXPECT_TRUE(ui.statusTexts.empty()); // nothing shown on a cache hit
  EXPECT_EQ(CacheRows(), 1);
}

TEST_F(FingerprinterTest, CacheSurvivesARestart) {
  const auto file = files() / "song.mp3";
  test::WriteFile(file, "abc");
  ASSERT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
  engine.reset();
  test::WriteFile(file, "changed");
  engine = std::make_unique<Engine>(ui);
  engine->Startup();
  EXPECT_EQ(engine->FileFingerprint(file.string()), kAbcSha1);
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
  engine->databases().meta->exec("INSERT INTO knownfilehashvalues (hashid,location) VALUES ('" +
                                 std::string(kAbcSha1) + "', '" + file.string() + "   ')");
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

} // namespace
} // namespace velmora
