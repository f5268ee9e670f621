// Dropped ".m3u", ".m3u8" and ".pls" playlists yield the existing files they name, in file order, with
// relative entries resolved against the playlist's own folder, "\" accepted as a separator and
// drive-letter entries mapped through the Wine prefix; M3U lines are taken as they stand.

#include "DeepFolder.h"
#include "TempHome.h"
#include "sources/FolderSearch.h"
#include "sources/M3uPlaylist.h"
#include "sources/PlsPlaylist.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

using test::TempDir;
using test::WriteFile;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// A skipped entry as "path: reason", for matchers.
std::vector<std::string> Named(const std::vector<SkippedFile>& skipped) {
  std::vector<std::string> named;
  for (const SkippedFile& file : skipped) named.push_back(file.path + ": " + file.reason);
  return named;
}

class PlaylistReaderTest : public ::testing::Test {
protected:
  std::string P(const std::string& relative) const { return (dir_ / relative).string(); }
  // A Wine prefix whose drive C: is the folder "drive_c"; returns the prefix.
  std::filesystem::path WinePrefix() {
    std::filesystem::create_directories(dir_ / "wine/dosdevices");
    std::filesystem::create_directories(dir_ / "drive_c");
    std::filesystem::create_directory_symlink(dir_ / "drive_c", dir_ / "wine/dosdevices/c:");
    return dir_ / "wine";
  }
  void Touch(const std::string& relative) { WriteFile(dir_ / relative, "x"); }
  TempDir dir_;
};

TEST_F(PlaylistReaderTest, ResolvesEntriesAgainstThePlaylistFolder) {
  const std::string folder = "/music/lists";
  EXPECT_EQ(PlaylistReader::ResolveEntry(folder, "song.mp3"), "/music/lists/song.mp3");
  EXPECT_EQ(PlaylistReader::ResolveEntry(folder, "sub\\song.mp3"), "/music/lists/sub/song.mp3");
  EXPECT_EQ(PlaylistReader::ResolveEntry(folder, "../other/./song.mp3"), "/music/other/song.mp3");
  EXPECT_EQ(PlaylistReader::ResolveEntry(folder, "/abs/song.mp3"), "/abs/song.mp3");
  EXPECT_EQ(PlaylistReader::ResolveEntry(folder, "\\abs\\song.mp3"), "/abs/song.mp3");
  EXPECT_FALSE(PlaylistReader::ResolveEntry(folder, "http://radio.example/stream"));
  EXPECT_EQ(PlaylistReader::ResolveEntry(folder, "C:\\Music\\song.mp3", "/wine"), "/wine/dosdevices/c:/Music/song.mp3");
  EXPECT_EQ(PlaylistReader::ResolveEntry(folder, "d:/x.mp3", "/wine"), "/wine/dosdevices/d:/x.mp3");
  EXPECT_FALSE(PlaylistReader::ResolveEntry(folder, ""));
}

TEST_F(PlaylistReaderTest, M3uTakesEveryLineAsItStandsAndAddsOnlyExistingFilesInFileOrder) {
  const auto prefix = WinePrefix();
  Touch("lists/b.mp3");
  Touch("lists/sub/c.mp3");
  Touch("music/a.mp3");
  Touch("lists/song with blank .mp3");
  Touch("lists/#1 Hit.mp3");
  Touch("drive_c/Music/d.mp3");
  WriteFile(dir_ / "lists/mix.m3u",
            "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:123,Artist - B\r\nb.mp3\r\n"
            "missing.mp3\n" +
                P("music/a.mp3") +
                "\rsub\\c.mp3\n\n../music/a.mp3\n"
                "http://example.invalid/x.mp3\n#1 Hit.mp3\rC:\\MUSIC\\d.mp3\nsong with blank .mp3");
  EXPECT_THAT(M3uPlaylist(prefix).ExistingFiles(P("lists/mix.m3u")),
              ElementsAre(P("lists/b.mp3"), P("music/a.mp3"), P("lists/sub/c.mp3"), P("music/a.mp3"),
                          P("lists/#1 Hit.mp3"), P("wine/dosdevices/c:/Music/d.mp3"), P("lists/song with blank .mp3")));
  // Entries meant to name a file and naming none are reported; comment lines are not.
  const std::string by = " (named by the playlist " + P("lists/mix.m3u") + ")";
  EXPECT_THAT(Named(M3uPlaylist(prefix).Resolve(P("lists/mix.m3u")).skipped),
              ElementsAre(P("lists/missing.mp3") + ": no such file" + by,
                          "http://example.invalid/x.mp3: not a local file" + by));
}

