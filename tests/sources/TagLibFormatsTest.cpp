// .m4a, .ogg and .wma files are described through TagLib, in the same fields and text forms as an
// MP3; a file TagLib cannot read keeps empty fields and is no error.

#include "RecordingUi.h"
#include "TempHome.h"
#include "sources/FileMetadata.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace velmora {
namespace {

class TagLibFormatsTest : public ::testing::Test {
protected:
  // A 3 s stereo tone at 44.1 kHz with tags (track number 7 unless `track` is false), encoded by
  // ffmpeg with `codec`.
  std::string Encode(const std::string& name, const std::string& codec, bool track = true) {
    const std::string path = (dir / name).string();
    const std::string command =
        "ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=3 -ac 2 -ar 44100 "
        "-metadata 'artist=Bj\xC3\xB6rk Band' -metadata title=Song -metadata album=Record -metadata genre=Jazz "
        "-metadata date=1999 -metadata WM/Year=1999 " +
        std::string(track ? "-metadata track=7 " : "") + "-c:a " + codec + " -b:a 128k -y '" + path + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "ffmpeg failed: " << command;
    return path;
  }
  MediaItem Read(const std::string& path) { return ReadFileMetadata(path, readers, ui); }

  test::TempDir dir;
  TagReaders readers;
  test::RecordingUi ui;
};

TEST_F(TagLibFormatsTest, TaggedFilesGiveEveryTagAndAudioField) {
  for (const auto& [name, codec] : {std::pair{"a.m4a", "aac"}, {"a.ogg", "libvorbis"}, {"a.WMA", "wmav2"}}) {
    SCOPED_TRACE(name);
    const std::string path = Encode(name, codec);
    const MediaItem item = Read(path);
    EXPECT_EQ(item.Location, path);
    EXPECT_EQ(item.Size, static_cast<std::int64_t>(std::filesystem::file_size(path)));
    EXPECT_EQ(item.Artist, "Bj\xC3\xB6rk Band");
    EXPECT_EQ(item.Name, "Song");
    EXPECT_EQ(item.Album, "Record");
    EXPECT_EQ(item.Genre, "Jazz");
    EXPECT_EQ(item.Year, "1999");
    EXPECT_EQ(item.TrackNo, "7");
    EXPECT_EQ(item.Length, 3);
    EXPECT_EQ(item.SampleRate, 44100);
    // The average over the stream: a plain tone takes Vorbis far below its nominal rate.
    EXPECT_GT(item.Bitrate.value_or(0), 8);
  }
  EXPECT_TRUE(ui.errorMessages.empty());
}

TEST_F(TagLibFormatsTest, ATagWithoutATrackNumberGivesZeroAsAnId3v1TagDoes) {
  for (const auto& [name, codec] : {std::pair{"b.m4a", "aac"}, {"b.ogg", "libvorbis"}, {"b.wma", "wmav2"}}) {
    SCOPED_TRACE(name);
    const MediaItem item = Read(Encode(name, codec, false));
    EXPECT_EQ(item.Name, "Song");
    EXPECT_EQ(item.TrackNo, "0");
  }
}

TEST_F(TagLibFormatsTest, EmptyTruncatedAndGarbageFilesKeepEmptyFields) {
  std::string garbage;
  for (unsigned k = 0, x = 7; k < 20000; ++k) garbage += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  const std::string m4a = test::ReadFile(Encode("whole.m4a", "aac"));
  const std::string ogg = test::ReadFile(Encode("whole.ogg", "libvorbis"));
  const std::string wma = test::ReadFile(Encode("whole.wma", "wmav2"));
  const std::pair<std::string, std::string> files[] = {{"empty.m4a", ""},
                                                       {"empty.ogg", ""},
                                                       {"empty.wma", ""},
                                                       {"garbage.m4a", garbage},
                                                       {"garbage.ogg", garbage},
                                                       {"garbage.wma", garbage},
                                                       {"head.m4a", m4a.substr(0, 40)},
                                                       {"head.ogg", ogg.substr(0, 40)},
                                                       {"head.wma", wma.substr(0, 40)},
                                                       {"ftyp-only.m4a",
                                                        "\0\0\0\x18"
                                                        "ftypM4A \0\0\0\0M4A mp42" +
                                                            std::string("\0\0\x7F\xFFmoov", 8)}};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    test::WriteFile(dir / name, bytes);
    const MediaItem item = Read((dir / name).string());
    EXPECT_EQ(item.Size, static_cast<std::int64_t>(bytes.size()));
    for (const std::string* field : {&item.Artist, &item.Name, &item.Album, &item.Genre, &item.Year, &item.TrackNo}) {
      EXPECT_EQ(*field, "");
    }
    EXPECT_FALSE(item.Length || item.Bitrate || item.SampleRate);
  }
  // Cut in the middle, a file may still give what its first part holds; it is read without harm.
  for (const auto& [name, bytes] : {std::pair{"half.m4a", &m4a}, {"half.ogg", &ogg}, {"half.wma", &wma}}) {
    test::WriteFile(dir / name, bytes->substr(0, bytes->size() / 2));
    EXPECT_EQ(Read((dir / name).string()).Location, (dir / name).string());
  }
  EXPECT_TRUE(ui.errorMessages.empty());
}

} // namespace
} // namespace velmora
