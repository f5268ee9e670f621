#pragma once
// Turns the byte counts of a running transfer into progress bar moves, run counters and message
// pumps. Kept apart from the HTTP code so the arithmetic can be driven directly.

#include "base/Ui.h"
#include "service/RunCounters.h"

#include <cstdint>

namespace velmora {

// Progress of a service request: the request body first, then the answer. Each direction is a
// transfer of its own; the file bars follow the current one, the counters add every byte once.
class RequestProgress {
public:
  RequestProgress(Ui& ui, RunCounters& counters) : ui_(ui), counters_(counters) {}
  // The totals and counts so far of both directions, as the HTTP client reports them.
  void Update(std::int64_t sendTotal, std::int64_t sent, std::int64_t receiveTotal, std::int64_t received);
  // Between updates, while nothing moves.
  void Pump() { ui_.ProcessMessages(); }

private:
  struct Direction {
    bool begun = false;
    std::int64_t maximum = 0;
    std::int64_t moved = 0;
  };
  void Begin(Direction& direction, std::int64_t total);
  void Moved(Direction& direction, std::int64_t count);

  Ui& ui_;
  RunCounters& counters_;
  Direction send_;
  Direction receive_;
};

// Progress of a plain download: the restore file bar follows the bytes of the answer.
class DownloadProgress {
public:
  explicit DownloadProgress(Ui& ui) : ui_(ui) {}
  void Update(std::int64_t total, std::int64_t received);
  // Between updates, while nothing moves.
  void Pump() { ui_.ProcessMessages(); }
  // The transfer ended, well or not: the bar goes back to zero.
  void End();

private:
  Ui& ui_;
  bool begun_ = false;
  std::int64_t maximum_ = 0;
  std::int64_t received_ = 0;
};

} // namespace velmora
