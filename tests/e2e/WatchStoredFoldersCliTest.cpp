// `velmora watch` without a folder follows the folders the window stores (WatchedFolder1..N), so
// a session service needs no argument; with none stored it is bad usage and sends nothing.

#include "ChildProcess.h"
#include "LockerProcess.h"
#include "TempHome.h"
#include "app/Settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

namespace velmora {
namespace {

using ::testing::HasSubstr;

class WatchStoredFoldersCliTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker_ = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw"});
  }
  std::unique_ptr<test::Child> Watch() {
    return std::make_unique<test::Child>(std::vector<std::string>{
        VELMORA_CLI_PATH, "--stage", locker_->hostPort(), "--user", "alice", "watch", "--settle", "1"});
  }
  std::unique_ptr<test::LockerProcess> locker_;
};

TEST_F(WatchStoredFoldersCliTest, WithoutAFolderTheStoredOnesAreWatchedAndWithNoneItSaysSo) {
  auto none = Watch();
  EXPECT_EQ(none->Wait(), 2);
  EXPECT_THAT(none->output(), HasSubstr("No folder to watch"));
  EXPECT_EQ(locker_->RequestCounts().count("user/checkaccess"), 0u) << "nothing was sent";

  StoredSettings stored;
  stored.watchedFolders = {(files() / "a").string(), (files() / "b").string()};
  test::WriteFile(files() / "a" / "one.mp3", std::string(3000, 'a'));
  test::WriteFile(files() / "b" / "two.mp3", std::string(3000, 'b'));
  SaveSettings(stored);
  auto watch = Watch();
  ASSERT_TRUE(watch->WaitFor("Watching 2 folder(s)", 1)) << watch->output();
  EXPECT_THAT(watch->output(), HasSubstr("2 sent, 0 metadata only"));
  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Wait(), 0) << watch->output();
  EXPECT_EQ(LoadSettings().watchedFolders, stored.watchedFolders);
}

} // namespace
} // namespace velmora
