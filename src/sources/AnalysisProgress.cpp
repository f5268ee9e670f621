#include "sources/AnalysisProgress.h"

#include "base/ShowStatus.h"

namespace velmora {
namespace {

constexpr auto kShowInterval = std::chrono::milliseconds(250);

} // namespace

std::string TimeLeftText(std::int64_t seconds) {
  const std::int64_t hours = seconds / 3600;
  const std::int64_t minutes = seconds / 60 - hours * 60;
  std::string text = hours > 0 ? std::to_string(hours) + " hours " : "";
  return text + std::to_string(minutes) + " min " + std::to_string(seconds % 60) + " sec";
}

AnalysisProgress::AnalysisProgress(Ui& ui, std::size_t total, std::function<void(const std::string&)> show,
                                   Clock::time_point started)
    : ui_(ui), total_(total), show_(std::move(show)), started_(started) {
  Show(0, started_);
}

AnalysisProgress::~AnalysisProgress() {
  if (show_) show_({});
}

void AnalysisProgress::Done(std::size_t done, Clock::time_point now) {
  if (done < total_ && now - shown_ < kShowInterval) {
    // Files answered from the cache go by in thousands a second: between two status lines the
    // window still gets its messages.
    pump_();
    return;
  }
  Show(done, now);
}

void AnalysisProgress::Show(std::size_t done, Clock::time_point now) {
  shown_ = now;
  const std::string text = Text(done, total_, now - started_);
  ShowStatus(ui_, text);
  if (show_) show_(text);
}

std::string AnalysisProgress::Text(std::size_t done, std::size_t total, Clock::duration elapsed) {
  std::string text = "Analysing " + std::to_string(done) + " of " + std::to_string(total);
  const double seconds = std::chrono::duration<double>(elapsed).count();
  if (done == 0 || done >= total || seconds < 1.0) return text;
  const auto left = static_cast<std::int64_t>(seconds / static_cast<double>(done) * static_cast<double>(total - done));
  return text + ", about " + TimeLeftText(left) + " left";
}

} // namespace velmora
