// Several `velmora` programs at once share one work folder and one fingerprint cache without
// disturbing each other; a program killed (SIGKILL) while it hashes, uploads or restores leaves
// the next run able to finish the work: no cache row naming other content, no partial download
// left behind, no damaged database. One program moving several files at once (--transfers) keeps
// the same promises: every file once, whole, in its playlist's order, whatever stops or cuts it.

#include "ChildProcess.h"
#include "LockerProcess.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "base/WorkFolder.h"
#include "store/Sha1.h"

#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <map>
#include <poll.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;

class ConcurrentAndKilledRunsTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker_ = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw"});
  }

  // `count` files of their own bytes, named like MP3 files, in a new folder; path -> SHA-1.
  std::map<std::string, std::string> MakeFiles(const std::string& folder, int count, std::size_t size) {
    std::map<std::string, std::string> made;
    for (int i = 0; i < count; ++i) {
      const fs::path path = files() / folder / (folder + " track " + std::to_string(i) + ".mp3");
      made[path.string()] = Rewrite(path, size, i);
    }
    return made;
  }
  static std::string Rewrite(const fs::path& path, std::size_t size, int seed) {
    std::string bytes(size, '\0');
    const std::string salt = path.string() + std::to_string(seed);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 2654435761u >> 13 ^ salt[i % salt.size()]);
    test::WriteFile(path, bytes);
    return Sha1Hex(bytes);
  }

  std::vector<std::string> Cli(std::vector<std::string> args) const {
    args.insert(args.begin(), {VELMORA_CLI_PATH, "--stage", locker_->hostPort(), "--user", "alice"});
    return args;
  }
  std::string CliLine(const std::vector<std::string>& args) const {
    std::string line = "VELMORA_PASSWORD=pw";
    for (const std::string& arg : Cli(args)) line += " " + test::ShellQuote(arg);
    return line;
  }
  // What `velmora hash` prints for the files: "HASHID  PATH" lines.
  static std::string HashLines(const std::map<std::string, std::string>& made) {
    std::string lines;
    for (const auto& [path, hashId] : made) lines += hashId + "  " + path + "\n";
    return lines;
  }
  static std::vector<std::string> HashArgs(const std::map<std::string, std::string>& made) {
    std::vector<std::string> args{"hash"};
    for (const auto& entry : made) args.push_back(entry.first);
    return args;
  }

  // SHA-1 -> size of the content the service holds; library items of alice by SHA-1.
  std::map<std::string, std::uintmax_t> StoredObjects() const {
    std::map<std::string, std::uintmax_t> objects;
    const pugi::xml_document list = locker_->Document("/_control/objects");
    for (const auto& object : list.select_nodes("/objects/object"))
      objects[object.node().attribute("hashid").value()] = object.node().attribute("size").as_ullong();
    return objects;
  }
  std::map<std::string, int> LibraryItems() const {
    std::map<std::string, int> items;
    const pugi::xml_document library = locker_->Document("/_control/library", {{"user", "alice"}});
    for (const auto& item : library.select_nodes("/library/item")) ++items[item.node().attribute("hashid").value()];
    return items;
  }
  static std::map<std::string, std::uintmax_t> Sizes(const std::map<std::string, std::string>& made) {
    std::map<std::string, std::uintmax_t> sizes;
    for (const auto& [path, hashId] : made) sizes[hashId] = fs::file_size(path);
    return sizes;
  }
  static std::map<std::string, int> Once(const std::map<std::string, std::string>& made) {
    std::map<std::string, int> once;
    for (const auto& entry : made) once[entry.second] = 1;
    return once;
  }

  // Requests per target ("items/add", "upload", "transmitfile", ...) since the last reset.
  std::map<std::string, int> Requests() const {
    std::map<std::string, int> counts;
    const pugi::xml_document stats = locker_->Document("/_control/stats");
    for (const auto& counter : stats.select_nodes("/stats/counter"))
      counts[counter.node().attribute("target").value()] = counter.node().attribute("requests").as_int();
    return counts;
  }
  // The paths of the "Upload of PATH" status lines, in the order written.
  static std::vector<std::string> UploadLines(const std::string& output) {
    std::vector<std::string> paths;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("Upload of ", 0) == 0) paths.push_back(line.substr(10));
    return paths;
  }

  // The engine as the window drives it (its queue and outcomes can be looked at): logged in as
  // `user`, it sends the files of the folder "music" on four lanes until the run ends.
  void UploadMusicOnFourLanes(Engine& engine, const std::string& user) {
    engine.Startup();
    engine.SetCredentials(user, "pw");
    ASSERT_TRUE(engine.Login());
    engine.OverrideTransfers(4);
    engine.DropFiles({(files() / "music").string()});
    ASSERT_TRUE(engine.AnalyzeAndUpload());
    engine.OnStartTimer();
  }

  // The work folder holds no program's run folder (every program ended or was cleaned up after).
  std::vector<std::string> RunFolders() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(workFolder()))
      if (entry.path().filename().string().rfind("tmp_run-", 0) == 0) found.push_back(entry.path().string());
    return found;
  }

  std::unique_ptr<test::LockerProcess> locker_;
};

