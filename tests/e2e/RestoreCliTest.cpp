// velmora restore against velmora-locker brings back byte-identical files named
// target/playlist/"Artist - Name (Album).mp3", fetches nothing twice, and after a cut or refused
// download leaves no file at the target name and completes on the next run.

#include "LockerProcess.h"
#include "TempHome.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

class RestoreCliTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw"});
  }
  test::CommandResult Velmora(const std::string& arguments) {
    return test::RunCommand("VELMORA_PASSWORD=pw " + test::ShellQuote(VELMORA_CLI_PATH) + " --stage " +
                            locker->hostPort() + " --user alice " + arguments);
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
  // Relative path -> SHA-1 of every file below the folder, hidden ones included.
  static std::map<std::string, std::string> Restored(const std::filesystem::path& target) {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(target)) {
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

TEST_F(RestoreCliTest, RestoresPlaylistsByteForByteAndFetchesNothingTwice) {
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

TEST_F(RestoreCliTest, WholeLibraryAndChosenPlaylists) {
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

  // A target that is no folder gets the restore's own message.
  const auto missing = Velmora("restore --all --target " + test::ShellQuote((files() / "missing").string()));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("Please select a valid directory where the files should be restored"));
  EXPECT_FALSE(std::filesystem::exists(files() / "missing"));
}

TEST_F(RestoreCliTest, CutOrRefusedDownloadLeavesNoFileAndTheNextRunCompletes) {
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

TEST_F(RestoreCliTest, HostilePlaylistNamesStayInsideTheTarget) {
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

} // namespace
} // namespace velmora
