// `velmora inspect` prints, for MP3 files an encoder made, the media library document with the values the tags and
// frames hold, and stays calm on broken files.

#include "TempHome.h"
#include "store/Sha1.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cmath>
#include <cstdint>

namespace velmora {
namespace {

class InspectCommandTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    // Five seconds of two tones, 16-bit stereo at 44.1 kHz.
    std::string pcm;
    for (int i = 0; i < 44100 * 5; ++i) {
      for (double step : {0.05, 0.031}) {
        const auto sample = static_cast<std::int16_t>(8000 * std::sin(i * step));
        pcm += static_cast<char>(sample & 0xFF);
        pcm += static_cast<char>((sample >> 8) & 0xFF);
      }
    }
    test::WriteFile(files() / "tone.raw", pcm);
  }

  bool HaveLame() { return test::RunCommand("command -v lame").exitCode == 0; }

  std::string Encode(const std::string& name, const std::string& options) {
    const auto out = files() / name;
    const auto result =
        test::RunCommand("lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian " + options + " " +
                         test::ShellQuote((files() / "tone.raw").string()) + " " + test::ShellQuote(out.string()));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return out.string();
  }

  test::CommandResult Inspect(const std::vector<std::string>& paths) {
    std::string line = std::string(VELMORA_CLI_PATH) + " inspect";
    for (const auto& path : paths) line += " " + test::ShellQuote(path);
    return test::RunCommand(line);
  }

  // The "item" elements of the printed document by Location.
  std::map<std::string, std::map<std::string, std::string>> Items(const std::string& out) {
    std::map<std::string, std::map<std::string, std::string>> items;
    pugi::xml_document document;
    EXPECT_TRUE(document.load_string(out.c_str())) << out;
    for (pugi::xml_node item : document.child("data").child("items").children("item")) {
      auto& fields = items[item.child_value("Location")];
      for (pugi::xml_node child : item.children()) fields[child.name()] = child.child_value();
      EXPECT_EQ(fields.size(), 22u);
    }
    return items;
  }
};

TEST_F(InspectCommandTest, DescribesEncodedFilesOfEveryMpegVersion) {
  if (!HaveLame()) GTEST_SKIP() << "lame is not installed";
  const std::string tags = "--tt 'Tone Title' --ta 'Tone Artist' --tl 'Tone Album' --ty 2001 --tn 3 --tg Rock ";
  const std::string cbr = Encode("cbr.mp3", tags + "-b 128");
  const std::string v1 = Encode("v1only.mp3", tags + "--id3v1-only -b 192 -a");
  const std::string vbr = Encode("vbr22.mp3", tags + "--id3v2-only -V 2 --resample 22.05");
  const std::string mono11 = Encode("m11.mp3", tags + "-b 32 -a --resample 11.025");
  const std::string eight = Encode("m8.mp3", "--tt Eight --id3v2-only -b 16 --resample 8");
  const std::string vbr44 = Encode("vbr44.mp3", "-V 0 -a --id3v1-only --tt 'Only v1'");

  const auto result = Inspect({cbr, v1, vbr, mono11, eight, vbr44});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  auto items = Items(result.out);
  ASSERT_EQ(items.size(), 6u);

  struct Expected {
    std::string path, bitrate, sampleRate, title, artist, year, track, genre;
    bool vbr;
  };
  const Expected expected[] = {
      {cbr, "128", "44100", "Tone Title", "Tone Artist", "2001", "3", "Rock", false},
      {v1, "192", "44100", "Tone Title", "Tone Artist", "2001", "3", "Rock", false},
      {vbr, "", "22050", "Tone Title", "Tone Artist", "2001", "3", "Rock", true},
      {mono11, "32", "11025", "Tone Title", "Tone Artist", "2001", "3", "Rock", false},
      {eight, "16", "8000", "Eight", "", "", "", "", false},
      {vbr44, "", "44100", "Only v1", "", "", "0", "", true},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.path);
    auto& item = items[e.path];
    EXPECT_EQ(item["SampleRate"], e.sampleRate);
    if (e.vbr) EXPECT_GT(std::stoi(item["Bitrate"]), 8); // the average of the Xing frame count
    else EXPECT_EQ(item["Bitrate"], e.bitrate);
    const int length = std::stoi(item["Length"]);
    EXPECT_GE(length, 4);
    EXPECT_LE(length, 6);
    EXPECT_EQ(item["Name"], e.title);
    EXPECT_EQ(item["Artist"], e.artist);
    EXPECT_EQ(item["Year"], e.year);
    EXPECT_EQ(item["TrackNo"], e.track);
    EXPECT_EQ(item["Genre"], e.genre);
    EXPECT_EQ(item["Size"], std::to_string(std::filesystem::file_size(e.path)));
    EXPECT_EQ(item["HashValue"], Sha1OfFile(e.path).value_or("?"));
    EXPECT_EQ(item["Type"], "music");
    EXPECT_EQ(item["bpm"], "0");
  }
}

TEST_F(InspectCommandTest, BrokenFilesGiveMostlyEmptyValuesAndMissingOnesFail) {
  const auto empty = files() / "empty.mp3";
  const auto garbage = files() / "garbage.mp3";
  const auto hostile = files() / "hostile.mp3";
  test::WriteFile(empty, "");
  std::string noise(70000, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 11);
  test::WriteFile(garbage, noise);
  // A tag that claims 256 MB, a frame that claims 2 GB, and a cut-off MPEG frame.
  test::WriteFile(hostile, std::string("ID3\x04\x00\x00\x7F\x7F\x7F\x7F", 10) + "TIT2\x7F\x7F\x7F\x7F\x00\x00\x03" +
                               "A" + std::string("\xFF\xFB\x90\x00", 4));
  const auto missing = files() / "missing.mp3";

  const auto result = Inspect({empty.string(), garbage.string(), hostile.string(), missing.string()});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("missing.mp3"), std::string::npos) << result.err;
  auto items = Items(result.out);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[empty.string()]["Size"], "0");
  EXPECT_EQ(items[empty.string()]["Bitrate"], "");
  EXPECT_EQ(items[garbage.string()]["Size"], "70000");
  EXPECT_EQ(items[hostile.string()]["Name"], "");
  EXPECT_EQ(items[hostile.string()]["Length"], "");
}

} // namespace
} // namespace velmora