TEST_F(ConcurrentAndKilledRunsTest, TwoUploadsAndAHashLoopAtOnceStoreEverythingOnce) {
  auto first = MakeFiles("first", 12, 200000);
  const auto second = MakeFiles("second", 12, 200000);
  const auto hashed = MakeFiles("hashed", 6, 100000);
  // Slow answers keep the uploads running while the loop starts and ends programs.
  locker_->Control("/_control/faults", {{"target", "upload"}, {"kind", "stall"}, {"ms", "40"}, {"times", "always"}});

  std::atomic<bool> uploading{true};
  std::vector<std::string> loopFailures;
  int loops = 0;
  std::thread hashLoop([&] {
    while (uploading) {
      // A new modification time for every file: each pass writes to the shared cache.
      for (const auto& entry : hashed) ::utimensat(AT_FDCWD, entry.first.c_str(), nullptr, 0);
      const auto result = test::RunCommand(CliLine(HashArgs(hashed)));
      if (result.exitCode != 0 || result.out != HashLines(hashed)) loopFailures.push_back(result.out + result.err);
      ++loops;
    }
  });
  auto upload = [&](const char* folder) {
    return std::async(std::launch::async, [this, folder] {
      return test::RunCommand(CliLine({"upload", (files() / folder).string()}));
    });
  };
  auto runA = upload("first"), runB = upload("second");
  const auto resultA = runA.get(), resultB = runB.get();
  uploading = false;
  hashLoop.join();

  EXPECT_EQ(resultA.exitCode, 0) << resultA.err;
  EXPECT_EQ(resultB.exitCode, 0) << resultB.err;
  EXPECT_GT(loops, 1);
  EXPECT_TRUE(loopFailures.empty()) << loopFailures.front();
  first.insert(second.begin(), second.end());
  EXPECT_EQ(StoredObjects(), Sizes(first));
  EXPECT_EQ(LibraryItems(), Once(first));
  EXPECT_TRUE(RunFolders().empty());
}

TEST_F(ConcurrentAndKilledRunsTest, AnalysisKilledAtTenPointsLeavesNoWrongCacheRow) {
  auto made = MakeFiles("library", 24, 512 * 1024);
  for (int kill = 0; kill < 10; ++kill) {
    // One file gets new content of the same size; every file a new modification time, so the run
    // hashes them all again.
    const auto edited = std::next(made.begin(), kill * 2);
    edited->second = Rewrite(edited->first, 512 * 1024, 100 + kill);
    const timespec times[2] = {{0, UTIME_OMIT}, {1700000000 + kill, 0}};
    for (const auto& entry : made) ::utimensat(AT_FDCWD, entry.first.c_str(), times, 0);

    test::Child run(Cli(HashArgs(made)));
    ASSERT_TRUE(run.WaitFor("Deep analysis of", 1 + 2 * kill)) << run.output();
    std::this_thread::sleep_for(std::chrono::microseconds(300 * kill));
    run.Kill();
  }

  const auto last = test::RunCommand(CliLine(HashArgs(made)));
  EXPECT_EQ(last.exitCode, 0) << last.err;
  EXPECT_EQ(last.out, HashLines(made));
  SQLite::Database cache((workFolder() / "meta_Velmora.db").string());
  EXPECT_EQ(cache.execAndGet("PRAGMA integrity_check").getString(), "ok");
  SQLite::Statement rows(cache, "SELECT location, hashid FROM knownfilehashvalues");
  int count = 0;
  while (rows.executeStep()) {
    ++count;
    EXPECT_EQ(rows.getColumn(1).getString(), made.at(rows.getColumn(0).getString()));
  }
  EXPECT_EQ(count, 24);
  EXPECT_TRUE(RunFolders().empty());
}

