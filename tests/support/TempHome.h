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

// Writes bytes to a file, creating parent folders.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

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
