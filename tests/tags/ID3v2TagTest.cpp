// Id3v2Reader reads versions 2.2 to 2.4: the tag size, six text frames chosen by version in four encodings, and genre
// references, bounded by the file.

#include "TagBytes.h"
#include "tags/Id3v2Reader.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::Bytes;
using test::Frame;
using test::Tag;
using test::TextFrame;

struct Read {
  TagResult result;
  Id3v2Reader tag;
};

Read ReadBytes(const std::string& bytes) {
  Read r;
  MemoryTagStream stream(bytes);
  stream.Seek(7); // the reader starts at 0 whatever the position
  r.result = r.tag.ReadTag(stream);
  return r;
}

std::string Decode(const std::string& data) {
  return DecodeID3v2Text(reinterpret_cast<const unsigned char*>(data.data()), data.size());
}

TEST(ID3v2Tag, HeaderSizeIsSevenBitGroupsPlusTheHeader) {
  const auto r = ReadBytes("ID3" + Bytes({3, 0, 0, 0, 0, 2, 1}) + std::string(300, '\0'));
  EXPECT_EQ(r.result, TagResult::Ok);
  EXPECT_TRUE(r.tag.TagPresent());
  EXPECT_EQ(r.tag.TagSize(), 267);
  EXPECT_EQ(r.tag.MajorVersion(), 3);

  // A set top bit is not removed from a size byte.
  const auto highBit = ReadBytes("ID3" + Bytes({3, 0, 0, 0, 0, 0, 0x81}) + std::string(300, '\0'));
  EXPECT_EQ(highBit.tag.TagSize(), 10 + 0x81);
}

TEST(ID3v2Tag, AVersion4FooterAddsTenBytes) {
  const auto r = ReadBytes("ID3" + Bytes({4, 0, 0x10}) + test::Syncsafe(1000) + std::string(1100, '\0'));
  EXPECT_TRUE(r.tag.Footer());
  EXPECT_EQ(r.tag.TagSize(), 1020);
  // Version 3 has no footer: the same bit means nothing there.
  const auto v3 = ReadBytes("ID3" + Bytes({3, 0, 0x10}) + test::Syncsafe(1000) + std::string(1100, '\0'));
  EXPECT_FALSE(v3.tag.Footer());
  EXPECT_EQ(v3.tag.TagSize(), 1010);
}

TEST(ID3v2Tag, ExtendedHeaderSizeCountsDifferentlyInVersions3And4) {
  // Version 3: the size counts what follows its own 4 bytes, so frames start at 10 + 4 + 6.
  const std::string v3 =
      Tag(3, test::BigEndian(6, 4) + std::string(6, '\0') + TextFrame(3, "TIT2", 0, "Three"), 0, 0x40);
  const auto r3 = ReadBytes(v3);
  EXPECT_EQ(r3.result, TagResult::Ok);
  EXPECT_TRUE(r3.tag.ExtendedHeader());
  EXPECT_EQ(r3.tag.Title(), "Three");
  // Version 4: the size counts the whole extended header, so frames start at 10 + 6.
  const std::string v4 = Tag(4, test::Syncsafe(6) + Bytes({1, 0}) + TextFrame(4, "TIT2", 0, "Four"), 0, 0x40);
  EXPECT_EQ(ReadBytes(v4).tag.Title(), "Four");
}

