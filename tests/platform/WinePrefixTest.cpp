// Winamp's installation is found through the Wine prefix's registry, and Windows paths map to
// files of this machine through dosdevices, ignoring case as Windows does.

#include "base/WinePrefix.h"

#include "TempHome.h"

#include <gtest/gtest.h>

namespace velmora::wine {
namespace {

class WinePrefixTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    prefix = files() / "prefix";
    drive = files() / "drive_c";
    std::filesystem::create_directories(prefix / "dosdevices");
    std::filesystem::create_directories(drive);
    std::filesystem::create_directory_symlink(drive, prefix / "dosdevices" / "c:");
  }
  void WriteUserReg(const std::string& body) {
    test::WriteFile(prefix / "user.reg",
                    "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n" + body);
  }
  std::filesystem::path prefix, drive;
};

TEST_F(WinePrefixTest, ReadsTheDefaultValueOfAKeyWithEscapes) {
  WriteUserReg(
      "[Software\\\\Other] 1\n@=\"no\"\n\n"
      "[Software\\\\Winamp] 1700000000\n#time=1d9\n\"Name\"=\"x\"\n"
      "@=\"C:\\\\Program Files\\\\Winamp \\x00e9\\\"q\\\"\"\n");
  EXPECT_EQ(ReadUserRegistryDefault(prefix, "Software\\Winamp"), "C:\\Program Files\\Winamp é\"q\"");
  EXPECT_EQ(ReadUserRegistryDefault(prefix, "software\\winamp"), "C:\\Program Files\\Winamp é\"q\"");
  EXPECT_EQ(ReadUserRegistryDefault(prefix, "Software\\Missing"), std::nullopt);
  EXPECT_EQ(ReadUserRegistryDefault(files() / "no prefix", "Software\\Winamp"), std::nullopt);
}

TEST_F(WinePrefixTest, MapsDrivePathsIgnoringCase) {
  test::WriteFile(drive / "Music" / "My Song.mp3", "x");
  EXPECT_EQ(ToLocalPath(prefix, "C:\\Music\\My Song.mp3"), (prefix / "dosdevices/c:/Music/My Song.mp3").string());
  EXPECT_EQ(ToLocalPath(prefix, "c:\\MUSIC\\my song.MP3"), (prefix / "dosdevices/c:/Music/My Song.mp3").string());
  EXPECT_TRUE(std::filesystem::exists(ToLocalPath(prefix, "C:/music/MY SONG.mp3")));
  EXPECT_FALSE(std::filesystem::exists(ToLocalPath(prefix, "C:\\Music\\Other.mp3")));
  EXPECT_EQ(ToLocalPath(prefix, "/home/me/a.mp3"), "/home/me/a.mp3");
  EXPECT_EQ(ToLocalPath(prefix, "sub\\a.mp3"), "sub/a.mp3");
}

TEST_F(WinePrefixTest, DetectsThePlaylistsFileOnlyWhenWinampIsInstalled) {
  WriteUserReg("[Software\\\\Winamp] 1\n@=\"C:\\\\Program Files\\\\Winamp\"\n");
  EXPECT_EQ(DetectWinampPlaylistsFile(prefix), std::nullopt); // no winamp.exe yet
  test::WriteFile(drive / "Program Files" / "Winamp" / "winamp.exe", "MZ");
  EXPECT_EQ(DetectWinampPlaylistsFile(prefix),
            (prefix / "dosdevices/c:/Program Files/Winamp/Plugins/ml/playlists.xml").string());
}

} // namespace
} // namespace velmora::wine
