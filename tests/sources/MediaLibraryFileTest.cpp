// The media library file and the item metadata document carry every item with its children in the service's order, as
// XML any parser reads; the shared file tests answer as the sources expect.

#include "RecordingUi.h"
#include "TempHome.h"
#include "base/PeriodicPump.h"
#include "base/WorkFolder.h"
#include "model/MediaLibraryFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

const std::vector<std::string> kItemChildren = {"Album",
                                                "Location",
                                                "Type",
                                                "FileType",
                                                "Artist",
                                                "Name",
                                                "Genre",
                                                "TrackNo",
                                                "Bitrate",
                                                "Year",
                                                "Length",
                                                "Size",
                                                "Rating",
                                                "LastPlayed",
                                                "PlayedTimes",
                                                "SampleRate",
                                                "Added",
                                                "HashValue",
                                                "iTunesPersistentID",
                                                "iTunesTrackID",
                                                "bpm",
                                                "iTunesSortAlbum"};

std::vector<std::string> ChildNames(pugi::xml_node node) {
  std::vector<std::string> names;
  for (pugi::xml_node child : node.children()) names.push_back(child.name());
  return names;
}

MediaItem TaggedItem(const std::string& location) {
  MediaItem item;
  item.Location = location;
  item.Artist = "Ann & <Band>";
  item.Album = "Record \"One\"";
  item.Name = "Song";
  item.Genre = "Rock";
  item.TrackNo = "3";
  item.Bitrate = 128;
  item.Year = "1999";
  item.Length = 215;
  item.Size = 3443200;
  item.SampleRate = 44100;
  item.HashValue = "0123456789abcdef0123456789abcdef01234567";
  return item;
}

class MediaLibraryFileTest : public test::TempHomeTest {
protected:
  test::RecordingUi ui;
};

TEST_F(MediaLibraryFileTest, EveryItemIsWrittenWithItsChildrenInOrder) {
  const MediaItems items = {TaggedItem("/music/a.mp3"), TaggedItem("/music/a.mp3"), TaggedItem("/music/b.ogg")};
  const std::string path = WriteMediaLibraryFile(items, kSourceDroppedFiles, ui);
  EXPECT_EQ(path, RunFolder() + "mediaitems_3.xml");
  EXPECT_EQ(test::ReadFile(path), test::ReadFile(workFolder() / "mediaitems_3.xml"));

  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(path.c_str(), pugi::parse_default | pugi::parse_declaration));
  const pugi::xml_node declaration = document.first_child();
  EXPECT_EQ(declaration.type(), pugi::node_declaration);
  EXPECT_STREQ(declaration.attribute("encoding").value(), "utf-8");
  const pugi::xml_node list = document.child("data").child("items");
  EXPECT_STREQ(list.attribute("recordcount").value(), "3");
  std::size_t count = 0;
  for (pugi::xml_node item : list.children("item")) {
    ++count;
    EXPECT_EQ(ChildNames(item), kItemChildren);
    EXPECT_STREQ(item.child_value("Artist"), "Ann & <Band>");
    EXPECT_STREQ(item.child_value("Album"), "Record \"One\"");
    EXPECT_STREQ(item.child_value("Type"), "music");
    EXPECT_STREQ(item.child_value("FileType"), "mpeg/audio"); // also for the .ogg file
    EXPECT_STREQ(item.child_value("bpm"), "0");
    EXPECT_STREQ(item.child_value("Rating"), "");
    EXPECT_STREQ(item.child_value("iTunesSortAlbum"), "");
  }
  EXPECT_EQ(count, 3u);

  EXPECT_TRUE(ui.sawStatus("     Reading library format ..."));
  EXPECT_EQ(ui.status(), "     Creating standard media library file ...");
  EXPECT_EQ(ui.bars[ProgressBar::File].position, 3);
  EXPECT_EQ(ui.bars[ProgressBar::File].maximum, 3);
}

TEST_F(MediaLibraryFileTest, AnEmptyCollectionHasARecordCountOfZero) {
  const std::string path = WriteMediaLibraryFile({}, kSourceITunes, ui);
  pugi::xml_document document;
  ASSERT_TRUE(document.load_file(path.c_str()));
  const pugi::xml_node list = document.child("data").child("items");
  EXPECT_STREQ(list.attribute("recordcount").value(), "0");
  EXPECT_FALSE(list.child("item"));
  EXPECT_EQ(ui.bars[ProgressBar::File].maximum, 0);
}

TEST_F(MediaLibraryFileTest, EachSourceReplacesOnlyItsOwnFile) {
  WriteMediaLibraryFile({TaggedItem("/i.mp3")}, kSourceITunes, ui);
  WriteMediaLibraryFile({TaggedItem("/w.mp3")}, kSourceWinamp, ui);
  WriteMediaLibraryFile({TaggedItem("/d1.mp3")}, kSourceDroppedFiles, ui);
  WriteMediaLibraryFile({TaggedItem("/d2.mp3"), TaggedItem("/d3.mp3")}, kSourceDroppedFiles, ui);
  EXPECT_NE(test::ReadFile(workFolder() / "mediaitems_0.xml").find("/i.mp3"), std::string::npos);
  EXPECT_NE(test::ReadFile(workFolder() / "mediaitems_1.xml").find("/w.mp3"), std::string::npos);
  const std::string dropped = test::ReadFile(workFolder() / "mediaitems_3.xml");
  EXPECT_EQ(dropped.find("/d1.mp3"), std::string::npos);
  EXPECT_NE(dropped.find("/d3.mp3"), std::string::npos);
}

