// The upload loop sends each queued record by its code (404: register, then post the content to
// the named address; 204: metadata only; others: nothing), removes exactly the record it sent,
// stops on a refusal, keeps a record whose transfer failed, and never nests a second loop.

#include "FakeServiceClient.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "model/PlaylistFile.h"
#include "store/Sha1.h"
#include "upload/UploadPipeline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

namespace velmora {
namespace {

using test::Envelope;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Where the service tells the program to post the content of the n-th new file.
const std::string kUpload = "http://upload.test/upload/";

class UploadLoopTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    test::TempHomeTest::SetUp();
    NameUploadAddresses();
  }

  // Each registration answers with the next upload address.
  void NameUploadAddresses() {
    service_.On("items/add", [this](const test::FakeRequest&) {
      return Envelope("true", "0", "", "<location>" + kUpload + std::to_string(++uploads_) + "</location>");
    });
  }

  MediaItem Item(const std::string& name, std::int32_t code, const std::string& bytes = "ID3 audio bytes") {
    const auto path = files() / name;
    test::WriteFile(path, bytes);
    MediaItem item;
    item.Location = path.string();
    item.Artist = "Artist";
    item.Name = "Title " + name;
    item.HashValue = Sha1Hex(bytes + name);
    item.HashCheckResponse = code;
    return item;
  }

  // Builds the queue from the items and runs the start tick, as the window's timer would.
  void Run(const MediaItems& items, const std::string& playlist = {}) {
    items_ = items;
    ASSERT_TRUE(upload_.BuildUploadQueue(items_, kSourceDroppedFiles, {}, playlist));
    upload_.OnStartTimer();
  }

  std::vector<std::string> Methods() const { return service_.methods(); }

  test::RecordingUi ui_;
  test::FakeServiceClient service_{ui_};
  UploadPipeline upload_{service_};
  MediaItems items_;
  int uploads_ = 0;
};

TEST_F(UploadLoopTest, NewFileIsRegisteredThenItsContentPostedToTheNamedAddress) {
  const MediaItem item = Item("new.mp3", 404, "the audio content");
  Run({item}, "Road trip");

  ASSERT_THAT(Methods(), ElementsAre("items/add", kUpload + "1"));
  const auto& requests = service_.requests;
  EXPECT_THAT(requests[0].names(), ElementsAre("checkhashresponse", "playlistname"));
  const test::FakeRequest& transfer = requests[1];
  ASSERT_THAT(transfer.names(), ElementsAre("filedata", "playlistname", "metainfo"));
  EXPECT_TRUE(transfer.field("filedata")->isFile);
  EXPECT_EQ(transfer.field("filedata")->value, item.Location);
  EXPECT_EQ(transfer.field("filedata")->contentType, "audio/unknown");
  EXPECT_EQ(transfer.content("filedata"), "the audio content");
  EXPECT_EQ(transfer.content("playlistname"), "Road trip");
  EXPECT_EQ(transfer.field("metainfo")->contentType, "text/xml");
  EXPECT_THAT(transfer.content("metainfo"), HasSubstr("<HashValue>" + item.HashValue + "</HashValue>"));
  EXPECT_TRUE(requests[0].progress && transfer.progress);

  const UploadPipeline& upload = upload_;
  EXPECT_TRUE(upload.queue().empty());
  EXPECT_EQ(upload.outcome(), RunOutcome::Finished);
  EXPECT_TRUE(upload.windows().uploadDoneBarVisible);
  EXPECT_TRUE(upload.windows().mainWindowVisible);
  EXPECT_FALSE(upload.windows().statusWindowVisible);
  EXPECT_FALSE(upload.windows().durationTimerEnabled);
  EXPECT_FALSE(upload.windows().statusTimerEnabled);
  EXPECT_FALSE(upload.controls().stopEnabled);
  EXPECT_EQ(upload.controls().itemsToUpload, "0");
  EXPECT_EQ(upload.controls().lastUploadedFile, "Artist Title new.mp3");
  EXPECT_EQ(upload.statusWindow().nameLabel, "Artist: Title new.mp3");
  EXPECT_EQ(upload.statusWindow().ItemsStarted, 1);
  EXPECT_EQ(upload.statusWindow().currentTrack, item.Location);
  EXPECT_TRUE(ui_.sawStatus("     Upload of " + item.Location));
  EXPECT_GT(service_.counters().UploadedBytes, 17);
}

