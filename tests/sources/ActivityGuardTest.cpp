// Clicks, drops and timer ticks handled in the middle of an analysis or a queue build are refused
// without effect: the running activity finishes with the data it started with, and nothing else
// reaches the service.

#include "RecordingUi.h"
#include "SourceTestService.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "restore/Restore.h"
#include "sources/DroppedFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;

class ActivityGuardTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    test::TempHomeTest::SetUp();
    engine_ = std::make_unique<Engine>(ui_, EngineOptions{service_.stageArgument(), configHome() / "s.ini"});
    engine_->Startup();
    engine_->SetLoggedIn();
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
      test::WriteFile(files() / name, std::string("audio of ") + name);
      dropped_.push_back((files() / name).string());
    }
    test::WriteFile(files() / "late.mp3", "dropped during the analysis");
    engine_->DropFiles(dropped_);
  }
  void TearDown() override {
    engine_.reset();
    test::TempHomeTest::TearDown();
  }

  // Every request that starts something or changes the list or queue in use, all at once. "Stop
  // upload" is left out: it stays allowed at any time.
  void ClickEverything() {
    EXPECT_FALSE(engine_->AnalyzeAndUpload());
    engine_->DropFiles({(files() / "late.mp3").string()});
    engine_->ClearDroppedFiles();
    engine_->AnalyzeWinampData();
    EXPECT_FALSE(engine_->StartWinampUpload());
    engine_->ResumeUpload();
    if (const UploadQueueRecord* first = engine_->upload().queue().First()) {
      EXPECT_FALSE(engine_->RemoveQueueItem(first->id));
      engine_->ClearUploadQueue();
    }
    engine_->LoadLibraryInformation();
    EXPECT_FALSE(engine_->RestoreNow());
    engine_->Login();
    EXPECT_FALSE(engine_->Logout());
  }

  // Runs "Analyze and upload" and clicks everything once while `activity` is under way.
  void ClickEverythingDuring(Activity activity) {
    bool clicked = false;
    ui_.onProcessMessages = [&] {
      if (clicked || engine_->CurrentActivity() != activity) return;
      clicked = true;
      ClickEverything();
    };
    ASSERT_TRUE(engine_->AnalyzeAndUpload());
    ui_.onProcessMessages = nullptr;
    ASSERT_TRUE(clicked);
  }

  void ExpectTheRunUntouched(const std::string& busyWith) {
    EXPECT_THAT(engine_->droppedFiles().rows(), ElementsAreArray(dropped_));
    EXPECT_EQ(engine_->collection().items.size(), 3u);
    EXPECT_EQ(engine_->upload().queue().QueueCount(), 3);
    EXPECT_TRUE(engine_->upload().windows().startTimerEnabled);
    EXPECT_FALSE(engine_->upload().UploadStopped());
    EXPECT_FALSE(engine_->upload().LoopActive());
    EXPECT_THAT(ui_.statusTexts, Contains("     Busy with " + busyWith + " - please try again when it is done"));
    EXPECT_EQ(engine_->userName(), "owner");
    // The one duplicate check of the run, nothing else.
    const auto requests = service_.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].target.find("items/checkhashvalues"), std::string::npos);
  }

  test::SourceTestService service_{404};
  test::RecordingUi ui_;
  std::unique_ptr<Engine> engine_;
  std::vector<std::string> dropped_;
};

TEST_F(ActivityGuardTest, EveryRequestDuringAnAnalysisIsRefused) {
  engine_->SetCredentials("owner", engine_->password());
  ClickEverythingDuring(Activity::Analysing);
  ExpectTheRunUntouched("an analysis");
}

TEST_F(ActivityGuardTest, EveryRequestDuringAQueueBuildIsRefused) {
  engine_->SetCredentials("owner", engine_->password());
  ClickEverythingDuring(Activity::BuildingQueue);
  ExpectTheRunUntouched("building the upload queue");
}

TEST_F(ActivityGuardTest, AnUploadRunRefusesNewWorkButTakesDropsAndItsOwnControls) {
  ASSERT_TRUE(engine_->AnalyzeAndUpload());
  ASSERT_EQ(engine_->CurrentActivity(), Activity::Uploading); // the start tick is pending
  EXPECT_FALSE(engine_->AnalyzeAndUpload());
  EXPECT_EQ(ui_.messages.back(), "An upload is in progress. Wait until the current file is sent, then try again.");
  engine_->DropFiles({(files() / "late.mp3").string()});
  EXPECT_EQ(engine_->droppedFiles().rows().size(), 4u);
  engine_->StopUpload();
  engine_->OnStartTimer();
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Stopped);
  EXPECT_EQ(engine_->CurrentActivity(), Activity::Idle);
}

} // namespace
} // namespace velmora