TEST(ID3v2Tag, FrameIdsAreChosenByMajorVersion) {
  const auto v2 = ReadBytes(Tag(2,
                                TextFrame(2, "TT2", 0, "Title") + TextFrame(2, "TP1", 0, "Artist") +
                                    TextFrame(2, "TAL", 0, "Album") + TextFrame(2, "TYE", 0, "1998") +
                                    TextFrame(2, "TRK", 0, "4") + TextFrame(2, "TCO", 0, "(8)"),
                                20));
  EXPECT_EQ(v2.result, TagResult::Ok);
  EXPECT_EQ(v2.tag.Title(), "Title");
  EXPECT_EQ(v2.tag.Artist(), "Artist");
  EXPECT_EQ(v2.tag.Album(), "Album");
  EXPECT_EQ(v2.tag.Year(), "1998");
  EXPECT_EQ(v2.tag.Track(), "4");
  EXPECT_EQ(v2.tag.Genre(), "Jazz");

  // A three-letter id reads "TIT" + size bytes in version 2; a four-letter frame is not looked at.
  const auto v2Long = ReadBytes(Tag(2, TextFrame(2, "TT2", 0, "Short") + "TIT" + Bytes({0, 0, 2, 0, 'x'}), 4));
  EXPECT_EQ(v2Long.tag.Title(), "Short");

  const auto v3 = ReadBytes(
      Tag(3, TextFrame(3, "TYER", 0, "2001") + TextFrame(3, "TDRC", 0, "2002-05") + TextFrame(3, "TRCK", 0, "3/12")));
  EXPECT_EQ(v3.tag.Year(), "2001");
  EXPECT_EQ(v3.tag.Track(), "3/12");
  const auto v4 = ReadBytes(Tag(4, TextFrame(4, "TYER", 0, "2001") + TextFrame(4, "TDRC", 0, "2002-05")));
  EXPECT_EQ(v4.tag.Year(), "2002-05");
  const auto v4NoDate = ReadBytes(Tag(4, TextFrame(4, "TYER", 0, "2001")));
  EXPECT_EQ(v4NoDate.tag.Year(), "");
}

TEST(ID3v2Tag, Version3And4FrameSizesDiffer) {
  // 200 bytes of data: 00 00 00 C8 in version 3, 00 00 01 48 in version 4.
  const std::string text = std::string(1, '\0') + std::string(199, 'a');
  const auto v3 = ReadBytes(Tag(3, Frame(3, "TALB", text) + TextFrame(3, "TIT2", 0, "After")));
  EXPECT_EQ(v3.tag.Album(), std::string(199, 'a'));
  EXPECT_EQ(v3.tag.Title(), "After");
  const auto v4 = ReadBytes(Tag(4, Frame(4, "TALB", text) + TextFrame(4, "TIT2", 0, "After")));
  EXPECT_EQ(v4.tag.Album(), std::string(199, 'a'));
  EXPECT_EQ(v4.tag.Title(), "After");
  EXPECT_EQ(v4.tag.Frames()[0].header, (std::vector<unsigned char>{'T', 'A', 'L', 'B', 0, 0, 1, 0x48, 0, 0}));
  // Read as version 3, the syncsafe 01 48 is 328 bytes, more than the file holds.
  const auto mixed = ReadBytes(Tag(3, Frame(4, "TALB", text) + TextFrame(3, "TIT2", 0, "After")));
  EXPECT_EQ(mixed.result, TagResult::ReadError);
  EXPECT_EQ(mixed.tag.Album(), "");
}

TEST(ID3v2Tag, TheLastOfSeveralFramesWinsAndEmptyFramesGiveEmptyText) {
  const auto r =
      ReadBytes(Tag(3, TextFrame(3, "TIT2", 0, "First") + TextFrame(3, "TIT2", 0, "Second") + Frame(3, "TPE1", "")));
  EXPECT_EQ(r.tag.Title(), "Second");
  EXPECT_EQ(r.tag.Artist(), "");
  EXPECT_EQ(r.tag.FrameCount(), 3u);
}

TEST(ID3v2Tag, AnIdWithASmallLetterEndsTheFrames) {
  const auto r = ReadBytes(
      Tag(3, TextFrame(3, "TALB", 0, "Kept") + TextFrame(3, "TiT2", 0, "x") + TextFrame(3, "TPE1", 0, "Lost")));
  EXPECT_EQ(r.result, TagResult::Ok);
  EXPECT_EQ(r.tag.Album(), "Kept");
  EXPECT_EQ(r.tag.Title(), "");
  EXPECT_EQ(r.tag.Artist(), "");
}

