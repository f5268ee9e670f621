// Against a velmora-locker that cuts connections at many byte offsets, answers HTTP 500 in bursts,
// answers with text that is not XML and stalls, the program never crashes, the queue keeps every
// unfinished record, the service never stores a corrupt object, a restore never leaves a partial
// file, and a following run completes the work.

#include "LockerProcess.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "restore/Restore.h"
#include "sources/DroppedFiles.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <map>
#include <random>
#include <set>

namespace velmora {
namespace {

using ::testing::AnyOf;
using ::testing::HasSubstr;

struct Track {
  std::string path;
  std::string hashId;
  std::uintmax_t size = 0;
};

using Fault = std::map<std::string, std::string>;

class FaultInjectionOneAtATimeTest : public test::TransfersTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    lockerData_ = files() / "locker-data";
    locker_ = std::make_unique<test::LockerProcess>(
        std::vector<std::string>{"--data", lockerData_.string(), "--user", "alice:pw"});
  }

  void TearDown() override {
    if (locker_) {
      ExpectNoCorruptObject();
      locker_.reset();
    }
    test::TempHomeTest::TearDown();
  }

  // `count` files of random bytes (each its own content) named like MP3 files in a new folder.
  std::vector<Track> MakeTracks(const std::string& folderName, int count, std::size_t size) {
    std::vector<Track> tracks;
    const auto folder = files() / folderName;
    for (int i = 0; i < count; ++i) {
      std::mt19937 random(static_cast<unsigned>(std::hash<std::string>()(folderName) + i));
      std::string bytes(size, '\0');
      for (char& byte : bytes) byte = static_cast<char>(random());
      Track track;
      track.path = (folder / ("track " + std::to_string(i) + ".mp3")).string();
      test::WriteFile(track.path, bytes);
      track.hashId = Sha1Hex(bytes);
      track.size = size;
      tracks.push_back(track);
    }
    return tracks;
  }

  test::CommandResult Velmora(const std::string& arguments) {
    return test::RunCommand("VELMORA_PASSWORD=pw " + test::ShellQuote(VELMORA_CLI_PATH) + " --stage " +
                            locker_->hostPort() + " --user alice " + WithTransfers(arguments));
  }

  void Arm(const Fault& fault) { locker_->Control("/_control/faults", fault); }

  // hash id -> size of the content the service holds.
  std::map<std::string, std::uintmax_t> StoredObjects() {
    std::map<std::string, std::uintmax_t> objects;
    const pugi::xml_document list = locker_->Document("/_control/objects");
    for (const auto& object : list.select_nodes("/objects/object")) {
      objects[object.node().attribute("hashid").value()] = object.node().attribute("size").as_ullong();
    }
    return objects;
  }

  std::set<std::string> LibraryHashes() {
    std::set<std::string> hashes;
    const pugi::xml_document library = locker_->Document("/_control/library", {{"user", "alice"}});
    for (const auto& item : library.select_nodes("/library/item")) {
      hashes.insert(item.node().attribute("hashid").value());
    }
    return hashes;
  }

  // Every stored object holds exactly the bytes its name promises, and the service's own list
  // agrees with what is on its disk.
  void ExpectNoCorruptObject() {
    std::map<std::string, std::uintmax_t> onDisk;
    const auto objects = lockerData_ / "objects";
    if (std::filesystem::exists(objects)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(objects)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(Sha1Hex(test::ReadFile(entry.path())), name) << "corrupt object " << entry.path();
        onDisk[name] = entry.file_size();
      }
    }
    EXPECT_EQ(onDisk, StoredObjects());
    ++objectChecks_;
  }

  // Every track is stored byte for byte and is in alice's library.
  void ExpectAllStored(const std::vector<Track>& tracks, const std::string& why) {
    const auto stored = StoredObjects();
    const auto library = LibraryHashes();
    for (const Track& track : tracks) {
      ASSERT_TRUE(stored.count(track.hashId)) << why << ": " << track.path << " not stored";
      EXPECT_EQ(stored.at(track.hashId), track.size) << why;
      EXPECT_TRUE(library.count(track.hashId)) << why << ": " << track.path << " not in the library";
    }
  }

  std::unique_ptr<Engine> LoggedInEngine(test::RecordingUi& ui) {
    auto engine =
        std::make_unique<Engine>(ui, EngineOptions{"/stage " + locker_->hostPort(), configHome() / "settings.ini"});
    engine->Startup();
    engine->SetCredentials("alice", engine->password());
    engine->SetCredentials(engine->userName(), "pw");
    EXPECT_TRUE(engine->Login());
    return engine;
  }

  // Relative path -> SHA-1 of every file below the folder, hidden ones included.
  static std::map<std::string, std::string> FilesBelow(const std::filesystem::path& folder) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
      // The playlist files a restore writes beside the playlist folders are no downloads.
      if (entry.path().parent_path() == folder && entry.path().extension() == ".m3u8") continue;
      if (entry.is_regular_file()) {
        found[std::filesystem::relative(entry.path(), folder).string()] = Sha1Hex(test::ReadFile(entry.path()));
      }
    }
    return found;
  }

  std::filesystem::path lockerData_;
  std::unique_ptr<test::LockerProcess> locker_;
  int objectChecks_ = 0;
};

