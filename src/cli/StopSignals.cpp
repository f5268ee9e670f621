#include "cli/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace velmora::cli {
namespace {

std::atomic<bool> stopRequested{false};
bool stopApplied = false;
int wakePipe[2] = {-1, -1};
void (*previousInt)(int) = SIG_DFL;
void (*previousTerm)(int) = SIG_DFL;

extern "C" void OnStopSignal(int signal) {
  stopRequested = true;
  std::signal(signal, SIG_DFL); // a second one ends the program at once
  if (signal == SIGINT) std::signal(SIGTERM, SIG_DFL);
  if (signal == SIGTERM) std::signal(SIGINT, SIG_DFL);
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakePipe[1], &byte, 1);
}

} // namespace

StopSignals::StopSignals() {
  if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  stopRequested = false;
  stopApplied = false;
  previousInt = std::signal(SIGINT, OnStopSignal);
  previousTerm = std::signal(SIGTERM, OnStopSignal);
}

StopSignals::~StopSignals() {
  std::signal(SIGINT, previousInt);
  std::signal(SIGTERM, previousTerm);
  ::close(wakePipe[0]);
  ::close(wakePipe[1]);
  wakePipe[0] = wakePipe[1] = -1;
}

bool StopSignals::Requested() { return stopRequested; }

int StopSignals::WakeDescriptor() { return wakePipe[0]; }

bool ApplyStopSignal(Engine& engine) {
  if (!stopRequested) return false;
  if (!stopApplied) {
    stopApplied = true;
    engine.ui().ShowMessage(
        "Stopping: the file in transfer completes (or is given up once nothing has moved for "
        "10 s); a second signal ends the program at once");
  }
  // Again at every pump: work that began after the signal (a run started by the playlist step)
  // is stopped too.
  engine.StopForExit();
  return true;
}

} // namespace velmora::cli
