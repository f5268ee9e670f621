// `velmora hash` prints exactly what sha1sum prints, answers from its cache, leaves no tmp_ file
// behind and fails on files it cannot read.

#include "TempHome.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

class HashCommandTest : public test::TempHomeTest {
protected:
  test::CommandResult Velmora(const std::string& args) {
    return test::RunCommand(std::string(VELMORA_CLI_PATH) + " " + args);
  }
};

TEST_F(HashCommandTest, MatchesSha1sumForEmptyNonAsciiAndLargeFiles) {
  const auto empty = files() / "empty.mp3";
  const auto named = files() / "Ünïcödé – sóng.mp3";
  const auto large = files() / "large.mp3";
  test::WriteFile(empty, "");
  test::WriteFile(named, "some bytes\n");
  std::string bytes(19 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  test::WriteFile(large, bytes);

  const std::string args = test::ShellQuote(empty.string()) + " " + test::ShellQuote(named.string()) + " " +
                           test::ShellQuote(large.string());
  const auto expected = test::RunCommand("sha1sum " + args);
  ASSERT_EQ(expected.exitCode, 0);
  const auto first = Velmora("hash " + args);
  EXPECT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(first.out, expected.out);
  EXPECT_NE(first.err.find("Deep analysis of " + large.string()), std::string::npos) << first.err;

  const auto second = Velmora("hash " + args);
  EXPECT_EQ(second.out, expected.out);
  EXPECT_EQ(second.err.find("Deep analysis"), std::string::npos) << second.err;
}

TEST_F(HashCommandTest, ARelativePathNamesTheFileInTheCurrentFolder) {
  test::WriteFile(files() / "one" / "song.mp3", "first song");
  test::WriteFile(files() / "two" / "song.mp3", "second song");
  auto hashIn = [&](const char* folder) {
    return test::RunCommand("cd " + test::ShellQuote((files() / folder).string()) + " && " +
                            test::ShellQuote(VELMORA_CLI_PATH) + " hash song.mp3");
  };
  EXPECT_EQ(hashIn("one").out,
            test::RunCommand("cd " + test::ShellQuote((files() / "one").string()) + " && sha1sum song.mp3").out);
  const auto second = hashIn("two");
  EXPECT_EQ(second.out,
            test::RunCommand("cd " + test::ShellQuote((files() / "two").string()) + " && sha1sum song.mp3").out);
  EXPECT_NE(second.err.find("Deep analysis of " + (files() / "two" / "song.mp3").string()), std::string::npos)
      << second.err;
}

TEST_F(HashCommandTest, ControlCharactersOfANameAreShownEscapedOnTheTerminal) {
  // ESC [2J clears a terminal; the line break would fake a line of its own; \x9B is a C1 CSI.
  const auto crafted = files() /
                       "a\x1b[2Jb\nc\xC2\x9B\xFF"
                       "d\xC3\xA9.mp3";
  test::WriteFile(crafted, "bytes");
  const auto result = Velmora("hash " + test::ShellQuote(crafted.string()));
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.err.find("Deep analysis of " + files().string() + "/a\\e[2Jb\\nc\\302\\233\\377d\xC3\xA9.mp3\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find('\x1b'), std::string::npos);
}

TEST_F(HashCommandTest, UnreadableFilesPrintInvalidHashValueAndFail) {
  const auto missing = files() / "missing.mp3";
  const auto result = Velmora("hash " + test::ShellQuote(missing.string()) + " " + test::ShellQuote(files().string()));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, "invalidhashvalue  " + missing.string() + "\ninvalidhashvalue  " + files().string() + "\n");
}

TEST_F(HashCommandTest, RemovesTmpFilesAndKeepsTheCache) {
  const auto work = workFolder();
  test::WriteFile(work / "tmp_left_over.xml", "x");
  test::WriteFile(work / "nested" / "tmp_more", "x");
  test::WriteFile(files() / "a.mp3", "abc");
  ASSERT_EQ(Velmora("hash " + test::ShellQuote((files() / "a.mp3").string())).exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(work / "tmp_left_over.xml"));
  EXPECT_FALSE(std::filesystem::exists(work / "nested" / "tmp_more"));
  EXPECT_TRUE(std::filesystem::exists(work / "meta_Velmora.db"));
  // The program's own folder (temporary database, answers) goes when it ends.
  for (const auto& entry : std::filesystem::directory_iterator(work)) {
    EXPECT_NE(entry.path().filename().string().rfind("tmp_", 0), 0u) << entry.path();
  }
}

TEST_F(HashCommandTest, VersionAndUsage) {
  const auto version = Velmora("--version");
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "1.0.0.1\n");
  EXPECT_EQ(Velmora("hash").exitCode, 2);
  EXPECT_EQ(Velmora("no-such-command").exitCode, 2);
}

TEST_F(HashCommandTest, UnwritableWorkFolderIsAClearError) {
  test::WriteFile(cacheHome(), "not a folder");
  test::WriteFile(files() / "a.mp3", "abc");
  const auto result = Velmora("hash " + test::ShellQuote((files() / "a.mp3").string()));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("work folder"), std::string::npos) << result.err;
  EXPECT_TRUE(result.out.empty());
}

} // namespace
} // namespace velmora
