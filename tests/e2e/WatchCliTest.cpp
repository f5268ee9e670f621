// velmora watch against velmora-locker: what the folders hold is uploaded first, then every file
// that arrives (created, in a folder made later, moved in) once it has settled, a file still
// being written only whole; a watched folder that is removed is reported and the watch goes on;
// SIGTERM ends it with exit code 0 and a report whose summary counts every run's files.

#include "ChildProcess.h"
#include "LockerProcess.h"
#include "ReportFile.h"
#include "TempHome.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
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

  std::unique_ptr<test::Child> StartWatch(const std::vector<std::string>& folders,
                                          const std::vector<std::string>& options = {}) {
    std::vector<std::string> args{VELMORA_CLI_PATH, "--stage", locker_->hostPort(), "--user",
                                  "alice",          "watch",   "--settle",          "1"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), folders.begin(), folders.end());
    return std::make_unique<test::Child>(args);
  }

  // hash id -> how often it is in alice's library.
  std::map<std::string, int> LibraryHashIds() const {
    std::map<std::string, int> ids;
    const pugi::xml_document list = locker_->Document("/_control/library", {{"user", "alice"}});
    for (const auto& item : list.select_nodes("/library/item")) ++ids[item.node().attribute("hashid").value()];
    return ids;
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
  // Left out of the first upload, but named in it.
  ASSERT_EQ(::mkfifo((music / "pipe.mp3").c_str(), 0600), 0);
  const fs::path report = files() / "watch.jsonl";
  auto watch = StartWatch({music.string(), other.string()}, {"--report", report.string()});
  ASSERT_TRUE(watch->WaitFor("Watching 2 folder(s)", 1)) << watch->output();
  EXPECT_EQ(StoredHashIds(), expected_);
  EXPECT_THAT(watch->output(), HasSubstr("pipe.mp3: not a regular file: a named pipe"));
  EXPECT_THAT(watch->output(), HasSubstr("1 sent, 0 metadata only, 0 already in your library, 1 skipped"));

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
  // Every run's files, then one summary that counts them all.
  const test::ReportFile read = test::ReadReport(report);
  const auto sent = std::count_if(read.order.begin(), read.order.end(),
                                  [&](const std::string& path) { return read.files.at(path).at("outcome") == "sent"; });
  EXPECT_EQ(sent, 6) << test::ReadFile(report);
  EXPECT_EQ(read.summary.at("files"), read.order.size());
  EXPECT_EQ(read.summary.at("counts").at("sent"), sent);
  EXPECT_EQ(read.summary.at("counts").at("skipped"), 1);
}

// No retry within a run (--retries 0), so the run's files wait for the watch's own next try, 30 s
// after the outage began: about 45 seconds in all.
TEST_F(WatchCliTest, AnOutageKeepsFilesWaitingUntilTheServiceIsBackAndARefusedFileFailsAlone) {
  const fs::path music = files() / "music", data = files() / "locker-data";
  locker_ = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw", "--data", data});
  const std::string port = std::to_string(locker_->port());
  // The first upload hangs until the service dies under it.
  locker_->Control("/_control/faults", {{"target", "upload"}, {"kind", "stall"}, {"ms", "600000"}});
  test::WriteFile(music / "before.mp3", Bytes(1));
  auto watch = StartWatch({music.string()}, {"--retries", "0"});
  ASSERT_TRUE(watch->WaitFor("Upload of " + (music / "before.mp3").string(), 1)) << watch->output();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  locker_->Kill();
  ASSERT_TRUE(watch->WaitFor("The service cannot be reached", 1)) << watch->output();
  test::WriteFile(music / "during.mp3", Bytes(2));
  std::this_thread::sleep_for(std::chrono::seconds(8));
  locker_ = std::make_unique<test::LockerProcess>(
      std::vector<std::string>{"--port", port, "--user", "alice:pw", "--data", data});

  ASSERT_TRUE(watch->WaitFor("Upload done!", 1, 40000)) << watch->output();
  EXPECT_THAT(watch->output(), HasSubstr("The service answers again"));
  test::WriteFile(music / "after.mp3", Bytes(3));
  ASSERT_TRUE(watch->WaitFor("Upload done!", 2)) << watch->output();
  std::map<std::string, int> once;
  for (const std::string& id : expected_) once[id] = 1;
  EXPECT_EQ(LibraryHashIds(), once);

  locker_->Control("/_control/faults",
                   {{"target", "items/add"}, {"kind", "fail"}, {"code", "42"}, {"message", "Quota exceeded"}});
  const std::string refused = Bytes(4);
  expected_.erase(Sha1Hex(refused));
  test::WriteFile(music / "refused.mp3", refused);
  ASSERT_TRUE(watch->WaitFor("0 sent, 0 metadata only, 0 already in your library, 0 skipped, 1 failed", 1))
      << watch->output();
  EXPECT_THAT(watch->output(),
              HasSubstr("Not uploaded: " + (music / "refused.mp3").string() + ": Quota exceeded  (Error #42)"));
  ASSERT_TRUE(watch->WaitFor("Upload done!", 3)) << watch->output();
  test::WriteFile(music / "later.mp3", Bytes(5));
  ASSERT_TRUE(watch->WaitFor("Upload done!", 4)) << watch->output();
  once.clear();
  for (const std::string& id : expected_) once[id] = 1;
  EXPECT_EQ(LibraryHashIds(), once);

  watch->Signal(SIGTERM);
  EXPECT_EQ(watch->Wait(), 0) << watch->output();
}

} // namespace
} // namespace velmora
