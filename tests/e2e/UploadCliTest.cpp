// velmora upload against velmora-locker stores every encoder-made file once, byte for byte, with
// its metadata and playlist; known content goes as metadata only, a refusal or a cut transfer
// stops the run without losing or doubling anything.

#include "DeepFolder.h"
#include "LockerProcess.h"
#include "RecordingUi.h"
#include "ReportFile.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "sources/DroppedFiles.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <tuple>

namespace velmora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using test::ReadReport;
using test::ReportFile;

struct Track {
  std::string path;
  std::string title;
  std::string hashId;
  std::uintmax_t size = 0;
};

bool HaveLame() { return std::system("command -v lame >/dev/null 2>&1") == 0; }

// Two seconds of a tone as 16-bit mono PCM, a different pitch per track so every file differs.
std::string TonePcm(int index) {
  std::string pcm;
  const double frequency = 220.0 + 55.0 * index;
  for (int i = 0; i < 2 * 22050; ++i) {
    const auto sample = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * frequency * i / 22050.0));
    pcm.push_back(static_cast<char>(sample & 0xFF));
    pcm.push_back(static_cast<char>((sample >> 8) & 0xFF));
  }
  return pcm;
}

class UploadCliOneAtATimeTest : public test::TransfersTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    if (!HaveLame()) GTEST_SKIP() << "lame is not installed";
    test::TempHomeTest::SetUp();
    locker_ =
        std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw1", "--user", "bob:pw2"});
  }

  // Encodes `count` tagged MP3 files into music/ (every other one in a subfolder).
  void MakeTracks(int count) {
    for (int i = 0; i < count; ++i) {
      Track track;
      track.title = "Tone " + std::to_string(i);
      const auto folder = files() / "music" / (i % 2 ? "more" : "");
      std::filesystem::create_directories(folder);
      const auto raw = files() / ("tone" + std::to_string(i) + ".raw");
      test::WriteFile(raw, TonePcm(i));
      track.path = (folder / ("tone " + std::to_string(i) + ".mp3")).lexically_normal().string();
      const auto result = test::RunCommand(
          "lame --quiet -r -s 22.05 --bitwidth 16 --signed --little-endian -m m --add-id3v2 --tt " +
          test::ShellQuote(track.title) + " --ta 'Test Artist' --tl 'Test Album' --ty 2024 --tn " +
          std::to_string(i + 1) + " " + test::ShellQuote(raw.string()) + " " + test::ShellQuote(track.path));
      ASSERT_EQ(result.exitCode, 0) << result.err;
      track.hashId = Sha1Hex(test::ReadFile(track.path));
      track.size = std::filesystem::file_size(track.path);
      tracks_.push_back(track);
    }
  }

  test::CommandResult Upload(const std::string& user, const std::string& password, const std::string& arguments) {
    return Velmora(user, password, "upload " + arguments);
  }

  test::CommandResult Velmora(const std::string& user, const std::string& password, const std::string& arguments) {
    return test::RunCommand("VELMORA_PASSWORD=" + test::ShellQuote(password) + " " +
                            test::ShellQuote(VELMORA_CLI_PATH) + " --stage " + locker_->hostPort() + " --user " + user +
                            " " + WithTransfers(arguments));
  }

  // A file of `size` pseudo-random bytes named like an MP3 (no tags, no frames); every seed differs.
  std::string MakeNoise(const std::string& name, std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (char& byte : bytes) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      byte = static_cast<char>(state >> 56);
    }
    const auto path = (files() / name).string();
    test::WriteFile(path, bytes);
    return path;
  }

  pugi::xml_document Get(const std::string& path, const std::map<std::string, std::string>& parameters = {}) {
    pugi::xml_document document;
    const std::string body = locker_->Control(path, parameters, false);
    EXPECT_TRUE(document.load_string(body.c_str())) << body;
    return document;
  }

  // Requests per target ("items/add", "transmitfile", "upload", ...) since the last reset.
  std::map<std::string, int> Requests() {
    std::map<std::string, int> counts;
    const auto stats = Get("/_control/stats");
    for (const auto& counter : stats.select_nodes("/stats/counter")) {
      counts[counter.node().attribute("target").value()] = counter.node().attribute("requests").as_int();
    }
    return counts;
  }

  // hash id -> size of the content the service holds.
  std::map<std::string, std::uintmax_t> StoredObjects() {
    std::map<std::string, std::uintmax_t> objects;
    const pugi::xml_document list = Get("/_control/objects"); // must outlive the loop over its nodes
    for (const auto& object : list.select_nodes("/objects/object")) {
      objects[object.node().attribute("hashid").value()] = object.node().attribute("size").as_ullong();
    }
    return objects;
  }

  std::string Music() const { return test::ShellQuote((files() / "music").string()); }

  std::unique_ptr<test::LockerProcess> locker_;
  std::vector<Track> tracks_;
};

