// Building the upload queue takes exactly the eligible media items (1 byte to under 20 MiB,
// supported type, existing file, code above 200, in the filter, each hash id once) with full
// records, and starting the run puts windows, timers, buttons and counters into their run state.

#include "EngineInternals.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "model/MediaLibraryFile.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace velmora {
namespace {

using ::testing::ElementsAre;

class UploadQueueTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    test::TempHomeTest::SetUp();
    engine_ = std::make_unique<Engine>(ui_, EngineOptions{{}, configHome() / "settings.ini"});
    engine_->Startup();
  }
  void TearDown() override {
    engine_.reset();
    test::TempHomeTest::TearDown();
  }

  // A file of `size` bytes (sparse when large) and a media item for it.
  MediaItem Item(const std::string& name, std::int64_t size, std::int32_t code, std::string hash = {}) {
    const auto path = files() / name;
    std::filesystem::create_directories(path.parent_path());
    { std::ofstream{path}; }
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
    MediaItem item;
    item.Location = path.string();
    item.Name = "Title of " + name;
    item.Artist = "Artist";
    item.Album = "Album";
    item.HashValue = hash.empty() ? Sha1Hex(name) : hash;
    item.HashCheckResponse = code;
    return item;
  }

  std::vector<std::string> QueuedLocations() const {
    std::vector<std::string> locations;
    for (const auto& record : engine_->upload().queue().records()) locations.push_back(record.location);
    return locations;
  }

  test::RecordingUi ui_;
  std::unique_ptr<Engine> engine_;
};

TEST_F(UploadQueueTest, QueuesOnlyEligibleItemsAndSumsTheirSizes) {
  MediaItems items{
      Item("ok.mp3", 1, 404),
      Item("empty.mp3", 0, 404),
      Item("largest.mp3", 20971519, 404),
      Item("too-large.mp3", 20971520, 404),
      Item("wave.wav", 10, 404),
      Item("known.mp3", 10, 200),
      Item("meta.ogg", 10, 201),
      Item("unchecked.mp3", 10, 0),
  };
  MediaItem gone = Item("gone.mp3", 10, 404);
  std::filesystem::remove(gone.Location);
  items.push_back(gone);

  EXPECT_EQ(engine_->upload().FillUploadQueue(items, kSourceITunes, {}, "ignored"), 3);
  EXPECT_THAT(QueuedLocations(), ElementsAre(items[0].Location, items[2].Location, items[6].Location));
  EXPECT_EQ(engine_->service().counters().TotalBytes, 1 + 20971519 + 10);
  EXPECT_EQ(engine_->upload().controls().globalMaximum, 3);
  EXPECT_EQ(ui_.bars[ProgressBar::QueueGlobal].maximum, 3);
  // Only the dropped-files source carries the playlist name.
  for (const auto& record : engine_->upload().queue().records()) EXPECT_EQ(record.autoadd2plist, "");
}

TEST_F(UploadQueueTest, TheSameFileReachedTwiceIsQueuedOnce) {
  const std::string hash = "3f786850e387550fdab836ed7e6dc881de23001b";
  MediaItem first = Item("a.mp3", 5, 404, hash);
  MediaItem again = first; // same file from a second playlist
  MediaItem upper = Item("A.mp3", 5, 404, "3F786850E387550FDAB836ED7E6DC881DE23001B");
  MediaItem skippedFirst = Item("b.mp3", 5, 100, "1111111111111111111111111111111111111111");
  MediaItem laterSame = Item("b2.mp3", 5, 404, "1111111111111111111111111111111111111111");
  EXPECT_EQ(
      engine_->upload().FillUploadQueue({first, again, upper, skippedFirst, laterSame}, kSourceDroppedFiles, {}, ""),
      2);
  // A hash id skipped for another reason does not block a later item with it.
  EXPECT_THAT(QueuedLocations(), ElementsAre(first.Location, laterSame.Location));
  EXPECT_EQ(engine_->service().counters().TotalBytes, 10);
}

TEST_F(UploadQueueTest, FilterKeepsOnlyHashIdsOfTheChosenPlaylists) {
  MediaItem a = Item("a.mp3", 5, 404, std::string(40, 'a'));
  MediaItem b = Item("b.mp3", 5, 404, std::string(40, 'b'));
  MediaItem c = Item("c.mp3", 5, 404, std::string(40, 'c'));
  HashIdFilter chosen;
  chosen.Add({std::string(40, 'c'), std::string(40, 'a')});
  chosen.Add({});
  EXPECT_EQ(engine_->upload().FillUploadQueue({a, b, c}, kSourceWinamp, chosen, ""), 2);
  EXPECT_THAT(QueuedLocations(), ElementsAre(a.Location, c.Location));
  engine_->upload().ClearUploadQueue();
  // Chosen playlists without hash ids: nothing.
  HashIdFilter empty;
  empty.Add({""});
  EXPECT_EQ(engine_->upload().FillUploadQueue({a, b, c}, kSourceWinamp, empty, ""), 0);
}

