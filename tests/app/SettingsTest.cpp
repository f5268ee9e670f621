// Settings survive a save and load unchanged whatever their length, are private to their owner,
// a missing file reads as empty values and an unreadable line costs only itself.

#include "app/Settings.h"

#include "TempHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora {

void PrintTo(const StoredSettings& s, std::ostream* out) {
  *out << "{" << s.userName << " | " << s.password << " | " << s.winampLocation << " | " << s.restorePath << " | "
       << s.rateLimit.Text() << " | " << s.retries << "}";
}

namespace {

using test::TempHomeTest;

class SettingsTest : public TempHomeTest {};

TEST_F(SettingsTest, MissingFileReadsAsEmptyValues) { EXPECT_EQ(LoadSettings(), StoredSettings{}); }

TEST_F(SettingsTest, LivesInTheConfigHomeWithOwnerOnlyMode) {
  SaveSettings({"alice", "secret", "", ""});
  const auto file = configHome() / "velmora-online" / "settings.ini";
  EXPECT_EQ(SettingsFilePath(), file);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(SettingsTest, WithoutAConfigHomeTheyLiveInTheUsersDotConfig) {
  const test::PlainHome home(files());
  EXPECT_EQ(SettingsFilePath(), files() / ".config" / "velmora-online" / "settings.ini");
}

TEST_F(SettingsTest, AnyTextRoundTripsUnchanged) {
  const StoredSettings written{" al=ice ",
                               "p%w;d #x\n[y]\t\r ",
                               "/home/me/My Music/playlists.xml",
                               "C:\\restore ü",
                               1536 * 1024,
                               {"/music/in;coming =x ", "/data/Rips\n[2]"},
                               7};
  SaveSettings(written);
  EXPECT_EQ(LoadSettings(), written);

  const StoredSettings cleared{"", "", "", "/kept"};
  SaveSettings(cleared);
  EXPECT_EQ(LoadSettings(), cleared);
}

TEST_F(SettingsTest, LongValuesRoundTripWhole) {
  const std::string folder = "/home/me/" + std::string(240, 'r') + "/restore";
  const std::string playlists = "/home/me/.wine/drive_c/" + std::string(240, 'w') + "/playlists.xml";
  std::string password;
  for (int i = 0; i < 40; ++i) password += "%;#=[] \t";
  const StoredSettings written{"alice", password, playlists, folder};
  SaveSettings(written);
  EXPECT_EQ(LoadSettings(), written);
}

TEST_F(SettingsTest, UnreadableLineKeepsTheOtherValues) {
  test::WriteFile(SettingsFilePath(),
                  "[Velmora Online]\nusername=bob\nthis line is garbage\n"
                  "  password=pw\nRestorePath=/r;x #y\nLimitRate=fast\nRetries=-3\n");
  // The limit that is no rate counts as none and is kept as written.
  EXPECT_EQ(LoadSettings(), (StoredSettings{"bob", "pw", "", "/r;x #y", 0, {}, 0, "fast"}));
  test::WriteFile(SettingsFilePath(), "[Velmora Online]\nRetries=100000000000000000000000\n");
  EXPECT_EQ(LoadSettings().retries, 100) << "a count too large is the largest one";
  for (const auto& [text, transfers] : {std::pair{"4", 4}, {"0", 1}, {"-7", 1}, {"99", 16}, {"x", 1}, {"", 1}}) {
    test::WriteFile(SettingsFilePath(), std::string("[Velmora Online]\nTransfers=") + text + "\n");
    EXPECT_EQ(LoadSettings().transfers, transfers) << text;
  }
  test::WriteFile(SettingsFilePath(), std::string("\0\xff\xfe binary", 10));
  EXPECT_EQ(LoadSettings(), StoredSettings{});
}

TEST_F(SettingsTest, MissingValuesReadAsEmpty) {
  test::WriteFile(SettingsFilePath(), "[Velmora Online]\nusername=bob\n");
  EXPECT_EQ(LoadSettings(), (StoredSettings{"bob", "", "", ""}));
}

} // namespace
} // namespace velmora