using FaultInjectionTest = test::OnEveryTransfers<FaultInjectionOneAtATimeTest>;

TEST_P(FaultInjectionTest, UploadCutAtAnyOffsetKeepsTheQueueAndTheNextRunCompletes) {
  constexpr std::size_t kSize = 96 * 1024;
  const std::vector<std::size_t> offsets{0, 1, 511, 4096, 16383, 16384, 40000, 65536, 90000, kSize - 1};
  for (std::size_t n = 0; n < offsets.size(); ++n) {
    const std::string where = "cut at byte " + std::to_string(offsets[n]);
    const auto tracks = MakeTracks("cut" + std::to_string(n), 3, kSize);
    test::RecordingUi ui;
    auto engine = LoggedInEngine(ui);
    engine->DropFiles({(files() / ("cut" + std::to_string(n))).string()});
    ASSERT_TRUE(engine->AnalyzeAndUpload()) << where;
    ASSERT_EQ(engine->upload().queue().QueueCount(), 3) << where;
    const std::string first = engine->upload().queue().First()->location;

    Arm({{"target", "upload"}, {"kind", "cut-upload"}, {"bytes", std::to_string(offsets[n])}});
    engine->OnStartTimer();
    EXPECT_EQ(engine->upload().outcome(), RunOutcome::Failed) << where;
    EXPECT_EQ(ui.errorDisplays.size(), 1u) << where;
    // Nothing was finished, so nothing left the queue, and the file in transfer is still first.
    ASSERT_EQ(engine->upload().queue().QueueCount(), 3) << where;
    EXPECT_EQ(engine->upload().queue().First()->location, first) << where;
    for (const Track& track : tracks) EXPECT_EQ(StoredObjects().count(track.hashId), 0u) << where;

    if (n % 2 == 0) { // the same run goes on after "Stop upload" and "Resume upload"
      engine->StopUpload();
      engine->ResumeUpload();
      EXPECT_EQ(engine->upload().outcome(), RunOutcome::Finished) << where;
      EXPECT_TRUE(engine->upload().queue().empty()) << where;
      engine->Shutdown();
    } else { // or a new run of the command line
      engine->Shutdown();
      const auto next = Velmora("upload " + test::ShellQuote((files() / ("cut" + std::to_string(n))).string()));
      EXPECT_EQ(next.exitCode, 0) << where << ": " << next.err;
    }
    ExpectAllStored(tracks, where);
    ExpectNoCorruptObject();
  }
}

// One failure on the upload path, what the first run must look like, then a following run.
struct UploadCase {
  std::string name;
  std::vector<Fault> faults;
  int failedRuns;          // command-line runs that end with exit code 1 before one completes
  int queueAfterEngineRun; // records left in the queue after the engine's run with the fault
};

