// The password in the desktop keyring: `velmora login` moves a password from the settings file
// into the keyring, later runs read it back (before any other copy in the file), logout removes
// it whatever the host, a locked keyring is named and sends nothing; without a session bus the
// settings file keeps it as before. CTest runs this program through
// with-keyring (a private session bus and keyring daemon); the keyring cases skip elsewhere.

#include "LockerProcess.h"
#include "TempHome.h"
#include "app/Settings.h"
#include "base/Keyring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace velmora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class KeyringTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw s3cret"});
  }
  std::filesystem::path settings() const { return configHome() / "velmora-online" / "settings.ini"; }
  // velmora against the locker; `environment` goes before it (VELMORA_PASSWORD, env -u ...).
  test::CommandResult Velmora(const std::string& arguments, const std::string& environment = "") {
    return test::RunCommand("env -u VELMORA_PASSWORD " + environment + " " + test::ShellQuote(VELMORA_CLI_PATH) +
                            " --stage " + locker->hostPort() + " " + arguments);
  }
  // What another keyring client finds for alice at the locker's host.
  test::CommandResult SecretToolLookup() {
    return test::RunCommand("secret-tool lookup user alice host " + locker->hostPort());
  }
  int CheckAccessRequests() { return locker->RequestCounts()["user/checkaccess"]; }

  std::unique_ptr<test::LockerProcess> locker;
};

bool KeyringUnderTest() { return std::getenv("VELMORA_TEST_KEYRING") && keyring::Available(); }

TEST_F(KeyringTest, PasswordMovesIntoTheKeyringIsReadBackAndLeavesAtLogout) {
  if (!KeyringUnderTest()) GTEST_SKIP() << "runs through tests/keyring/with-keyring";
  // An earlier version kept the password in the file; it moves at the next successful login.
  SaveSettings({"alice", "pw s3cret", "", "/music/back"}, settings());
  const auto login = Velmora("login");
  ASSERT_EQ(login.exitCode, 0) << login.err;
  EXPECT_THAT(login.err, HasSubstr("The password is kept in the desktop keyring\n"));
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"alice", "", "", "/music/back"}));
  EXPECT_THAT(test::ReadFile(settings()), Not(HasSubstr("s3cret")));
  const auto found = SecretToolLookup();
  EXPECT_EQ(found.out, "pw s3cret");

  // Read back by the next run; another client sees the label with user name and host.
  const auto listed = Velmora("playlists");
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  const auto search = test::RunCommand("secret-tool search user alice host " + locker->hostPort() + " 2>&1");
  EXPECT_THAT(search.out, HasSubstr("alice at " + locker->hostPort()));

  // Logout removes it from the keyring and the file.
  const auto logout = Velmora("logout");
  ASSERT_EQ(logout.exitCode, 0) << logout.err;
  EXPECT_NE(SecretToolLookup().exitCode, 0);
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"", "", "", "/music/back"}));
}

TEST_F(KeyringTest, KeyringPasswordComesFirstAndLogoutForgetsItWhateverTheHost) {
  if (!KeyringUnderTest()) GTEST_SKIP() << "runs through tests/keyring/with-keyring";
  // A stale copy in the file does not win over the keyring's good password, and goes.
  ASSERT_TRUE(keyring::Store("alice", locker->hostPort(), "pw s3cret"));
  SaveSettings({"alice", "stale", "", ""}, settings());
  const auto first = Velmora("playlists");
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(SecretToolLookup().out, "pw s3cret");
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"alice", "", "", ""}));

  // A newer password in the file (stored while no keyring answered) is tried next and moves in.
  ASSERT_TRUE(keyring::Store("alice", locker->hostPort(), "outdated"));
  SaveSettings({"alice", "pw s3cret", "", ""}, settings());
  const auto second = Velmora("playlists");
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_EQ(SecretToolLookup().out, "pw s3cret");
  EXPECT_EQ(LoadSettings(settings()), (StoredSettings{"alice", "", "", ""}));

  // Kept for the locker's host (--stage), forgotten by a logout without it.
  const auto logout = test::RunCommand("env -u VELMORA_PASSWORD " + test::ShellQuote(VELMORA_CLI_PATH) + " logout");
  ASSERT_EQ(logout.exitCode, 0) << logout.err;
  EXPECT_NE(SecretToolLookup().exitCode, 0) << "the keyring still holds the password";
}

