// Settings survive a save and load unchanged, are private to their owner, and a damaged or
// missing file reads as empty values.

#include "app/Settings.h"

#include "TempHome.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace velmora {
namespace {

using test::TempHomeTest;

class SettingsTest : public TempHomeTest {};

TEST_F(SettingsTest, MissingFileReadsAsEmptyValues) {
  EXPECT_EQ(LoadSettings(), StoredSettings{});
}

TEST_F(SettingsTest, LivesInTheConfigHomeWithOwnerOnlyMode) {
  SaveSettings({"alice", "secret", "", ""});
  const auto file = configHome() / "velmora-online" / "settings.ini";
  EXPECT_EQ(SettingsFilePath(), file);
  struct stat info {};
  ASSERT_EQ(::stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(SettingsTest, AnyTextRoundTripsUnchanged) {
  const StoredSettings written{" al=ice ", "p%w;d #x\n[y]\t\r ", "/home/me/My Music/playlists.xml",
                               "C:\\restore ü"};
  SaveSettings(written);
  EXPECT_EQ(LoadSettings(), written);

  const StoredSettings cleared{"", "", "", "/kept"};
  SaveSettings(cleared);
  EXPECT_EQ(LoadSettings(), cleared);
}

TEST_F(SettingsTest, DamagedFileReadsAsEmptyValues) {
  test::WriteFile(SettingsFilePath(), "[Velmora Online]\nusername=bob\nthis line is garbage\n");
  EXPECT_EQ(LoadSettings(), StoredSettings{});
  test::WriteFile(SettingsFilePath(), std::string("\0\xff\xfe binary", 10));
  EXPECT_EQ(LoadSettings(), StoredSettings{});
}

TEST_F(SettingsTest, MissingValuesReadAsEmpty) {
  test::WriteFile(SettingsFilePath(), "[Velmora Online]\nusername=bob\n");
  EXPECT_EQ(LoadSettings(), (StoredSettings{"bob", "", "", ""}));
}

} // namespace
} // namespace velmora
