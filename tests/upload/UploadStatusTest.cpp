// The status window's once-a-second text turns the run's byte counters into average speed, items
// started and time left with truncating integer arithmetic, and keeps quiet below 1 kb/sec.

#include "upload/UploadStatus.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(StatusTickText, AverageSpeedItemsAndTimeLeftBelowOneHour) {
  EXPECT_EQ(StatusTickText(2048000, 6144000, 10, 3, 12),
            "     Speed: 200 kb/sec  |  Uploaded: 3 / 12  |  Time left: 0 min 30 sec");
  // 61 minutes 1 second at 1 kb/sec.
  EXPECT_EQ(StatusTickText(1024, 3661 * 1024, 1, 1, 1),
            "     Speed: 1 kb/sec  |  Uploaded: 1 / 1  |  Time left: 1 hours 1 min 1 sec");
}

TEST(StatusTickText, HoursPartOnlyFromOneHourOn) {
  const auto atHour = StatusTickText(10240, 3686400, 10, 0, 5);
  ASSERT_TRUE(atHour);
  EXPECT_NE(atHour->find("Time left: 1 hours 0 min 0 sec"), std::string::npos);
  const auto belowHour = StatusTickText(10240, 3686400 - 1024, 10, 0, 5);
  ASSERT_TRUE(belowHour);
  EXPECT_NE(belowHour->find("Time left: 59 min 59 sec"), std::string::npos);
}

TEST(StatusTickText, NothingBelowOneKilobytePerSecond) {
  EXPECT_FALSE(StatusTickText(10239, 1000000, 10, 1, 2));
  EXPECT_FALSE(StatusTickText(0, 1000000, 1, 0, 2));
  EXPECT_TRUE(StatusTickText(10240, 1000000, 10, 1, 2));
}

TEST(StatusTickText, MoreMovedThanQueuedGivesZeroOrNegativeTimeLeft) {
  // 200 kb/sec; 30 KiB over gives -0.15 s, truncated to 0; 1200 KiB over gives -6 s.
  EXPECT_NE(StatusTickText(2048000, -30720, 10, 2, 2)->find("Time left: 0 min 0 sec"), std::string::npos);
  EXPECT_NE(StatusTickText(2048000, -1228800, 10, 2, 2)->find("Time left: 0 min -6 sec"), std::string::npos);
}

TEST(StatusTickText, SixtyFourBitCountersDoNotOverflow) {
  // 8 GiB moved in 100 s, 16 GiB left.
  const std::int64_t gib = 1024LL * 1024 * 1024;
  EXPECT_EQ(StatusTickText(8 * gib, 16 * gib, 100, 10, 20),
            "     Speed: 83886 kb/sec  |  Uploaded: 10 / 20  |  Time left: 3 min 20 sec");
}

} // namespace
} // namespace velmora
