// ReadFileMetadata describes a file from its ID3v2 tag, the MPEG frames after it and its ID3v1 tag, ID3v2 values
// replacing ID3v1 values wholesale.

#include "../tags/TagBytes.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "sources/FileMetadata.h"

#include <gtest/gtest.h>

#include <system_error>

namespace velmora {
namespace {

using namespace std::string_literals;
using test::Id3v1;
using test::Repeat;
using test::Tag;
using test::TextFrame;

class FileMetadataTest : public ::testing::Test {
protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = dir / name;
    test::WriteFile(path, bytes);
    return path.string();
  }
  MediaItem Read(const std::string& path) { return ReadFileMetadata(path, readers, ui); }

  test::TempDir dir;
  TagReaders readers;
  test::RecordingUi ui;
  const std::string audio = Repeat(test::Mpeg1Frame(), 300); // 125,100 bytes at 128 kbit/s
};

TEST_F(FileMetadataTest, OnlyAnID3v1TagGivesItsValues) {
  const std::string bytes = audio + Id3v1("Title", "Artist", "Album", "1987", std::string(28, ' ') + '\0' + '\5', 8);
  const MediaItem item = Read(Write("v1.mp3", bytes));
  EXPECT_EQ(item.Name, "Title");
  EXPECT_EQ(item.Artist, "Artist");
  EXPECT_EQ(item.Album, "Album");
  EXPECT_EQ(item.Year, "1987");
  EXPECT_EQ(item.TrackNo, "5");
  EXPECT_EQ(item.Genre, "Jazz");
  EXPECT_EQ(item.Bitrate, 128);
  EXPECT_EQ(item.SampleRate, 44100);
  EXPECT_EQ(item.Length, static_cast<std::int64_t>(bytes.size() * 8 / 128000));
  EXPECT_EQ(item.Size, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(item.HashValue, "");
  EXPECT_EQ(item.Bpm, 0);
  EXPECT_FALSE(item.Rating.has_value());
  EXPECT_FALSE(item.PlayedTimes.has_value());
}

TEST_F(FileMetadataTest, AnMp3NamedLikeAnotherFormatIsReadAsAnMp3) {
  const std::string plain = audio + Id3v1("Title", "Artist", "Album", "1987", "no track", 8);
  const std::string tagged = Tag(3, TextFrame(3, "TIT2", 0, "Tagged")) + audio;
  const MediaItem mp3 = Read(Write("plain.mp3", plain));
  EXPECT_EQ(mp3.TrackNo, "0");
  for (const char* ext : {".wma", ".m4a", ".ogg"}) {
    SCOPED_TRACE(ext);
    const MediaItem named = Read(Write(std::string("plain") + ext, plain));
    EXPECT_EQ(named.Name, mp3.Name);
    EXPECT_EQ(named.TrackNo, mp3.TrackNo);
    EXPECT_EQ(named.Bitrate, mp3.Bitrate);
    EXPECT_EQ(named.Length, mp3.Length);
    const MediaItem withId3v2 = Read(Write(std::string("tagged") + ext, tagged));
    EXPECT_EQ(withId3v2.Name, "Tagged");
    EXPECT_EQ(withId3v2.Bitrate, 128);
  }
}

TEST_F(FileMetadataTest, AnID3v2TagReplacesEveryTagFieldEvenWithNothing) {
  const std::string tag = Tag(3, TextFrame(3, "TIT2", 1, "\xFF\xFEN\0e\0w\0"s) + TextFrame(3, "TCON", 0, "(13)"), 512);
  const std::string bytes = tag + audio + Id3v1("Old", "Old artist", "Old album", "1970", "", 0);
  const MediaItem item = Read(Write("both.mp3", bytes));
  EXPECT_EQ(item.Name, "New");
  EXPECT_EQ(item.Genre, "Pop");
  EXPECT_EQ(item.Artist, "");
  EXPECT_EQ(item.Album, "");
  EXPECT_EQ(item.Year, "");
  EXPECT_EQ(item.TrackNo, "");
  // The MPEG search starts after the tag, and the tag is not audio.
  EXPECT_EQ(item.Length, static_cast<std::int64_t>((bytes.size() - tag.size()) * 8 / 128000));
}

TEST_F(FileMetadataTest, WithoutFramesTheAudioFieldsStayEmpty) {
  const MediaItem item = Read(Write("text.mp3", std::string(5000, 'x')));
  EXPECT_FALSE(item.Bitrate.has_value());
  EXPECT_FALSE(item.SampleRate.has_value());
  EXPECT_FALSE(item.Length.has_value());
  EXPECT_EQ(item.Name, "");
  EXPECT_EQ(item.Size, 5000);

  const MediaItem empty = Read(Write("empty.mp3", ""));
  EXPECT_EQ(empty.Size, 0);
  EXPECT_EQ(empty.Location, (dir / "empty.mp3").string());
}

TEST_F(FileMetadataTest, ATagSizeBeyondTheFileLeavesNoAudio) {
  const std::string bytes = "ID3" + test::Bytes({4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}) + audio;
  const MediaItem item = Read(Write("huge-tag.mp3", bytes));
  EXPECT_FALSE(item.Bitrate.has_value());
  EXPECT_TRUE(ui.errorMessages.empty());
}

TEST_F(FileMetadataTest, NothingOfTheFileReadBeforeSurvives) {
  Read(Write("first.mp3", Tag(4, TextFrame(4, "TPE1", 3, "Someone")) + audio + Id3v1("T", "A", "B", "1", "", 1)));
  const MediaItem second = Read(Write("second.mp3", std::string(400, '\0')));
  EXPECT_EQ(second.Artist, "");
  EXPECT_EQ(second.Name, "");
  EXPECT_FALSE(second.Bitrate.has_value());
  EXPECT_EQ(second.TrackNo, "");
}

TEST_F(FileMetadataTest, AFileThatCannotBeOpenedIsAnErrorNamingIt) {
  const std::string missing = (dir / "gone.mp3").string();
  try {
    Read(missing);
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find(missing), std::string::npos);
  }
}

} // namespace
} // namespace velmora
