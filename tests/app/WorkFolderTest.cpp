// The work folder is private, created on demand, and cleaning it removes exactly the "tmp_" files.

#include "base/FileLock.h"
#include "base/SystemFacts.h"
#include "base/WorkFolder.h"

#include "TempHome.h"

#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace velmora {
namespace {

class WorkFolderTest : public test::TempHomeTest {};

TEST_F(WorkFolderTest, IsCreatedPrivateWithTrailingSeparator) {
  const std::string folder = WorkFolder();
  EXPECT_EQ(folder, workFolder().string() + "/");
  struct stat info {};
  ASSERT_EQ(::stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(WorkFolderTest, WithoutACacheHomeItIsInTheUsersDotCache) {
  const test::PlainHome home(files());
  EXPECT_EQ(WorkFolder(), (files() / ".cache" / "VLUploader").string() + "/");
}

TEST_F(WorkFolderTest, CleaningRemovesTmpFilesAtAnyDepthAndKeepsTheRest) {
  const auto root = std::filesystem::path(WorkFolder());
  test::WriteFile(root / "tmp_{A}.xml", "x");
  test::WriteFile(root / "tmp_Velmora.db", "x");
  test::WriteFile(root / "deeper" / "below" / "tmp_answer.bin", "x");
  test::WriteFile(root / "meta_Velmora.db", "keep");
  test::WriteFile(root / "mediaitems_3.xml", "keep");
  test::WriteFile(root / "deeper" / "not_tmp_file", "keep");

  CleanWorkFolder();

  EXPECT_FALSE(std::filesystem::exists(root / "tmp_{A}.xml"));
  EXPECT_FALSE(std::filesystem::exists(root / "tmp_Velmora.db"));
  EXPECT_FALSE(std::filesystem::exists(root / "deeper" / "below" / "tmp_answer.bin"));
  EXPECT_TRUE(std::filesystem::exists(root / "meta_Velmora.db"));
  EXPECT_TRUE(std::filesystem::exists(root / "mediaitems_3.xml"));
  EXPECT_TRUE(std::filesystem::exists(root / "deeper" / "not_tmp_file"));
}

TEST_F(WorkFolderTest, CleaningSparesRunningProgramsAndRemovesWhatEndedProgramsLeft) {
  const auto root = std::filesystem::path(WorkFolder());
  const auto own = std::filesystem::path(RunFolder());
  EXPECT_EQ(own.parent_path().parent_path(), root.parent_path());
  EXPECT_EQ(own.parent_path().filename().string().rfind("tmp_run-", 0), 0u);
  test::WriteFile(own / "tmp_{A}.xml", "x");
  test::WriteFile(own / "mediaitems_3.xml", "the run's own copy");
  // Another program that runs: it holds the lock on its folder.
  const auto running = root / "tmp_run-1-{RUNNING}";
  test::WriteFile(running / "tmp_Velmora.db", "in use");
  test::WriteFile(running / "tmp_{B}.xml", "in use");
  auto lock = FileLock::TakeNew(running);
  ASSERT_TRUE(lock);
  // A program that was killed: nobody holds its folder.
  const auto ended = root / "tmp_run-2-{ENDED}";
  test::WriteFile(ended / "tmp_Velmora.db", "left behind");
  test::WriteFile(ended / "playlists_0.xml", "left behind");

  CleanWorkFolder();

  EXPECT_FALSE(std::filesystem::exists(own / "tmp_{A}.xml"));
  EXPECT_TRUE(std::filesystem::exists(own / "mediaitems_3.xml"));
  EXPECT_EQ(test::ReadFile(running / "tmp_Velmora.db"), "in use");
  EXPECT_EQ(test::ReadFile(running / "tmp_{B}.xml"), "in use");
  EXPECT_FALSE(std::filesystem::exists(ended));

  lock.reset(); // that program ends without cleaning up
  CleanWorkFolder();
  EXPECT_FALSE(std::filesystem::exists(running));
  EXPECT_TRUE(std::filesystem::exists(own));
}

TEST_F(WorkFolderTest, ExchangeFilesAreSharedWholeAndTheRunKeepsItsOwnCopy) {
  const std::string own = WriteExchangeFile("mediaitems_hash_3.xml", "<items>mine</items>");
  EXPECT_EQ(own, RunFolder() + "mediaitems_hash_3.xml");
  EXPECT_EQ(test::ReadFile(workFolder() / "mediaitems_hash_3.xml"), "<items>mine</items>");
  // Another program writes the same exchange file: the shared copy is its, the own copy stays.
  test::WriteFile(workFolder() / "mediaitems_hash_3.xml.new", "<items>theirs</items>");
  std::filesystem::rename(workFolder() / "mediaitems_hash_3.xml.new", workFolder() / "mediaitems_hash_3.xml");
  EXPECT_EQ(test::ReadFile(own), "<items>mine</items>");
  struct stat info {};
  ASSERT_EQ(::stat(own.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Another program's clean-up or a user clearing the cache removes the run folder while it runs.
TEST_F(WorkFolderTest, ARunFolderRemovedFromUnderTheProgramIsMadeAnew) {
  const std::string before = RunFolder();
  std::filesystem::remove_all(before);
  const std::string own = WriteExchangeFile("playlists_0.xml", "<sets/>");
  EXPECT_NE(RunFolder(), before);
  EXPECT_EQ(test::ReadFile(own), "<sets/>");
  EXPECT_EQ(test::ReadFile(workFolder() / "playlists_0.xml"), "<sets/>");
}

TEST_F(WorkFolderTest, UnusableLocationGivesAClearError) {
  test::WriteFile(cacheHome(), "a file where the cache folder should be");
  try {
    WorkFolder();
    FAIL() << "expected an error";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("work folder"), std::string::npos) << error.what();
  }
}

TEST(SystemFactsTest, GuidsAreUniqueRegistryFormText) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string guid = NewGuidString();
    ASSERT_EQ(guid.size(), 38u);
    EXPECT_EQ(guid.front(), '{');
    EXPECT_EQ(guid.back(), '}');
    for (int dash : {9, 14, 19, 24}) EXPECT_EQ(guid[dash], '-');
    EXPECT_EQ(guid.find_first_not_of("{}-0123456789ABCDEF"), std::string::npos) << guid;
    EXPECT_TRUE(seen.insert(guid).second);
  }
}

TEST(SystemFactsTest, ProgramVersionHasFourNumbers) {
  const std::string version = ProgramVersion();
  EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
  EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos);
}

} // namespace
} // namespace velmora
