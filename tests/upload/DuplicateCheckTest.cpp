// The duplicate check lists every hash id, marks each answered code on all items with exactly
// that hash id (later answers win, odd answer items are ignored) with a step per item for the
// window, holds the run when the check fails; the playlist file lists each playlist's first
// ItemCount hash ids.

#include "FakeServiceClient.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "base/WorkFolder.h"
#include "model/PlaylistFile.h"
#include "upload/DuplicateCheck.h"
#include "upload/UploadPipeline.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

namespace velmora {
namespace {

using test::Envelope;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::string kA(40, 'a');
const std::string kB(40, 'b');

MediaItem WithHash(const std::string& hash) {
  MediaItem item;
  item.HashValue = hash;
  return item;
}

std::vector<std::int32_t> Codes(const MediaItems& items) {
  std::vector<std::int32_t> codes;
  for (const auto& item : items) codes.push_back(item.HashCheckResponse);
  return codes;
}

class DuplicateCheckTest : public test::TempHomeTest {
protected:
  test::RecordingUi ui_;
  test::FakeServiceClient service_{ui_};
  UploadPipeline upload_{service_};
};

TEST(CheckAnswer, ReadsItemsByPositionAndSkipsOddOnes) {
  const std::string answer = Envelope("true", "0", "",
                                      "<items><item><h>" + kA +
                                          "</h><c>404</c></item>"
                                          "<item/>"
                                          "<item><only>" +
                                          kB +
                                          "</only></item>"
                                          "<item><h>" +
                                          kB +
                                          "</h><c>lots</c></item>"
                                          "<item>\n  <hash>" +
                                          kB + "</hash>\n  <code> 204 </code>\n</item></items>");
  // The step (where the window gets its messages) comes with every answer item, odd ones too.
  int steps = 0;
  EXPECT_THAT(ReadCheckAnswer(answer, [&] { ++steps; }), ElementsAre(std::pair{kA, 404}, std::pair{kB, 204}));
  EXPECT_EQ(steps, 5);
  EXPECT_TRUE(ReadCheckAnswer("not xml").empty());
}

TEST(CheckAnswer, MarksEveryItemWithTheExactHashIdAndLaterAnswersWin) {
  MediaItems items{WithHash(kA), WithHash(kB), WithHash(kA), WithHash("invalidhashvalue")};
  int steps = 0;
  MarkCheckResponses(items,
                     {{kA, 204}, {"AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", 1}, {"invalidhashvalue", 404}, {kA, 404}},
                     [&] { ++steps; });
  EXPECT_THAT(Codes(items), ElementsAre(404, 0, 404, 404));
  EXPECT_EQ(steps, 8); // each item indexed, each answer matched
  MarkCheckResponse(items, 200, kB);
  EXPECT_THAT(Codes(items), ElementsAre(404, 200, 404, 404));
}

TEST_F(DuplicateCheckTest, SendsTheHashListAndMarksTheAnsweredCodes) {
  service_.Answer(
      "items/checkhashvalues",
      Envelope("true", "0", "", "<items><item><hashvalue>" + kA + "</hashvalue><code>404</code></item></items>"));
  MediaItems items{WithHash(kA), WithHash(kB), WithHash(kA)};
  const std::string path = WriteHashListFile(items, kSourceDroppedFiles, ui_);
  EXPECT_EQ(path, RunFolder() + "mediaitems_hash_3.xml");
  EXPECT_EQ(test::ReadFile(path), test::ReadFile(workFolder() / "mediaitems_hash_3.xml"));
  pugi::xml_document listed;
  ASSERT_TRUE(listed.load_file(path.c_str()));
  EXPECT_EQ(listed.select_nodes("/items/item/hashvalue").size(), 3u);
  EXPECT_EQ(std::string(listed.select_node("/items/item[2]/hashvalue").node().text().get()), kB);

  upload_.CheckDuplicatesOnline(items, path);
  EXPECT_THAT(Codes(items), ElementsAre(404, 0, 404));
  EXPECT_TRUE(ui_.sawStatus("     Starting Online Duplicate check ... "));
  EXPECT_EQ(ui_.status(), "     Online duplicate check done.");
  EXPECT_FALSE(upload_.UploadStopped());
  ASSERT_THAT(service_.methods(), ElementsAre("items/checkhashvalues"));
  const test::FakeRequest& request = service_.requests[0];
  EXPECT_THAT(request.names(), ElementsAre("filedata"));
  EXPECT_EQ(request.field("filedata")->value, path);
  EXPECT_EQ(request.field("filedata")->contentType, "text/xml");
}

TEST_F(DuplicateCheckTest, FailedCheckShowsTheErrorAndHoldsTheRun) {
  service_.Answer("items/checkhashvalues", Envelope("false", "77", "Busy"));
  MediaItems items{WithHash(kA)};
  upload_.CheckDuplicatesOnline(items, WriteHashListFile(items, kSourceITunes, ui_));
  EXPECT_THAT(ui_.errorMessages, ElementsAre("Did not receive meta data properly - error 77 (details: Busy)"));
  EXPECT_TRUE(upload_.UploadStopped());
  // The files it could not ask about failed with it; none was merely skipped.
  upload_.BeginReport();
  ASSERT_TRUE(upload_.BuildUploadQueue(items, kSourceITunes));
  const OutcomeLog report = upload_.Report();
  ASSERT_EQ(report.entries().size(), 1u);
  EXPECT_EQ(report.entries()[0].kind, FileOutcomeKind::Failed);
  EXPECT_EQ(report.entries()[0].reason, "the duplicate check failed: error 77 (details: Busy)");

  service_.Fail("items/checkhashvalues");
  upload_.CheckDuplicatesOnline(items, WriteHashListFile(items, kSourceITunes, ui_));
  // No answer at all: the cause of the failure fills the details.
  EXPECT_EQ(ui_.errorMessages.back(), "Did not receive meta data properly - error 500 (details: " +
                                          service_.FailureText("items/checkhashvalues") + ")");
}

TEST_F(DuplicateCheckTest, PlaylistFileListsTheFirstItemCountHashIds) {
  Playlists playlists{
      {"Empty", "", 0, {kA}, {}},
      {"Two of three", "", 2, {kA, kB, kA}, {}},
      {"Claims more <than> it has", "", 5, {kB}, {}},
  };
  const std::string path = WritePlaylistFile(playlists, kSourceITunes, ui_);
  EXPECT_EQ(path, RunFolder() + "playlists_0.xml");
  EXPECT_EQ(test::ReadFile(path), test::ReadFile(workFolder() / "playlists_0.xml"));
  EXPECT_EQ(ui_.status(), "     Transmitting playlist information");
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(path.c_str()));
  const auto items = document.select_nodes("/playlists/playlist/item");
  ASSERT_EQ(items.size(), 2u);
  EXPECT_STREQ(items[0].node().child("Name").text().get(), "Two of three");
  EXPECT_EQ(items[0].node().select_nodes("items/item").size(), 2u);
  EXPECT_STREQ(items[1].node().child("Name").text().get(), "Claims more <than> it has");
  EXPECT_EQ(items[1].node().select_nodes("items/item").size(), 1u);
}

TEST_F(DuplicateCheckTest, WinampLookupsAppendCopiesThatAreNotListed) {
  // Winamp counts three songs; the analysis took two of them.
  Playlists playlists{{"W", "/w/list.m3u", 3, {kA, kB}, {"/m/it's.mp3", "/m/b.mp3"}}};
  const LocationHashLookup lookup = [](const std::string& location) -> std::optional<std::string> {
    if (location == "/m/it's.mp3") return kA;
    if (location == "/m/b.mp3") return kB;
    return std::nullopt;
  };
  const std::string path = WritePlaylistFile(playlists, kSourceWinamp, ui_, lookup);
  EXPECT_THAT(playlists[0].HashValues, ElementsAre(kA, kB, kA, kB));
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(path.c_str()));
  const auto listed = document.select_nodes("//items/item");
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(std::string(listed[0].node().text().get()), kA);
  EXPECT_EQ(std::string(listed[1].node().text().get()), kB);
}

} // namespace
} // namespace velmora
