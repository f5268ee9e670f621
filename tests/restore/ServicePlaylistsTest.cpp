// LoadPlaylists lists only the user's own, non-dynamic, named playlists, and SafeFileName drops exactly the nine
// forbidden characters.

#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "service/ApiError.h"
#include "service/ServicePlaylists.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Envelope;
using test::HttpAnswer;

std::string Item(const std::string& name, const std::string& key, const std::string& dynamic,
                 const std::string& owner) {
  return "<item><name>" + name + "</name><entrykey>" + key + "</entrykey><dynamic>" + dynamic + "</dynamic><username>" +
         owner + "</username></item>";
}

class ServicePlaylistsTest : public test::TempHomeTest {
protected:
  ServiceReply Load(const std::string& answer, const std::string& user = "alice") {
    answer_ = answer;
    test::RawHttpServer server([this](const test::CapturedRequest& request) {
      requests_.push_back(request);
      return answer_;
    });
    engine_ = std::make_unique<Engine>(ui, EngineOptions{"/stage " + server.hostPort(), configHome() / "s.ini"});
    engine_->SetCredentials(user, engine_->password());
    return engine_->LoadServicePlaylists();
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& row : engine_->servicePlaylists().rows) captions.push_back(row.caption + "=" + row.entryKey);
    return captions;
  }

  test::RecordingUi ui;
  std::unique_ptr<Engine> engine_;
  std::string answer_;
  std::vector<test::CapturedRequest> requests_;
};

TEST(SafeFileName, DropsOnlyTheNineForbiddenCharacters) {
  EXPECT_EQ(SafeFileName("\"*/:<>?\\|"), "");
  EXPECT_EQ(SafeFileName("AC/DC: Live? <1991> \"best\" | a\\b*"), "ACDC Live 1991 best  ab");
  const std::string kept = std::string("tab\there\x01 .. ä ;,'", 19);
  EXPECT_EQ(SafeFileName(kept), kept);
  EXPECT_EQ(SafeFileName(""), "");
}

TEST_F(ServicePlaylistsTest, ListsOwnNonDynamicNamedPlaylistsInAnswerOrder) {
  const ServiceReply data = Load(HttpAnswer(
      200,
      Envelope("true", "0", "",
               "<items>" + Item("Road: trip", "k1", "0", "ALICE") + Item("Smart", "k2", "1", "alice") +
                   Item("Bob's", "k3", "0", "bob") + Item("", "k4", "0", "alice") +
                   Item("Zed/mix", "k5", "0", "aLiCe") +
                   "<item><entrykey>k6</entrykey><dynamic>0</dynamic><username>alice</username></item>"
                   "<item><name>NoOwner</name><entrykey>k7</entrykey><dynamic>0</dynamic></item>"
                   "<item><name>Tagged</name><entrykey> k8 </entrykey><dynamic>0</dynamic><username>alice</username>"
                   "<extra>x</extra></item>"
                   "</items>")));
  EXPECT_TRUE(data.Success);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Road trip=k1", "Zedmix=k5", "Tagged= k8 "}));
  EXPECT_EQ(engine_->servicePlaylists().names, (std::vector<std::string>{"Road: trip", "Zed/mix", "Tagged"}));
  EXPECT_EQ(engine_->servicePlaylists().rows[1].name, "Zed/mix");
  for (const auto& row : engine_->servicePlaylists().rows) EXPECT_TRUE(row.checked);
  EXPECT_EQ(ui.statusTexts.front(), "     Loading playlists ...");
  EXPECT_EQ(ui.viewChanges.back(), View::RestorePlaylists);

  const auto parts = test::MultipartParts(requests_.at(0));
  ASSERT_FALSE(parts.empty());
  EXPECT_EQ(parts[0].name, "options");
  EXPECT_EQ(parts[0].content, "notemporary,nodynamic,ownonly");
  EXPECT_NE(requests_[0].target.find("/api/rest/sets/get"), std::string::npos);
}

TEST_F(ServicePlaylistsTest, OwnerMatchIgnoresOnlyAsciiLetterCase) {
  Load(HttpAnswer(200, Envelope("true", "0", "",
                                "<items>" + Item("A", "1", "0", "J\xC3\x96RG") + Item("B", "2", "0", "j\xC3\x96rg") +
                                    "</items>")),
       "j\xC3\xB6rg");
  EXPECT_TRUE(Captions().empty()); // ö and Ö are different letters to this comparison
}

TEST_F(ServicePlaylistsTest, RefusedListingGivesEmptyListsAndNewLoadsReplaceOldOnes) {
  Load(HttpAnswer(200, Envelope("true", "0", "", "<items>" + Item("A", "1", "0", "alice") + "</items>")));
  ASSERT_EQ(engine_->servicePlaylists().rows.size(), 1u);
  const ServiceReply data = Load(HttpAnswer(200, Envelope("false", "9", "no")));
  EXPECT_FALSE(data.Success);
  EXPECT_TRUE(engine_->servicePlaylists().rows.empty());
  EXPECT_TRUE(engine_->servicePlaylists().names.empty());
}

TEST_F(ServicePlaylistsTest, UnreadableAnswersEndTheListingWithAnError) {
  try {
    Load(HttpAnswer(500, "down"));
    ADD_FAILURE() << "a listing without an answer ended well";
  } catch (const ApiError& failure) {
    EXPECT_STREQ(failure.what(), "Could not connect to server") << "the failed call, not an empty answer, is named";
  }
  EXPECT_ANY_THROW(Load(HttpAnswer(200, "not xml")));
  // A value the filter depends on without any text: what was listed before it stays.
  EXPECT_ANY_THROW(Load(HttpAnswer(
      200,
      Envelope("true", "0", "",
               "<items>" + Item("A", "1", "0", "alice") +
                   "<item><name>B</name><entrykey>2</entrykey><dynamic/><username>alice</username></item></items>"))));
  EXPECT_EQ(Captions(), std::vector<std::string>{"A=1"});
  EXPECT_EQ(ui.viewChanges.back(), View::RestorePlaylists);
}

} // namespace
} // namespace velmora
