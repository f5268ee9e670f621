// A job handed to the lanes keeps its lane busy until it ends, so no more jobs are handed out at
// once than there are lanes.

#include "service/TransferLanes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

namespace velmora {
namespace {

TEST(TransferLanesTest, HandedJobsKeepTheirLanesBusyUntilTheyEnd) {
  TransferLanes lanes(2, {"http://127.0.0.1:9", "alice", "pw"}, [] { return std::int64_t{0}; });
  std::promise<void> release;
  const std::shared_future<void> released = release.get_future().share();
  const TransferLanes::Job waits = [released](TransferLane&) { released.wait(); };
  const auto tickets = lanes.Submit({waits, waits});
  EXPECT_EQ(lanes.free(), 0);
  release.set_value();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(tickets[0]->done() && tickets[1]->done()) && std::chrono::steady_clock::now() < deadline)
    lanes.WaitForAny(std::chrono::milliseconds(100));
  EXPECT_EQ(lanes.free(), 2);
}

} // namespace
} // namespace velmora