TEST_F(UploadLoopTest, KnownContentSendsOnlyMetadataAndOtherCodesNothing) {
  const MediaItem known = Item("known.mp3", 204, "never sent");
  MediaItem unreadable = Item("unreadable.mp3", 400);
  unreadable.HashValue = "invalidhashvalue"; // what a file that could not be read is listed with
  Run({Item("odd.mp3", 300), known, Item("odd2.mp3", 999), unreadable});

  ASSERT_THAT(Methods(), ElementsAre("transmitfile"));
  const test::FakeRequest& request = service_.requests[0];
  EXPECT_THAT(request.names(), ElementsAre("checkhashresponse", "metainfo", "hashvalue"));
  EXPECT_EQ(request.content("checkhashresponse"), "204");
  EXPECT_EQ(request.content("hashvalue"), known.HashValue);
  EXPECT_EQ(request.field("metainfo")->contentType, "audio/info");
  for (const auto& content : request.fileContents) EXPECT_THAT(content, ::testing::Not(HasSubstr("never sent")));
  EXPECT_TRUE(upload_.queue().empty());
  EXPECT_EQ(upload_.outcome(), RunOutcome::Finished);
  EXPECT_EQ(upload_.statusWindow().ItemsStarted, 4);
  // The notice comes last, once the windows are where the finished run leaves them.
  EXPECT_EQ(ui_.viewChanges.back(), View::RunEnded);
  EXPECT_EQ(upload_.runEndNotice().title, "Upload done!");
  EXPECT_EQ(upload_.runEndNotice().text, "0 files uploaded, 1 already in your locker.");
  // Each skipped file's report line says why.
  std::map<std::string, std::string> skipped;
  const OutcomeLog report = upload_.Report();
  for (const FileOutcome& outcome : report.entries())
    if (outcome.kind == FileOutcomeKind::Skipped)
      skipped[std::filesystem::path(outcome.path).filename().string()] = outcome.reason;
  EXPECT_EQ(skipped, (std::map<std::string, std::string>{{"odd.mp3", "the service answered code 300"},
                                                         {"odd2.mp3", "the service answered code 999"},
                                                         {"unreadable.mp3", reason::kNoHashId}}));
  // A dry run of the same files plans each as the run ended it.
  UploadPipeline dry{service_};
  dry.SetDryRun(true);
  ASSERT_TRUE(dry.BuildUploadQueue(items_, kSourceDroppedFiles));
  const auto ends = [](const OutcomeLog& log) {
    std::map<std::string, std::pair<FileOutcomeKind, std::string>> byPath;
    for (const FileOutcome& outcome : log.entries()) byPath[outcome.path] = {outcome.kind, outcome.reason};
    return byPath;
  };
  EXPECT_EQ(ends(dry.Report()), ends(report));
}

TEST_F(UploadLoopTest, RefusedRegistrationStopsTheRunAfterRemovingThatRecord) {
  service_.Answer("items/add", Envelope("false", "1234", "Quota exceeded"));
  const MediaItem second = Item("second.mp3", 404);
  Run({Item("first.mp3", 404), second});

  EXPECT_THAT(Methods(), ElementsAre("items/add"));
  EXPECT_THAT(ui_.messages, ElementsAre("Quota exceeded  (Error #1234"));
  EXPECT_EQ(ui_.status(), "     Upload has been aborted");
  const UploadPipeline& upload = upload_;
  ASSERT_EQ(upload.queue().QueueCount(), 1);
  EXPECT_EQ(upload.queue().First()->location, second.Location);
  EXPECT_EQ(upload.outcome(), RunOutcome::Stopped);
  EXPECT_TRUE(upload.UploadStopped());
  EXPECT_TRUE(upload.controls().resumeEnabled);
  EXPECT_FALSE(upload.controls().stopEnabled);
  EXPECT_EQ(upload.runEndNotice().title, "Upload stopped");
  EXPECT_EQ(upload.runEndNotice().text, "Quota exceeded  (Error #1234");
  EXPECT_TRUE(upload.runEndNotice().error);

  NameUploadAddresses();
  upload_.ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("items/add", "items/add", kUpload + "1"));
  EXPECT_EQ(upload.outcome(), RunOutcome::Finished);
  EXPECT_EQ(upload.runEndNotice().title, "Upload done!");
  EXPECT_EQ(upload.runEndNotice().text, "1 file uploaded.");
  EXPECT_FALSE(upload.runEndNotice().error);
}