TEST(ID3v2Tag, EachTextEncodingDecodes) {
  EXPECT_EQ(Decode(Bytes({0}) + "Name" + Bytes({0}) + "   "), "Name");
  EXPECT_EQ(Decode(Bytes({0, 0x80, 0xE9})), "\xE2\x82\xAC\xC3\xA9");
  EXPECT_EQ(Decode(Bytes({1, 0xFE, 0xFF, 0, 'A', 0, 'B'})), "AB");
  EXPECT_EQ(Decode(Bytes({1, 0xFF, 0xFE, 'A', 0, 'B', 0})), "AB");
  EXPECT_EQ(Decode(Bytes({1, 0xFF, 0xFE, 'A', 0, 'B', 0, 0, 0})), "AB");
  EXPECT_EQ(Decode(Bytes({1, 0xFF, 0xFE, 'A', 0, 'B', 0, 'C'})), "AB"); // an odd byte is ignored
  EXPECT_EQ(Decode(Bytes({1, 0x00, 0x00, 0xE9, 0x00})), "\xC3\xA9");    // no mark: little-endian
  EXPECT_EQ(Decode(Bytes({1, 0xFF, 0xFE, 'A'})), "");
  EXPECT_EQ(Decode(Bytes({1, 0xFF, 0xFE, 0x3D, 0xD8, 0xB5, 0xDC})), "\xF0\x9F\x92\xB5");
  EXPECT_EQ(Decode(Bytes({1, 0xFF, 0xFE, 0x3D, 0xD8})), "\xEF\xBF\xBD"); // lone surrogate
  EXPECT_EQ(Decode(Bytes({2, 0, 'A', 0, 'B'})), "AB");
  EXPECT_EQ(Decode(Bytes({2, 0x20, 0xAC, 0, 0})), "\xE2\x82\xAC");
  EXPECT_EQ(Decode(Bytes({3}) + "Gr\xC3\xBC\xC3\x9F" + Bytes({0})), "Gr\xC3\xBC\xC3\x9F");
  EXPECT_EQ(Decode(Bytes({3, 'A', 0xE2, 0x82})), "");  // truncated sequence
  EXPECT_EQ(Decode(Bytes({3, 0xC0, 0x80})), "");       // overlong zero
  EXPECT_EQ(Decode(Bytes({3, 0xED, 0xA0, 0x80})), ""); // encoded surrogate
  EXPECT_EQ(Decode(Bytes({3, 0xF0, 0x9F, 0x8E, 0xB5})), "\xF0\x9F\x8E\xB5");
  EXPECT_EQ(Decode(Bytes({4, 'A', 'B'})), "");
  EXPECT_EQ(Decode(""), "");
}

TEST(ID3v2Tag, ZeroCharactersInsideTheTextRemain) {
  const std::string two = std::string("One") + '\0' + "Two";
  EXPECT_EQ(Decode(Bytes({0}) + two + Bytes({0})), two);
  EXPECT_EQ(Decode(Bytes({3}) + two), two);
  EXPECT_EQ(Decode(Bytes({1, 0xFF, 0xFE, 'A', 0, 0, 0, 'B', 0, 0, 0})), std::string("A") + '\0' + "B");
}

TEST(ID3v2Tag, GenreReferencesResolveToNames) {
  EXPECT_EQ(ResolveGenre("(17)"), "Rock");
  EXPECT_EQ(ResolveGenre("(17)Rock & more"), "Rock");
  EXPECT_EQ(ResolveGenre("Trip-Hop"), "Trip-Hop");
  EXPECT_EQ(ResolveGenre("17"), "17");
  EXPECT_EQ(ResolveGenre("(126)"), "(126)");
  EXPECT_EQ(ResolveGenre("(300)"), "(300)");
  EXPECT_EQ(ResolveGenre("(-1)"), "(-1)");
  EXPECT_EQ(ResolveGenre("(RX)"), "(RX)");
  EXPECT_EQ(ResolveGenre("()"), "()");
  EXPECT_EQ(ResolveGenre("(99999999999999999999)"), "(99999999999999999999)");
  EXPECT_EQ(ResolveGenre("Heavy(9)"), "Metal");
  EXPECT_EQ(ResolveGenre("17)"), "Rock");
  EXPECT_EQ(ResolveGenre("9)(17"), "9)(17");
  EXPECT_EQ(ReadBytes(Tag(4, TextFrame(4, "TCON", 3, "(0)"))).tag.Genre(), "Blues");
}

