// velmora upload against velmora-locker: on a terminal (a pseudo-terminal 60 columns wide) a live
// line shows the counts, speed and time left and never takes more than the width; piped, or with
// --quiet, there is no live line and no carriage return or escape sequence. A restore's log on
// stdout never runs on from the live line on stderr.

#include "LockerProcess.h"
#include "TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace velmora {
namespace {

using ::testing::HasSubstr;

class LiveLineCliTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script is not installed";
    test::TempHomeTest::SetUp();
    locker_ = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw"});
  }

  // Three files of their own content in files()/`folder`, one with a name far wider than 60 columns.
  std::string Files(const std::string& folder) {
    const auto path = files() / folder;
    for (int i = 0; i < 3; ++i) {
      std::string bytes(150000, '\0');
      for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(((k + i * 7919) * 2654435761u) >> 11);
      std::string name = "song " + std::to_string(i) + ".mp3";
      if (i == 1) name = "Ünïcödé – 東京 Ünïcödé – 東京 Ünïcödé – 東京 Ünïcödé – 東京 Ünïcödé.mp3";
      test::WriteFile(path / name, bytes + folder);
    }
    return test::ShellQuote(path.string());
  }
  std::string Velmora(const std::string& arguments) {
    return "VELMORA_PASSWORD=pw " + test::ShellQuote(VELMORA_CLI_PATH) + " --stage " + locker_->hostPort() +
           " --user alice " + arguments;
  }
  std::string Upload(const std::string& arguments) { return Velmora("upload " + arguments); }

  std::unique_ptr<test::LockerProcess> locker_;
};

// Code points of a piece of output (wide characters count as one here: the names of the fixture
// are cut well before such a count could reach the width).
std::size_t Characters(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

TEST_F(LiveLineCliTest, TerminalShowsTheLiveLineWithinItsWidthAndPipesAndQuietDoNot) {
  // About 450 KiB at 100 KiB/s: the line is redrawn for several seconds.
  const auto terminal = test::RunCommand("script -qec " +
                                         test::ShellQuote("stty cols 60; " + Upload("--limit-rate 100K " + Files("tty"))) +
                                         " /dev/null");
  ASSERT_EQ(terminal.exitCode, 0) << terminal.out;
  const std::regex live("^\\d/3 files  [0-9.]+ [KM]iB / [0-9.]+ KiB  [0-9.]+ KiB/s  \\d+:\\d\\d left");
  int lines = 0;
  std::vector<int> filesDone;
  std::size_t start = 0;
  for (std::size_t end; start < terminal.out.size(); start = end + 1) {
    end = terminal.out.find_first_of("\r\n", start);
    if (end == std::string::npos) end = terminal.out.size();
    const std::string piece = std::regex_replace(terminal.out.substr(start, end - start), std::regex("\x1b\\[K"), "");
    // Status lines are whole lines the terminal wraps; the live line is drawn within the width.
    if (!std::regex_search(piece, std::regex("^\\d/3 files"))) continue;
    EXPECT_LE(Characters(piece), 59u) << piece;
    lines += std::regex_search(piece, live);
    filesDone.push_back(piece[0] - '0');
  }
  EXPECT_GE(lines, 2) << terminal.out;
  // The files done go from none (the first file takes more than a second) up, never back.
  ASSERT_FALSE(filesDone.empty());
  EXPECT_EQ(filesDone.front(), 0) << terminal.out;
  EXPECT_TRUE(std::is_sorted(filesDone.begin(), filesDone.end())) << terminal.out;
  // Erased before the summary: the summary starts a line of its own.
  EXPECT_TRUE(std::regex_search(terminal.out, std::regex("[\r\n](\x1b\\[K)?3 sent, "))) << terminal.out;

  const auto piped = test::RunCommand(Upload(Files("piped")));
  ASSERT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_THAT(piped.err, HasSubstr("3 sent"));
  EXPECT_EQ(piped.err.find_first_of("\r\x1b"), std::string::npos) << piped.err;

  const auto quiet = test::RunCommand(Upload("--quiet " + Files("quiet")));
  ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_THAT(quiet.err, ::testing::MatchesRegex("3 sent, [^\n]*\n"));
}

TEST_F(LiveLineCliTest, ARestoresLogLinesNeverRunOnFromItsLiveLine) {
  ASSERT_EQ(test::RunCommand(Upload(Files("up"))).exitCode, 0);
  const auto target = files() / "restored";
  std::filesystem::create_directories(target);
  // About 450 KiB at 100 KiB/s, its log on stdout and its live line on stderr, one terminal.
  const auto terminal = test::RunCommand(
      "script -qec " +
      test::ShellQuote("stty cols 80; " +
                       Velmora("restore --all --limit-rate 100K --target " + test::ShellQuote(target.string()))) +
      " /dev/null");
  ASSERT_EQ(terminal.exitCode, 0) << terminal.out;
  EXPECT_TRUE(std::regex_search(terminal.out, std::regex("\\d/3 files  [0-9.]+ KiB  "))) << terminal.out;
  // Each log line starts a line of its own or one the live line was erased from ("\r" then
  // erase; a drawn live line ends with the erase alone).
  int logLines = 0;
  for (std::size_t at = 0; (at = terminal.out.find("Next file: ", at)) != std::string::npos; ++at, ++logLines) {
    const std::string before = terminal.out.substr(at < 4 ? 0 : at - 4, at < 4 ? at : 4);
    EXPECT_TRUE(before.back() == '\n' || before == "\r\x1b[K") << terminal.out.substr(at < 80 ? 0 : at - 80, 100);
  }
  EXPECT_EQ(logLines, 3);

  const auto quiet = test::RunCommand(Velmora("restore --all --quiet --target " + test::ShellQuote(target.string())));
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.out + quiet.err, "0 restored, 3 already there, 0 failed\n");
}

} // namespace
} // namespace velmora
