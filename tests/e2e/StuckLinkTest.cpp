// Links that stop moving, against velmora-locker. A dead link (every packet of the service's port
// dropped, inside a network namespace of the test's own) ends an upload, a restore download and a
// request waiting for its answer by themselves, as connection failures; once the link is back the
// next runs complete. A service silent for 90 s on a living connection is waited for. A stop
// signal is obeyed within seconds even when the transfer is stuck, and the report is written whole.

#include "ChildProcess.h"
#include "LockerProcess.h"
#include "TempHome.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sched.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ::testing::HasSubstr;

class StuckLinkTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
  }

  void StartLocker() {
    locker_ = std::make_unique<test::LockerProcess>(
        std::vector<std::string>{"--data", (files() / "locker").string(), "--user", "alice:pw"});
  }

  std::vector<std::string> Cli(std::vector<std::string> arguments) const {
    std::vector<std::string> line{VELMORA_CLI_PATH, "--stage", locker_->hostPort(), "--user", "alice"};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
  }

  // Bytes of their own, written to `path`; returns them.
  static std::string MakeFile(const fs::path& path, std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 2654435761u >> 11) ^ (seed * 7919));
    test::WriteFile(path, bytes);
    return bytes;
  }

  void Arm(const std::string& target, const std::string& ms, const std::string& times = "1") {
    locker_->Control("/_control/faults", {{"target", target}, {"kind", "stall"}, {"ms", ms}, {"times", times}});
  }

  // SHA-1 of every file below `folder`; partial downloads show under their own names.
  static std::multiset<std::string> Contents(const fs::path& folder) {
    std::multiset<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      if (entry.is_regular_file() && entry.path().extension() != ".m3u8")
        found.insert(entry.path().extension() == ".part" ? "partial" : Sha1Hex(test::ReadFile(entry.path())));
    return found;
  }

  static bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
  }

  static std::vector<std::string> Lines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::unique_ptr<test::LockerProcess> locker_;
};

