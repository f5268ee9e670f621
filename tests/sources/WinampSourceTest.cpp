// The Winamp source finds Winamp in the Wine prefix, reads its playlists file and playlist files
// (Windows paths mapped through dosdevices), takes existing MP3 entries only, and queues the
// files of the checked playlists (of all when none is checked); broken input ends the analysis
// with a clear error.

#include "EngineInternals.h"
#include "app/Engine.h"
#include "sources/WinampSource.h"
#include "store/Sha1.h"

#include "RecordingUi.h"
#include "SourceTestService.h"
#include "TempHome.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

class WinampSourceTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    prefix = files() / "wine";
    drive = files() / "drive_c";
    ml = drive / "Program Files" / "Winamp" / "Plugins" / "ml";
    std::filesystem::create_directories(prefix / "dosdevices");
    std::filesystem::create_directories(ml);
    std::filesystem::create_directory_symlink(drive, prefix / "dosdevices" / "c:");
    test::WriteFile(prefix / "user.reg",
                    "WINE REGISTRY Version 2\n\n[Software\\\\Winamp] 1700000000\n"
                    "@=\"C:\\\\Program Files\\\\Winamp\"\n");
    test::WriteFile(drive / "Program Files" / "Winamp" / "winamp.exe", "MZ");
    for (const char* song : {"one", "two", "three", "four"}) test::WriteFile(Music(song), std::string("audio ") + song);
    test::WriteFile(drive / "Music" / "tune.wma", "wma");
    ::setenv("WINEPREFIX", prefix.c_str(), 1);
  }
  void TearDown() override {
    engine.reset();
    TempHomeTest::TearDown();
  }
  std::filesystem::path Music(const std::string& name) const { return drive / "Music" / (name + ".mp3"); }
  void Start() {
    engine = std::make_unique<Engine>(ui, EngineOptions{service.stageArgument(), {}});
    engine->Startup();
    engine->SetLoggedIn();
  }
  void WritePlaylists(const std::string& entries) {
    test::WriteFile(ml / "playlists.xml", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<playlists playlists=\"3\">" +
                                              entries + "</playlists>");
  }
  std::vector<std::string> QueuedNames() const {
    std::vector<std::string> names;
    for (const auto& record : engine->upload().queue().records()) names.push_back(record.name);
    return names;
  }

  test::SourceTestService service;
  test::RecordingUi ui;
  std::unique_ptr<Engine> engine;
  std::filesystem::path prefix, drive, ml;
};

TEST_F(WinampSourceTest, FindsThePlaylistsFileAtStartUpUnlessAnotherIsStored) {
  Start();
  EXPECT_EQ(engine->winampLocation(),
            (prefix / "dosdevices/c:/Program Files/Winamp/Plugins/ml/playlists.xml").string());
  engine->SetWinampLocation("/elsewhere/playlists.xml");
  engine->Shutdown();
  Start();
  EXPECT_EQ(engine->winampLocation(), "/elsewhere/playlists.xml");
}