TEST_F(UploadLoopTest, RegistrationWithoutAnAddressIsARefusal) {
  service_.Answer("items/add", Envelope("true", "0"));
  Run({Item("a.mp3", 404), Item("b.mp3", 404)});
  EXPECT_THAT(Methods(), ElementsAre("items/add"));
  EXPECT_THAT(ui_.messages, ElementsAre("The service named no upload location  (Error #500"));
  EXPECT_EQ(upload_.queue().QueueCount(), 1);
  EXPECT_EQ(upload_.outcome(), RunOutcome::Stopped);
}

TEST_F(UploadLoopTest, UnreachableRegistrationIsShownThenRefusedWithCode500) {
  service_.Fail("items/add");
  Run({Item("a.mp3", 404)});
  EXPECT_THAT(ui_.errorDisplays, ElementsAre(service_.FailureText("items/add")));
  EXPECT_THAT(ui_.messages, ElementsAre("  (Error #500"));
  EXPECT_EQ(upload_.outcome(), RunOutcome::Stopped);
}

TEST_F(UploadLoopTest, FailedTransferKeepsTheRecordFirstUntilResumed) {
  service_.Fail(kUpload + "1", 500);
  const MediaItem first = Item("first.mp3", 404);
  Run({first, Item("second.mp3", 404)});

  const UploadPipeline& upload = upload_;
  EXPECT_EQ(upload.outcome(), RunOutcome::Failed);
  ASSERT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_EQ(upload.runEndNotice().text, ui_.errorDisplays[0]);
  EXPECT_TRUE(upload.runEndNotice().error);
  ASSERT_EQ(upload.queue().QueueCount(), 2);
  EXPECT_EQ(upload.queue().First()->location, first.Location);
  EXPECT_FALSE(upload.UploadStopped());
  EXPECT_TRUE(upload.controls().stopEnabled);
  EXPECT_FALSE(upload.LoopActive());
  // The report: the record in transfer failed with the cause, the other is still queued.
  OutcomeLog report = upload.Report();
  ASSERT_EQ(report.entries().size(), 2u);
  EXPECT_EQ(report.entries()[0].kind, FileOutcomeKind::Failed);
  EXPECT_EQ(report.entries()[0].reason, ui_.errorDisplays[0]);
  EXPECT_EQ(report.entries()[1].reason, reason::kStillQueued);

  upload_.StopUpload();
  upload_.ResumeUpload();
  // The retried record keeps one entry, now sent.
  report = upload.Report();
  EXPECT_EQ(SummaryLine(report), "2 sent, 0 metadata only, 0 already in your library, 0 skipped, 0 failed");
  EXPECT_EQ(report.entries()[0].path, first.Location);
  EXPECT_THAT(Methods(),
              ElementsAre("items/add", kUpload + "1", "items/add", kUpload + "2", "items/add", kUpload + "3"));
  EXPECT_EQ(upload.outcome(), RunOutcome::Finished);
  EXPECT_EQ(upload.runEndNotice().text, "2 files uploaded.");
}

TEST_F(UploadLoopTest, ContentRefusedAfterTheFileChangedSaysSo) {
  MediaItem edited = Item("edited.mp3", 404, "first take");
  edited.HashValue = Sha1Hex("first take");
  service_.Fail(kUpload + "1", 422);
  service_.Fail(kUpload + "2", 422);
  items_ = {edited};
  ASSERT_TRUE(upload_.BuildUploadQueue(items_, kSourceDroppedFiles));
  test::WriteFile(edited.Location, "second take");
  upload_.OnStartTimer();
  ASSERT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_EQ(ui_.errorDisplays[0], "The file " + edited.Location +
                                      " changed since it was analysed, so the service refused it (HTTP status 422); "
                                      "analyse it again to send it");
  EXPECT_EQ(upload_.outcome(), RunOutcome::Failed);
  EXPECT_EQ(upload_.queue().QueueCount(), 1);

  // The same refusal of an unchanged file is reported as the service gave it.
  test::WriteFile(edited.Location, "first take");
  upload_.StopUpload();
  upload_.ResumeUpload();
  ASSERT_EQ(ui_.errorDisplays.size(), 2u);
  EXPECT_EQ(ui_.errorDisplays[1], service_.FailureText(kUpload + "2", 422));
}