TEST_F(MediaLibraryFileTest, AFileThatCannotBeWrittenIsAnError) {
  // A non-empty folder where the file should go can be neither deleted nor replaced.
  std::filesystem::create_directories(workFolder() / "mediaitems_3.xml" / "blocker");
  EXPECT_THROW(WriteMediaLibraryFile({TaggedItem("/x.mp3")}, kSourceDroppedFiles, ui), std::runtime_error);
}

TEST_F(MediaLibraryFileTest, TheItemDocumentHas21ChildrenAndNoBpm) {
  MediaItem item = TaggedItem("/music/a.mp3");
  item.Bpm = 120;
  const std::string text = MediaItemXml(item, ui);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0), 0u) << text;
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(text.c_str()));
  std::vector<std::string> expected = kItemChildren;
  expected.erase(std::find(expected.begin(), expected.end(), "bpm"));
  EXPECT_EQ(ChildNames(document.child("data")), expected);
  EXPECT_EQ(expected.size(), 21u);
  EXPECT_STREQ(document.child("data").child_value("HashValue"), item.HashValue.c_str());
  EXPECT_EQ(ui.status(), "     Reading library format ...");
}

TEST_F(MediaLibraryFileTest, NumbersAreDecimalAndAnAbsentOneIsAnEmptyElement) {
  MediaItem missing = TaggedItem("/gone.mp3");
  missing.Size = -1;
  missing.PlayedTimes = 0; // an iTunes track never played
  EXPECT_NE(MediaItemXml(missing, ui).find("<Size>-1</Size><Rating/><LastPlayed/><PlayedTimes>0</PlayedTimes>"),
            std::string::npos);
  MediaItem big = TaggedItem("/big.mp3");
  big.Size = std::int64_t{5} << 30;
  big.Bitrate.reset();
  const std::string text = MediaItemXml(big, ui);
  EXPECT_NE(text.find("<TrackNo>3</TrackNo><Bitrate/><Year>1999</Year><Length>215</Length><Size>5368709120</Size>"),
            std::string::npos)
      << text;
}

TEST_F(MediaLibraryFileTest, TextXmlCannotHoldIsReplacedSoTheDocumentStillParses) {
  MediaItem item;
  item.Artist = std::string("One") + '\0' + "Two\x01";
  item.Name = "Bad \xFF byte, fine \xC3\xA9, tab\tkept";
  item.Location = "/music/\xE9t\xE9.mp3"; // a Latin-1 file name on a UTF-8 system
  const std::string text = MediaItemXml(item, ui);
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(text.c_str()));
  EXPECT_STREQ(document.child("data").child_value("Artist"), "One Two ");
  EXPECT_STREQ(document.child("data").child_value("Name"), "Bad \xEF\xBF\xBD byte, fine \xC3\xA9, tab\tkept");
  EXPECT_STREQ(document.child("data").child_value("Location"), "/music/\xEF\xBF\xBDt\xEF\xBF\xBD.mp3");
  EXPECT_EQ(XmlSafeText("\xF0\x9F\x8E\xB5 \xEF\xBF\xBF"), "\xF0\x9F\x8E\xB5 \xEF\xBF\xBD");
}

// A large library file is written in steps; the step pumps the window once 50 ms have passed, so
// the window answers while the file is written.
TEST_F(MediaLibraryFileTest, WritingStepsAndAStepPumpsTheWindowAfterFiftyMilliseconds) {
  pugi::xml_document document;
  for (int i = 0; i < 1000; ++i) document.append_child("item").text().set(i);
  PeriodicPump pump(ui);
  int steps = 0;
  const std::string text = XmlText(document, pugi::format_indent, [&] {
    if (steps++ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(60));
    pump();
  });
  EXPECT_EQ(text, XmlText(document, pugi::format_indent));
  EXPECT_GE(steps, 1);
  EXPECT_GE(ui.pumps, 1);
}

TEST(IsSupportedAudioExt, IsASubstringTestOnTheExtension) {
  for (const char* path :
       {"/m/a.mp3", "/m/A.MP3", "/m/a.m4a", "/m/a.wma", "/m/a.ogg", "a.mp", "/x/b.a", "c.M4", "/dir.wav/.mp3"})
    EXPECT_TRUE(IsSupportedAudioExt(path)) << path;
  for (const char* path :
       {"/m/a.wav", "/m/list.m3u", "/m/list.pls", "/m/noext", "/m/dot.", "/m.mp3/file", "/m/a.m3u8", ""})
    EXPECT_FALSE(IsSupportedAudioExt(path)) << path;
}

TEST(FileSizeOf, CountsBytesIn64BitsAndMinusOneForNothing) {
  test::TempDir dir;
  EXPECT_EQ(FileSizeOf((dir / "missing.mp3").string()), -1);
  EXPECT_EQ(FileSizeOf(""), -1);
  test::WriteFile(dir / "empty.mp3", "");
  EXPECT_EQ(FileSizeOf((dir / "empty.mp3").string()), 0);
  test::WriteFile(dir / "five.mp3", "12345");
  EXPECT_EQ(FileSizeOf((dir / "five.mp3").string()), 5);
  EXPECT_EQ(FileSizeOf(dir.path().string()), 0);

  const std::string big = (dir / "big.mp3").string();
  const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, std::int64_t{5} << 30), 0); // sparse: no disk space used
  ::close(fd);
  EXPECT_EQ(FileSizeOf(big), std::int64_t{5} << 30);

  const auto here = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  EXPECT_EQ(FileSizeOf("five.mp3"), 5);
  std::filesystem::current_path(here);
}

} // namespace
} // namespace velmora
