// Id3v1Reader reads the last 128 bytes of a stream as an ID3v1.0/1.1 tag, starting every read from the cleared state.

#include "TagBytes.h"
#include "tags/GenreNames.h"
#include "tags/Id3v1Reader.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Bytes;
using test::Id3v1;

struct Read {
  TagResult result;
  Id3v1Reader tag;
};

Read ReadBytes(const std::string& bytes) {
  Read r;
  MemoryTagStream stream(bytes);
  stream.Seek(3); // the reader positions the stream itself
  r.result = r.tag.ReadTag(stream);
  return r;
}

TEST(ID3v1Tag, AFileThatIsOnlyATagIsRead) {
  const auto r = ReadBytes(Id3v1("Song", "Band", "Record", "1999", "note", 17));
  EXPECT_EQ(r.result, TagResult::Ok);
  EXPECT_TRUE(r.tag.TagPresent());
  EXPECT_EQ(r.tag.Title(), "Song");
  EXPECT_EQ(r.tag.Artist(), "Band");
  EXPECT_EQ(r.tag.Album(), "Record");
  EXPECT_EQ(r.tag.Year(), "1999");
  EXPECT_EQ(r.tag.Genre(), "Rock");
  EXPECT_EQ(r.tag.Track(), "0");
}

TEST(ID3v1Tag, TheTagIsTakenFromTheEndOfALongerFile) {
  const auto r = ReadBytes(std::string(5000, 'x') + Id3v1("End", "", "", "", "", 0));
  EXPECT_EQ(r.result, TagResult::Ok);
  EXPECT_EQ(r.tag.Title(), "End");
}

TEST(ID3v1Tag, TrackNumberOnlyWhenByte125IsZeroAndByte126IsNot) {
  std::string comment(28, 'c');
  auto v11 = ReadBytes(Id3v1("", "", "", "", comment + Bytes({0, 7}), 0));
  EXPECT_TRUE(v11.tag.IsVersion11());
  EXPECT_EQ(v11.tag.Track(), "7");
  EXPECT_EQ(v11.tag.Comment()[27], 'c');
  EXPECT_EQ(v11.tag.Comment()[28], 0);
  EXPECT_EQ(v11.tag.Comment()[29], 0);

  auto zeroTrack = ReadBytes(Id3v1("", "", "", "", comment + Bytes({0, 0}), 0));
  EXPECT_FALSE(zeroTrack.tag.IsVersion11());
  EXPECT_EQ(zeroTrack.tag.Track(), "0");

  auto v10 = ReadBytes(Id3v1("", "", "", "", comment + Bytes({'x', 9}), 0));
  EXPECT_FALSE(v10.tag.IsVersion11());
  EXPECT_EQ(v10.tag.Track(), "0");
  EXPECT_EQ(v10.tag.Comment()[29], 9);

  auto highest = ReadBytes(Id3v1("", "", "", "", comment + Bytes({0, 255}), 0));
  EXPECT_EQ(highest.tag.Track(), "255");
}

TEST(ID3v1Tag, FieldsLoseControlCharactersAndBlanksAtTheEndsOnly) {
  std::string inner = "AB";
  inner += '\0';
  inner += "CD";
  const auto r = ReadBytes(Id3v1("Four", std::string(30, ' '), " " + inner + "  ", "12  ", "", 0));
  EXPECT_EQ(r.tag.Title(), "Four");
  EXPECT_EQ(r.tag.Artist(), "");
  EXPECT_EQ(r.tag.Album(), inner);
  EXPECT_EQ(r.tag.Year(), "12");
}

TEST(ID3v1Tag, EightBitTextIsWindows1252) {
  const auto r = ReadBytes(Id3v1("Caf\xE9 \x80 \x93quoted\x94", "\x81", "", "", "", 0));
  EXPECT_EQ(r.tag.Title(), "Caf\xC3\xA9 \xE2\x82\xAC \xE2\x80\x9Cquoted\xE2\x80\x9D");
  EXPECT_EQ(r.tag.Artist(), "\xC2\x81");
}

TEST(ID3v1Tag, GenreIndexesBeyondTheListHaveNoName) {
  EXPECT_EQ(ReadBytes(Id3v1("", "", "", "", "", 0)).tag.Genre(), "Blues");
  EXPECT_EQ(ReadBytes(Id3v1("", "", "", "", "", 125)).tag.Genre(), "Dance Hall");
  EXPECT_EQ(ReadBytes(Id3v1("", "", "", "", "", 126)).tag.Genre(), "");
  EXPECT_EQ(ReadBytes(Id3v1("", "", "", "", "", 255)).tag.Genre(), "");
  EXPECT_EQ(GenreNames.size(), 126u);
  EXPECT_EQ(GenreNames[79], "Hard Rock");
  EXPECT_EQ(GenreNames[80], "Folk");
}

TEST(ID3v1Tag, ShortFilesAndMissingMarkersGiveNoTag) {
  const auto shortFile = ReadBytes(Id3v1("x", "", "", "", "", 0).substr(0, 127));
  EXPECT_EQ(shortFile.result, TagResult::ReadError);
  EXPECT_FALSE(shortFile.tag.TagPresent());
  EXPECT_EQ(ReadBytes("").result, TagResult::ReadError);

  std::string lower = Id3v1("x", "", "", "", "", 0);
  lower.replace(0, 3, "tag");
  const auto noMarker = ReadBytes(lower);
  EXPECT_EQ(noMarker.result, TagResult::NoTag);
  EXPECT_FALSE(noMarker.tag.TagPresent());
}

TEST(ID3v1Tag, NothingOfAnEarlierFileSurvivesARead) {
  Id3v1Reader tag;
  const std::string tagged = Id3v1("Old", "Old", "Old", "2000", "", 3);
  MemoryTagStream first(tagged);
  ASSERT_EQ(tag.ReadTag(first), TagResult::Ok);
  const std::string untagged(300, 'z');
  MemoryTagStream second(untagged);
  EXPECT_EQ(tag.ReadTag(second), TagResult::NoTag);
  EXPECT_FALSE(tag.TagPresent());
  EXPECT_EQ(tag.Title(), "");
  EXPECT_EQ(tag.Year(), "");
  EXPECT_EQ(tag.Track(), "0");
  EXPECT_EQ(tag.GenreIndex(), 0);
}

TEST(ID3v1Tag, AStreamErrorIsReportedAsFailedWithItsText) {
  auto stream = test::PrefixStream("", 1000);
  stream.failAt = 900;
  Id3v1Reader tag;
  EXPECT_EQ(tag.ReadTag(stream), TagResult::Failed);
  EXPECT_NE(tag.ErrorText().find("Read error"), std::string::npos);
  EXPECT_FALSE(tag.TagPresent());
}

} // namespace
} // namespace velmora