TEST_F(UploadLoopTest, UnopenableMetadataFileEndsTheRunWithTheKnownRecordFirst) {
  const MediaItem known = Item("known.mp3", 204);
  // The metadata file vanishes between being written and being sent.
  ui_.onProcessMessages = [&] {
    if (ui_.status() != "     Upload of " + known.Location) return;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(workFolder())) {
      if (entry.path().filename().string().rfind("tmp_{", 0) == 0) std::filesystem::remove(entry.path());
    }
  };
  Run({known, Item("other.mp3", 204)});
  ui_.onProcessMessages = nullptr;

  const UploadPipeline& upload = upload_;
  EXPECT_TRUE(Methods().empty());
  EXPECT_EQ(upload.outcome(), RunOutcome::Failed);
  ASSERT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_THAT(ui_.errorDisplays[0], HasSubstr("Cannot open the file " + workFolder().string() + "/tmp_run-"));
  ASSERT_EQ(upload.queue().QueueCount(), 2);
  EXPECT_EQ(upload.queue().First()->location, known.Location);

  upload_.StopUpload();
  upload_.ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("transmitfile", "transmitfile"));
  EXPECT_EQ(upload.outcome(), RunOutcome::Finished);
}

TEST_F(UploadLoopTest, StopDuringATransferFinishesThatFileOnly) {
  const MediaItem first = Item("first.mp3", 404);
  const MediaItem second = Item("second.mp3", 404);
  ui_.onProcessMessages = [&] {
    if (ui_.status() == "     Upload of " + first.Location && !upload_.UploadStopped() && Methods().size() == 1) {
      upload_.StopUpload();
    }
  };
  Run({first, second});
  ui_.onProcessMessages = nullptr;
  EXPECT_THAT(Methods(), ElementsAre("items/add", kUpload + "1"));
  ASSERT_EQ(upload_.queue().QueueCount(), 1);
  EXPECT_EQ(upload_.queue().First()->location, second.Location);
  EXPECT_EQ(upload_.controls().itemsToUpload, "1");

  upload_.ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("items/add", kUpload + "1", "items/add", kUpload + "2"));
}

TEST_F(UploadLoopTest, ResumeDuringATransferLetsTheRunningLoopGoOnWithoutNesting) {
  const MediaItem first = Item("first.mp3", 404);
  bool inFirst = false, stopped = false, resumed = false;
  ui_.onProcessMessages = [&] {
    if (ui_.status() == "     Upload of " + first.Location) inFirst = true;
    if (!inFirst || resumed) return;
    if (!stopped) {
      stopped = true;
      upload_.StopUpload();
    } else {
      resumed = true;
      upload_.ResumeUpload(); // returns at once: the loop is running
      EXPECT_TRUE(upload_.LoopActive());
    }
  };
  Run({first, Item("second.mp3", 404), Item("third.mp3", 204)});
  ui_.onProcessMessages = nullptr;
  EXPECT_TRUE(resumed);
  EXPECT_THAT(Methods(), ElementsAre("items/add", kUpload + "1", "items/add", kUpload + "2", "transmitfile"));
  EXPECT_EQ(upload_.outcome(), RunOutcome::Finished);
}

TEST_F(UploadLoopTest, ClearingTheQueueDuringATransferRemovesNothingElse) {
  const MediaItem first = Item("first.mp3", 404);
  bool cleared = false;
  bool refusedBuild = false;
  ui_.onProcessMessages = [&] {
    if (!cleared && ui_.status() == "     Upload of " + first.Location) {
      cleared = true;
      // A new build while the loop sends would empty the queue under it: refused.
      refusedBuild = !upload_.BuildUploadQueue(items_, kSourceDroppedFiles);
      upload_.StopAndClearUploadQueue();
    }
  };
  Run({first, Item("second.mp3", 404)});
  ui_.onProcessMessages = nullptr;
  EXPECT_TRUE(refusedBuild);
  EXPECT_EQ(ui_.messages.size(), 1u);
  EXPECT_THAT(Methods(), ElementsAre("items/add", kUpload + "1"));
  EXPECT_TRUE(upload_.queue().empty());
  EXPECT_EQ(upload_.outcome(), RunOutcome::Stopped);
}