TEST_F(ConcurrentAndKilledRunsTest, UploadKilledAtTenPointsIsCompletedByTheNextRun) {
  const auto made = MakeFiles("music", 12, 256 * 1024);
  locker_->Control("/_control/faults", {{"target", "upload"}, {"kind", "stall"}, {"ms", "150"}, {"times", "always"}});
  for (int kill = 0; kill < 10; ++kill) {
    test::Child run(Cli({"upload", (files() / "music").string()}));
    ASSERT_TRUE(run.WaitFor("Upload of ", 1)) << run.output();
    // From the registration through the transfer and its answer into the next file.
    std::this_thread::sleep_for(std::chrono::milliseconds(20 * kill));
    run.Kill();
  }
  EXPECT_LT(StoredObjects().size(), made.size()) << "the kills came too late to interrupt anything";

  test::Child last(Cli({"upload", (files() / "music").string()}));
  EXPECT_EQ(last.Wait(), 0) << last.output();
  EXPECT_EQ(StoredObjects(), Sizes(made));
  EXPECT_EQ(LibraryItems(), Once(made));
  EXPECT_TRUE(RunFolders().empty());
}

TEST_F(ConcurrentAndKilledRunsTest, RestoreKilledAtTenPointsLeavesNoPartialFileAndTheNextRunCompletes) {
  const auto made = MakeFiles("music", 12, 256 * 1024);
  ASSERT_EQ(test::RunCommand(CliLine({"upload", (files() / "music").string()})).exitCode, 0);
  locker_->Control("/_control/faults", {{"target", "download"}, {"kind", "stall"}, {"ms", "100"}, {"times", "always"}});
  const fs::path target = files() / "restored";
  fs::create_directories(target);
  auto partialFiles = [&] {
    std::set<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(target))
      if (entry.path().extension() == ".part") found.insert(entry.path());
    return found;
  };

  for (int kill = 0; kill < 10; ++kill) {
    const std::set<fs::path> before = partialFiles(); // what killed runs left
    test::Child run(Cli({"restore", "--target", target.string(), "--all"}));
    auto downloading = [&] {
      for (const fs::path& partial : partialFiles())
        if (!before.count(partial)) return true;
      return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!downloading() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(downloading()) << run.output();
    // In the wait for the answer, in the transfer, or after the rename.
    std::this_thread::sleep_for(std::chrono::milliseconds(15 * kill));
    run.Kill();
  }

  test::Child last(Cli({"restore", "--target", target.string(), "--all"}));
  EXPECT_EQ(last.Wait(), 0) << last.output();
  std::map<std::string, int> restored;
  for (const auto& entry : fs::recursive_directory_iterator(target))
    if (entry.is_regular_file()) ++restored[Sha1Hex(test::ReadFile(entry.path()))];
  EXPECT_EQ(restored, Once(made)); // nothing missing, nothing twice, no partial file
  EXPECT_TRUE(RunFolders().empty());
}