TEST_F(KeyringTest, LockedKeyringLeftClosedSendsNoPassword) {
  if (!KeyringUnderTest()) GTEST_SKIP() << "runs through tests/keyring/with-keyring";
  ASSERT_EQ(Velmora("--user alice login", "VELMORA_PASSWORD='pw s3cret'").exitCode, 0);
  ASSERT_EQ(SecretToolLookup().out, "pw s3cret");
  const auto locked = test::RunCommand(
      "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
      "--method org.freedesktop.Secret.Service.Lock \"[objectpath '/org/freedesktop/secrets/aliases/default']\"");
  ASSERT_EQ(locked.exitCode, 0) << locked.err;

  // The unlock prompt cannot be shown here, as if the user declined it: no stored password.
  const int before = CheckAccessRequests();
  const auto refused = Velmora("playlists");
  EXPECT_EQ(refused.exitCode, 2) << refused.err;
  EXPECT_THAT(refused.err, HasSubstr("A password is needed for alice"));
  EXPECT_EQ(CheckAccessRequests(), before);
  // The account and its keyring entry stay for when the keyring is unlocked.
  EXPECT_EQ(LoadSettings(settings()).userName, "alice");
  const auto search = test::RunCommand(
      "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
      "--method org.freedesktop.Secret.Service.SearchItems \"{'user': 'alice', 'host': '" +
      locker->hostPort() + "'}\"");
  EXPECT_THAT(search.out, HasSubstr("[], [objectpath '/org/freedesktop/secrets/collection/login/")) << search.err;
}

TEST_F(KeyringTest, LoginWithTheKeyringLockedSaysSo) {
  if (!KeyringUnderTest()) GTEST_SKIP() << "runs through tests/keyring/with-keyring";
  const auto locked = test::RunCommand(
      "gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets "
      "--method org.freedesktop.Secret.Service.Lock \"[objectpath '/org/freedesktop/secrets/aliases/default']\"");
  ASSERT_EQ(locked.exitCode, 0) << locked.err;
  const auto login = Velmora("--user alice login", "VELMORA_PASSWORD='pw s3cret'");
  ASSERT_EQ(login.exitCode, 0) << login.err;
  EXPECT_THAT(login.err, HasSubstr("The desktop keyring is locked: the password is kept in " + settings().string()));
  EXPECT_THAT(login.err, Not(HasSubstr("No desktop keyring answers")));
  EXPECT_EQ(LoadSettings(settings()).password, "pw s3cret");
}

TEST_F(KeyringTest, WithoutASessionBusTheSettingsFileKeepsThePassword) {
  const std::string noBus = "-u DBUS_SESSION_BUS_ADDRESS VELMORA_PASSWORD='pw s3cret'";
  const auto login = Velmora("--user alice login", noBus);
  ASSERT_EQ(login.exitCode, 0) << login.err;
  const std::string note = "No desktop keyring answers: the password is kept in " + settings().string();
  const auto at = login.err.find(note);
  EXPECT_NE(at, std::string::npos) << login.err;
  EXPECT_EQ(login.err.find(note, at + 1), std::string::npos) << "said once";
  EXPECT_EQ(LoadSettings(settings()).password, "pw s3cret");
  struct stat info {};
  ASSERT_EQ(::stat(settings().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  if (KeyringUnderTest()) {
    EXPECT_NE(SecretToolLookup().exitCode, 0) << "nothing went to the keyring";
  }

  EXPECT_EQ(Velmora("playlists", "-u DBUS_SESSION_BUS_ADDRESS").exitCode, 0);
  EXPECT_EQ(Velmora("logout", "-u DBUS_SESSION_BUS_ADDRESS").exitCode, 0);
  EXPECT_EQ(LoadSettings(settings()).password, "");
}

} // namespace
} // namespace velmora
