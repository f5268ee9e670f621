// MpegReader accepts the first frame that two more frames follow without gap, and measures bit rate, sample rate and
// duration from it or from its Xing frame count.

#include "TagBytes.h"
#include "tags/MpegReader.h"

#include <gtest/gtest.h>

#include <random>

namespace velmora {
namespace {

using test::Bytes;
using test::Mpeg1Frame;
using test::MpegFrame;
using test::Repeat;

MpegFrameHeader Header(int b1, int b2, int b3) {
  const std::string bytes = Bytes({0xFF, b1, b2, b3});
  return ParseMpegFrameHeader(reinterpret_cast<const unsigned char*>(bytes.data()));
}

struct Info {
  TagResult result;
  MpegReader info;
};

Info ReadFrom(const std::string& bytes, std::int64_t start = 0) {
  Info r;
  MemoryTagStream stream(bytes);
  stream.Seek(start);
  r.result = r.info.ReadInfo(stream);
  return r;
}

// A first frame carrying `marker` and, when flagged, a frame count at the offset for its layout.
std::string MarkedFrame(std::string frame, std::size_t offset, const std::string& marker, std::uint32_t flags,
                        std::uint32_t frames) {
  frame.replace(offset, 12, marker + test::BigEndian(flags, 4) + test::BigEndian(frames, 4));
  return frame;
}

TEST(MpegFrameHeader, LengthsFollowVersionLayerAndPadding) {
  EXPECT_EQ(Header(0xFB, 0x90, 0x00).frameLength, 417); // MPEG-1 Layer III 128k 44.1k
  EXPECT_EQ(Header(0xFB, 0x92, 0x00).frameLength, 418);
  EXPECT_EQ(Header(0xFB, 0xE4, 0x00).frameLength, 960); // 320k 48k
  EXPECT_EQ(Header(0xF3, 0x80, 0x00).frameLength, 208); // MPEG-2 64k 22.05k
  EXPECT_EQ(Header(0xE3, 0x48, 0x00).frameLength, 288); // MPEG-2.5 32k 8k
  EXPECT_EQ(Header(0xE3, 0x48, 0x00).sampleRate, 8000);
  EXPECT_EQ(Header(0xFF, 0x10, 0x00).frameLength, 32); // MPEG-1 Layer I 32k 44.1k
  EXPECT_EQ(Header(0xFF, 0x12, 0x00).frameLength, 36);
  EXPECT_EQ(Header(0xFD, 0x10, 0xC0).frameLength, 104); // MPEG-1 Layer II 32k mono
  EXPECT_EQ(Header(0xF5, 0x10, 0xC0).frameLength, 26);  // MPEG-2 Layer II 8k mono: coefficient 72000
}

TEST(MpegFrameHeader, InvalidFieldsAreNeverAccepted) {
  EXPECT_FALSE(Header(0xFB, 0x9C, 0x00).valid); // sample rate index 3
  EXPECT_FALSE(Header(0xFB, 0xF0, 0x00).valid); // bit rate index 15
  EXPECT_FALSE(Header(0xEB, 0x90, 0x00).valid); // version bits 01
  EXPECT_FALSE(Header(0xF9, 0x90, 0x00).valid); // layer bits 00
  EXPECT_FALSE(Header(0xDB, 0x90, 0x00).valid); // no sync
  EXPECT_FALSE(Header(0xFD, 0x10, 0x00).valid); // Layer II 32k stereo
  EXPECT_FALSE(Header(0xFD, 0xB0, 0xC0).valid); // Layer II 224k mono
  EXPECT_TRUE(Header(0xFD, 0xB0, 0x00).valid);
  EXPECT_FALSE(Header(0xFB, 0x00, 0x00).valid); // free format: length 0
}

TEST(MpegInfo, ConstantBitrateFileAfterATag) {
  const std::string tag = "ID3" + std::string(200, '\0');
  const std::string file = tag + Repeat(Mpeg1Frame(), 100);
  const auto r = ReadFrom(file, static_cast<std::int64_t>(tag.size()));
  EXPECT_EQ(r.result, TagResult::Ok);
  EXPECT_TRUE(r.info.Valid());
  EXPECT_EQ(r.info.Bitrate(), 128);
  EXPECT_EQ(r.info.SampleRate(), 44100);
  EXPECT_EQ(r.info.Duration(), static_cast<std::int64_t>(100 * 417) * 8 / 128000);
  EXPECT_EQ(r.info.FileSize(), static_cast<std::int64_t>(file.size()));
}

TEST(MpegInfo, GarbageAndAStraySyncBeforeTheFirstFrameAreSkipped) {
  const std::string junk = std::string(700, 'j') + Bytes({0xFF, 0xFB, 0x90, 0x00}) + std::string(50, 'j');
  const std::string file = junk + Repeat(Mpeg1Frame(), 40) + std::string(128, 't');
  const auto r = ReadFrom(file);
  ASSERT_EQ(r.result, TagResult::Ok);
  // The duration counts from the first accepted frame to the end, a trailing tag included.
  EXPECT_EQ(r.info.Duration(), static_cast<std::int64_t>(file.size() - junk.size()) * 8 / 128000);
}

TEST(MpegInfo, TwoFramesAreNotEnough) {
  EXPECT_EQ(ReadFrom(Repeat(Mpeg1Frame(), 2)).result, TagResult::NoFrame);
  EXPECT_EQ(ReadFrom(Repeat(Mpeg1Frame(), 2) + Bytes({0xFF, 0xFB, 0x90})).result, TagResult::NoFrame);
  EXPECT_EQ(ReadFrom(Repeat(Mpeg1Frame(), 2) + Bytes({0xFF, 0xFB, 0x90, 0x00})).result, TagResult::Ok);
}

TEST(MpegInfo, XingFrameCountGivesTheAverageBitrate) {
  const std::uint32_t n = 1000;
  const std::string first = MarkedFrame(Mpeg1Frame(), 36, "Xing", 1, n);
  const auto r = ReadFrom(first + Repeat(Mpeg1Frame(), n));
  ASSERT_EQ(r.result, TagResult::Ok);
  EXPECT_EQ(r.info.Bitrate(), 127); // 44.1 * 417000 / (1000 * 144), truncated
  EXPECT_EQ(r.info.Duration(), 26); // close to 1000 * 1152 / 44100 = 26.1
}

TEST(MpegInfo, XingOffsetsDependOnVersionAndChannels) {
  const std::uint32_t n = 500;
  const std::string mpeg2 = MpegFrame(0xF3, 0x80, 0x00, 208);
  const auto stereo = ReadFrom(MarkedFrame(mpeg2, 21, "Xing", 1, n) + Repeat(mpeg2, n));
  EXPECT_EQ(stereo.info.Bitrate(), 63);
  EXPECT_EQ(stereo.info.Duration(), 13); // close to 500 * 576 / 22050 = 13.06

  const std::string mpeg2Mono = MpegFrame(0xF3, 0x80, 0xC0, 208);
  EXPECT_EQ(ReadFrom(MarkedFrame(mpeg2Mono, 13, "Xing", 1, n) + Repeat(mpeg2Mono, n)).info.Bitrate(), 63);
  const std::string mpeg1Mono = MpegFrame(0xFB, 0x90, 0xC0, 417);
  EXPECT_EQ(ReadFrom(MarkedFrame(mpeg1Mono, 21, "Xing", 1, 1000) + Repeat(mpeg1Mono, 1000)).info.Bitrate(), 127);
  // At the stereo offset a mono frame's marker is not seen: measured as constant bitrate.
  EXPECT_EQ(ReadFrom(MarkedFrame(mpeg1Mono, 36, "Xing", 1, 1000) + Repeat(mpeg1Mono, 1000)).info.Bitrate(), 128);
}

TEST(MpegInfo, XingWithoutFrameCountMeasuresTheSecondFrame) {
  const std::string first = MarkedFrame(Mpeg1Frame(), 36, "Xing", 0, 0);
  const std::string rest = Repeat(MpegFrame(0xFB, 0xA0, 0x00, 522), 30); // 160k
  const auto r = ReadFrom(first + rest);
  ASSERT_EQ(r.result, TagResult::Ok);
  EXPECT_EQ(r.info.Bitrate(), 160);
  EXPECT_EQ(r.info.Duration(), static_cast<std::int64_t>(rest.size()) * 8 / 160000);
}

TEST(MpegInfo, OtherMarkersAreMeasuredAsConstantBitrateFromTheFirstFrame) {
  const std::string file = MarkedFrame(Mpeg1Frame(), 36, "Info", 1, 7) + Repeat(Mpeg1Frame(), 60);
  const auto r = ReadFrom(file);
  EXPECT_EQ(r.info.Bitrate(), 128);
  EXPECT_EQ(r.info.Duration(), static_cast<std::int64_t>(file.size()) * 8 / 128000);
}

TEST(MpegInfo, FilesWithoutAcceptableFramesGiveNoFrame) {
  EXPECT_EQ(ReadFrom("").result, TagResult::NoFrame);
  EXPECT_EQ(ReadFrom(std::string(5000, '\xFF')).result, TagResult::NoFrame);
  EXPECT_EQ(ReadFrom(Repeat(MpegFrame(0xFB, 0x00, 0x00, 400), 10)).result, TagResult::NoFrame); // free format
  EXPECT_EQ(ReadFrom(Repeat(MpegFrame(0xFD, 0x10, 0x00, 104), 10)).result, TagResult::NoFrame); // Layer II 32k stereo
  const std::string good = Repeat(Mpeg1Frame(), 10);
  EXPECT_EQ(ReadFrom(good, static_cast<std::int64_t>(good.size())).result, TagResult::NoFrame);
  EXPECT_EQ(ReadFrom(good, static_cast<std::int64_t>(good.size()) + 50).result, TagResult::NoFrame);
}

TEST(MpegInfo, AFailedReadKeepsEarlierValuesButClearsValid) {
  MpegReader info;
  const std::string good = Repeat(Mpeg1Frame(), 10);
  MemoryTagStream first(good);
  ASSERT_EQ(info.ReadInfo(first), TagResult::Ok);
  const std::string bad(1000, 'x');
  MemoryTagStream second(bad);
  EXPECT_EQ(info.ReadInfo(second), TagResult::NoFrame);
  EXPECT_FALSE(info.Valid());
  EXPECT_EQ(info.FileSize(), 1000);
}

TEST(MpegInfo, ReadsOnlyAWindowOfAHugeFile) {
  const std::string frame = Mpeg1Frame();
  test::GeneratedStream stream(std::int64_t{4} << 30, [&](std::int64_t at) {
    return static_cast<unsigned char>(frame[static_cast<std::size_t>(at % 417)]);
  });
  MpegReader info;
  EXPECT_EQ(info.ReadInfo(stream), TagResult::Ok);
  EXPECT_EQ(info.Duration(), (std::int64_t{4} << 30) * 8 / 128000);
  EXPECT_LT(stream.bytesRead, 2000);
}

TEST(MpegInfo, AStreamErrorIsReportedAsFailed) {
  auto stream = test::PrefixStream("", 100000);
  stream.failAt = 5000;
  MpegReader info;
  EXPECT_EQ(info.ReadInfo(stream), TagResult::Failed);
  EXPECT_FALSE(info.ErrorText().empty());
}

// The search without any window: what the windowed search must agree with on files without Xing.
struct Expected {
  bool valid = false;
  int bitrate = 0;
  int sampleRate = 0;
  std::int64_t duration = 0;
};

Expected PlainSearch(const std::string& file, std::int64_t start) {
  const auto* b = reinterpret_cast<const unsigned char*>(file.data());
  const auto size = static_cast<std::int64_t>(file.size());
  for (std::int64_t c = start; c + 3 < size; ++c) {
    const auto h1 = ParseMpegFrameHeader(b + c);
    if (!h1.valid || c + h1.frameLength + 3 >= size) continue;
    const auto h2 = ParseMpegFrameHeader(b + c + h1.frameLength);
    const std::int64_t third = c + h1.frameLength + h2.frameLength;
    if (!h2.valid || third + 3 >= size) continue;
    if (b[third] != 0xFF || b[third + 1] < 0xE0 || h1.bitrate == 0) continue;
    return {true, h1.bitrate, h1.sampleRate, (size - c) * 8 / (h1.bitrate * 1000)};
  }
  return {};
}

TEST(MpegInfo, WindowedSearchAgreesWithAPlainSearch) {
  std::mt19937 random(20240611);
  const std::string frames[] = {
      Mpeg1Frame(),
      MpegFrame(0xFB, 0x92, 0x00, 418),
      MpegFrame(0xF3, 0x80, 0x00, 208),
      MpegFrame(0xE3, 0x48, 0xC0, 288),
      MpegFrame(0xFF, 0x10, 0x00, 32),
      MpegFrame(0xFD, 0x10, 0xC0, 104),
      MpegFrame(0xFB, 0xE4, 0x00, 960),
  };
  for (int round = 0; round < 400; ++round) {
    std::string file;
    const int pieces = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < pieces; ++i) {
      switch (random() % 5) {
      case 0: { // junk, rich in sync bytes
        const std::size_t n = random() % 900;
        for (std::size_t k = 0; k < n; ++k) file += static_cast<char>(random() % 3 == 0 ? 0xFF : random() % 256);
        break;
      }
      case 1: // a frame cut short
        file += frames[random() % 7].substr(0, random() % 400);
        break;
      default: // a run of whole frames
        file += Repeat(frames[random() % 7], 1 + random() % 3);
      }
    }
    const std::int64_t start = file.empty() ? 0 : static_cast<std::int64_t>(random() % file.size());
    const Expected expected = PlainSearch(file, start);
    const auto r = ReadFrom(file, start);
    ASSERT_EQ(r.result == TagResult::Ok, expected.valid) << "round " << round;
    if (!expected.valid) continue;
    ASSERT_EQ(r.info.Bitrate(), expected.bitrate) << "round " << round;
    ASSERT_EQ(r.info.SampleRate(), expected.sampleRate) << "round " << round;
    ASSERT_EQ(r.info.Duration(), expected.duration) << "round " << round;
  }
}

} // namespace
} // namespace velmora
