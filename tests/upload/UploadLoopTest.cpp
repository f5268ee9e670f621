// The upload loop sends each queued record by its code (404: register, then post the content to
// the named address; 204: metadata only; others: nothing), removes exactly the record it sent,
// stops on a refusal, keeps a record whose transfer failed, and never nests a second loop.

#include "EngineInternals.h"
#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "model/PlaylistFile.h"
#include "store/Sha1.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace velmora {
namespace {

using test::CapturedRequest;
using test::Envelope;
using test::HttpAnswer;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The last path segment(s) of a request target after "/api/rest/", or the whole target.
std::string Method(const CapturedRequest& request) {
  const std::size_t at = request.target.find("/api/rest/");
  return at == std::string::npos ? request.target : request.target.substr(at + 10);
}

std::vector<std::string> FieldNames(const CapturedRequest& request) {
  std::vector<std::string> names;
  for (const auto& part : test::MultipartParts(request)) names.push_back(part.name);
  return names;
}

const test::SentPart* Part(const std::vector<test::SentPart>& parts, const std::string& name) {
  for (const auto& part : parts) {
    if (part.name == name) return &part;
  }
  return nullptr;
}

class UploadLoopTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    test::TempHomeTest::SetUp();
    server_ = std::make_unique<test::RawHttpServer>([this](const CapturedRequest& request) { return Answer(request); });
    engine_ =
        std::make_unique<Engine>(ui_, EngineOptions{"/stage " + server_->hostPort(), configHome() / "settings.ini"});
    engine_->Startup();
  }
  void TearDown() override {
    engine_.reset();
    server_.reset();
    test::TempHomeTest::TearDown();
  }

  std::string Answer(const CapturedRequest& request) {
    const std::string method = Method(request);
    std::lock_guard lock(mutex_);
    if (method == "items/add") {
      if (!addAnswer_.empty()) return HttpAnswer(200, addAnswer_);
      return HttpAnswer(200, Envelope("true", "0", "",
                                      "<location>http://" + server_->hostPort() + "/upload/" +
                                          std::to_string(++uploads_) + "</location>"));
    }
    if (method.rfind("/upload/", 0) == 0) return uploadFails_ ? HttpAnswer(500, "no") : HttpAnswer(200, "stored");
    if (method == "set/prefill" && prefillFails_) return HttpAnswer(500, "no");
    if (method == "misc/sendinvitation" && inviteFails_) return HttpAnswer(503, "no");
    return HttpAnswer(200, Envelope("true", "0"));
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
    EngineInternals::collection(*engine_).items = items;
    ASSERT_TRUE(engine_->upload().BuildUploadQueue(EngineInternals::collection(*engine_).items, kSourceDroppedFiles, {},
                                                   playlist));
    engine_->OnStartTimer();
  }

  std::vector<std::string> Methods() const {
    std::vector<std::string> methods;
    for (const auto& request : server_->requests()) methods.push_back(Method(request));
    return methods;
  }

  test::RecordingUi ui_;
  std::unique_ptr<test::RawHttpServer> server_;
  std::unique_ptr<Engine> engine_;
  // Set by the test between requests, read by the server thread while answering.
  std::mutex mutex_;
  std::string addAnswer_;
  std::atomic<bool> uploadFails_{false}, prefillFails_{false}, inviteFails_{false};
  int uploads_ = 0;
  void SetAddAnswer(std::string answer) {
    std::lock_guard lock(mutex_);
    addAnswer_ = std::move(answer);
  }
};

TEST_F(UploadLoopTest, NewFileIsRegisteredThenItsContentPostedToTheNamedAddress) {
  const MediaItem item = Item("new.mp3", 404, "the audio content");
  Run({item}, "Road trip");

  ASSERT_THAT(Methods(), ElementsAre("items/add", "/upload/1"));
  const auto requests = server_->requests();
  EXPECT_THAT(FieldNames(requests[0]), ElementsAre("checkhashresponse", "playlistname", "username", "hashpassword",
                                                   "format", "appkey", "_programversion"));
  const auto parts = test::MultipartParts(requests[1]);
  EXPECT_THAT(FieldNames(requests[1]), ElementsAre("filedata", "playlistname", "metainfo", "username", "hashpassword",
                                                   "format", "appkey", "_programversion"));
  EXPECT_EQ(Part(parts, "filedata")->content, "the audio content");
  EXPECT_THAT(Part(parts, "filedata")->headers, HasSubstr("filename=\"" + item.Location + "\""));
  EXPECT_THAT(Part(parts, "filedata")->headers, HasSubstr("Content-Type: audio/unknown"));
  EXPECT_EQ(Part(parts, "playlistname")->content, "Road trip");
  EXPECT_THAT(Part(parts, "metainfo")->headers, HasSubstr("Content-Type: text/xml"));
  EXPECT_THAT(Part(parts, "metainfo")->content, HasSubstr("<HashValue>" + item.HashValue + "</HashValue>"));

  const UploadPipeline& upload = engine_->upload();
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
  EXPECT_GT(engine_->service().counters().UploadedBytes, 17);
}