using UploadCliTest = test::OnEveryTransfers<UploadCliOneAtATimeTest>;

TEST_P(UploadCliTest, FolderIsStoredByteForByteWithMetadataAndPlaylistThenNeverSentAgain) {
  MakeTracks(4);
  const auto first = Upload("alice", "pw1", "--playlist 'Road Trip' " + Music());
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, "");
  EXPECT_THAT(first.err, HasSubstr("Online duplicate check done."));
  EXPECT_THAT(first.err, HasSubstr("Upload of " + tracks_[0].path));

  std::map<std::string, std::uintmax_t> expected;
  for (const Track& track : tracks_) expected[track.hashId] = track.size;
  EXPECT_EQ(StoredObjects(), expected);

  const auto library = Get("/_control/library", {{"user", "alice"}});
  std::map<std::string, pugi::xml_node> byHash;
  for (const auto& item : library.select_nodes("/library/item"))
    byHash[item.node().attribute("hashid").value()] = item.node();
  ASSERT_EQ(byHash.size(), tracks_.size());
  for (const Track& track : tracks_) {
    const pugi::xml_node item = byHash[track.hashId];
    EXPECT_EQ(std::string(item.attribute("name").value()), track.title);
    EXPECT_EQ(std::string(item.attribute("artist").value()), "Test Artist");
    EXPECT_EQ(std::string(item.attribute("album").value()), "Test Album");
    EXPECT_EQ(std::string(item.attribute("location").value()), track.path);
  }

  const auto playlists = Get("/_control/playlists", {{"user", "alice"}});
  const auto roadTrip = playlists.select_node("/playlists/playlist[@name='Road Trip']").node();
  ASSERT_TRUE(roadTrip);
  std::set<std::string> listed;
  for (const auto& entry : roadTrip.children("item")) listed.insert(entry.attribute("hashid").value());
  std::set<std::string> all;
  for (const Track& track : tracks_) all.insert(track.hashId);
  EXPECT_EQ(listed, all);

  locker_->Control("/_control/stats/reset");
  const auto second = Upload("alice", "pw1", Music());
  ASSERT_EQ(second.exitCode, 0) << second.err;
  const auto counts = Requests();
  EXPECT_EQ(counts.count("items/add"), 0u);
  EXPECT_EQ(counts.count("transmitfile"), 0u);
  EXPECT_EQ(counts.count("upload"), 0u);
  EXPECT_EQ(counts.at("items/checkhashvalues"), 1);
}

