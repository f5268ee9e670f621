#pragma once
// The engine's one current activity. The engine runs on one thread but lets the front end handle
// clicks, drops and timer ticks in the middle of long work; a request that would start a second
// activity there is refused instead of being run inside the first.

#include <string>

namespace velmora {

enum class Activity {
  Idle,
  LoggingIn,
  LoadingPlaylists,
  Analysing,
  BuildingQueue,
  Uploading, // an upload run from its start (the start timer pending) to the end of its loop
  Restoring,
};

// "an analysis", "a restore", ...: the words of a refusal's status line.
std::string DescribeActivity(Activity activity);

// While a scope lives, its activity is the engine's current one; an empty scope stands for a
// refused request. Movable, not copyable; the activity ends with the scope, exceptions included.
class ActivityScope {
public:
  ActivityScope() = default;
  ActivityScope(Activity& slot, Activity activity) : slot_(&slot) { *slot_ = activity; }
  ActivityScope(ActivityScope&& other) noexcept : slot_(other.slot_) { other.slot_ = nullptr; }
  ActivityScope& operator=(ActivityScope&&) = delete;
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;
  ~ActivityScope() {
    if (slot_) *slot_ = Activity::Idle;
  }

  explicit operator bool() const { return slot_ != nullptr; }
  // The next step of the same request, e.g. from the analysis to the queue build.
  void Become(Activity next) {
    if (slot_) *slot_ = next;
  }

private:
  Activity* slot_ = nullptr;
};

} // namespace velmora
