// The iTunes source lists plain playlists with tracks, collects at most the first 200 positions
// of each chosen playlist (or every supported existing file of the library), and queues exactly
// the chosen files with their playlists described in the playlist file.

#include "EngineInternals.h"
#include "app/Engine.h"
#include "sources/ITunesSource.h"
#include "sources/ITunesXmlLibrary.h"
#include "store/Sha1.h"

#include "RecordingUi.h"
#include "SourceTestService.h"
#include "TempHome.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using namespace itunes;

// A fake automation layer: tracks and playlists held in plain vectors.
struct FakeTrackData {
  int kind = kTrackKindFile;
  std::string name, artist, location;
  bool fetchFails = false;
};

class FakeFileTrack : public FileTrack {
public:
  explicit FakeFileTrack(std::string location) : location_(std::move(location)) {}
  std::string Location() const override { return location_; }
  int BitRate() const override { return 128; }
  int SampleRate() const override { return 44100; }

private:
  std::string location_;
};

class FakeTrack : public Track {
public:
  explicit FakeTrack(FakeTrackData data) : data_(std::move(data)) {}
  int Kind() const override { return data_.kind; }
  std::string Name() const override { return data_.name; }
  std::string Artist() const override { return data_.artist; }
  std::string Album() const override { return "Album"; }
  std::string Genre() const override { return "Genre"; }
  int Rating() const override { return 60; }
  int TrackNumber() const override { return 4; }
  int Year() const override { return 2001; }
  int PlayedCount() const override { return 9; }
  int Duration() const override { return 185; }
  int BPM() const override { return 99; }
  int TrackID() const override { return 77; }
  std::string DatabaseID() const override { return "123456789"; }
  std::string PlayedDate() const override { return "2020-01-02 03:04:05"; }
  std::shared_ptr<const FileTrack> AsFileTrack() const override {
    if (data_.kind != kTrackKindFile) throw ITunesError("no file");
    return std::make_shared<FakeFileTrack>(data_.location);
  }

private:
  FakeTrackData data_;
};

class FakeTracks : public TrackCollection {
public:
  explicit FakeTracks(std::vector<FakeTrackData> tracks) : tracks_(std::move(tracks)) {}
  int Count() const override { return static_cast<int>(tracks_.size()); }
  std::shared_ptr<const Track> Item(int index) const override {
    const auto& data = tracks_.at(static_cast<std::size_t>(index - 1));
    if (data.fetchFails) throw ITunesError("cannot fetch");
    return std::make_shared<FakeTrack>(data);
  }

private:
  std::vector<FakeTrackData> tracks_;
};

struct FakePlaylistData {
  std::string name;
  int kind = kPlaylistKindUser;
  std::vector<FakeTrackData> tracks;
};

class FakePlaylist : public itunes::Playlist {
public:
  explicit FakePlaylist(FakePlaylistData data) : data_(std::move(data)) {}
  std::string Name() const override { return data_.name; }
  int Kind() const override { return data_.kind; }
  std::shared_ptr<const TrackCollection> Tracks() const override { return std::make_shared<FakeTracks>(data_.tracks); }

private:
  FakePlaylistData data_;
};

class FakeApplication : public Application, public Source, public PlaylistCollection {
public:
  FakeApplication(FakePlaylistData library, std::vector<FakePlaylistData> playlists)
      : library_(std::move(library)), playlists_(std::move(playlists)) {}
  std::shared_ptr<const itunes::Playlist> LibraryPlaylist() const override {
    return std::make_shared<FakePlaylist>(library_);
  }
  std::shared_ptr<const Source> LibrarySource() const override {
    return std::shared_ptr<const Source>(std::shared_ptr<const void>{}, this);
  }
  std::shared_ptr<const PlaylistCollection> Playlists() const override {
    return std::shared_ptr<const PlaylistCollection>(std::shared_ptr<const void>{}, this);
  }
  int Count() const override { return static_cast<int>(playlists_.size()); }
  std::shared_ptr<const itunes::Playlist> Item(int index) const override {
    return std::make_shared<FakePlaylist>(playlists_.at(static_cast<std::size_t>(index - 1)));
  }

private:
  FakePlaylistData library_;
  std::vector<FakePlaylistData> playlists_;
};

// The document without the blanks and line breaks between its elements.
std::string WithoutLayout(const std::string& xml) {
  std::string out;
  for (std::size_t i = 0; i < xml.size(); ++i) {
    if (xml[i] == '>') {
      out += '>';
      std::size_t next = i + 1;
      while (next < xml.size() && std::isspace(static_cast<unsigned char>(xml[next]))) ++next;
      if (next < xml.size() && xml[next] == '<') i = next - 1;
    } else {
      out += xml[i];
    }
  }
  return out;
}

class ITunesSourceTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    engine = std::make_unique<Engine>(ui, EngineOptions{service.stageArgument(), {}});
    engine->Startup();
    engine->SetLoggedIn();
  }
  void TearDown() override {
    engine.reset();
    TempHomeTest::TearDown();
  }
  // An existing file with content of its own.
  FakeTrackData Song(const std::string& name, const std::string& extension = ".mp3") {
    const auto path = files() / (name + extension);
    test::WriteFile(path, "audio of " + name);
    return {kTrackKindFile, name, "Artist", path.string(), false};
  }
  void UseLibrary(FakePlaylistData library, std::vector<FakePlaylistData> playlists) {
    auto app = std::make_shared<FakeApplication>(std::move(library), std::move(playlists));
    engine->SetITunesOpener([app](const std::filesystem::path&) { return app; });
  }
  std::vector<std::string> QueuedNames() const {
    std::vector<std::string> names;
    for (const auto& record : engine->upload().queue().records()) names.push_back(record.name);
    return names;
  }

  test::SourceTestService service;
  test::RecordingUi ui;
  std::unique_ptr<Engine> engine;
};

TEST_F(ITunesSourceTest, AnalysisShowsTheMainWindowAndListsPlainPlaylistsWithTracksOnlyAfterLogin) {
  UseLibrary({"Library", kPlaylistKindLibrary, {Song("a"), Song("b")}},
             {{"Library", kPlaylistKindLibrary, {Song("a"), Song("b")}},
              {"Mine", kPlaylistKindUser, {Song("a")}},
              {"Empty", kPlaylistKindUser, {}},
              {"Smart", kPlaylistKindOther, {Song("a")}}});
  Engine loggedOut(ui, EngineOptions{service.stageArgument(), {}});
  loggedOut.AnalyzeITunesLibraryNow();
  EXPECT_EQ(ui.messages.back(), "Please log in.");

  engine->upload().StartUploadRun(); // a run hides the main window; the analysis brings it back
  engine->StopUpload();              // the run ends stopped, its window still hidden
  engine->OnStartTimer();
  ASSERT_FALSE(engine->upload().windows().mainWindowVisible);
  engine->AnalyzeITunesLibraryNow();
  EXPECT_TRUE(engine->upload().windows().mainWindowVisible);
  EXPECT_EQ(engine->iTunes().itemsFound, "2");
  ASSERT_EQ(engine->iTunes().rows.size(), 2u);
  EXPECT_EQ(engine->iTunes().rows[0].caption, "Library");
  EXPECT_EQ(engine->iTunes().rows[1].caption, "Mine");
  EXPECT_EQ(engine->iTunes().rows[1].items, "1");
  EXPECT_TRUE(engine->iTunes().rows[1].checked);
  EXPECT_FALSE(engine->iTunes().analyzeEnabled);
  EXPECT_TRUE(ui.sawStatus("     Analyzing iTunes library"));
}

TEST_F(ITunesSourceTest, MissingLibraryGivesTheStartMessage) {
  engine->SetITunesLibraryFile(files() / "no library.xml");
  engine->AnalyzeITunesLibraryNow();
  EXPECT_EQ(ui.messages.back(), kUnableToStartITunes);
  EXPECT_FALSE(engine->StartITunesUpload());
  EXPECT_TRUE(engine->iTunes().analyzeEnabled);
}

TEST_F(ITunesSourceTest, SelectedPlaylistsTakeAtMostTheFirst200PositionsAndSkipWhatCannotBeSent) {
  std::vector<FakeTrackData> big;
  for (int i = 0; i < 250; ++i) big.push_back(Song("t" + std::to_string(i)));
  big[0] = {kTrackKindUrl, "stream", "Radio", "", false};
  big[1].location = (files() / "missing.mp3").string();
  big[2] = Song("wave", ".wav");
  big[3].fetchFails = true;
  std::vector<FakeTrackData> other{Song("t10"), Song("solo")};
  UseLibrary({"Library", kPlaylistKindLibrary, {}}, {{"Big", kPlaylistKindUser, big},
                                                     {"Other", kPlaylistKindUser, other},
                                                     {"Off", kPlaylistKindUser, {Song("off")}}});
  engine->AnalyzeITunesLibraryNow();
  engine->SetITunesPlaylistChecked(2, false);

  ASSERT_TRUE(engine->StartITunesUpload());
  ASSERT_EQ(EngineInternals::collection(*engine).playlists.size(), 2u);
  EXPECT_EQ(EngineInternals::collection(*engine).playlists[0].ItemCount, 196); // positions 5..200
  EXPECT_EQ(EngineInternals::collection(*engine).playlists[0].HashValues.front(), Sha1Hex("audio of t4"));
  EXPECT_EQ(EngineInternals::collection(*engine).playlists[0].HashValues.back(), Sha1Hex("audio of t199"));
  EXPECT_EQ(EngineInternals::collection(*engine).playlists[1].HashValues,
            (std::vector<std::string>{Sha1Hex("audio of t10"), Sha1Hex("audio of solo")}));
  EXPECT_EQ(EngineInternals::collection(*engine).items.size(), 198u); // t10 is collected once per playlist
  EXPECT_EQ(engine->iTunes().itemsAnalyzed, "2 (Max. 200 items / playlist)");
  EXPECT_FALSE(engine->iTunes().reference); // released after the collection

  const MediaItem& item = EngineInternals::collection(*engine).items.front();
  EXPECT_EQ(item.Name, "t4");
  EXPECT_EQ(item.Length, "185");
  EXPECT_EQ(item.iTunesPersistentID, "123456789");
  EXPECT_EQ(item.Size, std::to_string(std::string("audio of t4").size()));
  EXPECT_EQ(item.HashValue, Sha1Hex("audio of t4"));

  // Every chosen file is queued once; the unchecked playlist's file was never collected.
  const auto queued = QueuedNames();
  EXPECT_EQ(queued.size(), 197u);
  EXPECT_EQ(std::count(queued.begin(), queued.end(), "t10"), 1);
  EXPECT_EQ(std::count(queued.begin(), queued.end(), "off"), 0);

  const std::string playlistFile = WithoutLayout(test::ReadFile(engine->upload().CurrentPlaylistFile));
  EXPECT_NE(playlistFile.find("<item><Name>Other</Name><items><item>" + Sha1Hex("audio of t10") + "</item><item>" +
                              Sha1Hex("audio of solo") + "</item></items></item>"),
            std::string::npos);
}