// Moves this test process into a network namespace of its own with only loopback up, so the drop
// rules never touch the machine's own network. Empty when done, else why not.
std::string EnterPrivateNetwork() {
  if (::unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
  if (std::system("ip link set lo up") != 0) return "ip link set lo up failed";
  if (std::system("nft list ruleset >/dev/null 2>&1") != 0) return "nft is not usable";
  return {};
}

void DropPort(int port) {
  const std::string p = std::to_string(port);
  const std::string rules =
      "nft -f - <<'EOF'\ntable inet velmora_dead_link {\n chain input {\n"
      "  type filter hook input priority 0;\n  tcp dport " +
      p + " drop\n  tcp sport " + p + " drop\n }\n}\nEOF";
  ASSERT_EQ(std::system(rules.c_str()), 0);
}

void RestorePort() { ASSERT_EQ(std::system("nft delete table inet velmora_dead_link"), 0); }

TEST_F(StuckLinkTest, DeadLinkEndsUploadDownloadAndWaitForAnswerThenTheNextRunsComplete) {
  if (const std::string why = EnterPrivateNetwork(); !why.empty())
    GTEST_SKIP() << "needs a private network namespace with nft (root): " << why;
  StartLocker();
  const std::string kept = MakeFile(files() / "kept" / "kept.mp3", 3 << 20, 1);
  ASSERT_EQ(test::Child(Cli({"upload", (files() / "kept").string()})).Wait(), 0);
  const std::string sent = MakeFile(files() / "new" / "sent.mp3", 3 << 20, 2);
  const fs::path target = files() / "restored";
  fs::create_directories(target);

  // Three runs in the middle of their work: sending, receiving, and waiting for an answer.
  test::Child upload(Cli({"upload", "--limit-rate", "16K", (files() / "new").string()}));
  ASSERT_TRUE(upload.WaitFor("Upload of ", 1)) << upload.output();
  test::Child restore(Cli({"restore", "--target", target.string(), "--all", "--limit-rate", "16K"}));
  ASSERT_TRUE(WaitUntil([&] { return Contents(target).count("partial") == 1; }, std::chrono::seconds(30)))
      << restore.output();
  const int listingsBefore = locker_->RequestCounts()["sets/get"];
  Arm("sets/get", "600000");
  test::Child waiting(Cli({"playlists"}));
  ASSERT_TRUE(
      WaitUntil([&] { return locker_->RequestCounts()["sets/get"] > listingsBefore; }, std::chrono::seconds(30)));
  std::this_thread::sleep_for(std::chrono::seconds(2));

  DropPort(locker_->port());
  const auto dropped = Clock::now();
  // Each run's end is noted as it comes, whichever comes first.
  std::map<std::string, test::Child*> running{{"upload", &upload}, {"restore", &restore}, {"playlists", &waiting}};
  while (!running.empty() && Clock::now() < dropped + std::chrono::seconds(150)) {
    for (auto run = running.begin(); run != running.end();) {
      const std::optional<int> code = run->second->WaitAtMost(100);
      if (!code) {
        ++run;
        continue;
      }
      EXPECT_EQ(*code, 1) << run->second->output();
      std::cout << run->first << " ended " << std::chrono::duration<double>(Clock::now() - dropped).count()
                << " s after the link died\n";
      run = running.erase(run);
    }
  }
  for (const auto& [name, child] : running) ADD_FAILURE() << name << " still runs 150 s after the link died";
  EXPECT_EQ(Contents(target).count("partial"), 0u);
  RestorePort();

  EXPECT_EQ(test::Child(Cli({"upload", (files() / "new").string()})).Wait(), 0);
  test::Child again(Cli({"restore", "--target", target.string(), "--all"}));
  EXPECT_EQ(again.Wait(), 0) << again.output();
  EXPECT_EQ(Contents(target), (std::multiset<std::string>{Sha1Hex(kept), Sha1Hex(sent)}));
  EXPECT_EQ(test::Child(Cli({"playlists"})).Wait(), 0);
}

TEST_F(StuckLinkTest, ServiceSilentForNinetySecondsOnALivingConnectionIsWaitedFor) {
  StartLocker();
  const std::string bytes = MakeFile(files() / "music" / "slow.mp3", 100000, 3);
  Arm("items/add", "90000");
  const auto started = Clock::now();
  test::Child upload(Cli({"upload", (files() / "music").string()}));
  const std::optional<int> code = upload.WaitAtMost(150000);
  ASSERT_TRUE(code) << upload.output();
  EXPECT_EQ(*code, 0) << upload.output();
  EXPECT_GE(Clock::now() - started, std::chrono::seconds(90));
  EXPECT_TRUE(fs::exists(files() / "locker" / "objects" / Sha1Hex(bytes).substr(0, 2) / Sha1Hex(bytes)));
}

// The report lines of a stopped run: every file, then the summary.
void ExpectWholeReport(const std::vector<std::string>& lines, std::size_t files, const std::string& outcome) {
  ASSERT_EQ(lines.size(), files + 1);
  EXPECT_THAT(lines[0], HasSubstr("\"outcome\":\"" + outcome + "\""));
  EXPECT_THAT(lines.back(), HasSubstr("\"type\":\"summary\""));
}

TEST_F(StuckLinkTest, StopSignalGivesUpAStuckTransferWithinSecondsAndWritesTheReport) {
  StartLocker();
  MakeFile(files() / "music" / "stuck.mp3", 100000, 4);
  const fs::path report = files() / "watch.jsonl";
  Arm("upload", "600000");
  test::Child watch(Cli({"watch", "--settle", "1", "--report", report.string(), (files() / "music").string()}));
  ASSERT_TRUE(watch.WaitFor("Upload of ", 1)) << watch.output();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  watch.Signal(SIGTERM);
  const auto stopped = Clock::now();
  const std::optional<int> watchCode = watch.WaitAtMost(15000);
  ASSERT_TRUE(watchCode) << "the watch did not end within 15 s of SIGTERM: " << watch.output();
  EXPECT_EQ(*watchCode, 0) << watch.output();
  EXPECT_GE(Clock::now() - stopped, std::chrono::seconds(9)); // a moving transfer would be given time
  EXPECT_THAT(watch.output(), HasSubstr("0 sent, 0 metadata only, 0 already in your library, 0 skipped, 1 failed"));
  ExpectWholeReport(Lines(report), 1, "failed");

  const fs::path target = files() / "restored";
  fs::create_directories(target);
  ASSERT_EQ(test::Child(Cli({"upload", (files() / "music").string()})).Wait(), 0);
  Arm("download", "600000");
  test::Child restore(Cli({"restore", "--target", target.string(), "--all", "--report", report.string()}));
  ASSERT_TRUE(WaitUntil([&] { return Contents(target).count("partial") == 1; }, std::chrono::seconds(30)))
      << restore.output();
  restore.Signal(SIGINT);
  const std::optional<int> restoreCode = restore.WaitAtMost(15000);
  ASSERT_TRUE(restoreCode) << "the restore did not end within 15 s of SIGINT: " << restore.output();
  EXPECT_EQ(*restoreCode, 1);
  EXPECT_THAT(restore.output(), HasSubstr("0 restored, 0 already there, 1 failed"));
  EXPECT_TRUE(Contents(target).empty());
  ExpectWholeReport(Lines(report), 1, "failed");
}

TEST_F(StuckLinkTest, InterruptedUploadReplacesTheReportOnlyWhole) {
  StartLocker();
  for (unsigned i = 0; i < 3; ++i) MakeFile(files() / "music" / ("t" + std::to_string(i) + ".mp3"), 50000, 10 + i);
  const fs::path report = files() / "r.jsonl";
  test::WriteFile(report, "an older report\n");
  // Every file takes a few seconds, moving all along: a stop lets it finish.
  Arm("upload", "3000", "always");
  test::Child upload(Cli({"upload", "--report", report.string(), (files() / "music").string()}));
  ASSERT_TRUE(upload.WaitFor("Upload of ", 1)) << upload.output();
  EXPECT_EQ(test::ReadFile(report), "an older report\n");
  upload.Signal(SIGINT);
  EXPECT_EQ(upload.Wait(), 1) << upload.output();
  const std::vector<std::string> first = Lines(report);
  ExpectWholeReport(first, 3, "sent");
  EXPECT_THAT(first[1], HasSubstr("\"outcome\":\"not-sent\""));

  // A second signal ends the program at once; the report of the last whole run stays.
  test::Child again(Cli({"upload", "--report", report.string(), (files() / "music").string()}));
  ASSERT_TRUE(again.WaitFor("Upload of ", 1)) << again.output();
  again.Signal(SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  again.Signal(SIGINT);
  const std::optional<int> code = again.WaitAtMost(2000);
  ASSERT_TRUE(code) << again.output();
  EXPECT_EQ(*code, -1);
  EXPECT_EQ(Lines(report), first);
}

} // namespace
} // namespace velmora
