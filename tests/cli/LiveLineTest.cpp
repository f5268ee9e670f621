// The live line's text: the figures known so far, then the current file's name, never wider than
// the terminal less one column (a narrow one drops figures first), a long name cut on a character
// boundary.

#include "cli/LiveLine.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using cli::LiveLineText;

// Terminal columns of the test's own names: CJK ideographs take two, the other characters one.
int Columns(const std::string& text) {
  int columns = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (text[i + k] & 0x3F);
    columns += code >= 0x4E00 && code <= 0x9FFF ? 2 : 1;
    i += length;
  }
  return columns;
}

TransferFigures Running() {
  TransferFigures figures;
  figures.filesDone = 3;
  figures.filesTotal = 6;
  figures.bytesDone = 1536 * 1024;
  figures.bytesTotal = 4608 * 1024;
  figures.bytesPerSecond = 200 * 1024;
  figures.secondsLeft = 75;
  figures.currentFile = "song.mp3";
  return figures;
}

TEST(LiveLineText, CountsBytesSpeedAndTimeLeftThenTheName) {
  TransferFigures figures = Running();
  EXPECT_EQ(LiveLineText(figures, 80), "3/6 files  1.5 MiB / 4.5 MiB  200.0 KiB/s  1:15 left  song.mp3");
  // From an hour on; before the first measured second neither speed nor time left; a restore
  // knows no total bytes.
  // A narrow terminal loses the bytes first, then the speed.
  EXPECT_EQ(LiveLineText(figures, 40), "3/6 files  200.0 KiB/s  1:15 left  son…");
  EXPECT_EQ(LiveLineText(figures, 30), "3/6 files  1:15 left  song.m…");
  // A name gets at least one character and its ellipsis, or is left out; the figures fill the
  // line to its last column and are cut past it.
  EXPECT_EQ(LiveLineText(figures, 38), "3/6 files  200.0 KiB/s  1:15 left  s…");
  EXPECT_EQ(LiveLineText(figures, 37), "3/6 files  200.0 KiB/s  1:15 left");
  EXPECT_EQ(LiveLineText(figures, 21), "3/6 files  1:15 left");
  EXPECT_EQ(LiveLineText(figures, 20), "3/6 files  1:15 le…");
  figures.secondsLeft = 3725;
  EXPECT_NE(LiveLineText(figures, 80).find("  1:02:05 left  "), std::string::npos);
  figures.bytesPerSecond.reset();
  figures.secondsLeft.reset();
  figures.bytesTotal = 0;
  EXPECT_EQ(LiveLineText(figures, 80), "3/6 files  1.5 MiB  song.mp3");
}

TEST(LiveLineText, LongUtf8NamesAreCutOnCharacterBoundariesWithinTheWidth) {
  TransferFigures figures = Running();
  std::string name;
  for (int i = 0; i < 8; ++i) name += "Ünïcödé – 東京 ";
  figures.currentFile = name + "\x1b[2J.mp3";
  for (int width = 1; width <= 160; ++width) {
    const std::string line = LiveLineText(figures, width);
    ASSERT_LE(Columns(line), std::max(width - 1, 0)) << width << ": " << line;
    ASSERT_EQ(line.find('\x1b'), std::string::npos) << "a name cannot send escape sequences";
    // Every cut keeps whole characters: what is left of the name is a start of it.
    const std::string figuresPart = "3/6 files  1.5 MiB / 4.5 MiB  200.0 KiB/s  1:15 left  ";
    if (line.rfind(figuresPart, 0) == 0 && line.size() > figuresPart.size()) {
      ASSERT_EQ(line.compare(line.size() - 3, 3, "…"), 0) << line;
      const std::string kept = line.substr(figuresPart.size(), line.size() - 3 - figuresPart.size());
      ASSERT_EQ(name.compare(0, kept.size(), kept), 0) << width << ": " << line;
    }
  }
  EXPECT_EQ(LiveLineText(figures, 60), "3/6 files  1.5 MiB / 4.5 MiB  200.0 KiB/s  1:15 left  Ünïc…");
  EXPECT_EQ(LiveLineText(figures, 70), "3/6 files  1.5 MiB / 4.5 MiB  200.0 KiB/s  1:15 left  Ünïcödé – 東京…");
  // A name is measured in columns, not bytes: 18 columns (26 bytes) fit after 54 columns of figures.
  figures.currentFile = "東京 – Ünïcödé.mp3";
  EXPECT_EQ(LiveLineText(figures, 73), "3/6 files  1.5 MiB / 4.5 MiB  200.0 KiB/s  1:15 left  東京 – Ünïcödé.mp3");
}

} // namespace
} // namespace velmora
