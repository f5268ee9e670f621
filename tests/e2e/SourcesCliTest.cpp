// velmora itunes and velmora winamp against velmora-locker: the chosen playlists' files (at most
// the first 200 positions of an iTunes playlist) reach the service with their playlists in order;
// broken library files end the analysis with a clear message.

#include "LockerProcess.h"
#include "TempHome.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

namespace velmora {
namespace {

using ::testing::HasSubstr;

class SourcesCliTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw", "--user", "bob:pw"});
  }
  test::CommandResult Velmora(const std::string& user, const std::string& arguments, const std::string& env = "") {
    return test::RunCommand(env + " VELMORA_PASSWORD=pw " + test::ShellQuote(VELMORA_CLI_PATH) + " --stage " +
                            locker->hostPort() + " --user " + user + " " + arguments);
  }
  // A small file of its own; returns its hash id.
  std::string Track(const std::filesystem::path& path) {
    const std::string bytes = "audio of " + path.filename().string() + std::string(3000, 'z');
    test::WriteFile(path, bytes);
    return Sha1Hex(bytes);
  }
  std::set<std::string> StoredHashIds() const {
    std::set<std::string> ids;
    const pugi::xml_document objects = locker->Document("/_control/objects");
    for (const auto& node : objects.select_nodes("/objects/object")) {
      ids.insert(node.node().attribute("hashid").value());
    }
    return ids;
  }
  // Playlist name -> its hash ids in order, for the user.
  std::map<std::string, std::vector<std::string>> ServicePlaylists(const std::string& user) const {
    std::map<std::string, std::vector<std::string>> playlists;
    const pugi::xml_document document = locker->Document("/_control/playlists", {{"user", user}});
    for (const auto& node : document.select_nodes("/playlists/playlist")) {
      auto& ids = playlists[node.node().attribute("name").value()];
      for (const auto& item : node.node().children("item")) ids.push_back(item.attribute("hashid").value());
    }
    return playlists;
  }

  std::unique_ptr<test::LockerProcess> locker;
};

// An iTunes library export: tracks by id, playlists listing track ids.
class LibraryExport {
public:
  int AddFile(const std::string& name, const std::string& path) {
    return Add("<key>Name</key><string>" + name +
               "</string><key>Track Type</key><string>File</string>"
               "<key>Location</key><string>file://localhost" +
               test::PercentEncodedPath(path) + "</string>");
  }
  int AddStream(const std::string& name) {
    return Add("<key>Name</key><string>" + name + "</string><key>Track Type</key><string>URL</string>");
  }
  void AddPlaylist(const std::string& name, const std::vector<int>& ids, bool master = false) {
    std::string items;
    for (int id : ids) items += "<dict><key>Track ID</key><integer>" + std::to_string(id) + "</integer></dict>";
    playlists_ += "<dict><key>Name</key><string>" + name + "</string>" + (master ? "<key>Master</key><true/>" : "") +
                  "<key>Playlist Items</key><array>" + items + "</array></dict>";
  }
  std::string Text() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Tracks</key><dict>" +
           tracks_ + "</dict><key>Playlists</key><array>" + playlists_ + "</array></dict></plist>\n";
  }

private:
  int Add(const std::string& fields) {
    const int id = next_++;
    tracks_ += "<key>" + std::to_string(id) + "</key><dict><key>Track ID</key><integer>" + std::to_string(id) +
               "</integer>" + fields + "</dict>";
    return id;
  }
  int next_ = 100;
  std::string tracks_, playlists_;
};

TEST_F(SourcesCliTest, ITunesUploadsChosenPlaylistsUpTo200PositionsAndTheirOrder) {
  LibraryExport library;
  std::vector<int> big, mixed, all;
  std::vector<std::string> bigHashes, mixedHashes;
  for (int i = 0; i < 250; ++i) {
    const auto path = files() / "music" / ("big " + std::to_string(i) + ".mp3");
    const std::string hash = Track(path);
    if (i < 200) bigHashes.push_back(hash);
    big.push_back(library.AddFile("Big " + std::to_string(i), path.string()));
  }
  mixed.push_back(library.AddFile("Gone", (files() / "music" / "gone.mp3").string()));
  mixed.push_back(library.AddStream("Radio"));
  const auto wave = files() / "music" / "wave.wav";
  Track(wave);
  mixed.push_back(library.AddFile("Wave", wave.string()));
  for (const char* name : {"song.ogg", "tune é.m4a"}) {
    const auto path = files() / "music" / name;
    mixedHashes.push_back(Track(path));
    mixed.push_back(library.AddFile(name, path.string()));
  }
  const auto skipped = files() / "music" / "skipped.mp3";
  Track(skipped);
  const int skippedId = library.AddFile("Skipped", skipped.string());
  all = big;
  all.insert(all.end(), mixed.begin(), mixed.end());
  all.push_back(skippedId);
  library.AddPlaylist("Library", all, true);
  library.AddPlaylist("Big", big);
  library.AddPlaylist("Mixed", mixed);
  library.AddPlaylist("Not chosen", {skippedId});
  const auto xml = files() / "iTunes Music Library.xml";
  test::WriteFile(xml, library.Text());

  const auto result =
      Velmora("alice", "itunes --library " + test::ShellQuote(xml.string()) + " --playlist Big --playlist Mixed");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::set<std::string> expected(bigHashes.begin(), bigHashes.end());
  expected.insert(mixedHashes.begin(), mixedHashes.end());
  EXPECT_EQ(StoredHashIds(), expected);
  const auto playlists = ServicePlaylists("alice");
  EXPECT_EQ(playlists.at("Big"), bigHashes);
  EXPECT_EQ(playlists.at("Mixed"), mixedHashes);
  EXPECT_EQ(playlists.count("Not chosen"), 0u);

  // The whole library: every supported existing file, and no playlist.
  const auto whole = Velmora("bob", "itunes --all --library " + test::ShellQuote(xml.string()));
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  EXPECT_EQ(locker->Document("/_control/library", {{"user", "bob"}}).select_nodes("/library/item").size(), 253u);
  EXPECT_TRUE(ServicePlaylists("bob").empty());
}

