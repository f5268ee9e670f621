// velmora restore against velmora-locker brings back byte-identical files named
// target/playlist/"Artist - Name (Album).mp3", fetches nothing twice, and after a cut or refused
// download leaves no file at the target name and completes on the next run.

#include "LockerProcess.h"
#include "TempHome.h"
#include "sources/M3uPlaylist.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

namespace velmora {
namespace {

using ::testing::HasSubstr;

// An ID3v1 tag: "TAG", title, artist, album (30 bytes each), year, comment, genre.
std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album) {
  auto field = [](std::string text, std::size_t size) {
    text.resize(size, '\0');
    return text;
  };
  return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + "2024" + field("", 30) + '\x0c';
}

// Audio-like bytes of their own per track, then the tag.
std::string TaggedTrack(const std::string& title, const std::string& artist, const std::string& album,
                        std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + title.size() * 7 + title[0]) % 251);
  return bytes + Id3v1(title, artist, album);
}

class RestoreCliOneAtATimeTest : public test::TransfersTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw"});
  }
  test::CommandResult Velmora(const std::string& arguments) {
    return test::RunCommand("VELMORA_PASSWORD=pw " + test::ShellQuote(VELMORA_CLI_PATH) + " --stage " +
                            locker->hostPort() + " --user alice " + WithTransfers(arguments));
  }
  // Uploads the tracks as one drop into the playlist; remembers their bytes by restored name.
  void UploadInto(const std::string& playlist, const std::vector<std::array<std::string, 3>>& tracks) {
    const auto folder = files() / ("up-" + std::to_string(uploads++));
    for (const auto& [title, artist, album] : tracks) {
      const std::string bytes = TaggedTrack(title, artist, album, 40000 + 1000 * title.size());
      test::WriteFile(folder / (title + ".mp3"), bytes);
      expected[artist + " - " + title + " (" + album + ")"] = Sha1Hex(bytes);
    }
    const auto result =
        Velmora("upload --playlist " + test::ShellQuote(playlist) + " " + test::ShellQuote(folder.string()));
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }
  std::filesystem::path NewTarget(const std::string& name) {
    const auto target = files() / name;
    std::filesystem::create_directories(target);
    return target;
  }
  // Relative path -> SHA-1 of every file below the folder, hidden ones included, but for the
  // playlist files beside the playlist folders.
  static std::map<std::string, std::string> Restored(const std::filesystem::path& target) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(target)) {
      if (entry.path().parent_path() == target && entry.path().extension() == ".m3u8") continue;
      if (entry.is_regular_file()) {
        found[std::filesystem::relative(entry.path(), target).string()] = Sha1Hex(test::ReadFile(entry.path()));
      }
    }
    return found;
  }

  std::unique_ptr<test::LockerProcess> locker;
  std::map<std::string, std::string> expected; // display name -> SHA-1
  int uploads = 0;
};

using RestoreCliTest = test::OnEveryTransfers<RestoreCliOneAtATimeTest>;

TEST_P(RestoreCliTest, RestoresPlaylistsByteForByteAndFetchesNothingTwice) {
  UploadInto("Mix", {{{"First", "Band", "One"}}, {{"Second", "Band", "Two"}}});
  UploadInto("Road: trip", {{{"Third", "Solo", "Three"}}});
  // "First" is in both playlists: uploading it again only adds it to the second playlist.
  const auto again =
      Velmora("upload --playlist 'Road: trip' " + test::ShellQuote((files() / "up-0" / "First.mp3").string()));
  ASSERT_EQ(again.exitCode, 0) << again.err;

  const auto target = NewTarget("restore");
  locker->Control("/_control/stats/reset");
  const auto result = Velmora("restore --target " + test::ShellQuote(target.string()));
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("Next file: " + (target / "Mix" / "Band - First (One).mp3").string() + "\n"));
  EXPECT_THAT(result.out, HasSubstr("Item found | Name: Third; Artist: Solo; Album:Three\n"));

  const auto restored = Restored(target);
  EXPECT_EQ(restored, (std::map<std::string, std::string>{
                          {"Mix/Band - First (One).mp3", expected["Band - First (One)"]},
                          {"Mix/Band - Second (Two).mp3", expected["Band - Second (Two)"]},
                          {"Road trip/Solo - Third (Three).mp3", expected["Solo - Third (Three)"]}}));
  EXPECT_EQ(locker->RequestCounts()["items/get/deliver"], 3); // "First" once, though listed twice

  locker->Control("/_control/stats/reset");
  const auto second = Velmora("restore --target " + test::ShellQuote(target.string()));
  ASSERT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(locker->RequestCounts()["items/get/deliver"], 0);
  EXPECT_EQ(Restored(target), restored);
}