TEST_F(ITunesSourceTest, WholeLibraryCollectsEveryUsableFileAndNoPlaylist) {
  std::vector<FakeTrackData> library;
  for (int i = 1; i <= 12; ++i) library.push_back(Song("s" + std::to_string(i)));
  library[4] = {kTrackKindUrl, "stream", "Radio", "", false}; // position 5 is skipped: no status
  library[6].location = (files() / "gone.mp3").string();
  UseLibrary({"Library", kPlaylistKindLibrary, library}, {{"Mine", kPlaylistKindUser, {Song("s1")}}});
  engine->SetITunesScope(false);
  EXPECT_FALSE(engine->iTunes().playlistListEnabled);

  ASSERT_TRUE(engine->StartITunesUpload());
  EXPECT_EQ(EngineInternals::collection(*engine).items.size(), 10u);
  EXPECT_TRUE(EngineInternals::collection(*engine).playlists.empty());
  EXPECT_EQ(QueuedNames().size(), 10u);
  EXPECT_TRUE(ui.sawStatus("Artist - s10"));
  EXPECT_FALSE(ui.sawStatus("Radio - stream"));
  const std::string playlistFile = WithoutLayout(test::ReadFile(engine->upload().CurrentPlaylistFile));
  EXPECT_NE(playlistFile.find("<playlists><playlist /></playlists>"), std::string::npos) << playlistFile;
}

TEST_F(ITunesSourceTest, PlaylistsOfTheSameNameFollowTheFirstRow) {
  UseLibrary({"Library", kPlaylistKindLibrary, {}},
             {{"Twin", kPlaylistKindUser, {Song("x")}}, {"Twin", kPlaylistKindUser, {Song("y")}}});
  engine->AnalyzeITunesLibraryNow();
  ASSERT_EQ(engine->iTunes().rows.size(), 2u);
  engine->SetITunesPlaylistChecked(1, false); // the second row is never consulted
  EXPECT_TRUE(IsPlaylistChecked(engine->iTunes(), "Twin"));
  EXPECT_FALSE(IsPlaylistChecked(engine->iTunes(), "twin"));
  ASSERT_TRUE(engine->StartITunesUpload());
  EXPECT_EQ(EngineInternals::collection(*engine).playlists.size(), 2u);
}

TEST_F(ITunesSourceTest, ReadsALibraryExportFromDisk) {
  const auto song = files() / "Disk Song.mp3";
  test::WriteFile(song, "disk audio");
  const auto library = files() / "iTunes Music Library.xml";
  test::WriteFile(library,
                  "<plist><dict><key>Tracks</key><dict><key>5</key><dict><key>Track ID</key><integer>5</integer>"
                  "<key>Name</key><string>Disk Song</string><key>Track Type</key><string>File</string>"
                  "<key>Location</key><string>file://" +
                      test::PercentEncodedPath(song.string()) +
                      "</string></dict></dict><key>Playlists</key><array><dict><key>Name</key><string>Fav</string>"
                      "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>5</integer></dict>"
                      "</array></dict></array></dict></plist>");
  engine->SetITunesLibraryFile(library);
  engine->AnalyzeITunesLibraryNow();
  ASSERT_EQ(engine->iTunes().rows.size(), 1u);
  ASSERT_TRUE(engine->StartITunesUpload());
  EXPECT_EQ(QueuedNames(), std::vector<std::string>{"Disk Song"});
}

} // namespace
} // namespace velmora
