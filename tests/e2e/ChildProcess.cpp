#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::test {

Child::Child(std::vector<std::string> args) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  env.emplace_back("VELMORA_PASSWORD=pw");
  std::vector<char*> argv, envp;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
    const int devNull = ::open("/dev/null", O_RDONLY);
    ::dup2(devNull, STDIN_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  fd_ = out[0];
}

Child::~Child() {
  if (pid_ > 0) Kill();
  if (fd_ >= 0) ::close(fd_);
}

bool Child::WaitFor(const std::string& text, int count, int quietMs) {
  for (;;) {
    int seen = 0;
    for (std::size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) ++seen;
    if (seen >= count) return true;
    if (!ReadSome(quietMs)) return false;
  }
}

void Child::Signal(int signal) { ::kill(pid_, signal); }

void Child::Kill() {
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int Child::Wait() {
  while (ReadSome(60000)) {
  }
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<int> Child::WaitAtMost(int limitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      while (ReadSome(100)) {
      }
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    if (!ReadSome(100)) ::usleep(20000); // at the end of the output poll() no longer waits
  }
}

bool Child::ReadSome(int timeoutMs) {
  pollfd ready{fd_, POLLIN, 0};
  if (::poll(&ready, 1, timeoutMs) <= 0) return false;
  char buffer[4096];
  const ssize_t n = ::read(fd_, buffer, sizeof buffer);
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

} // namespace velmora::test