TEST_F(UploadLoopTest, KnownContentSendsOnlyMetadataAndOtherCodesNothing) {
  const MediaItem known = Item("known.mp3", 204, "never sent");
  Run({Item("odd.mp3", 300), known, Item("odd2.mp3", 999)});

  ASSERT_THAT(Methods(), ElementsAre("transmitfile"));
  const auto request = server_->requests()[0];
  EXPECT_THAT(FieldNames(request), ElementsAre("checkhashresponse", "metainfo", "hashvalue", "username", "hashpassword",
                                               "format", "appkey", "_programversion"));
  const auto parts = test::MultipartParts(request);
  EXPECT_EQ(Part(parts, "checkhashresponse")->content, "204");
  EXPECT_EQ(Part(parts, "hashvalue")->content, known.HashValue);
  EXPECT_THAT(Part(parts, "metainfo")->headers, HasSubstr("Content-Type: audio/info"));
  EXPECT_THAT(request.body, ::testing::Not(HasSubstr("never sent")));
  EXPECT_TRUE(engine_->upload().queue().empty());
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Finished);
  EXPECT_EQ(engine_->upload().statusWindow().ItemsStarted, 3);
  // The notice comes last, once the windows are where the finished run leaves them.
  EXPECT_EQ(ui_.viewChanges.back(), View::RunEnded);
  EXPECT_EQ(engine_->upload().runEndNotice().title, "Upload done!");
  EXPECT_EQ(engine_->upload().runEndNotice().text, "0 files uploaded, 1 already in your locker.");
}

TEST_F(UploadLoopTest, RefusedRegistrationStopsTheRunAfterRemovingThatRecord) {
  SetAddAnswer(Envelope("false", "1234", "Quota exceeded"));
  const MediaItem second = Item("second.mp3", 404);
  Run({Item("first.mp3", 404), second});

  EXPECT_THAT(Methods(), ElementsAre("items/add"));
  EXPECT_THAT(ui_.messages, ElementsAre("Quota exceeded  (Error #1234"));
  EXPECT_EQ(ui_.status(), "     Upload has been aborted");
  const UploadPipeline& upload = engine_->upload();
  ASSERT_EQ(upload.queue().QueueCount(), 1);
  EXPECT_EQ(upload.queue().First()->location, second.Location);
  EXPECT_EQ(upload.outcome(), RunOutcome::Stopped);
  EXPECT_TRUE(upload.UploadStopped());
  EXPECT_TRUE(upload.controls().resumeEnabled);
  EXPECT_FALSE(upload.controls().stopEnabled);
  EXPECT_EQ(upload.runEndNotice().title, "Upload stopped");
  EXPECT_EQ(upload.runEndNotice().text, "Quota exceeded  (Error #1234");
  EXPECT_TRUE(upload.runEndNotice().error);

  SetAddAnswer({});
  engine_->ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("items/add", "items/add", "/upload/1"));
  EXPECT_EQ(upload.outcome(), RunOutcome::Finished);
  EXPECT_EQ(upload.runEndNotice().title, "Upload done!");
  EXPECT_EQ(upload.runEndNotice().text, "1 file uploaded.");
  EXPECT_FALSE(upload.runEndNotice().error);
}

TEST_F(UploadLoopTest, RegistrationWithoutAnAddressIsARefusal) {
  SetAddAnswer(Envelope("true", "0"));
  Run({Item("a.mp3", 404), Item("b.mp3", 404)});
  EXPECT_THAT(Methods(), ElementsAre("items/add"));
  EXPECT_THAT(ui_.messages, ElementsAre("The service named no upload location  (Error #500"));
  EXPECT_EQ(engine_->upload().queue().QueueCount(), 1);
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Stopped);
}