TEST_F(PlaylistReaderTest, M3u8IsUtf8UnlessItIsNotWellFormedThenWindows1252) {
  Touch("lists/Caf\xC3\xA9.mp3");
  Touch("lists/\xE2\x82\xAC uro.mp3");
  WriteFile(dir_ / "lists/utf8.m3u8", "\xEF\xBB\xBF#EXTM3U\nCaf\xC3\xA9.mp3\r\n\xE2\x82\xAC uro.mp3\n");
  WriteFile(dir_ / "lists/ansi.m3u8", "#EXTM3U\n\x80 uro.mp3\nCaf\xE9.mp3\n");
  const auto expected = ElementsAre(P("lists/Caf\xC3\xA9.mp3"), P("lists/\xE2\x82\xAC uro.mp3"));
  EXPECT_THAT(M3u8Playlist().ExistingFiles(P("lists/utf8.m3u8")), expected);
  EXPECT_THAT(M3u8Playlist().ExistingFiles(P("lists/ansi.m3u8")),
              ElementsAre(P("lists/\xE2\x82\xAC uro.mp3"), P("lists/Caf\xC3\xA9.mp3")));
}

TEST_F(PlaylistReaderTest, M3uMissingIsEmptyUnreadableIsAnError) {
  EXPECT_THAT(M3uPlaylist().ExistingFiles(P("none.m3u")), IsEmpty());
  WriteFile(dir_ / "locked.m3u", "a.mp3\n");
  ::chmod(P("locked.m3u").c_str(), 0);
  if (::geteuid() != 0) {
    EXPECT_THROW(M3uPlaylist().Entries(P("locked.m3u")), std::runtime_error);
  }
}

TEST_F(PlaylistReaderTest, PlsTakesEveryKeyOfThePlaylistSectionInFileOrder) {
  const auto prefix = WinePrefix();
  Touch("drive_c/Music/win.mp3");
  Touch("lists/one.mp3");
  Touch("lists/two ;part.mp3");
  const std::string longFolder = "music/" + std::string(120, 'f') + "/" + std::string(120, 'g');
  Touch(longFolder + "/three.mp3");
  WriteFile(dir_ / "lists/set.pls",
            "[other]\nFile1=one.mp3\n"
            "[PlayList]\nNumberOfEntries=3\nFile1=one.mp3\nTitle1=One\nLength1=-1\n"
            "  File2=two ;part.mp3\n"
            "File3=" +
                P(longFolder + "/three.mp3") + "\nFile4=nothing.mp3\nFile5=c:\\music\\WIN.mp3\nVersion=2\n");
  EXPECT_THAT(PlsPlaylist(prefix).ExistingFiles(P("lists/set.pls")),
              ElementsAre(P("lists/one.mp3"), P("lists/two ;part.mp3"), P(longFolder + "/three.mp3"),
                          P("wine/dosdevices/c:/Music/win.mp3")));
  // Only file keys name files: titles, lengths and counts are not reported as missing files.
  EXPECT_THAT(
      Named(PlsPlaylist(prefix).Resolve(P("lists/set.pls")).skipped),
      ElementsAre(P("lists/nothing.mp3") + ": no such file (named by the playlist " + P("lists/set.pls") + ")"));
}

TEST_F(PlaylistReaderTest, PlsMissingOrNotAPlaylistAddsNothing) {
  EXPECT_THAT(PlsPlaylist().Entries(P("none.pls")), IsEmpty());
  std::filesystem::create_directories(dir_ / "folder.pls");
  EXPECT_THAT(PlsPlaylist().Entries(P("folder.pls")), IsEmpty());
  WriteFile(dir_ / "garbage.pls", std::string("\0\1\2[[[=\n", 8));
  EXPECT_THAT(PlsPlaylist().Entries(P("garbage.pls")), IsEmpty());
}