TEST_P(UploadCliTest, M4aAndOggFromAnM3u8PlaylistAreStoredWithTheirTags) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const auto folder = files() / "other";
  std::filesystem::create_directories(folder);
  const std::string m4a = (folder / "Caf\xC3\xA9.m4a").string(), ogg = (folder / "song.ogg").string();
  for (const auto& [path, codec, title] : {std::tuple{m4a, "aac", "Bright"}, {ogg, "libvorbis", "Dark"}}) {
    const auto made = test::RunCommand(
        "ffmpeg -nostdin -v error -f lavfi -i sine=frequency=330:duration=2 -metadata artist='Ogg & Mp4' "
        "-metadata title=" +
        std::string(title) + " -metadata album=Formats -c:a " + codec + " -y " + test::ShellQuote(path));
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }
  const auto playlist = files() / "lists/mix.m3u8";
  test::WriteFile(playlist, "#EXTM3U\n#EXTINF:2,Bright\n../other/Caf\xC3\xA9.m4a\n../other/song.ogg\n");

  const auto run = Upload("alice", "pw1", test::ShellQuote(playlist.string()));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto library = Get("/_control/library", {{"user", "alice"}});
  std::map<std::string, pugi::xml_node> byLocation;
  for (const auto& item : library.select_nodes("/library/item"))
    byLocation[item.node().attribute("location").value()] = item.node();
  ASSERT_EQ(byLocation.size(), 2u);
  for (const auto& [path, title] : {std::pair{m4a, "Bright"}, {ogg, "Dark"}}) {
    const pugi::xml_node item = byLocation[path];
    EXPECT_EQ(std::string(item.attribute("name").value()), title) << path;
    EXPECT_EQ(std::string(item.attribute("artist").value()), "Ogg & Mp4") << path;
    EXPECT_EQ(std::string(item.attribute("album").value()), "Formats") << path;
  }
  EXPECT_EQ(StoredObjects().size(), 2u);
}

TEST_P(UploadCliTest, ContentAnotherUserStoredGoesAsMetadataOnly) {
  MakeTracks(2);
  ASSERT_EQ(Upload("alice", "pw1", Music()).exitCode, 0);
  locker_->Control("/_control/stats/reset");

  const auto result = Upload("bob", "pw2", "--playlist Borrowed " + Music());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto counts = Requests();
  EXPECT_EQ(counts.at("transmitfile"), 2);
  EXPECT_EQ(counts.count("items/add"), 0u);
  EXPECT_EQ(counts.count("upload"), 0u);
  const auto requests = Get("/_control/requests");
  for (const auto& request : requests.select_nodes("/requests/request[@target='transmitfile']")) {
    EXPECT_STREQ(request.node().select_node("field[@name='checkhashresponse']").node().text().get(), "204");
  }
  EXPECT_EQ(Get("/_control/library", {{"user", "bob"}}).select_nodes("/library/item").size(), 2u);
  EXPECT_EQ(Get("/_control/playlists", {{"user", "bob"}}).select_nodes("//playlist[@name='Borrowed']/item").size(), 2u);
  EXPECT_EQ(StoredObjects().size(), 2u);
}

TEST_F(UploadCliOneAtATimeTest, RefusedRegistrationStopsTheRunAndSendsNothingMore) {
  MakeTracks(3);
  locker_->Control("/_control/faults",
                   {{"target", "items/add"}, {"kind", "fail"}, {"code", "1234"}, {"message", "Quota exceeded"}});
  const auto result = Upload("alice", "pw1", Music());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("Quota exceeded  (Error #1234\n"));
  EXPECT_THAT(result.err, HasSubstr("Upload has been aborted"));
  const auto counts = Requests();
  EXPECT_EQ(counts.at("items/add"), 1);
  EXPECT_EQ(counts.count("upload"), 0u);
  EXPECT_EQ(counts.count("transmitfile"), 0u);
  EXPECT_TRUE(StoredObjects().empty());
}