TEST(ID3v2Tag, UnsynchronisedFramesAreReadAsStored) {
  const auto r = ReadBytes(Tag(3, TextFrame(3, "TIT2", 0, "A\xFF" + std::string(1, '\0') + "B"), 0, 0x80));
  EXPECT_TRUE(r.tag.Unsynchronisation());
  EXPECT_EQ(r.tag.Frames().at(0).data.size(), 5u);
  EXPECT_EQ(r.tag.Frames().at(0).data[3], 0);
}

TEST(ID3v2Tag, MissingOrUnsupportedTagsLeaveTheClearedState) {
  const auto shortFile = ReadBytes("ID3\x03");
  EXPECT_EQ(shortFile.result, TagResult::ReadError);
  EXPECT_FALSE(shortFile.tag.TagPresent());

  const auto none = ReadBytes(std::string(100, 'x'));
  EXPECT_EQ(none.result, TagResult::NoTag);
  EXPECT_EQ(none.tag.TagSize(), 0);

  const auto v5 = ReadBytes("ID3" + Bytes({5, 0, 0, 0, 0, 0, 10}) + std::string(20, '\0'));
  EXPECT_EQ(v5.result, TagResult::InvalidHeader);
  EXPECT_FALSE(v5.tag.TagPresent());
  EXPECT_EQ(v5.tag.TagSize(), 0);
  EXPECT_EQ(v5.tag.MajorVersion(), 3);

  Id3v2Reader tag;
  const std::string tagged = Tag(3, TextFrame(3, "TIT2", 0, "Old"));
  MemoryTagStream first(tagged);
  ASSERT_EQ(tag.ReadTag(first), TagResult::Ok);
  const std::string plain(64, 'p');
  MemoryTagStream second(plain);
  EXPECT_EQ(tag.ReadTag(second), TagResult::NoTag);
  EXPECT_EQ(tag.Title(), "");
  EXPECT_TRUE(tag.Frames().empty());
}