TEST_F(ConcurrentAndKilledRunsTest, FourTransfersStoreEveryFileOnceInPlaylistOrderAndRestoreThemWhole) {
  const auto made = MakeFiles("music", 24, 96 * 1024);
  const auto first = test::RunCommand(CliLine({"upload", "--transfers", "4", "--playlist", "Mix", (files() / "music").string()}));
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(StoredObjects(), Sizes(made));
  EXPECT_EQ(LibraryItems(), Once(made));
  EXPECT_EQ(Requests().at("upload"), 24);
  EXPECT_EQ(Requests().at("items/add"), 24);
  std::vector<std::string> queueOrder;
  for (const std::string& path : UploadLines(first.err)) queueOrder.push_back(made.at(path));
  std::vector<std::string> playlistOrder;
  const auto playlists = locker_->Document("/_control/playlists", {{"user", "alice"}});
  for (const auto& item : playlists.select_nodes("//playlist[@name='Mix']/item"))
    playlistOrder.push_back(item.node().attribute("hashid").value());
  EXPECT_EQ(playlistOrder, queueOrder);

  // Known content of another user goes as metadata only, four at a time, each once.
  locker_->Control("/_control/users", {{"name", "bob"}, {"password", "pw"}});
  locker_->Control("/_control/stats/reset");
  std::string bob = CliLine({"upload", "--transfers", "4", (files() / "music").string()});
  bob.replace(bob.find("'alice'"), 7, "bob");
  ASSERT_EQ(test::RunCommand(bob).exitCode, 0);
  EXPECT_EQ(Requests().at("transmitfile"), 24);
  EXPECT_EQ(Requests().count("upload"), 0u);
  EXPECT_EQ(locker_->Document("/_control/library", {{"user", "bob"}}).select_nodes("/library/item").size(), 24u);

  locker_->Control("/_control/stats/reset");
  ASSERT_EQ(test::RunCommand(CliLine({"upload", "--transfers", "4", (files() / "music").string()})).exitCode, 0);
  EXPECT_EQ(Requests().count("upload") + Requests().count("items/add") + Requests().count("transmitfile"), 0u);

  const fs::path target = files() / "restored";
  fs::create_directories(target);
  locker_->Control("/_control/stats/reset");
  // Lanes create their files at the same time: each still takes the mode the umask gives.
  const mode_t mask = ::umask(022);
  const auto restore = test::RunCommand(CliLine({"restore", "--transfers", "4", "--target", target.string(), "--all"}));
  ::umask(mask);
  ASSERT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_EQ(Requests().at("download"), 24); // addresses asked ahead go to their own rows only
  EXPECT_NE(restore.err.find("24 restored, 0 already there, 0 failed\n"), std::string::npos) << restore.err;
  std::map<std::string, int> restored;
  std::vector<std::string> hashRestored{"hash"};
  for (const auto& entry : fs::recursive_directory_iterator(target)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".mp3") continue;
    ++restored[Sha1Hex(test::ReadFile(entry.path()))];
    hashRestored.push_back(entry.path().string());
    EXPECT_EQ(entry.status().permissions(), fs::perms(0644)) << entry.path();
  }
  EXPECT_EQ(restored, Once(made));
  for (const auto& entry : fs::recursive_directory_iterator(target)) EXPECT_NE(entry.path().extension(), ".part");
  // The lanes keep each restored file's hash id (no file is read again), and a second restore
  // counts every file as already there.
  const auto hashed = test::RunCommand(CliLine(hashRestored));
  EXPECT_EQ(hashed.err.find("Deep analysis"), std::string::npos) << hashed.err;
  const auto again = test::RunCommand(CliLine({"restore", "--transfers", "4", "--target", target.string(), "--all"}));
  EXPECT_NE(again.err.find("0 restored, 24 already there, 0 failed\n"), std::string::npos) << again.err;
}

TEST_F(ConcurrentAndKilledRunsTest, FourTransfersStoppedBySignalLeaveTheRestToTheNextRunSendingNothingTwice) {
  const auto made = MakeFiles("music", 16, 128 * 1024);
  locker_->Control("/_control/faults", {{"target", "upload"}, {"kind", "stall"}, {"ms", "200"}, {"times", "always"}});
  test::Child run(Cli({"upload", "--transfers", "4", (files() / "music").string()}));
  ASSERT_TRUE(run.WaitFor("Upload of ", 6)) << run.output();
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(), 1) << run.output();
  const std::size_t storedFirst = StoredObjects().size();
  EXPECT_GT(storedFirst, 0u);
  EXPECT_LT(storedFirst, made.size()) << "the stop came too late to hold anything back";

  locker_->Control("/_control/faults/reset");
  const auto rest = test::RunCommand(CliLine({"upload", "--transfers", "4", (files() / "music").string()}));
  ASSERT_EQ(rest.exitCode, 0) << rest.err;
  EXPECT_EQ(StoredObjects(), Sizes(made));
  EXPECT_EQ(LibraryItems(), Once(made));
  EXPECT_EQ(Requests().at("upload"), 16) << "a file went twice";
}