TEST_P(UploadCliTest, CutTransferKeepsTheRecordFirstAndANewRunCompletesIt) {
  MakeTracks(3);
  locker_->Control("/_control/faults", {{"target", "upload"}, {"kind", "cut-upload"}, {"bytes", "2000"}});

  {
    // The engine as the window drives it: the record in transfer stays first in the queue.
    test::RecordingUi ui;
    Engine engine(ui, {"/stage " + locker_->hostPort(), configHome() / "settings.ini"});
    engine.Startup();
    engine.SetCredentials("alice", engine.password());
    engine.SetCredentials(engine.userName(), "pw1");
    ASSERT_TRUE(engine.Login());
    engine.DropFiles({(files() / "music").string()});
    ASSERT_TRUE(engine.AnalyzeAndUpload());
    const std::string firstInQueue = engine.upload().queue().First()->location;
    engine.OnStartTimer();
    EXPECT_EQ(engine.upload().outcome(), RunOutcome::Failed);
    EXPECT_EQ(ui.errorDisplays.size(), 1u);
    ASSERT_EQ(engine.upload().queue().QueueCount(), 3);
    EXPECT_EQ(engine.upload().queue().First()->location, firstInQueue);
    EXPECT_TRUE(StoredObjects().empty());
    engine.Shutdown();
  }

  // A new run (the command line) completes it: every file once, nothing twice.
  const auto result = Upload("alice", "pw1", Music());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(StoredObjects().size(), 3u);
  EXPECT_EQ(Get("/_control/library", {{"user", "alice"}}).select_nodes("/library/item").size(), 3u);

  locker_->Control("/_control/stats/reset");
  ASSERT_EQ(Upload("alice", "pw1", Music()).exitCode, 0);
  EXPECT_EQ(Requests().count("upload"), 0u);
}

TEST_P(UploadCliTest, CutTransferCanBeResumedInTheSameRun) {
  MakeTracks(2);
  locker_->Control("/_control/faults", {{"target", "upload"}, {"kind", "cut-upload"}, {"bytes", "1000"}});
  test::RecordingUi ui;
  Engine engine(ui, {"/stage " + locker_->hostPort(), configHome() / "settings.ini"});
  engine.Startup();
  engine.SetCredentials("bob", engine.password());
  engine.SetCredentials(engine.userName(), "pw2");
  ASSERT_TRUE(engine.Login());
  engine.DropFiles({(files() / "music").string()});
  ASSERT_TRUE(engine.AnalyzeAndUpload());
  engine.OnStartTimer();
  ASSERT_EQ(engine.upload().outcome(), RunOutcome::Failed);

  engine.StopUpload();
  engine.ResumeUpload();
  EXPECT_EQ(engine.upload().outcome(), RunOutcome::Finished);
  EXPECT_TRUE(engine.upload().queue().empty());
  std::map<std::string, std::uintmax_t> expected;
  for (const Track& track : tracks_) expected[track.hashId] = track.size;
  EXPECT_EQ(StoredObjects(), expected);
  EXPECT_EQ(Get("/_control/library", {{"user", "bob"}}).select_nodes("/library/item").size(), 2u);
  engine.Shutdown();
}