TEST(ID3v2Tag, TruncatedTagsKeepTheFramesReadBefore) {
  const std::string whole = Tag(3, TextFrame(3, "TIT2", 0, "Whole") + TextFrame(3, "TPE1", 0, "Cut short"));
  const auto cutData = ReadBytes(whole.substr(0, whole.size() - 3));
  EXPECT_EQ(cutData.result, TagResult::ReadError);
  EXPECT_TRUE(cutData.tag.TagPresent());
  EXPECT_EQ(cutData.tag.Title(), "Whole");
  EXPECT_EQ(cutData.tag.Artist(), "");

  const auto cutHeader = ReadBytes(whole.substr(0, 10 + 16 + 4));
  EXPECT_EQ(cutHeader.result, TagResult::ReadError);
  EXPECT_EQ(cutHeader.tag.Title(), "Whole");

  const auto cutExtended = ReadBytes("ID3" + Bytes({3, 0, 0x40, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(cutExtended.result, TagResult::ReadError);
  EXPECT_TRUE(cutExtended.tag.TagPresent());
}

TEST(ID3v2Tag, TagSizeMayExceedTheFileAndAFrameMayRunPastTheTag) {
  // Declared 1000 bytes, the file ends after the frame: the frame step stops at the end.
  const std::string frame = TextFrame(3, "TIT2", 0, "Short file");
  const auto r = ReadBytes("ID3" + Bytes({3, 0, 0}) + test::Syncsafe(1000) + frame);
  EXPECT_EQ(r.result, TagResult::Ok);
  EXPECT_EQ(r.tag.TagSize(), 1010);
  EXPECT_EQ(r.tag.Title(), "Short file");

  // Declared 5 bytes, the frame is longer: it is read whole, then the list ends.
  const auto past = ReadBytes("ID3" + Bytes({3, 0, 0}) + test::Syncsafe(5) + frame + TextFrame(3, "TPE1", 0, "No"));
  EXPECT_EQ(past.tag.Title(), "Short file");
  EXPECT_EQ(past.tag.Artist(), "");
}

TEST(ID3v2Tag, AVersion3SizeWithTheTopBitSetCarriesNoData) {
  // The 32-bit size is signed: 0x80000000 is below zero, gives empty data and reads nothing.
  const std::string tag = Tag(3, "TIT2" + Bytes({0x80, 0, 0, 0, 0, 0}) + TextFrame(3, "TPE1", 0, "Next"));
  const auto r = ReadBytes(tag);
  EXPECT_EQ(r.result, TagResult::Ok);
  EXPECT_EQ(r.tag.Title(), "");
  EXPECT_EQ(r.tag.Artist(), "Next");
  // 0x7FFFFFFF is more than the file holds.
  const auto huge = ReadBytes(Tag(3, TextFrame(3, "TALB", 0, "A") + "TIT2" + Bytes({0x7F, 0xFF, 0xFF, 0xFF, 0, 0})));
  EXPECT_EQ(huge.result, TagResult::ReadError);
  EXPECT_EQ(huge.tag.Album(), "A");
}

TEST(ID3v2Tag, FramesNoGetterReadsAreSkippedNotRead) {
  // A 50 MB picture between two text frames, in a stream that only pretends to hold it.
  const std::int64_t picture = 50 * 1024 * 1024;
  std::string head = "ID3" + Bytes({4, 0, 0}) + test::Syncsafe(static_cast<std::uint32_t>(picture + 200));
  head += TextFrame(4, "TIT2", 3, "Pictured");
  head += "APIC" + test::Syncsafe(static_cast<std::uint32_t>(picture)) + Bytes({0, 0});
  const std::int64_t pictureStart = static_cast<std::int64_t>(head.size());
  const std::string tail = TextFrame(4, "TPE1", 0, "After");
  const std::int64_t tailStart = pictureStart + picture;
  test::GeneratedStream stream(tailStart + static_cast<std::int64_t>(tail.size()) + 1000,
                               [&](std::int64_t at) -> unsigned char {
                                 if (at < pictureStart) return static_cast<unsigned char>(head[at]);
                                 if (at < tailStart) return 0xAB;
                                 if (at < tailStart + static_cast<std::int64_t>(tail.size()))
                                   return static_cast<unsigned char>(tail[at - tailStart]);
                                 return 0;
                               });
  Id3v2Reader tag;
  EXPECT_EQ(tag.ReadTag(stream), TagResult::Ok);
  EXPECT_EQ(tag.Title(), "Pictured");
  EXPECT_EQ(tag.Artist(), "After");
  EXPECT_EQ(tag.FrameCount(), 3u);
  EXPECT_LT(stream.bytesRead, 1000);
}

TEST(ID3v2Tag, AStreamErrorIsReportedAsFailedAndKeepsWhatWasRead) {
  const std::string bytes = Tag(3, TextFrame(3, "TIT2", 0, "Early") + TextFrame(3, "TPE1", 0, "Late"));
  auto stream = test::PrefixStream(bytes, static_cast<std::int64_t>(bytes.size()));
  stream.failAt = static_cast<std::int64_t>(bytes.size()) - 2;
  Id3v2Reader tag;
  EXPECT_EQ(tag.ReadTag(stream), TagResult::Failed);
  EXPECT_NE(tag.ErrorText().find("Read error"), std::string::npos);
  EXPECT_TRUE(tag.TagPresent());
  EXPECT_EQ(tag.Title(), "Early");
}

} // namespace
} // namespace velmora
