#pragma once
// SIGINT and SIGTERM for a transferring command. The first asks the command to stop: the file in
// transfer completes, or is abandoned once it has moved nothing for 10 s; nothing further starts;
// the report and the summary are written. The second ends the program at once.

#include "app/Engine.h"

namespace velmora::cli {

class StopSignals {
public:
  // Installs the handlers; the previous ones come back at the end.
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // A stop signal has arrived.
  static bool Requested();
  // Readable once a stop signal has arrived, so a poll() never misses one that comes between
  // its check and the wait.
  static int WakeDescriptor();
};

// At the engine's message pumps: once a stop signal has arrived, stops the engine's work as a
// closing window would (Engine::StopForExit), saying so on stderr the first time. Returns whether
// a stop signal has arrived.
bool ApplyStopSignal(Engine& engine);

} // namespace velmora::cli
