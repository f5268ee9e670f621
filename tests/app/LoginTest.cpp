// performLogin and Logout move between the login states with their exact message texts, stored
// settings and opened web pages.

#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "app/Settings.h"
#include "service/WebPages.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Envelope;
using test::HttpAnswer;

const std::string kPlaylists =
    HttpAnswer(200, Envelope("true", "0", "",
                             "<items><item><name>Road: trip</name><entrykey>k1</entrykey><dynamic>0</dynamic>"
                             "<username>ALICE</username></item></items>"));

class LoginTest : public test::TempHomeTest {
protected:
  void Serve(std::string checkAccess, std::string playlists = kPlaylists) {
    checkAccess_ = std::move(checkAccess);
    playlists_ = std::move(playlists);
    server_ = std::make_unique<test::RawHttpServer>([this](const test::CapturedRequest& request) {
      if (request.target.find("user/checkaccess") != std::string::npos) return checkAccess_;
      if (request.target.find("sets/get") != std::string::npos) return playlists_;
      return HttpAnswer(404, "");
    });
    engine_ = std::make_unique<Engine>(ui, EngineOptions{"/stage " + server_->hostPort(), settings()});
    SaveSettings({"alice", "pw", "/w/playlists.xml", "/restore"}, settings());
    engine_->LoadSettings();
  }
  std::filesystem::path settings() const { return configHome() / "settings.ini"; }
  Engine& engine() { return *engine_; }
  std::vector<std::string> StatusLines() const {
    std::vector<std::string> lines;
    for (const auto& text : ui.statusTexts) lines.push_back(text);
    return lines;
  }

  test::RecordingUi ui;
  std::unique_ptr<test::RawHttpServer> server_;
  std::unique_ptr<Engine> engine_;
  std::string checkAccess_, playlists_;
};

TEST_F(LoginTest, AcceptedCredentialsLoadPlaylistsAndNameTheUserInTheCaption) {
  Serve(HttpAnswer(200, Envelope("true", "0")));
  EXPECT_TRUE(engine().Login());
  EXPECT_TRUE(engine().IsLoggedIn());
  EXPECT_EQ(StatusLines(), (std::vector<std::string>{"     Trying to connect to server ...",
                                                     "     Loading playlists ...", "     Logged in successfully"}));
  EXPECT_EQ(engine().Caption(), "Velmora Uploader (alice)");
  EXPECT_NE(std::find(ui.viewChanges.begin(), ui.viewChanges.end(), View::Caption), ui.viewChanges.end());
  ASSERT_EQ(engine().servicePlaylists().rows.size(), 1u);
  EXPECT_EQ(engine().servicePlaylists().rows[0].caption, "Road trip");
  EXPECT_TRUE(engine().servicePlaylists().rows[0].checked);
  EXPECT_EQ(engine().servicePlaylists().names, std::vector<std::string>{"Road: trip"});
  EXPECT_TRUE(ui.errorMessages.empty());
  EXPECT_EQ(LoadSettings(settings()).password, "pw"); // stored only at exit, untouched now

  const auto requests = server_->requests();
  ASSERT_EQ(requests.size(), 2u);
  const auto parts = test::MultipartParts(requests[0]);
  ASSERT_EQ(parts.size(), 6u);
  EXPECT_EQ(parts[0].name, "_instancename");
}

TEST_F(LoginTest, RejectedCredentialsAreErasedAtOnceAndReported) {
  Serve(HttpAnswer(200, Envelope("false", "401", "Wrong password")));
  EXPECT_FALSE(engine().Login());
  EXPECT_FALSE(engine().IsLoggedIn());
  EXPECT_EQ(ui.status(), "     Login failed");
  EXPECT_EQ(ui.errorMessages,
            std::vector<std::string>{"Could not connect to server - error 401 (details: Wrong password)"});
  EXPECT_EQ(engine().userName(), "");
  EXPECT_EQ(engine().password(), "");
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"", "", "/w/playlists.xml", "/restore"}));
  EXPECT_EQ(engine().Caption(), "Velmora Uploader");
  EXPECT_EQ(server_->requests().size(), 1u); // no playlist listing
}

TEST_F(LoginTest, UnreachableOrUnreadableServiceCountsAsError500) {
  for (const std::string& answer : {HttpAnswer(502, "Bad gateway"), HttpAnswer(200, "<html/>"), std::string()}) {
    ui = {};
    Serve(answer);
    EXPECT_FALSE(engine().Login());
    EXPECT_EQ(ui.errorMessages, std::vector<std::string>{
                                    "Could not connect to server - error 500 (details: Could not connect to server)"});
    EXPECT_EQ(LoadSettings(settings()).userName, "");
  }
}

TEST_F(LoginTest, UpgradeAnswerOpensTheDownloadPageAndKeepsTheCredentials) {
  Serve(HttpAnswer(200, Envelope("false", "1300", "too old")));
  EXPECT_FALSE(engine().Login());
  EXPECT_EQ(ui.messages, std::vector<std::string>{"There is an important upgrade available for this uploader "
                                                  "program. You will now be redirected to the download page."});
  EXPECT_EQ(ui.openedUrls, std::vector<std::string>{WebPageUrl(WebPage::UpgradeDownload)});
  EXPECT_TRUE(ui.errorMessages.empty());
  EXPECT_EQ(engine().userName(), "alice");
  EXPECT_EQ(engine().password(), "pw");
  EXPECT_EQ(LoadSettings(settings()).password, "pw");
  EXPECT_EQ(ui.status(), "     Trying to connect to server ...");
}

// The listing after an accepted login has no guard: an unreadable answer ends the login unfinished.
TEST_F(LoginTest, UnreadablePlaylistAnswerLeavesTheUserLoggedOut) {
  Serve(HttpAnswer(200, Envelope("true", "0")), HttpAnswer(500, "down"));
  EXPECT_ANY_THROW(engine().Login());
  EXPECT_FALSE(engine().IsLoggedIn());
  EXPECT_FALSE(ui.sawStatus("     Logged in successfully"));
  EXPECT_EQ(engine().Caption(), "Velmora Uploader");
  EXPECT_EQ(engine().userName(), "alice");
}

TEST_F(LoginTest, LogoutForgetsTheStoredCredentials) {
  Serve(HttpAnswer(200, Envelope("true", "0")));
  engine().Logout();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"Please restart the program."});
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"", "", "/w/playlists.xml", "/restore"}));
  EXPECT_TRUE(server_->requests().empty());
}

TEST(WebPages, AddressesOnTheBuiltInWebHost) {
  const std::string web = WebPageUrl(WebPage::Root);
  EXPECT_EQ(web.rfind("http://", 0), 0u);
  EXPECT_EQ(GoToMenuText(), "Go to " + web.substr(7));
  EXPECT_EQ(WebPageUrl(WebPage::Terms), web + "/rd/terms/");
  EXPECT_EQ(WebPageUrl(WebPage::RequestPassword), web + "/rd/requestpassword/?source=uploader");
  EXPECT_EQ(WebPageUrl(WebPage::Signup), web + "/rd/signup/?source=uploaderwin32&version=");
  EXPECT_EQ(WebPageUrl(WebPage::UpgradeDownload), web + "/rd/download/uploader/win/");
  EXPECT_EQ(WebPageUrl(WebPage::Feedback).rfind("http://", 0), 0u);
}

} // namespace
} // namespace velmora