TEST_F(UploadLoopTest, RemovingTheRecordInTransferLeavesTheOthersQueued) {
  const MediaItem first = Item("first.mp3", 404);
  const MediaItem second = Item("second.mp3", 300);
  bool removed = false;
  ui_.onProcessMessages = [&] {
    if (!removed && ui_.status() == "     Upload of " + first.Location) {
      removed = upload_.RemoveQueueItem(upload_.queue().First()->id);
      upload_.StopUpload();
    }
  };
  Run({first, second});
  ui_.onProcessMessages = nullptr;
  ASSERT_TRUE(removed);
  ASSERT_EQ(upload_.queue().QueueCount(), 1);
  EXPECT_EQ(upload_.queue().First()->location, second.Location);
}

TEST_F(UploadLoopTest, AFileRemovedFromTheQueueIsReportedRemovedAndTheOthersStillQueued) {
  const MediaItem first = Item("first.mp3", 404), second = Item("second.mp3", 300), third = Item("third.mp3", 300);
  bool removed = false;
  ui_.onProcessMessages = [&] {
    if (!removed && ui_.status() == "     Upload of " + first.Location) {
      removed = upload_.RemoveQueueItem(upload_.queue().records().back().id);
      upload_.StopUpload();
    }
  };
  Run({first, second, third});
  ui_.onProcessMessages = nullptr;
  ASSERT_TRUE(removed);
  std::map<std::string, std::string> reasons;
  const OutcomeLog report = upload_.Report();
  for (const FileOutcome& outcome : report.entries()) reasons[outcome.path] = outcome.reason;
  EXPECT_EQ(reasons[second.Location], reason::kStillQueued);
  EXPECT_EQ(reasons[third.Location], reason::kRemovedFromQueue);
}

TEST_F(UploadLoopTest, TheLoopIteratesInsteadOfNesting) {
  // The same small file under 3000 hash ids, none needing a request.
  MediaItem item = Item("same.mp3", 300);
  MediaItems items;
  for (int i = 0; i < 3000; ++i) {
    item.HashValue = Sha1Hex(std::to_string(i));
    items.push_back(item);
  }
  std::uintptr_t lowest = UINTPTR_MAX, highest = 0;
  ui_.onProcessMessages = [&] {
    int marker = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&marker);
    lowest = std::min(lowest, at);
    highest = std::max(highest, at);
  };
  Run(items);
  ui_.onProcessMessages = nullptr;
  EXPECT_EQ(upload_.outcome(), RunOutcome::Finished);
  EXPECT_EQ(upload_.statusWindow().ItemsStarted, 3000);
  EXPECT_LT(highest - lowest, 16u * 1024);
}

TEST_F(UploadLoopTest, EveryRunStartSendsTheCurrentPlaylistFileOnceAndIgnoresItsFailure) {
  Playlists playlists{{"Mix", "", 1, {std::string(40, 'a')}, {}}};
  upload_.CurrentPlaylistFile = WritePlaylistFile(playlists, kSourceITunes, ui_);
  service_.Fail("set/prefill", 500);
  service_.Fail(kUpload + "1", 500);
  Run({Item("a.mp3", 404)});
  EXPECT_THAT(Methods(), ElementsAre("set/prefill", "items/add", kUpload + "1"));
  EXPECT_THAT(service_.requests[0].content("filedata"), HasSubstr("<Name>Mix</Name>"));

  upload_.StopUpload();
  upload_.ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("set/prefill", "items/add", kUpload + "1", "items/add", kUpload + "2"));
}

TEST_F(UploadLoopTest, AnEmptyRunFinishesAtTheStartTick) {
  Run({});
  EXPECT_TRUE(Methods().empty());
  EXPECT_EQ(upload_.outcome(), RunOutcome::Finished);
  EXPECT_TRUE(upload_.windows().uploadDoneBarVisible);
  EXPECT_FALSE(upload_.windows().startTimerEnabled);
  // "Switch to Velmora Online now ..." opens the site of the service in use.
  upload_.OpenServiceSite();
  EXPECT_THAT(ui_.openedUrls, ElementsAre("http://service.test"));
  upload_.CloseUploadDoneBar();
  EXPECT_FALSE(upload_.windows().uploadDoneBarVisible);
  // A second tick of the one-shot timer does nothing.
  upload_.OnStartTimer();
  EXPECT_FALSE(upload_.windows().uploadDoneBarVisible);
}

