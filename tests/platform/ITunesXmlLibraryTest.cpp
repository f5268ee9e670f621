// The iTunes library export is read as the automation layer: playlist and track kinds, 1-based
// collections, decoded file locations, whole-second durations, decimal database ids, and a clear
// error for anything that is not a readable library.

#include "sources/ITunesXmlLibrary.h"

#include "TempHome.h"

#include <gtest/gtest.h>

namespace velmora::itunes {
namespace {

const char* kLibrary = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>Major Version</key><integer>1</integer>
  <key>Tracks</key>
  <dict>
    <key>101</key>
    <dict>
      <key>Track ID</key><integer>101</integer>
      <key>Name</key><string>Caf&#233; Song</string>
      <key>Artist</key><string>The &amp; Band</string>
      <key>Album</key><string>First</string>
      <key>Genre</key><string>Rock</string>
      <key>Total Time</key><integer>245999</integer>
      <key>Track Number</key><integer>3</integer>
      <key>Year</key><integer>1999</integer>
      <key>Bit Rate</key><integer>192</integer>
      <key>Sample Rate</key><integer>44100</integer>
      <key>Play Count</key><integer>7</integer>
      <key>Play Date UTC</key><date>2020-05-01T12:34:56Z</date>
      <key>Rating</key><integer>80</integer>
      <key>BPM</key><integer>120</integer>
      <key>Persistent ID</key><string>00000000000000FF</string>
      <key>Track Type</key><string>File</string>
      <key>Location</key><string>file://localhost/home/me/Music/Caf%C3%A9%20Song.mp3</string>
    </dict>
    <key>102</key>
    <dict>
      <key>Track ID</key><integer>102</integer>
      <key>Name</key><string>Radio</string>
      <key>Track Type</key><string>URL</string>
      <key>Location</key><string>http://radio.example/stream</string>
    </dict>
  </dict>
  <key>Playlists</key>
  <array>
    <dict>
      <key>Name</key><string>Library</string>
      <key>Master</key><true/>
      <key>Visible</key><false/>
      <key>Playlist Items</key>
      <array>
        <dict><key>Track ID</key><integer>101</integer></dict>
        <dict><key>Track ID</key><integer>102</integer></dict>
      </array>
    </dict>
    <dict>
      <key>Name</key><string>Music</string>
      <key>Distinguished Kind</key><integer>4</integer>
      <key>Playlist Items</key><array><dict><key>Track ID</key><integer>101</integer></dict></array>
    </dict>
    <dict>
      <key>Name</key><string>Smart</string>
      <key>Smart Info</key><data>AQEAAwAAAAIAAAAZAAAAAAAAAAcAAAAB</data>
    </dict>
    <dict>
      <key>Name</key><string>Mine</string>
      <key>Playlist Items</key>
      <array>
        <dict><key>Track ID</key><integer>101</integer></dict>
        <dict><key>Track ID</key><integer>999</integer></dict>
      </array>
    </dict>
  </array>
</dict>
</plist>
)";

class ITunesXmlLibraryTest : public test::TempHomeTest {
protected:
  std::shared_ptr<const Application> Open(const std::string& text) {
    const auto file = files() / "iTunes Music Library.xml";
    test::WriteFile(file, text);
    return OpenXmlLibrary(file);
  }
};

TEST_F(ITunesXmlLibraryTest, PlaylistsKeepOrderAndKinds) {
  const auto app = Open(kLibrary);
  const auto playlists = app->LibrarySource()->Playlists();
  ASSERT_EQ(playlists->Count(), 4);
  EXPECT_EQ(playlists->Item(1)->Name(), "Library");
  EXPECT_EQ(playlists->Item(1)->Kind(), kPlaylistKindLibrary);
  EXPECT_EQ(playlists->Item(2)->Kind(), kPlaylistKindOther); // built-in "Music"
  EXPECT_EQ(playlists->Item(3)->Kind(), kPlaylistKindOther); // smart
  EXPECT_EQ(playlists->Item(4)->Kind(), kPlaylistKindUser);
  EXPECT_EQ(playlists->Item(3)->Tracks()->Count(), 0);
  EXPECT_THROW(playlists->Item(0), ITunesError);
  EXPECT_THROW(playlists->Item(5), ITunesError);
  EXPECT_EQ(app->LibraryPlaylist()->Tracks()->Count(), 2);
}

TEST_F(ITunesXmlLibraryTest, FileTrackFieldsAreConverted) {
  const auto track = Open(kLibrary)->LibraryPlaylist()->Tracks()->Item(1);
  EXPECT_EQ(track->Kind(), kTrackKindFile);
  EXPECT_EQ(track->Name(), "Café Song");
  EXPECT_EQ(track->Artist(), "The & Band");
  EXPECT_EQ(track->Album(), "First");
  EXPECT_EQ(track->Genre(), "Rock");
  EXPECT_EQ(track->Duration(), 245);
  EXPECT_EQ(track->TrackNumber(), 3);
  EXPECT_EQ(track->Year(), 1999);
  EXPECT_EQ(track->PlayedCount(), 7);
  EXPECT_EQ(track->Rating(), 80);
  EXPECT_EQ(track->BPM(), 120);
  EXPECT_EQ(track->TrackID(), 101);
  EXPECT_EQ(track->DatabaseID(), "255");
  EXPECT_FALSE(track->PlayedDate().empty());
  const auto file = track->AsFileTrack();
  EXPECT_EQ(file->Location(), "/home/me/Music/Café Song.mp3");
  EXPECT_EQ(file->BitRate(), 192);
  EXPECT_EQ(file->SampleRate(), 44100);
}

TEST_F(ITunesXmlLibraryTest, NonFileTracksAndUnknownIdsAreRefusedPerTrack) {
  const auto app = Open(kLibrary);
  const auto radio = app->LibraryPlaylist()->Tracks()->Item(2);
  EXPECT_EQ(radio->Kind(), kTrackKindUrl);
  EXPECT_THROW(radio->AsFileTrack(), ITunesError);
  const auto mine = app->LibrarySource()->Playlists()->Item(4)->Tracks();
  ASSERT_EQ(mine->Count(), 2);
  EXPECT_NO_THROW(mine->Item(1));
  EXPECT_THROW(mine->Item(2), ITunesError); // the export names track 999 but does not hold it
}

TEST_F(ITunesXmlLibraryTest, FileUrlsDecode) {
  EXPECT_EQ(FileUrlToPath("file://localhost/a/b%20c.mp3"), "/a/b c.mp3");
  EXPECT_EQ(FileUrlToPath("file:///a/%E2%82%AC.mp3"), "/a/€.mp3");
  EXPECT_EQ(FileUrlToPath("file:///a/100%25.mp3"), "/a/100%.mp3");
  EXPECT_EQ(FileUrlToPath("file:///a/bad%2"), "/a/bad%2");
  EXPECT_EQ(FileUrlToPath("http://example/x.mp3"), "http://example/x.mp3");
}

TEST_F(ITunesXmlLibraryTest, BrokenLibrariesAreAClearError) {
  EXPECT_THROW(OpenXmlLibrary(files() / "missing.xml"), ITunesError);
  const std::string text = kLibrary;
  EXPECT_THROW(Open(text.substr(0, text.size() / 2)), ITunesError);        // truncated
  EXPECT_THROW(Open("<plist><array/></plist>"), ITunesError);              // not a library
  EXPECT_THROW(Open(std::string("\x00\x01\x02garbage", 10)), ITunesError); // not XML
  // Missing values and stray keys do not stop the reading.
  const auto app = Open(
      "<plist><dict><key>Tracks</key><dict><key>1</key><dict><key>Name</key>"
      "</dict></dict><key>Playlists</key></dict></plist>");
  EXPECT_EQ(app->LibraryPlaylist()->Tracks()->Count(), 1);
  EXPECT_EQ(app->LibrarySource()->Playlists()->Count(), 0);
}

TEST_F(ITunesXmlLibraryTest, LibraryFileComesFromTheEnvironmentFirst) {
  ::setenv("VELMORA_ITUNES_LIBRARY", "/x/lib.xml", 1);
  EXPECT_EQ(DefaultLibraryFile(), "/x/lib.xml");
  ::unsetenv("VELMORA_ITUNES_LIBRARY");
  const char* oldHome = std::getenv("HOME");
  const std::string saved = oldHome ? oldHome : "";
  ::setenv("HOME", files().c_str(), 1);
  test::WriteFile(files() / "Music" / "iTunes" / "iTunes Library.xml", kLibrary);
  EXPECT_EQ(DefaultLibraryFile(), files() / "Music" / "iTunes" / "iTunes Library.xml");
  ::setenv("HOME", saved.c_str(), 1);
}

} // namespace
} // namespace velmora::itunes
