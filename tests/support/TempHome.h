#pragma once
// A test fixture that points the work folder and the settings at a fresh temporary folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace velmora::test {

// Creates a unique folder under the system temporary folder and removes it with everything in it.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

class TempHomeTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path cacheHome() const { return home_.path() / "cache"; }
  std::filesystem::path configHome() const { return home_.path() / "config"; }
  std::filesystem::path workFolder() const { return cacheHome() / "VLUploader"; }
  std::filesystem::path files() const { return home_.path() / "files"; }

private:
  TempDir home_;
  std::string oldCache_, oldConfig_, oldWine_;
  bool hadCache_ = false, hadConfig_ = false, hadWine_ = false;
};

// For its lifetime HOME is `home` and XDG_CONFIG_HOME and XDG_CACHE_HOME are unset (a
// TempHomeTest's TearDown puts those back).
class PlainHome {
public:
  explicit PlainHome(const std::filesystem::path& home);
  ~PlainHome();
  PlainHome(const PlainHome&) = delete;
  PlainHome& operator=(const PlainHome&) = delete;

private:
  std::string oldHome_;
};

// Writes bytes to a file, creating parent folders.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);
// Writes `size` pseudo-random bytes of the file's own (seeded by its path), creating parent folders.
void WriteNoise(const std::filesystem::path& path, std::size_t size);

// Runs a shell command line; returns its exit code and collects stdout (and stderr if asked).
struct CommandResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
CommandResult RunCommand(const std::string& commandLine);
// The path with every byte outside letters, digits and "-._~/" written as %XX, as file URLs carry it.
std::string PercentEncodedPath(const std::string& path);
// Quotes a text for the shell.
std::string ShellQuote(const std::string& text);

} // namespace velmora::test

namespace velmora::test {

// A suite whose command lines may run on lanes: a transfer command ("upload ...", "restore ...")
// gets "--transfers N" after its name; other commands stay as they are.
class TransfersTest : public TempHomeTest {
protected:
  std::string WithTransfers(const std::string& arguments) const;
  int transfers_ = 1;
};

// The fixture's TEST_Ps, run once one file at a time and once on three lanes
// (VELMORA_ON_EVERY_TRANSFERS). Its TEST_Fs hold one file at a time only: which file meets a
// fault there depends on the lanes' timing.
template <class Fixture>
class OnEveryTransfers : public Fixture, public ::testing::WithParamInterface<int> {
protected:
  void SetUp() override {
    this->transfers_ = GetParam();
    Fixture::SetUp();
  }
};
std::string TransfersName(const ::testing::TestParamInfo<int>& info);

} // namespace velmora::test

#define VELMORA_ON_EVERY_TRANSFERS(Suite)                                                                  \
  INSTANTIATE_TEST_SUITE_P(Transfers, Suite, ::testing::Values(1, 3), ::velmora::test::TransfersName)