TEST_F(UploadLoopTest, UnreachableRegistrationIsShownThenRefusedWithCode500) {
  server_.reset(); // nothing listens any more
  Run({Item("a.mp3", 404)});
  EXPECT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_THAT(ui_.messages, ElementsAre("  (Error #500"));
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Stopped);
}

TEST_F(UploadLoopTest, FailedTransferKeepsTheRecordFirstUntilResumed) {
  uploadFails_ = true;
  const MediaItem first = Item("first.mp3", 404);
  Run({first, Item("second.mp3", 404)});

  const UploadPipeline& upload = engine_->upload();
  EXPECT_EQ(upload.outcome(), RunOutcome::Failed);
  ASSERT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_EQ(upload.runEndNotice().text, ui_.errorDisplays[0]);
  EXPECT_TRUE(upload.runEndNotice().error);
  ASSERT_EQ(upload.queue().QueueCount(), 2);
  EXPECT_EQ(upload.queue().First()->location, first.Location);
  EXPECT_FALSE(upload.UploadStopped());
  EXPECT_TRUE(upload.controls().stopEnabled);
  EXPECT_FALSE(upload.LoopActive());

  uploadFails_ = false;
  engine_->StopUpload();
  engine_->ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("items/add", "/upload/1", "items/add", "/upload/2", "items/add", "/upload/3"));
  EXPECT_EQ(upload.outcome(), RunOutcome::Finished);
  EXPECT_EQ(upload.runEndNotice().text, "2 files uploaded.");
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

  const UploadPipeline& upload = engine_->upload();
  EXPECT_TRUE(Methods().empty());
  EXPECT_EQ(upload.outcome(), RunOutcome::Failed);
  ASSERT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_THAT(ui_.errorDisplays[0], HasSubstr("Cannot open the file " + workFolder().string() + "/tmp_run-"));
  ASSERT_EQ(upload.queue().QueueCount(), 2);
  EXPECT_EQ(upload.queue().First()->location, known.Location);

  engine_->StopUpload();
  engine_->ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("transmitfile", "transmitfile"));
  EXPECT_EQ(upload.outcome(), RunOutcome::Finished);
}

TEST_F(UploadLoopTest, StopDuringATransferFinishesThatFileOnly) {
  const MediaItem first = Item("first.mp3", 404);
  const MediaItem second = Item("second.mp3", 404);
  ui_.onProcessMessages = [&] {
    if (ui_.status() == "     Upload of " + first.Location && !engine_->upload().UploadStopped() && Methods().empty()) {
      engine_->StopUpload();
    }
  };
  Run({first, second});
  ui_.onProcessMessages = nullptr;
  EXPECT_THAT(Methods(), ElementsAre("items/add", "/upload/1"));
  ASSERT_EQ(engine_->upload().queue().QueueCount(), 1);
  EXPECT_EQ(engine_->upload().queue().First()->location, second.Location);
  EXPECT_EQ(engine_->upload().controls().itemsToUpload, "2");

  engine_->ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("items/add", "/upload/1", "items/add", "/upload/2"));
}

TEST_F(UploadLoopTest, ResumeDuringATransferLetsTheRunningLoopGoOnWithoutNesting) {
  const MediaItem first = Item("first.mp3", 404);
  bool inFirst = false, stopped = false, resumed = false;
  ui_.onProcessMessages = [&] {
    if (ui_.status() == "     Upload of " + first.Location) inFirst = true;
    if (!inFirst || resumed) return;
    if (!stopped) {
      stopped = true;
      engine_->StopUpload();
    } else {
      resumed = true;
      engine_->ResumeUpload(); // returns at once: the loop is running
      EXPECT_TRUE(engine_->upload().LoopActive());
    }
  };
  Run({first, Item("second.mp3", 404), Item("third.mp3", 204)});
  ui_.onProcessMessages = nullptr;
  EXPECT_TRUE(resumed);
  EXPECT_THAT(Methods(), ElementsAre("items/add", "/upload/1", "items/add", "/upload/2", "transmitfile"));
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Finished);
}