TEST_F(ConcurrentAndKilledRunsTest, CutUploadOnOneOfFourLanesEndsTheRunKeepingItsRecordAndResumeSendsTheRestOnce) {
  // Eleven files whose content the service holds go as metadata only beside one new file whose
  // every upload is cut.
  const auto made = MakeFiles("music", 12, 256 * 1024);
  std::vector<std::string> known{"upload"};
  for (const auto& entry : made)
    if (entry.first.find("track 0.mp3") == std::string::npos) known.push_back(entry.first);
  ASSERT_EQ(test::RunCommand(CliLine(known)).exitCode, 0);
  locker_->Control("/_control/users", {{"name", "bob"}, {"password", "pw"}});
  locker_->Control("/_control/stats/reset");
  locker_->Control("/_control/faults",
                   {{"target", "upload"}, {"kind", "cut-upload"}, {"bytes", "50000"}, {"times", "always"}});
  // The queue is looked at between the two runs.
  test::RecordingUi ui;
  Engine engine(ui, {"/stage " + locker_->hostPort(), configHome() / "settings.ini"});
  ASSERT_NO_FATAL_FAILURE(UploadMusicOnFourLanes(engine, "bob"));
  EXPECT_EQ(engine.upload().outcome(), RunOutcome::Failed);
  EXPECT_EQ(ui.errorDisplays.size(), 1u);
  const auto library = [&] {
    return locker_->Document("/_control/library", {{"user", "bob"}}).select_nodes("/library/item").size();
  };
  const std::size_t listed = library();
  EXPECT_GT(listed, 0u) << "the other lanes' files were lost";
  // What is not in the library is still queued, the cut file among them.
  EXPECT_EQ(static_cast<std::size_t>(engine.upload().queue().QueueCount()), made.size() - listed);

  locker_->Control("/_control/faults/reset");
  engine.StopUpload();
  engine.ResumeUpload();
  EXPECT_EQ(engine.upload().outcome(), RunOutcome::Finished);
  // The notice counts the whole run, before and after the resume.
  EXPECT_EQ(engine.upload().runEndNotice().text, "1 file uploaded, 11 already in your locker.");
  EXPECT_EQ(library(), made.size());
  EXPECT_EQ(StoredObjects(), Sizes(made));
  EXPECT_EQ(Requests().at("transmitfile"), 11) << "a file went twice";
  // Each item's exchange file (tmp_{GUID}.xml) went with its transfer, failed or not.
  for (const auto& entry : fs::directory_iterator(RunFolder()))
    EXPECT_NE(entry.path().filename().string().rfind("tmp_{", 0), 0u) << entry.path();
  engine.Shutdown();
}

// Two files cut on their way up at once: the run ends with the failure of the one queued first.
TEST_F(ConcurrentAndKilledRunsTest, TwoFailuresOnLanesEndTheRunWithTheFirstQueuedFilesOwn) {
  MakeFiles("music", 2, 256 * 1024);
  locker_->Control("/_control/faults",
                   {{"target", "upload"}, {"kind", "cut-upload"}, {"bytes", "50000"}, {"times", "always"}});
  test::RecordingUi ui;
  Engine engine(ui, {"/stage " + locker_->hostPort(), configHome() / "settings.ini"});
  ASSERT_NO_FATAL_FAILURE(UploadMusicOnFourLanes(engine, "alice"));
  ASSERT_EQ(engine.upload().queue().QueueCount(), 2);
  const std::string first = engine.upload().queue().First()->location;
  std::vector<std::string> reasons; // of the first, then of the other
  const OutcomeLog report = engine.UploadReport();
  for (const FileOutcome& outcome : report.entries())
    reasons.insert(outcome.path == first ? reasons.begin() : reasons.end(), outcome.reason);
  ASSERT_EQ(reasons.size(), 2u);
  ASSERT_NE(reasons[0], reasons[1]) << "each names its own upload address";
  ASSERT_EQ(ui.errorDisplays.size(), 1u);
  EXPECT_NE(ui.errorDisplays[0].find(reasons[0]), std::string::npos) << ui.errorDisplays[0] << "\n" << reasons[1];
  engine.Shutdown();
}

// About 20 seconds: the limit holds for the sum of the lanes, not for each.
TEST_F(ConcurrentAndKilledRunsTest, RateLimitOf1MBoundsFourTransfersTogether) {
  const auto made = MakeFiles("big", 4, 19 * 1024 * 1024 / 4);
  const auto started = std::chrono::steady_clock::now();
  const auto run =
      test::RunCommand(CliLine({"upload", "--transfers", "4", "--limit-rate", "1M", (files() / "big").string()}));
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(StoredObjects(), Sizes(made));
  EXPECT_GE(seconds.count(), 17.0);
  EXPECT_LE(seconds.count(), 23.0);
}

TEST_F(ConcurrentAndKilledRunsTest, TransfersOutsideOneToSixteenAreBadUsage) {
  MakeFiles("music", 1, 1024);
  for (const std::string command : {"upload", "restore", "watch", "itunes", "winamp"}) {
    for (const char* value : {"0", "-1", "17", "four"}) {
      std::vector<std::string> args{command, "--transfers", value};
      if (command == "upload" || command == "watch") args.push_back((files() / "music").string());
      if (command == "restore") args.insert(args.end(), {"--target", files().string(), "--all"});
      const auto result = test::RunCommand(CliLine(args));
      // At once: an accepted value would start a watch that never ends.
      ASSERT_EQ(result.exitCode, 2) << command << " --transfers " << value << ": " << result.err;
      EXPECT_NE(result.err.find("--transfers"), std::string::npos) << result.err;
    }
  }
  EXPECT_EQ(Requests().count("user/checkaccess"), 0u);
}

} // namespace
} // namespace velmora
