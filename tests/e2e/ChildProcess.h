#pragma once
// `velmora` as a child whose standard output and error are read as they come, so a test can act
// at a chosen moment of its run: kill it, signal it, or wait for its end.

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace velmora::test {

class Child {
public:
  // Starts args[0] with `args`, the environment plus VELMORA_PASSWORD=pw, and standard input from
  // /dev/null.
  explicit Child(std::vector<std::string> args);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads until `text` has appeared `count` times in the output; false when the program ended or
  // said nothing for `quietMs` first.
  bool WaitFor(const std::string& text, int count, int quietMs = 10000);
  // Sends a signal (the program keeps running until Wait).
  void Signal(int signal);
  void Kill();
  // Reads to the end of the output and returns the exit code (-1 when ended by a signal).
  int Wait();
  // As Wait, but gives up after `limitMs`: nothing then, and the program keeps running.
  std::optional<int> WaitAtMost(int limitMs);
  const std::string& output() const { return output_; }

private:
  bool ReadSome(int timeoutMs);

  pid_t pid_ = -1;
  int fd_ = -1;
  std::string output_;
};

} // namespace velmora::test