TEST_F(WinampSourceTest, AnalysisTakesExistingMp3EntriesAndUploadsCheckedPlaylists) {
  WritePlaylists(
      "<playlist filename=\"plf1.m3u8\" title=\"Road\" id=\"{A}\" songs=\"4\" seconds=\"900\"/>"
      "<playlist filename=\"plf2.m3u8\" title=\"Zero\" songs=\"0\"/>"
      "<playlist filename=\"missing.m3u8\" title=\"Gone\" songs=\"2\"/>"
      "<playlist filename=\"plf3.m3u8\" title=\"It's mine\" songs=\"2\"/>"
      "<playlist title=\"No file attribute\" songs=\"1\"/>");
  test::WriteFile(ml / "plf1.m3u8",
                  "#EXTM3U\r\n#EXTINF:200,One\r\nC:\\Music\\one.mp3\r\nC:\\Music\\tune.wma\r\n"
                  "c:\\MUSIC\\TWO.mp3\r\n\r\nhttp://radio/stream.mp3\r\nC:\\Music\\nothere.mp3\r\n");
  test::WriteFile(ml / "plf2.m3u8", "C:\\Music\\four.mp3\r\n");
  test::WriteFile(ml / "plf3.m3u8", "C:\\Music\\three.mp3\rC:\\Music\\one.mp3\r"); // CR alone ends a line too
  Start();
  engine->AnalyzeWinampData();
  ASSERT_TRUE(ui.errorDisplays.empty()) << ui.errorDisplays.front();

  ASSERT_EQ(engine->winamp().rows.size(), 2u);
  EXPECT_EQ(engine->winamp().rows[0].caption, "Road");
  EXPECT_EQ(engine->winamp().rows[0].items, "4"); // Winamp's own count
  EXPECT_EQ(engine->winamp().rows[0].hashValues, Sha1Hex("audio one") + "\r\n" + Sha1Hex("audio two") + "\r\n");
  EXPECT_EQ(engine->winamp().itemsFound, "4"); // one.mp3 counts in both playlists
  EXPECT_TRUE(ui.sawStatus("     Scanning playlist It's mine"));
  EXPECT_EQ(EngineInternals::collection(*engine).playlists[0].Locations,
            (std::vector<std::string>{"C:\\Music\\one.mp3", "c:\\MUSIC\\TWO.mp3"}));
  EXPECT_EQ(engine->winamp().locations.HashIdOf("c:\\MUSIC\\TWO.mp3"), Sha1Hex("audio two"));
  EXPECT_EQ(EngineInternals::collection(*engine).items[0].Location, (prefix / "dosdevices/c:/Music/one.mp3").string());
  EXPECT_EQ(EngineInternals::collection(*engine).items[1].Location,
            (prefix / "dosdevices/c:/Music/two.mp3").string()); // as on disk

  // The song count of 4 lists the two taken entries, in order, without repeats.
  const std::string playlistFile = test::ReadFile(engine->upload().CurrentPlaylistFile);
  const auto first = playlistFile.find(Sha1Hex("audio one"));
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(playlistFile.find(Sha1Hex("audio two"), playlistFile.find(Sha1Hex("audio two")) + 1), std::string::npos);

  engine->SetWinampPlaylistChecked(1, false);
  ASSERT_TRUE(engine->StartWinampUpload());
  EXPECT_EQ(QueuedNames(), (std::vector<std::string>{"one.mp3", "two.mp3"}));
}

TEST_F(WinampSourceTest, NoRowCheckedQueuesEveryEligibleItem) {
  WritePlaylists(
      "<playlist filename=\"plf1.m3u8\" title=\"Road\" songs=\"1\"/>"
      "<playlist filename=\"plf2.m3u8\" title=\"Home\" songs=\"1\"/>");
  test::WriteFile(ml / "plf1.m3u8", "C:\\Music\\one.mp3\n");
  test::WriteFile(ml / "plf2.m3u8", "C:\\Music\\two.mp3\n");
  Start();
  engine->AnalyzeWinampData();
  for (std::size_t i = 0; i < engine->winamp().rows.size(); ++i) engine->SetWinampPlaylistChecked(i, false);
  ASSERT_TRUE(engine->StartWinampUpload());
  EXPECT_EQ(QueuedNames(), (std::vector<std::string>{"one.mp3", "two.mp3"}));
}

TEST_F(WinampSourceTest, RefusalsAndBrokenFiles) {
  Start();
  Engine loggedOut(ui, EngineOptions{service.stageArgument(), {}});
  loggedOut.AnalyzeWinampData();
  EXPECT_EQ(ui.messages.back(), "Please log in.");

  engine->SetWinampLocation(ml.string()); // a folder, not the file
  engine->AnalyzeWinampData();
  EXPECT_EQ(ui.messages.back(), "Please select a valid playlist.xml file");

  engine->SetWinampLocation((ml / "playlists.xml").string());
  for (const std::string& broken :
       {std::string("<playlists><playlist filename=\"a\""), std::string("\x01\x02 not xml")}) {
    test::WriteFile(ml / "playlists.xml", broken);
    try {
      engine->AnalyzeWinampData();
      ADD_FAILURE() << "a broken playlists file must end the analysis";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find("playlists file"), std::string::npos) << error.what();
    }
  }
  test::WriteFile(ml / "plf1.m3u8", "C:\\Music\\one.mp3\n");
  WritePlaylists("<playlist filename=\"plf1.m3u8\" title=\"Road\" songs=\"many\"/>");
  EXPECT_THROW(engine->AnalyzeWinampData(), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(workFolder() / "mediaitems_1.xml")); // nothing written half-way
}

} // namespace
} // namespace velmora