// Two tracks with equal tags, three playlists whose names clean to "Rock" and one with a line
// break: every track comes back, each playlist in a folder and playlist file of its own that the
// next run finds again, and --playlist chooses by the service's name exactly.
TEST_P(RestoreCliTest, CollidingNamesAllComeBackUnderStableNamesAndPlaylistsAreChosenByExactName) {
  std::map<std::string, std::string> hashOf; // file name below up/ -> SHA-1
  const auto upload = [&](const std::string& playlist, const std::string& file, const std::string& title,
                          std::size_t size) {
    const std::string bytes = TaggedTrack(title, "Band", "Album", size);
    test::WriteFile(files() / "up" / file, bytes);
    hashOf[file] = Sha1Hex(bytes);
    const auto result = Velmora("upload --playlist " + test::ShellQuote(playlist) + " " +
                                test::ShellQuote((files() / "up" / file).string()));
    ASSERT_EQ(result.exitCode, 0) << result.err;
  };
  upload("Rock?", "twin1.mp3", "Same", 40000);
  upload("Rock?", "twin2.mp3", "Same", 41000); // other bytes, the same tags
  upload("Rock*", "star.mp3", "Star", 42000);
  upload("Rock", "plain.mp3", "Plain", 43000);
  upload("Line\nBreak", "wrap.mp3", "Wrap", 44000);

  const auto one = NewTarget("one");
  const auto chosen = Velmora("restore --playlist Rock --target " + test::ShellQuote(one.string()));
  ASSERT_EQ(chosen.exitCode, 0) << chosen.err;
  EXPECT_EQ(Restored(one),
            (std::map<std::string, std::string>{{"Rock/Band - Plain (Album).mp3", hashOf["plain.mp3"]}}));

  // A name that cleans to a file name of its own keeps it; the others are numbered in the
  // service's order of playlists.
  const auto all = NewTarget("all");
  const auto first = Velmora("restore --target " + test::ShellQuote(all.string()));
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_THAT(first.err, HasSubstr("5 restored, 0 already there, 0 failed\n"));
  const std::map<std::string, std::string> expectedAll{{"Rock/Band - Plain (Album).mp3", hashOf["plain.mp3"]},
                                                       {"Rock (2)/Band - Same (Album).mp3", hashOf["twin1.mp3"]},
                                                       {"Rock (2)/Band - Same (Album) (2).mp3", hashOf["twin2.mp3"]},
                                                       {"Rock (3)/Band - Star (Album).mp3", hashOf["star.mp3"]},
                                                       {"Line Break/Band - Wrap (Album).mp3", hashOf["wrap.mp3"]}};
  EXPECT_EQ(Restored(all), expectedAll);
  const std::string rock2 = test::ReadFile(all / "Rock (2).m3u8");
  EXPECT_THAT(rock2, HasSubstr("\nRock (2)/Band - Same (Album).mp3\n"));
  EXPECT_THAT(rock2, HasSubstr("\nRock (2)/Band - Same (Album) (2).mp3\n"));
  EXPECT_THAT(test::ReadFile(all / "Rock (3).m3u8"), HasSubstr("\nRock (3)/Band - Star (Album).mp3\n"));
  EXPECT_THAT(test::ReadFile(all / "Line Break.m3u8"), HasSubstr("\nLine Break/Band - Wrap (Album).mp3\n"));
  const auto again = Velmora("restore --target " + test::ShellQuote(all.string()));
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_THAT(again.err, HasSubstr("0 restored, 5 already there, 0 failed\n"));
  EXPECT_EQ(Restored(all), expectedAll);

  // The name with a line break is chosen as `velmora playlists` prints it.
  const auto listed = Velmora("playlists");
  EXPECT_THAT(listed.out, HasSubstr("Line Break\t"));
  const auto wrap = NewTarget("wrap");
  const auto printed = Velmora("restore --playlist 'Line Break' --target " + test::ShellQuote(wrap.string()));
  ASSERT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_EQ(Restored(wrap),
            (std::map<std::string, std::string>{{"Line Break/Band - Wrap (Album).mp3", hashOf["wrap.mp3"]}}));

  // The whole library: the tracks with equal tags are two files there too.
  const auto library = NewTarget("library");
  const auto whole = Velmora("restore --all --target " + test::ShellQuote(library.string()));
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  EXPECT_THAT(whole.err, HasSubstr("5 restored, 0 already there, 0 failed\n"));
  const auto restored = Restored(library);
  EXPECT_EQ(restored.size(), 5u);
  EXPECT_EQ(restored.count("All items/Band - Same (Album) (2).mp3"), 1u);
}

