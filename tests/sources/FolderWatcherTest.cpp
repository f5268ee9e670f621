// The watcher takes a file only after it has stayed unchanged for the settle time, never a file
// that was deleted first; folders moved in are taken whole, folders moved out forgotten. With no
// watch left for a folder it finds the same changes by scanning.

#include "DeepFolder.h"
#include "TempHome.h"
#include "sources/FolderWatcher.h"

#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <thread>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
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
    std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
    std::ofstream(Path(name), std::ios::binary | std::ios::app) << bytes;
  }

  test::TempDir dir_;
  const Clock::time_point t0 = Clock::now();
};

// How the watcher learns of a change: from the kernel's events, or, for folders past the watch
// limit, from its scans. Each behaviour holds either way.
enum class Notice { Events, Scans };
const char* Name(Notice notice) { return notice == Notice::Events ? "Events" : "Scans"; }
void PrintTo(Notice notice, std::ostream* out) { *out << Name(notice); }

class WatcherModeTest : public FolderWatcherTest, public ::testing::WithParamInterface<Notice> {
protected:
  bool scans() const { return GetParam() == Notice::Scans; }

  // Past a limit of one watch, taken by a first folder, every folder given here is only scanned.
  void Watch(std::initializer_list<const char*> roots) {
    watcher_.emplace(Options(scans() ? 1 : 0));
    std::filesystem::create_directories(Path("anchor"));
    ASSERT_TRUE(watcher_->AddRoot(Path("anchor"), now_));
    for (const char* root : roots) {
      std::filesystem::create_directories(Path(root));
      ASSERT_TRUE(watcher_->AddRoot(Path(root), now_));
    }
    ASSERT_EQ(watcher_->scanning(), scans());
    scanDue_ = Clock::now() + Options().rescanInterval;
  }
  // Lets the watcher see what changed: it reads the events, or runs the scan that is due.
  std::vector<std::string> Look() {
    if (scans()) {
      now_ = std::max(now_, scanDue_);
      scanDue_ = now_ + Options().rescanInterval;
    }
    watcher_->ReadEvents(now_);
    return watcher_->TakeSettled(now_);
  }
  void Read(Clock::duration later) { watcher_->ReadEvents(now_ += later); }
  std::vector<std::string> Take(Clock::duration later) { return watcher_->TakeSettled(now_ += later); }

  std::optional<FolderWatcher> watcher_;
  Clock::time_point now_ = t0, scanDue_;
};

INSTANTIATE_TEST_SUITE_P(Modes, WatcherModeTest, ::testing::Values(Notice::Events, Notice::Scans),
                         [](const auto& mode) { return std::string(Name(mode.param)); });

TEST_P(WatcherModeTest, NewFileIsTakenOnceItHasSettled) {
  Watch({"music"});
  Append("music/song.mp3", "audio");
  Append("music/notes.txt", "not audio");
  Append("music/.hidden.mp3", "partial download");
  EXPECT_THAT(Look(), IsEmpty());
  EXPECT_EQ(watcher_->pendingCount(), 1u);
  EXPECT_THAT(Take(9s), IsEmpty());
  EXPECT_THAT(Take(1s), ElementsAre(Path("music/song.mp3")));
  if (!scans()) {
    EXPECT_FALSE(watcher_->NextDeadline()) << "an idle watcher needs no wake-up";
  }
}

// A watched folder may be a link to the music on another drive: the link is followed.
TEST_P(WatcherModeTest, FolderGivenAsALinkIsFollowed) {
  std::filesystem::create_directories(Path("drive/music"));
  std::filesystem::create_directory_symlink(Path("drive/music"), Path("linked"));
  Watch({"linked"});
  Append("drive/music/song.mp3", "audio");
  EXPECT_THAT(Look(), IsEmpty());
  EXPECT_THAT(Take(10s), ElementsAre(Path("linked/song.mp3")));
}

// A tag editor saves in place: the same size, other bytes, a later modification time.
TEST_P(WatcherModeTest, FileRewrittenInPlaceAtTheSameSizeSettlesAgain) {
  Watch({"music"});
  const std::string song = Path("music/song.mp3");
  Append("music/song.mp3", "old tags");
  Look();
  std::ofstream(song, std::ios::binary | std::ios::in | std::ios::out) << "new tags";
  std::filesystem::last_write_time(song, std::filesystem::last_write_time(song) + 1s);
  Read(5s);
  EXPECT_THAT(Take(5s), IsEmpty()) << "changed during its settle time";
  EXPECT_THAT(Take(10s), ElementsAre(song));
}

TEST_P(WatcherModeTest, FileRemovedBeforeItSettlesIsDropped) {
  Watch({"music"});
  Append("music/gone.mp3", "x");
  Look();
  std::filesystem::remove(Path("music/gone.mp3"));
  Read(1s);
  EXPECT_THAT(Take(10s), IsEmpty());
  EXPECT_EQ(watcher_->pendingCount(), 0u);
}

// An album moved in from elsewhere: its files keep the times they had there.
TEST_P(WatcherModeTest, FolderMovedInHasEveryFileTaken) {
  Append("outside/album/one.mp3", "1");
  Append("outside/album/cd2/two.mp3", "2");
  // Older than the margin a scan allows for changes just before the last one.
  if (scans()) std::this_thread::sleep_for(2100ms);
  Watch({"music"});
  std::filesystem::rename(Path("outside/album"), Path("music/album"));
  EXPECT_THAT(Look(), IsEmpty());
  EXPECT_THAT(Take(10s), ElementsAre(Path("music/album/cd2/two.mp3"), Path("music/album/one.mp3")));
  // The next scan has seen the album's folders before: nothing is taken twice.
  Look();
  EXPECT_THAT(Take(10s), IsEmpty());
}

TEST_P(WatcherModeTest, FolderMovedOutIsForgotten) {
  std::filesystem::create_directories(Path("outside"));
  Watch({"music"});
  Append("music/album/one.mp3", "1");
  Look();
  const std::size_t watches = watcher_->watchCount();
  std::filesystem::rename(Path("music/album"), Path("outside/album"));
  Read(1s);
  if (!scans()) {
    EXPECT_EQ(watcher_->pendingCount(), 0u);
    EXPECT_EQ(watcher_->watchCount(), watches - 1);
  }
  EXPECT_THAT(Take(10s), IsEmpty());
  Append("outside/album/two.mp3", "2");
  Look();
  EXPECT_THAT(Take(10s), IsEmpty());
  EXPECT_EQ(watcher_->pendingCount(), 0u);
}

TEST_P(WatcherModeTest, RemovingAWatchedFolderKeepsASiblingWhoseNameItBegins) {
  Watch({"music2", "music"});
  Append("music/a.mp3", "a");
  Append("music2/b.mp3", "b");
  std::filesystem::remove_all(Path("music"));
  EXPECT_THAT(Look(), IsEmpty());
  EXPECT_THAT(watcher_->TakeNotices(), Contains(HasSubstr(Path("music") + " ")));
  EXPECT_EQ(watcher_->rootCount(), 2u) << "the first folder and music2";
  EXPECT_THAT(Take(10s), ElementsAre(Path("music2/b.mp3")));
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
  EXPECT_EQ(watcher.watchCount(), 1u);
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
