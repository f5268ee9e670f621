#pragma once
// What the benchmarks share: a Ui that shows nothing, a private home for the engine, resident
// memory figures of this process, files of random bytes, and velmora-locker as a child process.

#include "app/Engine.h"
#include "base/Ui.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace velmora::bench {

namespace fs = std::filesystem;

class NullUi : public Ui {
public:
  void SetStatusText(const std::string&) override {}
  void ShowMessage(const std::string&) override {}
  void ShowErrorMessage(const std::string&) override {}
  void ShowErrorDisplay(const std::string&) override {}
  void SetProgress(ProgressBar, std::int64_t, std::int64_t) override {}
  void ProcessMessages() override {}
  void OpenUrl(const std::string&) override {}
  void ViewChanged(View) override {}
};

// A new folder under the temporary folder; XDG_CACHE_HOME and XDG_CONFIG_HOME point into it.
inline fs::path MakeHome(const std::string& name) {
  std::string pattern = (fs::temp_directory_path() / (name + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  const fs::path home = pattern;
  ::setenv("XDG_CACHE_HOME", (home / "cache").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  return home;
}

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:").
inline std::int64_t StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::string(field).size()));
  }
  return -1;
}

// Restarts the kernel's high-water mark of resident memory, so VmHWM is the peak from now on.
inline void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

inline void WriteRandomFile(const fs::path& path, std::int64_t size, unsigned seed) {
  std::ofstream out(path, std::ios::binary);
  std::mt19937_64 random(seed);
  std::vector<std::uint64_t> block(8192);
  for (std::int64_t written = 0; written < size;) {
    for (auto& word : block) word = random();
    const auto n =
        std::min<std::int64_t>(size - written, static_cast<std::int64_t>(sizeof(std::uint64_t) * block.size()));
    out.write(reinterpret_cast<const char*>(block.data()), n);
    written += n;
  }
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

inline pid_t Spawn(const std::vector<std::string>& args, int stdoutFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

// Runs a program to its end with its standard output thrown away; true when it exited with 0.
inline bool RunQuietly(const std::vector<std::string>& args) {
  const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = Spawn(args, devNull);
  ::close(devNull);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// velmora-locker on a free loopback port with one account "bench" (password "pw"): from
// $VELMORA_LOCKER, else beside this program's build folder (../tools/locker/velmora-locker).
class Locker {
public:
  explicit Locker(const fs::path& data) {
    fs::path program;
    if (const char* path = std::getenv("VELMORA_LOCKER"); path && *path) {
      program = path;
    } else {
      program = fs::canonical("/proc/self/exe").parent_path().parent_path() / "tools" / "locker" / "velmora-locker";
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ =
        Spawn({program.string(), "--host", "127.0.0.1", "--port", "0", "--data", data.string(), "--user", "bench:pw"},
              out[1]);
    ::close(out[1]);
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos) {
      pollfd ready{out[0], POLLIN, 0};
      if (::poll(&ready, 1, 20000) <= 0 || ::read(out[0], &c, 1) != 1) break;
      line += c;
    }
    ::close(out[0]);
    const std::size_t at = line.find("http://");
    if (at == std::string::npos) throw std::runtime_error("velmora-locker did not start: " + line);
    hostPort_ = line.substr(at + 7, line.find_first_of("\r\n") - at - 7);
  }
  ~Locker() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  Locker(const Locker&) = delete;
  Locker& operator=(const Locker&) = delete;
  const std::string& hostPort() const { return hostPort_; }

private:
  pid_t pid_ = -1;
  std::string hostPort_;
};

// One line per figure for scripts/bench: "RESULT name value unit".
inline void Result(const std::string& name, double value, const std::string& unit) {
  std::printf("RESULT %s %.6g %s\n", name.c_str(), value, unit.c_str());
  std::fflush(stdout);
}

} // namespace velmora::bench