// How often a command read a file to hash it: the fingerprint cache says so on every miss.
int FilesHashed(const test::CommandResult& result) {
  int count = 0;
  for (std::size_t at = result.err.find("Deep analysis of "); at != std::string::npos;
       at = result.err.find("Deep analysis of ", at + 1))
    ++count;
  return count;
}

TEST_P(RestoreCliTest, RestoredPlaylistPlaysInOrderAndItsFilesAreKnownToTheNextUpload) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ffmpeg is not installed";
  // Uploaded one by one, so the service's order is not the order of the names.
  const std::vector<std::pair<std::string, int>> tracks{{"Zulu", 3}, {"Alpha", 1}, {"Mike", 2}};
  for (const auto& [title, seconds] : tracks) {
    const auto file = files() / "music" / (title + ".mp3");
    std::filesystem::create_directories(file.parent_path());
    const auto made = test::RunCommand(
        "ffmpeg -nostdin -v error -f lavfi -i sine=frequency=" + std::to_string(300 + 100 * seconds) +
        ":duration=" + std::to_string(seconds) + " -metadata title=" + title +
        " -metadata artist='The Band' -metadata album=Road -c:a libmp3lame -y " + test::ShellQuote(file.string()));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const auto uploaded = Velmora("upload --playlist 'Road: trip' " + test::ShellQuote(file.string()));
    ASSERT_EQ(uploaded.exitCode, 0) << uploaded.err;
    EXPECT_EQ(FilesHashed(uploaded), 1);
  }

  const auto target = NewTarget("restored");
  const auto restored = Velmora("restore --playlist 'Road: trip' --target " + test::ShellQuote(target.string()));
  ASSERT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_THAT(restored.err, HasSubstr("3 restored, 0 already there, 0 failed\n"));
  EXPECT_EQ(test::ReadFile(target / "Road trip.m3u8"),
            "#EXTM3U\n"
            "#EXTINF:3,The Band - Zulu\nRoad trip/The Band - Zulu (Road).mp3\n"
            "#EXTINF:1,The Band - Alpha\nRoad trip/The Band - Alpha (Road).mp3\n"
            "#EXTINF:2,The Band - Mike\nRoad trip/The Band - Mike (Road).mp3\n");
  // The project's reader and a second one (ffprobe, through each entry) find every track.
  const auto entries = M3u8Playlist().ExistingFiles((target / "Road trip.m3u8").string());
  ASSERT_EQ(entries.size(), tracks.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto probed = test::RunCommand("cd " + test::ShellQuote(target.string()) +
                                         " && ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                         test::ShellQuote("Road trip/The Band - " + tracks[i].first + " (Road).mp3"));
    ASSERT_EQ(probed.exitCode, 0) << probed.err;
    EXPECT_NEAR(std::stod(probed.out), tracks[i].second, 0.5) << entries[i];
  }

  // Uploading the restored folder reads no file for its hash id and sends no content.
  locker->Control("/_control/stats/reset");
  const auto again = Velmora("upload " + test::ShellQuote(target.string()));
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(FilesHashed(again), 0) << again.err;
  auto requests = locker->RequestCounts();
  EXPECT_EQ(requests["items/checkhashvalues"], 1);
  EXPECT_EQ(requests["items/add"], 0);
  EXPECT_EQ(requests["upload"], 0);
}