TEST_F(UploadLoopTest, ClearingTheQueueDuringATransferRemovesNothingElse) {
  const MediaItem first = Item("first.mp3", 404);
  bool cleared = false;
  bool refusedBuild = false;
  ui_.onProcessMessages = [&] {
    if (!cleared && ui_.status() == "     Upload of " + first.Location) {
      cleared = true;
      // A new build while the loop sends would empty the queue under it: refused.
      refusedBuild =
          !engine_->upload().BuildUploadQueue(EngineInternals::collection(*engine_).items, kSourceDroppedFiles);
      engine_->ClearUploadQueue();
    }
  };
  Run({first, Item("second.mp3", 404)});
  ui_.onProcessMessages = nullptr;
  EXPECT_TRUE(refusedBuild);
  EXPECT_EQ(ui_.messages.size(), 1u);
  EXPECT_THAT(Methods(), ElementsAre("items/add", "/upload/1"));
  EXPECT_TRUE(engine_->upload().queue().empty());
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Stopped);
}

TEST_F(UploadLoopTest, RemovingTheRecordInTransferLeavesTheOthersQueued) {
  const MediaItem first = Item("first.mp3", 404);
  const MediaItem second = Item("second.mp3", 300);
  bool removed = false;
  ui_.onProcessMessages = [&] {
    if (!removed && ui_.status() == "     Upload of " + first.Location) {
      removed = engine_->RemoveQueueItem(engine_->upload().queue().First()->id);
      engine_->StopUpload();
    }
  };
  Run({first, second});
  ui_.onProcessMessages = nullptr;
  ASSERT_TRUE(removed);
  ASSERT_EQ(engine_->upload().queue().QueueCount(), 1);
  EXPECT_EQ(engine_->upload().queue().First()->location, second.Location);
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
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Finished);
  EXPECT_EQ(engine_->upload().statusWindow().ItemsStarted, 3000);
  EXPECT_LT(highest - lowest, 16u * 1024);
}

TEST_F(UploadLoopTest, EveryRunStartSendsTheCurrentPlaylistFileOnceAndIgnoresItsFailure) {
  Playlists playlists{{"Mix", "", 1, {std::string(40, 'a')}, {}}};
  engine_->upload().CurrentPlaylistFile = WritePlaylistFile(playlists, kSourceITunes, engine_->ui());
  prefillFails_ = true;
  uploadFails_ = true;
  Run({Item("a.mp3", 404)});
  EXPECT_THAT(Methods(), ElementsAre("set/prefill", "items/add", "/upload/1"));
  const auto parts = test::MultipartParts(server_->requests()[0]);
  EXPECT_THAT(Part(parts, "filedata")->content, HasSubstr("<Name>Mix</Name>"));

  uploadFails_ = false;
  engine_->StopUpload();
  engine_->ResumeUpload();
  EXPECT_THAT(Methods(), ElementsAre("set/prefill", "items/add", "/upload/1", "items/add", "/upload/2"));
}

TEST_F(UploadLoopTest, AnEmptyRunFinishesAtTheStartTick) {
  Run({});
  EXPECT_TRUE(Methods().empty());
  EXPECT_EQ(engine_->upload().outcome(), RunOutcome::Finished);
  EXPECT_TRUE(engine_->upload().windows().uploadDoneBarVisible);
  EXPECT_FALSE(engine_->upload().windows().startTimerEnabled);
  engine_->CloseUploadDoneBar();
  EXPECT_FALSE(engine_->upload().windows().uploadDoneBarVisible);
  // A second tick of the one-shot timer does nothing.
  engine_->OnStartTimer();
  EXPECT_FALSE(engine_->upload().windows().uploadDoneBarVisible);
}

TEST_F(UploadLoopTest, InvitationIsSentAsTypedAndConfirmed) {
  engine_->ShowInvitation();
  EXPECT_TRUE(engine_->upload().statusWindow().invitationVisible);
  inviteFails_ = true;
  engine_->SendInvitation("friend@example.test");
  EXPECT_EQ(ui_.errorDisplays.size(), 1u);
  EXPECT_EQ(engine_->upload().statusWindow().invitationText, kInvitationPrompt);

  inviteFails_ = false;
  const int progressBefore = ui_.progressEvents;
  engine_->SendInvitation(" not an address ");
  EXPECT_EQ(engine_->upload().statusWindow().invitationText, kInvitationDone);
  EXPECT_EQ(ui_.progressEvents, progressBefore);
  const auto request = server_->requests().back();
  EXPECT_EQ(Method(request), "misc/sendinvitation");
  EXPECT_EQ(Part(test::MultipartParts(request), "email")->content, " not an address ");
}

} // namespace
} // namespace velmora
