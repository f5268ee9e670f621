#pragma once
// Lets the window answer during a long stretch of work that has no natural place to pump: called
// often, it processes messages only when the last time is `interval` ago, so a fast loop pays a
// clock read per call and the window never waits longer than the interval plus one step.

#include "base/Ui.h"

#include <chrono>

namespace velmora {

class PeriodicPump {
public:
  using Clock = std::chrono::steady_clock;
  explicit PeriodicPump(Ui& ui, Clock::duration interval = std::chrono::milliseconds(50))
      : ui_(ui), interval_(interval), last_(Clock::now()) {}

  void operator()() {
    const Clock::time_point now = Clock::now();
    if (now - last_ < interval_) return;
    last_ = now;
    ui_.ProcessMessages();
  }

private:
  Ui& ui_;
  Clock::duration interval_;
  Clock::time_point last_;
};

} // namespace velmora