TEST_P(RestoreCliTest, WholeLibraryAndChosenPlaylists) {
  UploadInto("Mix", {{{"First", "Band", "One"}}});
  UploadInto("Other", {{{"Second", "Band", "Two"}}});
  const auto all = NewTarget("all");
  ASSERT_EQ(Velmora("restore --all --target " + test::ShellQuote(all.string())).exitCode, 0);
  EXPECT_EQ(Restored(all).size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(all / "All items" / "Band - Second (Two).mp3"));

  const auto chosen = NewTarget("chosen");
  ASSERT_EQ(Velmora("restore --playlist Other --target " + test::ShellQuote(chosen.string())).exitCode, 0);
  EXPECT_EQ(Restored(chosen),
            (std::map<std::string, std::string>{{"Other/Band - Second (Two).mp3", expected["Band - Second (Two)"]}}));
  const auto unknown = Velmora("restore --playlist Nowhere --target " + test::ShellQuote(chosen.string()));
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_THAT(unknown.err, HasSubstr("Nowhere"));

  // A target that is no folder gets the restore's own message, and no summary of a restore that
  // never ran, even where the summary is all that is shown.
  const auto missing = Velmora("restore --all --quiet --target " + test::ShellQuote((files() / "missing").string()));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "Error: Please select a valid directory where the files should be restored\n");
  EXPECT_FALSE(std::filesystem::exists(files() / "missing"));
}

TEST_F(RestoreCliOneAtATimeTest, CutOrRefusedDownloadLeavesNoFileAndTheNextRunCompletes) {
  UploadInto("Mix", {{{"First", "Band", "One"}}, {{"Second", "Band", "Two"}}});
  const std::vector<std::map<std::string, std::string>> faults{
      {{"target", "download"}, {"kind", "cut"}, {"bytes", "20000"}},
      {{"target", "download"}, {"kind", "http"}, {"status", "500"}},
      {{"target", "items/get/deliver"}, {"kind", "fail"}, {"code", "4711"}, {"message", "Not now"}}};
  for (std::size_t i = 0; i < faults.size(); ++i) {
    const auto target = NewTarget("fault" + std::to_string(i));
    locker->Control("/_control/faults", faults[i]);
    const auto failed = Velmora("restore --target " + test::ShellQuote(target.string()));
    EXPECT_EQ(failed.exitCode, 1) << i;
    EXPECT_THAT(failed.err, HasSubstr("0 restored, 0 already there, 1 failed\n"));
    EXPECT_TRUE(Restored(target).empty()) << i << ": nothing at the target name, no partial file";
    if (i == 2) {
      EXPECT_THAT(failed.err, HasSubstr("Could not load data from server - error 4711 (details: Not now)"));
    }

    const auto next = Velmora("restore --target " + test::ShellQuote(target.string()));
    ASSERT_EQ(next.exitCode, 0) << next.err;
    EXPECT_EQ(Restored(target).size(), 2u) << i;
    EXPECT_EQ(Restored(target)["Mix/Band - First (One).mp3"], expected["Band - First (One)"]);
  }
}

TEST_P(RestoreCliTest, HostilePlaylistNamesStayInsideTheTarget) {
  for (const std::string& name : {std::string(".."), std::string("../../etc"), std::string("a/../../b"),
                                  std::string(300, 'x'), std::string("tab\there\x01")}) {
    locker->Control("/_control/playlists", {{"user", "alice"}, {"name", name}});
  }
  UploadInto("..", {{{"Climb", "Evil", "Up"}}});
  const auto target = NewTarget("inside");
  const auto result = Velmora("restore --target " + test::ShellQuote(target.string()));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  for (const auto& entry : std::filesystem::directory_iterator(files())) {
    EXPECT_NE(entry.path().filename(), "Evil - Climb (Up).mp3");
  }
  EXPECT_EQ(Restored(target).size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(target / "_.." / "Evil - Climb (Up).mp3"));
}

// Files small enough to land whole in a socket's receive buffer still come at the limit: 2 MB at
// 200 KiB/s take about 10 s, not the fraction of it they take when only curl's reads are limited.
TEST_P(RestoreCliTest, SpeedLimitHoldsForFilesThatFitTheReceiveBuffer) {
  const auto folder = files() / "up";
  for (const std::string title : {"One", "Two"}) {
    test::WriteFile(folder / (title + ".mp3"), TaggedTrack(title, "Band", "Album", 1'000'000));
  }
  ASSERT_EQ(Velmora("upload " + test::ShellQuote(folder.string())).exitCode, 0);
  const auto target = NewTarget("restored");
  const auto started = std::chrono::steady_clock::now();
  const auto result = Velmora("restore --all --limit-rate 200K --target " + test::ShellQuote(target.string()));
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Restored(target).size(), 2u);
  const double kibPerSecond = 2 * 1'000'128 / 1024.0 / seconds.count();
  EXPECT_LE(kibPerSecond, 200 * 1.15);
  EXPECT_GE(kibPerSecond, 200 * 0.5);
}

VELMORA_ON_EVERY_TRANSFERS(RestoreCliTest);

} // namespace
} // namespace velmora