TEST_P(UploadCliTest, ReportNamesWhatHappenedToEveryFileAndTheRunEndsWithItsCounts) {
  MakeTracks(4);
  const std::string inLibrary = tracks_[0].path, refused = tracks_[1].path, known = tracks_[2].path,
                    fresh = tracks_[3].path, notes = (files() / "notes.txt").string();
  test::WriteFile(notes, "not music");
  const auto q = [](const std::string& path) { return test::ShellQuote(path) + " "; };
  ASSERT_EQ(Upload("alice", "pw1", q(inLibrary)).exitCode, 0);
  ASSERT_EQ(Upload("bob", "pw2", q(refused) + q(known)).exitCode, 0);
  // The first file the service holds already is refused when its tags go.
  locker_->Control("/_control/faults",
                   {{"target", "transmitfile"}, {"kind", "fail"}, {"code", "1507"}, {"message", "Tags refused"}});

  const auto report = files() / "report.jsonl";
  const auto result = Upload(
      "alice", "pw1", "--report " + q(report.string()) + q(inLibrary) + q(refused) + q(known) + q(fresh) + q(notes));
  EXPECT_EQ(result.exitCode, 1) << "a file failed";
  EXPECT_THAT(result.err, HasSubstr("\n1 sent, 1 metadata only, 1 already in your library, 1 skipped, 1 failed\n"));

  const ReportFile read = ReadReport(report);
  ASSERT_EQ(read.files.size(), 5u) << test::ReadFile(report);
  const auto outcome = [&](const std::string& path) { return read.files.at(path).at("outcome").get<std::string>(); };
  EXPECT_EQ(outcome(notes), "skipped");
  EXPECT_EQ(read.files.at(notes).at("reason"), "unsupported type");
  EXPECT_EQ(outcome(inLibrary), "already-in-library");
  EXPECT_EQ(read.files.at(inLibrary).at("hash_id"), tracks_[0].hashId);
  // On lanes either file's tags may reach the service first.
  const bool inOrder = outcome(refused) == "failed";
  if (transfers_ == 1) {
    EXPECT_TRUE(inOrder) << "one at a time, the first file's tags go first";
  }
  const std::string& failedTags = inOrder ? refused : known;
  const std::string& sentTags = inOrder ? known : refused;
  EXPECT_EQ(outcome(failedTags), "failed");
  EXPECT_EQ(read.files.at(failedTags).at("reason"), "refused by the service: Tags refused (Error #1507)");
  EXPECT_EQ(outcome(sentTags), "metadata-only");
  EXPECT_EQ(outcome(fresh), "sent");
  EXPECT_EQ(read.files.at(fresh).at("bytes").get<std::int64_t>(), static_cast<std::int64_t>(tracks_[3].size));
  EXPECT_EQ(read.files.at(sentTags).at("bytes"), 0) << "only the tags went";
  EXPECT_GT(read.files.at(fresh).at("seconds").get<double>(), 0.0);
  EXPECT_EQ(read.summary.at("counts"),
            nlohmann::json::parse(R"({"sent":1,"metadata-only":1,"already-in-library":1,"skipped":1,"failed":1})"));
  EXPECT_EQ(read.summary.at("files"), 5);
  EXPECT_EQ(StoredObjects().count(tracks_[3].hashId), 1u);
}

// A dry run asks the service nothing but the login and the duplicate check, leaves the work
// folder's queue as it was, and the run that follows does what it listed.
TEST_P(UploadCliTest, DryRunAsksOnlyTheCheckAndTheRunThatFollowsDoesWhatItListed) {
  const std::string inLibrary = MakeNoise("music/in.mp3", 3000, 1), known = MakeNoise("music/known.mp3", 4000, 2),
                    fresh = MakeNoise("music/fresh.mp3", 5000, 3), notes = (files() / "notes.txt").string();
  test::WriteFile(notes, "not music");
  const std::string inputs = Music() + " " + test::ShellQuote(notes);
  ASSERT_EQ(Upload("alice", "pw1", test::ShellQuote(inLibrary)).exitCode, 0);
  ASSERT_EQ(Upload("bob", "pw2", test::ShellQuote(known)).exitCode, 0);
  const auto queueFile = workFolder() / "UploadQueue.xml";
  test::WriteFile(queueFile, "<queue>of an earlier run</queue>");
  locker_->Control("/_control/stats/reset");

  const auto planned = files() / "planned.jsonl", done = files() / "done.jsonl";
  const auto dry = Upload("alice", "pw1", "--dry-run --report " + test::ShellQuote(planned.string()) + " " + inputs);
  ASSERT_EQ(dry.exitCode, 0) << dry.err;
  // The request log holds every REST call and upload, in order.
  std::vector<std::string> sent;
  const pugi::xml_document log = Get("/_control/requests");
  for (const auto& request : log.select_nodes("/requests/request")) sent.push_back(request.node().attribute("target").value());
  EXPECT_EQ(sent, (std::vector<std::string>{"user/checkaccess", "sets/get", "items/checkhashvalues"}))
      << "the login (with its playlist listing), then the duplicate check";
  EXPECT_EQ(test::ReadFile(queueFile), "<queue>of an earlier run</queue>");
  const std::set<std::string> lines{"send\t" + fresh, "metadata only\t" + known,
                                    "already in your library\t" + inLibrary, "skip: unsupported type\t" + notes};
  std::istringstream out(dry.out);
  std::set<std::string> printed;
  for (std::string line; std::getline(out, line);) printed.insert(line);
  EXPECT_EQ(printed, lines);
  EXPECT_THAT(dry.err, HasSubstr("\nDry run: 1 to send (4.9 KiB), 1 metadata only, 1 already in your library, "
                                 "1 skipped, 0 failed; nothing was sent\n"));

  const auto real = Upload("alice", "pw1", "--report " + test::ShellQuote(done.string()) + " " + inputs);
  ASSERT_EQ(real.exitCode, 0) << real.err;
  const ReportFile plan = ReadReport(planned), run = ReadReport(done);
  EXPECT_EQ(plan.summary.at("dry_run"), true);
  for (const char* key : {"counts", "files", "bytes"}) EXPECT_EQ(plan.summary.at(key), run.summary.at(key)) << key;
  for (const auto& [path, line] : run.files) EXPECT_EQ(plan.files.at(path).at("outcome"), line.at("outcome")) << path;
  EXPECT_EQ(run.summary.at("bytes"), 5000);
}