TEST_F(UploadQueueTest, RecordsCarryFullPathsAndTextsCutToTheirColumns) {
  // A path far beyond 255 characters and a 120-character file name with multi-byte characters.
  const std::string deep = std::string(150, 'd') + "/" + std::string(150, 'e') + "/";
  const std::string fileName = std::string(98, 'n') + "\xC3\xA4\xC3\xB6" + std::string(16, 'x') + ".mp3";
  MediaItem item = Item(deep + fileName, 123, 204);
  item.Name.clear();
  // Texts beyond their columns, with a two-byte character across each width.
  const std::string umlaut = "\xC3\xBC";
  MediaItem titled = Item("t.mp3", 7, 404);
  titled.Name = std::string(254, 't') + umlaut + "cut";
  titled.Artist = std::string(255, 'a') + umlaut;
  titled.Album = std::string(300, 'b');
  const std::string playlist = std::string(99, 'p') + umlaut + umlaut + "cut";

  ASSERT_EQ(engine_->upload().FillUploadQueue({item, titled}, kSourceDroppedFiles, {}, playlist), 2);
  const auto& record = engine_->upload().queue().records().front();
  EXPECT_EQ(record.location, item.Location);
  EXPECT_GT(record.location.size(), 255u);
  EXPECT_EQ(record.name, std::string(98, 'n') + "\xC3\xA4\xC3\xB6");
  EXPECT_EQ(record.hashid, item.HashValue);
  EXPECT_EQ(record.size, 123);
  EXPECT_EQ(record.hashcheckresponse, "204");
  EXPECT_EQ(record.autoadd2plist, std::string(99, 'p') + umlaut);
  EXPECT_EQ(record.xml, MediaItemXml(item, ui_)); // the metadata document keeps the whole texts

  const auto& cut = engine_->upload().queue().records().back();
  EXPECT_EQ(cut.name, std::string(254, 't') + umlaut);
  EXPECT_EQ(cut.artist, std::string(255, 'a'));
  EXPECT_EQ(cut.album, std::string(255, 'b'));
  EXPECT_EQ(cut.autoadd2plist, std::string(99, 'p') + umlaut);
}

TEST_F(UploadQueueTest, BuildCopiesTheLibraryFileAndStartsTheRun) {
  EngineInternals::collection(*engine_).items = {Item("a.mp3", 5, 404), Item("b.mp3", 6, 204)};
  engine_->upload().CurrentMediaLibraryFile =
      WriteMediaLibraryFile(EngineInternals::collection(*engine_).items, kSourceDroppedFiles, ui_);
  test::WriteFile(workFolder() / "UploadQueue.xml", "old");
  engine_->service().counters().UploadedBytes = 99;
  ui_.viewChanges.clear();

  ASSERT_TRUE(
      engine_->upload().BuildUploadQueue(EngineInternals::collection(*engine_).items, kSourceDroppedFiles, {}, "Mix"));
  EXPECT_EQ(test::ReadFile(workFolder() / "UploadQueue.xml"),
            test::ReadFile(engine_->upload().CurrentMediaLibraryFile));

  const UploadPipeline& upload = engine_->upload();
  EXPECT_EQ(upload.QueueCountAtStart(), 2);
  EXPECT_EQ(engine_->service().counters().UploadedBytes, 0);
  EXPECT_EQ(engine_->service().counters().TotalBytes, 11);
  EXPECT_FALSE(upload.windows().mainWindowVisible);
  EXPECT_TRUE(upload.windows().statusWindowVisible);
  EXPECT_TRUE(upload.windows().statusTabRequested);
  EXPECT_TRUE(upload.windows().startTimerEnabled);
  EXPECT_TRUE(upload.windows().durationTimerEnabled);
  EXPECT_TRUE(upload.windows().statusTimerEnabled);
  EXPECT_TRUE(upload.controls().stopEnabled);
  EXPECT_FALSE(upload.controls().resumeEnabled);
  EXPECT_EQ(upload.outcome(), RunOutcome::Running);
  EXPECT_THAT(ui_.viewChanges, ::testing::IsSupersetOf({View::UploadQueue, View::UploadStatus, View::UploadWindows}));
}

TEST_F(UploadQueueTest, StatusTickKeepsTextWhileTooSlowAndOnlyTheTimerWritesTheDuration) {
  EngineInternals::collection(*engine_).items = {Item("a.mp3", 5, 404)};
  ASSERT_TRUE(engine_->upload().BuildUploadQueue(EngineInternals::collection(*engine_).items, kSourceDroppedFiles));
  engine_->OnStatusTimer();
  EXPECT_EQ(engine_->upload().statusWindow().ElapsedSeconds, 1);
  EXPECT_EQ(engine_->upload().statusWindow().statusText, "");
  engine_->service().counters().ShownUploadedBytes = 4096;
  engine_->service().counters().BytesLeft = 8192;
  engine_->OnStatusTimer();
  EXPECT_EQ(engine_->upload().statusWindow().statusText,
            "     Speed: 2 kb/sec  |  Uploaded: 0 / 1  |  Time left: 0 min 4 sec");
  engine_->OnDurationTimer();
  engine_->OnDurationTimer();
  EXPECT_EQ(engine_->upload().controls().durationLabel, "2");
  // "Stop upload" resets the count, but only the timer writes the label.
  engine_->StopUpload();
  EXPECT_EQ(engine_->upload().controls().DurationSeconds, 0);
  EXPECT_EQ(engine_->upload().controls().durationLabel, "2");
  EXPECT_FALSE(engine_->upload().windows().durationTimerEnabled);
  EXPECT_TRUE(ui_.sawStatus("     Upload has been aborted"));
  // A new run counts from 0 again.
  ASSERT_TRUE(engine_->upload().BuildUploadQueue(EngineInternals::collection(*engine_).items, kSourceDroppedFiles));
  EXPECT_EQ(engine_->upload().controls().durationLabel, "0");
  engine_->OnDurationTimer();
  EXPECT_EQ(engine_->upload().controls().durationLabel, "1");
}

} // namespace
} // namespace velmora
