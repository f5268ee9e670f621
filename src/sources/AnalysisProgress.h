#pragma once
// "Analysing n of N, about T left" while a source describes its files: a long analysis (tens of
// thousands of files, most of them hashed for the first time) says how far it is, on the status
// line and wherever the source's owner shows it. Shown at most four times a second, so a warm
// cache is not slowed by repainting.

#include "base/PeriodicPump.h"
#include "base/Ui.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// "2 hours 3 min 4 sec", "3 min 4 sec": the words the status window uses.
std::string TimeLeftText(std::int64_t seconds);

class AnalysisProgress {
public:
  using Clock = std::chrono::steady_clock;
  // `show` also gets the text (an empty text once the analysis has ended); it may be empty.
  // `started`: when the analysis began (a test gives its own clock's time).
  AnalysisProgress(Ui& ui, std::size_t total, std::function<void(const std::string&)> show,
                   Clock::time_point started = Clock::now());
  ~AnalysisProgress();
  AnalysisProgress(const AnalysisProgress&) = delete;
  AnalysisProgress& operator=(const AnalysisProgress&) = delete;

  // `done` files of the total are described, at `now`.
  void Done(std::size_t done, Clock::time_point now = Clock::now());

  // The words for `done` of `total` after `elapsed`: the time left once a second has passed.
  static std::string Text(std::size_t done, std::size_t total, Clock::duration elapsed);

private:
  void Show(std::size_t done, Clock::time_point now);

  Ui& ui_;
  PeriodicPump pump_{ui_};
  std::size_t total_;
  std::function<void(const std::string&)> show_;
  Clock::time_point started_;
  Clock::time_point shown_;
};

} // namespace velmora