TEST_F(FaultInjectionOneAtATimeTest, RefusedGarbledAndCutAnswersOnTheUploadPathLoseNothing) {
  const std::vector<UploadCase> cases{
      // Every REST method answers HTTP 500 five times: five runs fail at the login, the sixth works.
      {"HTTP 500 burst on every method",
       {{{"target", "*"}, {"kind", "http"}, {"status", "500"}, {"times", "5"}}},
       5,
       -1},
      {"HTTP 503 on the duplicate check",
       {{{"target", "items/checkhashvalues"}, {"kind", "http"}, {"status", "503"}}},
       1,
       0},
      {"duplicate check answer not XML", {{{"target", "items/checkhashvalues"}, {"kind", "notxml"}}}, 1, 0},
      {"duplicate check answer cut", {{{"target", "items/checkhashvalues"}, {"kind", "cut"}, {"bytes", "60"}}}, 1, 0},
      // A refused registration removes its record (the next analysis finds the file again); the
      // records after it stay.
      {"HTTP 500 on the registration", {{{"target", "items/add"}, {"kind", "http"}, {"status", "500"}}}, 1, 2},
      {"registration answer not XML", {{{"target", "items/add"}, {"kind", "notxml"}, {"body", "<html>oops"}}}, 1, 2},
      {"registration answer cut", {{{"target", "items/add"}, {"kind", "cut"}, {"bytes", "40"}}}, 1, 2},
      {"registration names no location",
       {{{"target", "items/add"},
         {"kind", "http"},
         {"status", "200"},
         {"body", "<result><result>true</result><error>0</error></result>"}}},
       1,
       2},
      // A refused transfer keeps its record first.
      {"HTTP 500 burst on the transfer",
       {{{"target", "upload"}, {"kind", "http"}, {"status", "500"}, {"times", "3"}}},
       3,
       3},
      // The service stored the file before the answer was cut: that run fails, the next one finds
      // the file in the library and sends the others.
      {"transfer answer cut", {{{"target", "upload"}, {"kind", "cut"}, {"bytes", "0"}}}, 1, -1},
  };
  for (std::size_t n = 0; n < cases.size(); ++n) {
    const UploadCase& c = cases[n];
    const std::string folder = "case" + std::to_string(n);
    const auto tracks = MakeTracks(folder, 3, 20000);
    const std::string drop = test::ShellQuote((files() / folder).string());

    // The engine's run with the first fault: the queue keeps what is not done.
    if (c.queueAfterEngineRun >= 0) {
      test::RecordingUi ui;
      auto engine = LoggedInEngine(ui);
      engine->DropFiles({(files() / folder).string()});
      Arm(c.faults.front());
      engine->AnalyzeAndUpload();
      if (engine->upload().windows().startTimerEnabled) engine->OnStartTimer();
      EXPECT_EQ(engine->upload().queue().QueueCount(), c.queueAfterEngineRun) << c.name;
      EXPECT_NE(engine->upload().outcome(), RunOutcome::Finished) << c.name;
      engine->Shutdown();
      locker_->Control("/_control/faults/reset");
    }

    // The command line with the faults: exit 1 per refused run, never a crash, then a run completes.
    for (const Fault& fault : c.faults) Arm(fault);
    for (int run = 0; run < c.failedRuns; ++run) {
      const auto failed = Velmora("upload " + drop);
      EXPECT_EQ(failed.exitCode, 1) << c.name << " run " << run << ": " << failed.err;
    }
    const auto next = Velmora("upload " + drop);
    EXPECT_EQ(next.exitCode, 0) << c.name << ": " << next.err;
    ExpectAllStored(tracks, c.name);
    locker_->Control("/_control/faults/reset");
  }
  ExpectNoCorruptObject();
}

TEST_P(FaultInjectionTest, MetadataOnlyItemRefusedIsSentAgainByTheNextRun) {
  const auto tracks = MakeTracks("known", 2, 5000);
  for (const Track& track : tracks) {
    // Content another user stored: the duplicate check answers 204, only metadata goes out.
    locker_->StoreContent(track.path);
  }
  ASSERT_EQ(StoredObjects().size(), 2u);
  Arm({{"target", "transmitfile"}, {"kind", "http"}, {"status", "500"}, {"times", "2"}});
  const std::string drop = test::ShellQuote((files() / "known").string());
  // A refused "transmitfile" does not stop the run: both records are done, reported as failed.
  const auto first = Velmora("upload " + drop);
  EXPECT_EQ(first.exitCode, 1) << first.err;
  EXPECT_THAT(first.err, HasSubstr(", 2 failed\n"));
  EXPECT_TRUE(LibraryHashes().empty());
  const auto next = Velmora("upload " + drop);
  EXPECT_EQ(next.exitCode, 0) << next.err;
  ExpectAllStored(tracks, "metadata only");
}

