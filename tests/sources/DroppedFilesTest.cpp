// A drop lists every supported audio file it reaches (directly, through playlists, through
// folders) exactly once, and "Analyze and upload" describes the listed files and queues them.

#include "EngineInternals.h"
#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "base/WorkFolder.h"
#include "sources/AnalysisProgress.h"
#include "sources/DroppedFiles.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class DroppedFilesTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    test::TempHomeTest::SetUp();
    // Answers the duplicate check with 404 for every hash id it was sent.
    server_ = std::make_unique<test::RawHttpServer>([](const test::CapturedRequest& request) {
      std::string items;
      const std::regex hash("<hashvalue>([0-9a-f]{40})</hashvalue>");
      for (std::sregex_iterator it(request.body.begin(), request.body.end(), hash), end; it != end; ++it) {
        items += "<item><hashvalue>" + (*it)[1].str() + "</hashvalue><code>404</code></item>";
      }
      return test::HttpAnswer(200, test::Envelope("true", "0", "", "<items>" + items + "</items>"));
    });
    engine_ = std::make_unique<Engine>(ui_, EngineOptions{"/stage " + server_->hostPort(), configHome() / "s.ini"});
    engine_->Startup();
  }
  void TearDown() override {
    engine_.reset();
    server_.reset();
    test::TempHomeTest::TearDown();
  }
  std::string F(const std::string& relative) const { return (files() / relative).string(); }
  void Touch(const std::string& relative, const std::string& bytes = "audio") {
    test::WriteFile(files() / relative, bytes);
  }
  const std::vector<std::string>& Rows() const { return engine_->droppedFiles().rows(); }

  test::RecordingUi ui_;
  std::unique_ptr<test::RawHttpServer> server_;
  std::unique_ptr<Engine> engine_;
};

TEST_F(DroppedFilesTest, EachDroppedPathIsTestedFourWaysIndependently) {
  Touch("a.mp3");
  Touch("b.wav");
  Touch("c.m3u8", "a.mp3\nfrom-m3u8.m4a\n");
  Touch("from-m3u8.m4a");
  Touch("d.mp");
  Touch("e.a");
  // Lines are taken as they stand; a drive letter leads through the Wine prefix.
  Touch("list.m3u", "#EXTM3U\nin-list.mp3\n#1 Hit.mp3\nC:\\Music\\win.mp3\n");
  Touch("in-list.mp3");
  Touch("#1 Hit.mp3");
  Touch("drive_c/Music/win.mp3");
  std::filesystem::create_directories(files() / "wine/dosdevices");
  std::filesystem::create_directory_symlink(files() / "drive_c", files() / "wine/dosdevices/c:");
  ::setenv("WINEPREFIX", F("wine").c_str(), 1);
  Touch("list.pls", "[playlist]\nFile1=from-pls.ogg\n");
  Touch("from-pls.ogg");
  Touch("dir.m3u/inside.MP3"); // a folder named like a playlist is still searched
  Touch("dir.m3u/.hidden.mp3");
  Touch("dir.m3u/notes.txt");

  ui_.viewChanges.clear();
  engine_->DropFiles({F("a.mp3"), F("b.wav"), F("c.m3u8"), F("d.mp"), F("e.a"), F("list.m3u"), F("list.pls"),
                      F("dir.m3u"), F("missing.mp3")});
  EXPECT_THAT(Rows(),
              ElementsAre(F("a.mp3"), F("from-m3u8.m4a"), F("d.mp"), F("e.a"), F("in-list.mp3"), F("#1 Hit.mp3"),
                          F("wine/dosdevices/c:/Music/win.mp3"), F("from-pls.ogg"), F("dir.m3u/inside.MP3")));
  EXPECT_THAT(ui_.viewChanges, ElementsAre(View::DroppedFiles));
  EXPECT_THAT(ui_.errorDisplays, IsEmpty());
}

TEST_F(DroppedFilesTest, AFileReachedTwiceIsListedOnceButCaseMakesAnotherPath) {
  Touch("music/x.mp3");
  Touch("music/sub/y.m4a");
  Touch("music/X.mp3");
  Touch("mix.m3u", "music/x.mp3\n" + F("music/sub/y.m4a") + "\n");
  engine_->DropFiles({F("music")});
  engine_->DropFiles({F("music/x.mp3"), F("mix.m3u"), F("music/sub/y.m4a")});
  EXPECT_THAT(Rows(), UnorderedElementsAre(F("music/x.mp3"), F("music/X.mp3"), F("music/sub/y.m4a")));

  engine_->ClearDroppedFiles();
  EXPECT_THAT(Rows(), IsEmpty());
  engine_->DropFiles({F("music/x.mp3")});
  EXPECT_THAT(Rows(), ElementsAre(F("music/x.mp3")));
}

TEST_F(DroppedFilesTest, UnreadableM3uEndsTheDropButKeepsWhatWasListed) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  Touch("a.mp3");
  Touch("b.mp3");
  Touch("locked.m3u", "a.mp3\n");
  ::chmod(F("locked.m3u").c_str(), 0);
  engine_->DropFiles({F("a.mp3"), F("locked.m3u"), F("b.mp3")});
  EXPECT_THAT(Rows(), ElementsAre(F("a.mp3")));
  ASSERT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_THAT(ui_.errorDisplays[0], ::testing::HasSubstr("locked.m3u"));
}