// A tree with folders that cannot be read, a named pipe, links to folders (one leading back up)
// and playlists naming what is not there: every input is sent or named as skipped, in a status
// line and in the report, and the counts are the report's lines.
TEST_P(UploadCliTest, EveryInputIsSentOrNamedAsSkippedAndTheCountsAreTheReportsLines) {
  const std::string one = MakeNoise("tree/first/one.mp3", 3000, 1), two = MakeNoise("tree/second/two.mp3", 3000, 2),
                    top = MakeNoise("tree/top.mp3", 3000, 3), far = MakeNoise("outside/far.mp3", 3000, 4);
  const auto tree = files() / "tree";
  // Each folder holds a folder that cannot be read, so no listing order hides the fault.
  const test::DeepFolder deepFirst(tree / "first"), deepSecond(tree / "second");
  std::filesystem::create_directory_symlink("..", tree / "up");
  std::filesystem::create_directory_symlink(files() / "outside", tree / "out");
  const std::string treePipe = (tree / "pipe.mp3").string(), namedPipe = (files() / "named.mp3").string();
  ASSERT_EQ(::mkfifo(treePipe.c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo(namedPipe.c_str(), 0644), 0);
  const std::string notes = (files() / "notes.txt").string(), m3u = (files() / "list.m3u").string(),
                    pls = (files() / "list.pls").string();
  test::WriteFile(notes, "not music");
  test::WriteFile(m3u, "#EXTM3U\n#EXTINF:12,Some - Title\nmissing.mp3\nnotes.txt\n" + top + "\n");
  test::WriteFile(pls, "[playlist]\nFile1=gone.mp3\nTitle1=Gone\nLength1=12\nNumberOfEntries=1\nVersion=2\n");

  const auto report = files() / "report.jsonl";
  const auto q = [](const std::string& path) { return test::ShellQuote(path) + " "; };
  const auto result =
      Upload("alice", "pw1",
             "--report " + q(report.string()) + q(tree.string()) + q(namedPipe) + "/dev/null " + q(m3u) + q(pls));
  ASSERT_EQ(result.exitCode, 0) << result.err;

  const std::string byM3u = " (named by the playlist " + m3u + ")";
  const std::map<std::string, std::string> skipped{
      {deepFirst.firstUnreachable(), "cannot read the folder: File name too long"},
      {deepSecond.firstUnreachable(), "cannot read the folder: File name too long"},
      {(tree / "up").string(), "link to a folder: not followed"},
      {(tree / "out").string(), "link to a folder: not followed"},
      {treePipe, "not a regular file: a named pipe"},
      {namedPipe, "not a regular file: a named pipe"},
      {"/dev/null", "not a regular file: a device"},
      {(files() / "missing.mp3").string(), "no such file" + byM3u},
      {notes, "unsupported type" + byM3u},
      {(files() / "gone.mp3").string(), "no such file (named by the playlist " + pls + ")"}};
  const ReportFile read = ReadReport(report);
  std::map<std::string, std::string> reportedSkips;
  std::set<std::string> sent;
  for (const auto& [path, line] : read.files) {
    if (line.at("outcome") == "skipped") reportedSkips[path] = line.at("reason");
    else if (line.at("outcome") == "sent") sent.insert(path);
  }
  EXPECT_EQ(reportedSkips, skipped);
  EXPECT_EQ(sent, (std::set<std::string>{one, two, top}));
  EXPECT_EQ(read.order.size(), read.files.size()) << "each input once";
  EXPECT_EQ(read.summary.at("counts"),
            nlohmann::json::parse(R"({"sent":3,"metadata-only":0,"already-in-library":0,"skipped":10,"failed":0})"));
  EXPECT_THAT(result.err, HasSubstr("\n3 sent, 0 metadata only, 0 already in your library, 10 skipped, 0 failed\n"));
  for (const auto& [path, why] : skipped) EXPECT_THAT(result.err, HasSubstr("Skipped " + path + ": " + why + "\n"));
  EXPECT_EQ(StoredObjects().count(Sha1Hex(test::ReadFile(far))), 0u) << "nothing from outside the tree";
  EXPECT_EQ(StoredObjects().size(), 3u);
}

TEST_F(UploadCliOneAtATimeTest, RestoreReportNamesRestoredAlreadyThereAndFailedFiles) {
  MakeTracks(2);
  // The middle file is big enough for a limited download to take a few seconds.
  const std::string slow = MakeNoise("slow.mp3", 3 * 1024 * 1024, 1);
  ASSERT_EQ(
      Upload("alice", "pw1",
             test::ShellQuote(tracks_[0].path) + " " + test::ShellQuote(slow) + " " + test::ShellQuote(tracks_[1].path))
          .exitCode,
      0);
  const auto target = files() / "restored";
  std::filesystem::create_directories(target);
  const auto firstReport = files() / "restore.jsonl";
  const std::string restore = "restore --all --target " + test::ShellQuote(target.string()) + " --report ";
  ASSERT_EQ(Velmora("alice", "pw1", restore + test::ShellQuote(firstReport.string())).exitCode, 0);
  const ReportFile first = ReadReport(firstReport);
  ASSERT_EQ(first.order.size(), 3u);
  EXPECT_EQ(first.summary.at("counts"), nlohmann::json::parse(R"({"restored":3,"already-there":0,"failed":0})"));
  std::filesystem::remove(first.order[1]);
  std::filesystem::remove(first.order[2]);

  // The first file is there; while the second downloads at 1M/s the service starts refusing.
  locker_->Control("/_control/stats/reset");
  // The same report file: this run's report replaces the first one's.
  const auto report = firstReport;
  auto running = std::async(std::launch::async, [&] {
    return Velmora("alice", "pw1", restore + test::ShellQuote(report.string()) + " --limit-rate 1M");
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (locker_->RequestCounts()["download"] < 1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  locker_->Control(
      "/_control/faults",
      {{"target", "items/get/deliver"}, {"kind", "fail"}, {"code", "1404"}, {"message", "Item withdrawn"}});
  const auto result = running.get();
  EXPECT_EQ(result.exitCode, 1);

  const ReportFile second = ReadReport(report);
  ASSERT_EQ(second.order, first.order) << test::ReadFile(report);
  EXPECT_EQ(second.files.at(first.order[0]).at("outcome"), "already-there");
  EXPECT_EQ(second.files.at(first.order[1]).at("outcome"), "restored");
  EXPECT_EQ(second.files.at(first.order[1]).at("bytes"), 3 * 1024 * 1024);
  // The limit held: 3 MiB at 1 MiB/s, less what curl reads in its first burst.
  EXPECT_GT(second.files.at(first.order[1]).at("seconds").get<double>(), 1.5);
  EXPECT_EQ(second.files.at(first.order[2]).at("outcome"), "failed");
  EXPECT_EQ(second.files.at(first.order[2]).at("reason"), "refused by the service: Item withdrawn (Error #1404)");
  EXPECT_FALSE(second.files.at(first.order[2]).at("entry_key").get<std::string>().empty());
  EXPECT_EQ(second.summary.at("counts"), nlohmann::json::parse(R"({"restored":1,"already-there":1,"failed":1})"));
}

TEST_P(UploadCliTest, MalformedOptionsAreBadUsageAndAnUnwritableReportStopsTheRunBeforeItStarts) {
  MakeTracks(1);
  for (const char* rate : {"fast", "1.5M", "-1", "10MB"}) {
    const auto result = Upload("alice", "pw1", std::string("--limit-rate ") + rate + " " + Music());
    EXPECT_EQ(result.exitCode, 2) << rate;
    EXPECT_THAT(result.err, HasSubstr("not a rate")) << rate;
  }
  const auto timetable = Upload("alice", "pw1", "--limit-rate '08:00,512K 25:00,off' " + Music());
  EXPECT_EQ(timetable.exitCode, 2);
  EXPECT_THAT(timetable.err, HasSubstr("\"25:00,off\": the time of day is not HH:MM"));
  for (const char* settle : {"nan", "inf", "-inf", "-1"}) {
    // A watch that took the value would run until it is ended.
    const auto watch =
        test::RunCommand("VELMORA_PASSWORD=pw1 timeout 20 " + test::ShellQuote(VELMORA_CLI_PATH) + " --stage " +
                         locker_->hostPort() + " --user alice watch --settle " + settle + " " + Music());
    EXPECT_EQ(watch.exitCode, 2) << settle;
  }
  const auto unnamed = Upload("alice", "pw1", "--report '' " + Music());
  EXPECT_EQ(unnamed.exitCode, 2);
  EXPECT_THAT(unnamed.err, HasSubstr("--report"));
  const auto report = files() / "missing folder" / "report.jsonl";
  const auto result = Upload("alice", "pw1", "--report " + test::ShellQuote(report.string()) + " " + Music());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("Cannot write the report file " + report.string()));
  EXPECT_THAT(Requests(), Not(::testing::Contains(::testing::Key("user/checkaccess"))))
      << "nothing was sent, not even the login";
}

// The rate test: takes about 20 seconds.
TEST_P(UploadCliTest, RateLimitOf1MUploads19MiBIn17To23Seconds) {
  const std::string big = MakeNoise("big.mp3", 19 * 1024 * 1024, 7);
  const auto started = std::chrono::steady_clock::now();
  const auto result = Upload("alice", "pw1", "--limit-rate 1M " + test::ShellQuote(big));
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.err, HasSubstr("1 sent, 0 metadata only"));
  EXPECT_GE(seconds.count(), 17.0);
  EXPECT_LE(seconds.count(), 23.0);
  EXPECT_EQ(StoredObjects().size(), 1u);
}

TEST_P(UploadCliTest, MissingPathIsBadUsage) {
  const auto result = Upload("alice", "pw1", test::ShellQuote((files() / "nothing-here").string()));
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(Requests(), Not(::testing::Contains(::testing::Key("user/checkaccess"))));
}

VELMORA_ON_EVERY_TRANSFERS(UploadCliTest);

} // namespace
} // namespace velmora