// A zero byte ends a line's text wherever it stands; what follows it on the line is no entry of
// its own. Found by fuzzing: the parser's first buffer is 200 bytes, and past it the text after a zero
// byte came back as further lines.
TEST_F(PlaylistReaderTest, PlsZeroByteEndsTheLineEvenInALongLine) {
  const std::string tail = std::string(250, 'x') + "=y.mp3";
  WriteFile(dir_ / "zero.pls", "[playlist]\nFile1=a.mp3" + std::string(1, '\0') + tail + "\n" +
                                   "File2=" + std::string(300, 'b') + std::string(1, '\0') + tail + "\nFile3=c.mp3\n");
  EXPECT_THAT(PlsPlaylist().Entries(P("zero.pls")), ElementsAre("a.mp3", std::string(300, 'b'), "c.mp3"));
}

TEST_F(PlaylistReaderTest, FolderSearchFindsMaskedFilesDepthFirstSkippingHiddenAndLinksToFolders) {
  Touch("root/top.MP3");
  Touch("root/readme.txt");
  Touch("root/a/deep/x.ogg");
  Touch("root/a/y.m4a");
  Touch("root/b/z.Wma");
  Touch("root/.hidden/secret.mp3");
  Touch("root/.dot.mp3");
  Touch("outside/far.mp3");
  std::filesystem::create_directories(dir_ / "root/folder.mp3");
  std::filesystem::create_directory_symlink(dir_ / "root", dir_ / "root/b/loop");
  std::filesystem::create_directory_symlink(dir_ / "outside", dir_ / "root/b/out");
  std::filesystem::create_symlink(dir_ / "outside/far.mp3", dir_ / "root/b/linked.mp3");
  std::filesystem::create_symlink(dir_ / "nowhere", dir_ / "root/b/broken.mp3");
  ASSERT_EQ(::mkfifo(P("root/b/pipe.ogg").c_str(), 0644), 0);
  auto found = SearchFolder(P("root"), {".mp3", ".m4a", ".wma", ".ogg"});
  // Own files come before any subfolder's; the file system decides the order among siblings.
  ASSERT_EQ(found.files.size(), 5u);
  EXPECT_EQ(found.files[0], P("root/top.MP3"));
  const auto& files = found.files;
  const auto pos = [&](const std::string& p) { return std::find(files.begin(), files.end(), P(p)) - files.begin(); };
  EXPECT_LT(pos("root/a/y.m4a"), pos("root/a/deep/x.ogg"));
  EXPECT_LT(pos("root/b/linked.mp3"), 5);
  EXPECT_LT(pos("root/b/z.Wma"), 5);
  EXPECT_THAT(Named(found.skipped), UnorderedElementsAre(P("root/b/loop") + ": link to a folder: not followed",
                                                         P("root/b/out") + ": link to a folder: not followed",
                                                         P("root/b/broken.mp3") + ": a link that leads nowhere",
                                                         P("root/b/pipe.ogg") + ": not a regular file: a named pipe"));
}

// Every folder holds a file and a folder the search cannot read: each unreadable folder is
// skipped by itself and named, and every file around it is still found, whatever the order.
TEST_F(PlaylistReaderTest, FolderSearchSkipsOnlyTheFolderItCannotRead) {
  Touch("root/first/one.mp3");
  Touch("root/second/two.mp3");
  const test::DeepFolder deepFirst(dir_ / "root/first");
  const test::DeepFolder deepSecond(dir_ / "root/second");
  const auto found = SearchFolder(P("root"), {".mp3"});
  EXPECT_THAT(found.files, UnorderedElementsAre(P("root/first/one.mp3"), P("root/second/two.mp3")));
  EXPECT_THAT(Named(found.skipped),
              UnorderedElementsAre(deepFirst.firstUnreachable() + ": cannot read the folder: File name too long",
                                   deepSecond.firstUnreachable() + ": cannot read the folder: File name too long"));
}

} // namespace
} // namespace velmora
