#include "TempHome.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <sys/wait.h>

namespace velmora::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  // Tests make folders unreadable on purpose; give them back before removing.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                 error);
  }
  std::filesystem::remove_all(path_, error);
}

void TempHomeTest::SetUp() {
  if (const char* v = std::getenv("XDG_CACHE_HOME")) {
    hadCache_ = true;
    oldCache_ = v;
  }
  if (const char* v = std::getenv("XDG_CONFIG_HOME")) {
    hadConfig_ = true;
    oldConfig_ = v;
  }
  ::setenv("XDG_CACHE_HOME", cacheHome().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
  // No test may find the Wine prefix or iTunes library of whoever runs it.
  if (const char* v = std::getenv("WINEPREFIX")) {
    hadWine_ = true;
    oldWine_ = v;
  }
  ::setenv("WINEPREFIX", (home_.path() / "wine").c_str(), 1);
  ::unsetenv("VELMORA_ITUNES_LIBRARY");
  std::filesystem::create_directories(files());
}

void TempHomeTest::TearDown() {
  if (hadCache_) ::setenv("XDG_CACHE_HOME", oldCache_.c_str(), 1);
  else ::unsetenv("XDG_CACHE_HOME");
  if (hadConfig_) ::setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
  if (hadWine_) ::setenv("WINEPREFIX", oldWine_.c_str(), 1);
  else ::unsetenv("WINEPREFIX");
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string PercentEncodedPath(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 0xf];
    }
  }
  return encoded;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

CommandResult RunCommand(const std::string& commandLine) {
  TempDir outputs;
  const auto errFile = outputs / "stderr";
  CommandResult result;
  const std::string line = commandLine + " 2>" + ShellQuote(errFile.string()) + " </dev/null";
  std::FILE* pipe = ::popen(line.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  const int status = ::pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.err = ReadFile(errFile);
  return result;
}

} // namespace velmora::test

namespace velmora::test {

std::string TransfersTest::WithTransfers(const std::string& arguments) const {
  static const std::regex transferCommand("^(upload|restore|watch|itunes|winamp)( |$)");
  if (transfers_ == 1 || !std::regex_search(arguments, transferCommand)) return arguments;
  return std::regex_replace(arguments, transferCommand, "$1 --transfers " + std::to_string(transfers_) + "$2",
                            std::regex_constants::format_first_only);
}

std::string TransfersName(const ::testing::TestParamInfo<int>& info) {
  return info.param == 1 ? "OneAtATime" : "Lanes" + std::to_string(info.param);
}

PlainHome::PlainHome(const std::filesystem::path& home) {
  if (const char* old = std::getenv("HOME")) oldHome_ = old;
  ::setenv("HOME", home.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_CACHE_HOME");
}

PlainHome::~PlainHome() { ::setenv("HOME", oldHome_.c_str(), 1); }

void WriteNoise(const std::filesystem::path& path, std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(std::hash<std::string>()(path.filename().string())));
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(random());
  WriteFile(path, bytes);
}

} // namespace velmora::test