TEST_F(SourcesCliTest, ITunesWithoutALibraryGivesTheStartMessage) {
  const auto result = Velmora("alice", "itunes --all", "HOME=" + test::ShellQuote(files().string()));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("Unable to start iTunes - please retry or make sure the latest version of "
                                    "iTunes is installed correctly."));
  const auto broken = files() / "broken.xml";
  test::WriteFile(broken, "<plist><dict><key>Tracks</key><dict>");
  EXPECT_EQ(Velmora("alice", "itunes --library " + test::ShellQuote(broken.string())).exitCode, 1);
  const auto missing = Velmora("alice", "itunes --library " + test::ShellQuote((files() / "none.xml").string()));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("Unable to start iTunes - please retry"));
}

class WinampCliTest : public SourcesCliTest {
protected:
  void SetUp() override {
    SourcesCliTest::SetUp();
    if (IsSkipped()) return;
    prefix = files() / "wine";
    const auto drive = files() / "drive_c";
    ml = drive / "Program Files" / "Winamp" / "Plugins" / "ml";
    std::filesystem::create_directories(prefix / "dosdevices");
    std::filesystem::create_directories(ml);
    std::filesystem::create_directory_symlink(drive, prefix / "dosdevices" / "c:");
    test::WriteFile(prefix / "user.reg",
                    "WINE REGISTRY Version 2\n\n[Software\\\\Winamp] 1\n@=\"C:\\\\Program Files\\\\Winamp\"\n");
    test::WriteFile(drive / "Program Files" / "Winamp" / "winamp.exe", "MZ");
    for (const char* name : {"a", "b", "c"}) hashes[name] = Track(drive / "Music" / (std::string(name) + ".mp3"));
    Track(drive / "Music" / "d.wma");
  }
  std::string Env() const { return "WINEPREFIX=" + test::ShellQuote(prefix.string()); }

  std::filesystem::path prefix, ml;
  std::map<std::string, std::string> hashes;
};

TEST_F(WinampCliTest, UploadsTheCheckedPlaylistsFoundThroughTheWinePrefix) {
  test::WriteFile(ml / "playlists.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><playlists playlists=\"2\">"
                  "<playlist filename=\"plf1.m3u8\" title=\"Evening\" songs=\"3\"/>"
                  "<playlist filename=\"plf2.m3u8\" title=\"Morning\" songs=\"1\"/></playlists>");
  test::WriteFile(ml / "plf1.m3u8",
                  "#EXTM3U\r\n#EXTINF:1,A\r\nC:\\Music\\a.mp3\r\nC:\\Music\\d.wma\r\nC:\\music\\B.MP3\r\n");
  test::WriteFile(ml / "plf2.m3u8", "C:\\Music\\c.mp3\r\n");

  // A title that matches no playlist is an error, not an empty choice (which would send all).
  const auto typo = Velmora("alice", "winamp --only Evening --only Evenign --only Nite", Env());
  EXPECT_EQ(typo.exitCode, 1);
  EXPECT_THAT(typo.err, HasSubstr("No Winamp playlist titled \"Evenign\", \"Nite\""));
  EXPECT_TRUE(StoredHashIds().empty());
  EXPECT_TRUE(ServicePlaylists("alice").empty());

  const auto result = Velmora("alice", "winamp --only Evening", Env());
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.err, HasSubstr("Scanning playlist Evening"));
  EXPECT_EQ(StoredHashIds(), (std::set<std::string>{hashes["a"], hashes["b"]}));
  // Both playlists were described at analysis time; only the checked one's files were sent.
  const auto playlists = ServicePlaylists("alice");
  EXPECT_EQ(playlists.at("Evening"), (std::vector<std::string>{hashes["a"], hashes["b"]}));
  EXPECT_EQ(playlists.at("Morning"), std::vector<std::string>{hashes["c"]});

  const auto everything = Velmora("bob", "winamp", Env());
  ASSERT_EQ(everything.exitCode, 0) << everything.err;
  EXPECT_EQ(StoredHashIds().size(), 3u);
}

TEST_F(WinampCliTest, BrokenPlaylistsFileEndsTheAnalysisWithAClearMessage) {
  test::WriteFile(ml / "playlists.xml", "<playlists><playlist filename=\"plf1.m3u8\" title=\"Cut");
  const auto result = Velmora("alice", "winamp", Env());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("The Winamp playlists file"));
  EXPECT_TRUE(StoredHashIds().empty());

  const auto missing =
      Velmora("alice", "winamp --playlists-file " + test::ShellQuote((ml / "none.xml").string()), Env());
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err, HasSubstr("Please select a valid playlist.xml file"));
}

} // namespace
} // namespace velmora