TEST_F(UploadLoopTest, ExchangeFilesLeaveWithTheirItem) {
  const auto exchangeFiles = [&] {
    int count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(workFolder()))
      count += entry.path().filename().string().rfind("tmp_{", 0) == 0 ? 1 : 0;
    return count;
  };
  int most = 0;
  ui_.onProcessMessages = [&] { most = std::max(most, exchangeFiles()); };
  MediaItems items;
  for (int i = 0; i < 6; ++i) items.push_back(Item("f" + std::to_string(i) + ".mp3", i % 2 ? 204 : 404));
  service_.Fail(kUpload + "3", 500); // a failed transfer leaves nothing behind either
  Run(items);
  ui_.onProcessMessages = nullptr;
  EXPECT_EQ(upload_.outcome(), RunOutcome::Failed);
  // The metadata file and the answer being read, of one item at a time.
  EXPECT_LE(most, 2);
  EXPECT_GE(most, 1);
  EXPECT_EQ(exchangeFiles(), 0);
}

TEST_F(UploadLoopTest, CountsAfterAStopAddUp) {
  MediaItem untitled = Item("t14285.mp3", 204);
  untitled.Artist.clear();
  untitled.Name.clear();
  const MediaItems items{untitled, Item("b.mp3", 204), Item("c.mp3", 204)};
  ui_.onProcessMessages = [&] {
    if (upload_.statusWindow().ItemsStarted == 1 && !upload_.UploadStopped()) upload_.StopUpload();
  };
  Run(items);
  ui_.onProcessMessages = nullptr;
  const UploadPipeline& upload = upload_;
  // A file without an artist is named by its title (here its file name) alone.
  EXPECT_EQ(upload.statusWindow().nameLabel, "t14285.mp3");
  EXPECT_EQ(upload.controls().lastUploadedFile, "t14285.mp3");
  EXPECT_EQ(upload.controls().itemsToUpload, "2");
  // Only metadata goes: the run's bar counts items, not the few bytes.
  EXPECT_EQ(ui_.bars[ProgressBar::StatusGlobal].position, 1);
  EXPECT_EQ(ui_.bars[ProgressBar::StatusGlobal].maximum, 3);
  EXPECT_EQ(SummaryLine(upload.Report()),
            "0 sent, 1 metadata only, 0 already in your library, 0 skipped, 2 not sent (stopped), 0 failed");

  upload_.StopAndClearUploadQueue();
  EXPECT_EQ(upload.controls().itemsToUpload, "0");
  EXPECT_FALSE(upload.controls().resumeEnabled);
  EXPECT_EQ(upload.Report().Count(FileOutcomeKind::NotSent), 2);

  // A run with nothing to send shows nothing of the last one.
  Run({});
  EXPECT_EQ(upload.controls().lastUploadedFile, "");
  EXPECT_EQ(upload.controls().durationLabel, "0");
}

TEST_F(UploadLoopTest, InvitationIsSentAsTypedAndConfirmed) {
  upload_.ShowInvitation();
  EXPECT_TRUE(upload_.statusWindow().invitationVisible);
  service_.Fail("misc/sendinvitation", 503);
  upload_.SendInvitation("friend@example.test");
  EXPECT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_EQ(upload_.statusWindow().invitationText, kInvitationPrompt);

  service_.Forget("misc/sendinvitation");
  const int progressBefore = ui_.progressEvents;
  upload_.SendInvitation(" not an address ");
  EXPECT_EQ(upload_.statusWindow().invitationText, kInvitationDone);
  EXPECT_EQ(ui_.progressEvents, progressBefore);
  const test::FakeRequest& request = service_.requests.back();
  EXPECT_EQ(request.method, "misc/sendinvitation");
  EXPECT_EQ(request.content("email"), " not an address ");
  EXPECT_FALSE(request.progress);
}

} // namespace
} // namespace velmora
