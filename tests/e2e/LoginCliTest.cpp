// velmora login, logout and playlists against velmora-locker keep, erase or list exactly what the window would.

#include "LockerProcess.h"
#include "TempHome.h"
#include "app/Settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class LoginCliTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
  }
  std::filesystem::path settings() const { return configHome() / "velmora-online" / "settings.ini"; }

  // Runs velmora with the given arguments; `password` goes into VELMORA_PASSWORD unless empty.
  test::CommandResult Velmora(const std::string& arguments, const char* password = nullptr) {
    std::string line =
        password ? "VELMORA_PASSWORD=" + test::ShellQuote(password) + " " : std::string("env -u VELMORA_PASSWORD ");
    return test::RunCommand(line + test::ShellQuote(VELMORA_CLI_PATH) + " " + arguments);
  }
};

TEST_F(LoginCliTest, AcceptedLoginStoresTheCredentialsAndTheStageArgumentWorksToo) {
  test::LockerProcess locker({"--user", "alice:s3cret"});
  const auto result = Velmora("--stage " + locker.hostPort() + " --user alice login", "s3cret");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_THAT(result.err, HasSubstr("Trying to connect to server ...\n"));
  EXPECT_THAT(result.err, HasSubstr("Logged in successfully\n"));
  EXPECT_EQ(LoadSettings(settings()).userName, "alice");
  EXPECT_EQ(LoadSettings(settings()).password, "s3cret");

  // Stored credentials suffice for the next run; "/stage" + separator + host as first argument.
  const auto again = Velmora(test::ShellQuote("/stage=" + locker.hostPort()) + " login");
  EXPECT_EQ(again.exitCode, 0) << again.err;
}

TEST_F(LoginCliTest, RejectedLoginReportsTheServiceErrorAndErasesTheCredentials) {
  test::LockerProcess locker({"--user", "alice:s3cret"});
  SaveSettings({"alice", "s3cret", "", "/music/back"}, settings());
  const auto result = Velmora("--stage " + locker.hostPort() + " login", "wrong");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("Login failed\n"));
  EXPECT_THAT(result.err,
              MatchesRegex("(.|\n)*Could not connect to server - error [0-9]+ \\(details: [^)\n]+\\)\n(.|\n)*"));
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"", "", "", "/music/back"}));
}

TEST_F(LoginCliTest, UpgradeAnswerShowsTheMessageAndKeepsTheCredentials) {
  test::LockerProcess locker({"--user", "alice:s3cret", "--min-version", "99.0.0.0"});
  SaveSettings({"alice", "s3cret", "", ""}, settings());
  const auto result = Velmora("--stage " + locker.hostPort() + " login");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("There is an important upgrade available for this uploader program. "
                                    "You will now be redirected to the download page.\n"));
  EXPECT_THAT(result.err, HasSubstr("/rd/download/uploader/win/"));
  EXPECT_THAT(result.err, ::testing::Not(HasSubstr("Login failed")));
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"alice", "s3cret", "", ""}));
}

TEST_F(LoginCliTest, ClosedPortIsError500CouldNotConnect) {
  SaveSettings({"alice", "s3cret", "", ""}, settings());
  const auto result = Velmora("--stage 127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()) + " login");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("Could not connect to server - error 500 (details: Could not connect to server)"));
  EXPECT_EQ(LoadSettings(settings()).userName, "");
  EXPECT_EQ(LoadSettings(settings()).password, "");
}

TEST_F(LoginCliTest, PlaylistsListsOwnNonDynamicPlaylistsOnly) {
  test::LockerProcess locker({"--user", "alice:pw", "--user", "bob:pw"});
  const std::string own = locker.Control("/_control/playlists", {{"user", "alice"}, {"name", "Road: trip"}});
  locker.Control("/_control/playlists", {{"user", "alice"}, {"name", "Smart"}, {"dynamic", "1"}});
  locker.Control("/_control/playlists", {{"user", "bob"}, {"name", "Bob's shared"}, {"shared", "1"}});
  const std::size_t at = own.find("entrykey=\"") + 10;
  const std::string key = own.substr(at, own.find('"', at) - at);

  const auto result = Velmora("--stage " + locker.hostPort() + " --user ALICE playlists", "pw");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "Road: trip\t" + key + "\n");

  const auto refused = Velmora("--stage " + locker.hostPort() + " --user alice playlists", "nope");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "");
}

TEST_F(LoginCliTest, AnotherAccountNeedsAGivenPasswordAndItsRefusalKeepsTheStoredAccount) {
  test::LockerProcess locker({"--user", "alice:s3cret", "--user", "bob:pw"});
  const StoredSettings stored{"alice", "s3cret", "/w.xml", "/r"};
  SaveSettings(stored, settings());

  const auto unasked = Velmora("--stage " + locker.hostPort() + " --user bob playlists");
  EXPECT_EQ(unasked.exitCode, 2);
  EXPECT_THAT(unasked.err, HasSubstr("A password is needed for bob"));
  EXPECT_EQ(locker.RequestCounts()["user/checkaccess"], 0);
  EXPECT_EQ(LoadSettings(settings()), stored);

  // An empty VELMORA_PASSWORD is a given password: it is tried, and its refusal forgets only bob.
  const auto refused = Velmora("--stage " + locker.hostPort() + " --user bob playlists", "");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_THAT(refused.err, HasSubstr("Login failed\n"));
  EXPECT_EQ(locker.RequestCounts()["user/checkaccess"], 1);
  EXPECT_EQ(LoadSettings(settings()), stored);
}

TEST_F(LoginCliTest, LogoutForgetsTheStoredCredentialsWithoutAskingTheService) {
  SaveSettings({"alice", "s3cret", "/w.xml", "/r"}, settings());
  const auto result = Velmora("logout");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_THAT(result.err, HasSubstr("Please restart the program."));
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"", "", "/w.xml", "/r"}));
}

TEST_F(LoginCliTest, NoAccountAtAllIsAUsageError) {
  const auto result = Velmora("--stage 127.0.0.1:1 login");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("--user"));
}

} // namespace
} // namespace velmora