TEST_F(FaultInjectionOneAtATimeTest, DownloadCutAtAnyOffsetLeavesNoPartialFileAndTheNextRunCompletes) {
  constexpr std::size_t kSize = 64 * 1024;
  const auto tracks = MakeTracks("library", 2, kSize);
  ASSERT_EQ(Velmora("upload --playlist Mix " + test::ShellQuote((files() / "library").string())).exitCode, 0);
  std::set<std::string> wanted;
  for (const Track& track : tracks) wanted.insert(track.hashId);

  const std::vector<Fault> faults{
      {{"target", "download"}, {"kind", "cut"}, {"bytes", "0"}},
      {{"target", "download"}, {"kind", "cut"}, {"bytes", "1"}},
      {{"target", "download"}, {"kind", "cut"}, {"bytes", "1000"}},
      {{"target", "download"}, {"kind", "cut"}, {"bytes", "16384"}},
      {{"target", "download"}, {"kind", "cut"}, {"bytes", "32768"}},
      {{"target", "download"}, {"kind", "cut"}, {"bytes", "65535"}},
      {{"target", "download"}, {"kind", "http"}, {"status", "500"}, {"times", "2"}},
      {{"target", "items/get/deliver"}, {"kind", "notxml"}},
      {{"target", "items/get/deliver"}, {"kind", "cut"}, {"bytes", "50"}},
      {{"target", "items/get/deliver"}, {"kind", "http"}, {"status", "500"}, {"times", "2"}},
      {{"target", "sets/set/getitems/"}, {"kind", "notxml"}},
      {{"target", "items/get"}, {"kind", "cut"}, {"bytes", "100"}},
  };
  for (std::size_t n = 0; n < faults.size(); ++n) {
    std::string name;
    for (const auto& [key, value] : faults[n]) name += key + "=" + value + " ";
    const auto target = files() / ("restore" + std::to_string(n));
    std::filesystem::create_directories(target);
    const std::string all = faults[n].at("target") == "items/get" ? "--all " : "";
    Arm(faults[n]);
    const int times = faults[n].count("times") ? std::stoi(faults[n].at("times")) : 1;
    for (int run = 0; run < times; ++run) {
      const auto failed = Velmora("restore " + all + "--target " + test::ShellQuote(target.string()));
      EXPECT_EQ(failed.exitCode, 1) << name << failed.err;
      // Whatever is at a file name is a whole file; no temporary file is left behind.
      for (const auto& [path, sha1] : FilesBelow(target)) {
        EXPECT_TRUE(wanted.count(sha1)) << name << ": partial or foreign file " << path;
      }
    }
    const auto next = Velmora("restore " + all + "--target " + test::ShellQuote(target.string()));
    EXPECT_EQ(next.exitCode, 0) << name << next.err;
    std::set<std::string> restored;
    for (const auto& [path, sha1] : FilesBelow(target)) restored.insert(sha1);
    EXPECT_EQ(restored, wanted) << name;
    EXPECT_EQ(FilesBelow(target).size(), 2u) << name;
    locker_->Control("/_control/faults/reset");
  }
}

TEST_P(FaultInjectionTest, StalledAnswersAreWaitedForWhileTheWindowStaysAlive) {
  const auto tracks = MakeTracks("slow", 2, 30000);
  test::RecordingUi ui;
  auto engine = LoggedInEngine(ui);
  engine->DropFiles({(files() / "slow").string()});
  Arm({{"target", "items/checkhashvalues"}, {"kind", "stall"}, {"ms", "700"}});
  Arm({{"target", "items/add"}, {"kind", "stall"}, {"ms", "700"}});
  Arm({{"target", "upload"}, {"kind", "stall"}, {"ms", "700"}});
  const int pumpsBefore = ui.pumps;
  ASSERT_TRUE(engine->AnalyzeAndUpload());
  engine->OnStartTimer();
  EXPECT_EQ(engine->upload().outcome(), RunOutcome::Finished);
  EXPECT_GT(ui.pumps - pumpsBefore, 6); // messages were pumped while the service was silent
  engine->Shutdown();
  ExpectAllStored(tracks, "stalled");

  const auto target = files() / "slow-restore";
  std::filesystem::create_directories(target);
  Arm({{"target", "download"}, {"kind", "stall"}, {"ms", "700"}});
  Arm({{"target", "items/get"}, {"kind", "stall"}, {"ms", "700"}});
  const auto restored = Velmora("restore --all --target " + test::ShellQuote(target.string()));
  EXPECT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_EQ(FilesBelow(target).size(), 2u);
}

VELMORA_ON_EVERY_TRANSFERS(FaultInjectionTest);

} // namespace
} // namespace velmora
