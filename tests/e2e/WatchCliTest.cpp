// velmora watch against velmora-locker: what the folders hold is uploaded first, then every file
// that arrives (created, in a folder made later, moved in) once it has settled, a file still
// being written only whole; a watched folder that is removed is reported and the watch goes on;
// SIGTERM ends it with exit code 0.

#include "ChildProcess.h"
#include "LockerProcess.h"
#include "TempHome.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <chrono>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

class WatchCliTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker_ = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw"});
  }

  // Bytes of their own for every file, named like an MP3 file; returns their SHA-1.
  std::string Bytes(int seed, std::size_t size = 50000) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u >> 13) ^ (seed * 131));
    expected_.insert(Sha1Hex(bytes));
    return bytes;
  }

  std::unique_ptr<test::Child> StartWatch(const std::vector<std::string>& folders) {
    std::vector<std::string> args{VELMORA_CLI_PATH, "--stage", locker_->hostPort(), "--user",
                                  "alice",          "watch",   "--settle",          "1"};
    args.insert(args.end(), folders.begin(), folders.end());
    return std::make_unique<test::Child>(args);
  }

  std::set<std::string> StoredHashIds() const {
    std::set<std::string> ids;
    const pugi::xml_document list = locker_->Document("/_control/objects");
    for (const auto& object : list.select_nodes("/objects/object"))
      ids.insert(object.node().attribute("hashid").value());
    return ids;
  }

  std::unique_ptr<test::LockerProcess> locker_;
  std::set<std::string> expected_;
};

TEST_F(WatchCliTest, UploadsWhatIsThereThenEveryArrivingFileOnceSettledAndOutlivesARemovedFolder) {
  const fs::path music = files() / "music", other = files() / "other";
  test::WriteFile(music / "old.mp3", Bytes(1));
  fs::create_directories(other);
  auto watch = StartWatch({music.string(), other.string()});
  ASSERT_TRUE(watch->WaitFor("Watching 2 folder(s)", 1)) << watch->output();
  EXPECT_EQ(StoredHashIds(), expected_);

  int runs = 1;
  const auto expectUploaded = [&](const std::string& step) {
    ++runs;
    ASSERT_TRUE(watch->WaitFor("Upload done!", runs)) << step << "\n" << watch->output();
    EXPECT_EQ(StoredHashIds(), expected_) << step;
  };

  test::WriteFile(music / "new.mp3", Bytes(2));
  expectUploaded("a new file");

  test::WriteFile(music / "made" / "later" / "nested.mp3", Bytes(3));
  expectUploaded("a file in new nested folders");

  test::WriteFile(files() / "outside" / "moved.mp3", Bytes(4));
  fs::rename(files() / "outside" / "moved.mp3", other / "moved.mp3");
  expectUploaded("a moved-in file");

  // Written in pieces with pauses shorter than the settle time: only the whole file is sent.
  {
    const std::string whole = Bytes(5, 90000);
    std::ofstream slow(music / "slow.mp3", std::ios::binary);
    for (std::size_t at = 0; at < whole.size(); at += 30000) {
      slow.write(whole.data() + at, 30000);
      slow.flush();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
  }
  expectUploaded("a file written slowly");

  fs::remove_all(other);
  ASSERT_TRUE(watch->WaitFor("other was removed", 1)) << watch->output();
  test::WriteFile(music / "after.mp3", Bytes(6));
  expectUploaded("a file after a watched folder was removed");

  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Wait(), 0) << watch->output();
  EXPECT_THAT(watch->output(), HasSubstr("Watch ended"));
}

} // namespace
} // namespace velmora