TEST_F(DroppedFilesTest, AnalysisDescribesExistingRowsAndKeepsVanishedOnes) {
  Touch("one.mp3", "first content");
  Touch("two.mp3", "second content");
  engine_->DropFiles({F("one.mp3"), F("two.mp3")});
  EngineInternals::collection(*engine_).playlists.push_back({});
  std::filesystem::remove(F("one.mp3"));

  engine_->AnalyzeDroppedFiles();
  ASSERT_EQ(EngineInternals::collection(*engine_).items.size(), 1u);
  EXPECT_EQ(EngineInternals::collection(*engine_).items[0].Location, F("two.mp3"));
  EXPECT_EQ(EngineInternals::collection(*engine_).items[0].HashValue, Sha1Hex("second content"));
  EXPECT_EQ(EngineInternals::collection(*engine_).items[0].Size, 14);
  EXPECT_TRUE(EngineInternals::collection(*engine_).playlists.empty());
  EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(DroppedFilesTest, AnalyzeAndUploadQueuesTheListedFilesWithThePlaylistName) {
  Touch("song.mp3", "some audio");
  ASSERT_EQ(::link(F("song.mp3").c_str(), F("SONG.mp3").c_str()), 0); // one file, two names
  Touch("other.mp3", "other audio");
  engine_->DropFiles({F("song.mp3"), F("SONG.mp3"), F("other.mp3")});
  engine_->SetDropPlaylist("Dropped");

  ASSERT_TRUE(engine_->AnalyzeAndUpload());
  EXPECT_EQ(EngineInternals::collection(*engine_).items.size(), 3u);
  EXPECT_EQ(engine_->upload().CurrentMediaLibraryFile, RunFolder() + "mediaitems_3.xml");
  EXPECT_EQ(engine_->upload().CurrentHashListFile, RunFolder() + "mediaitems_hash_3.xml");
  const auto& records = engine_->upload().queue().records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].location, F("song.mp3"));
  EXPECT_EQ(records[1].location, F("other.mp3"));
  EXPECT_EQ(records[0].autoadd2plist, "Dropped");
  EXPECT_EQ(records[0].hashcheckresponse, "404");
  EXPECT_TRUE(engine_->upload().windows().startTimerEnabled);
  EXPECT_EQ(Rows().size(), 3u);
}

TEST_F(DroppedFilesTest, AnalysisSaysHowFarItIsAndHoldsTheStatusTabMeanwhile) {
  for (int i = 0; i < 3; ++i) Touch("t" + std::to_string(i) + ".mp3", "audio " + std::to_string(i));
  engine_->DropFiles({F("t0.mp3"), F("t1.mp3"), F("t2.mp3")});
  // Every state the window draws while it analyses: Stop disabled, nothing counted.
  std::set<std::pair<bool, std::string>> drawnDuringAnalysis;
  ui_.onViewChanged = [&](View) {
    const UploadQueueControls& c = engine_->upload().controls();
    if (c.analysisText.rfind("Analysing ", 0) == 0) drawnDuringAnalysis.emplace(c.stopEnabled, c.itemsToUpload);
  };
  ASSERT_TRUE(engine_->AnalyzeAndUpload());
  ui_.onViewChanged = nullptr;
  EXPECT_EQ(drawnDuringAnalysis, (std::set<std::pair<bool, std::string>>{{false, ""}}));
  EXPECT_TRUE(ui_.sawStatus("     Analysing 0 of 3"));
  EXPECT_TRUE(ui_.sawStatus("     Analysing 3 of 3"));
  EXPECT_EQ(engine_->upload().controls().analysisText, "");
  EXPECT_TRUE(engine_->upload().controls().stopEnabled);

  using namespace std::chrono_literals;
  EXPECT_EQ(AnalysisProgress::Text(100, 400, 10s), "Analysing 100 of 400, about 0 min 30 sec left");
  EXPECT_EQ(AnalysisProgress::Text(1, 3602, 1s), "Analysing 1 of 3602, about 1 hours 0 min 1 sec left");
  EXPECT_EQ(AnalysisProgress::Text(1, 3602, 500ms), "Analysing 1 of 3602");
  // The time left counts from the analysis's start, not from the line shown last.
  test::RecordingUi ui;
  const auto started = AnalysisProgress::Clock::now();
  AnalysisProgress progress(ui, 4, {}, started);
  progress.Done(1, started + 2s);
  EXPECT_EQ(ui.status(), "     Analysing 1 of 4, about 0 min 6 sec left");
}

TEST_F(DroppedFilesTest, AnalyzeAndUploadWithAnEmptyListRunsTheChainWithNothing) {
  ASSERT_TRUE(engine_->AnalyzeAndUpload());
  EXPECT_TRUE(std::filesystem::exists(workFolder() / "mediaitems_3.xml"));
  EXPECT_EQ(server_->requests().size(), 1u);
  engine_->OnStartTimer();
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Finished);
}

TEST_F(DroppedFilesTest, UnopenableListedFileEndsTheAnalysisBeforeAnythingIsWritten) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  Touch("ok.mp3");
  Touch("locked.mp3");
  engine_->DropFiles({F("ok.mp3"), F("locked.mp3")});
  ::chmod(F("locked.mp3").c_str(), 0);
  EXPECT_FALSE(engine_->AnalyzeAndUpload());
  EXPECT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_EQ(EngineInternals::collection(*engine_).items.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(workFolder() / "mediaitems_3.xml"));
  EXPECT_TRUE(server_->requests().empty());
}

} // namespace
} // namespace velmora
