// The watcher takes a file only after it has stayed unchanged for the settle time, never a file
// that was deleted first, and with no watch left for a folder it finds changes by scanning.

#include "DeepFolder.h"
#include "TempHome.h"
#include "sources/FolderWatcher.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Clock = FolderWatcher::Clock;

class FolderWatcherTest : public ::testing::Test {
protected:
  FolderWatcher::Options Options(std::size_t watchLimit = 0) {
    FolderWatcher::Options options;
    options.settle = 10s;
    options.rescanInterval = 60s;
    options.extensions = {".mp3"};
    options.watchLimit = watchLimit;
    return options;
  }
  std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }
  void Append(const std::string& name, const std::string& bytes) {
    std::ofstream(Path(name), std::ios::binary | std::ios::app) << bytes;
  }

  test::TempDir dir_;
  const Clock::time_point t0 = Clock::now();
};

TEST_F(FolderWatcherTest, FileIsTakenOnceAfterStayingUnchangedForTheSettleTime) {
  FolderWatcher watcher(Options());
  ASSERT_TRUE(watcher.AddRoot(dir_.path().string(), t0));
  EXPECT_FALSE(watcher.NextDeadline()) << "an idle watcher needs no wake-up";

  Append("song.mp3", "part one");
  Append("notes.txt", "not audio");
  Append(".hidden.mp3", "partial download");
  watcher.ReadEvents(t0);
  EXPECT_EQ(watcher.NextDeadline(), t0 + 10s);
  Append("song.mp3", "part two");
  watcher.ReadEvents(t0 + 6s);
  EXPECT_THAT(watcher.TakeSettled(t0 + 10s), IsEmpty()) << "changed 4 s ago";
  EXPECT_THAT(watcher.TakeSettled(t0 + 16s), ElementsAre(Path("song.mp3")));
  EXPECT_THAT(watcher.TakeSettled(t0 + 30s), IsEmpty());
  EXPECT_FALSE(watcher.NextDeadline());

  Append("gone.mp3", "x");
  watcher.ReadEvents(t0 + 40s);
  std::filesystem::remove(Path("gone.mp3"));
  EXPECT_THAT(watcher.TakeSettled(t0 + 50s), IsEmpty());
  EXPECT_EQ(watcher.pendingCount(), 0u);
}

// Links to folders are followed neither by the first walk nor later; what is left out is named.
TEST_F(FolderWatcherTest, WhatTheWatcherLeavesOutIsNamedWithItsReason) {
  std::filesystem::create_directories(dir_.path() / "tree/sub");
  std::filesystem::create_directories(dir_.path() / "outside");
  Append("outside/far.mp3", "x");
  Append("tree/sub/near.mp3", "x");
  std::filesystem::create_directory_symlink(dir_.path() / "outside", dir_.path() / "tree/out");
  ASSERT_EQ(::mkfifo(Path("tree/pipe.mp3").c_str(), 0644), 0);
  const test::DeepFolder deep(dir_.path() / "tree/sub");
  FolderWatcher watcher(Options());
  ASSERT_TRUE(watcher.AddRoot(Path("tree"), t0, /*takeExisting=*/true));
  const auto named = [&] {
    std::vector<std::string> lines;
    for (const SkippedFile& file : watcher.TakeSkipped()) lines.push_back(file.path + ": " + file.reason);
    return lines;
  };
  EXPECT_THAT(named(), ::testing::UnorderedElementsAre(
                           Path("tree/out") + ": link to a folder: not followed",
                           Path("tree/pipe.mp3") + ": not a regular file: a named pipe",
                           deep.firstUnreachable() + ": cannot read the folder: File name too long"));
  EXPECT_THAT(watcher.TakeSettled(t0 + 10s), ElementsAre(Path("tree/sub/near.mp3")));

  std::filesystem::create_directory_symlink(dir_.path() / "outside", dir_.path() / "tree/later");
  Append("outside/new.mp3", "x");
  watcher.ReadEvents(t0 + 20s);
  EXPECT_THAT(named(), ElementsAre(Path("tree/later") + ": link to a folder: not followed"));
  EXPECT_THAT(watcher.TakeSettled(t0 + 40s), IsEmpty());
}

TEST_F(FolderWatcherTest, FoldersBeyondTheWatchLimitAreScannedAndTheLimitIsExplained) {
  std::filesystem::create_directories(dir_.path() / "a" / "b");
  FolderWatcher watcher(Options(/*watchLimit=*/1));
  ASSERT_TRUE(watcher.AddRoot(dir_.path().string(), t0));
  EXPECT_TRUE(watcher.scanning());
  const auto notices = watcher.TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_THAT(notices[0], HasSubstr("fs.inotify.max_user_watches"));
  EXPECT_THAT(notices[0], HasSubstr("sysctl"));

  Append("a/b/deep.mp3", "new");
  watcher.ReadEvents(t0 + 1s);
  EXPECT_EQ(watcher.pendingCount(), 0u) << "no watch, no event";
  const auto scanAt = *watcher.NextDeadline();
  EXPECT_THAT(watcher.TakeSettled(scanAt), IsEmpty());
  EXPECT_EQ(watcher.pendingCount(), 1u);
  EXPECT_THAT(watcher.TakeSettled(scanAt + 10s), ElementsAre(Path("a/b/deep.mp3")));
}

} // namespace
} // namespace velmora
