// Retrying failed requests: the waits, the Retry-After header, which failures and requests repeat,
// and the status line of each wait.

#include "RecordingUi.h"
#include "service/ApiError.h"
#include "service/Retry.h"

#include <curl/curl.h>

#include <gtest/gtest.h>

namespace velmora {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(RetryTest, BackoffDoublesFromOneSecondUpToAMinuteAndRetryAfterOverridesItOnlyWhenPlainAndShort) {
  EXPECT_EQ(BackoffDelay(1, 0), milliseconds(1000));
  EXPECT_EQ(BackoffDelay(2, 0), milliseconds(2000));
  EXPECT_EQ(BackoffDelay(3, 0), milliseconds(4000));
  EXPECT_EQ(BackoffDelay(6, 0), milliseconds(32000));
  EXPECT_EQ(BackoffDelay(7, 0), milliseconds(60000));
  EXPECT_EQ(BackoffDelay(100, 0), milliseconds(60000));
  // Jitter only shortens a wait, by at most a fifth.
  EXPECT_EQ(BackoffDelay(1, 1), milliseconds(800));
  EXPECT_EQ(BackoffDelay(100, 1), milliseconds(48000));

  EXPECT_EQ(ParseRetryAfter("1"), seconds(1));
  EXPECT_EQ(ParseRetryAfter(" 0 "), seconds(0));
  EXPECT_EQ(ParseRetryAfter("300"), seconds(300));
  for (const char* unusable :
       {"301", "99999999999999999999999", "-1", "1.5", "soon", "", "Wed, 21 Oct 2015 07:28:00 GMT"})
    EXPECT_EQ(ParseRetryAfter(unusable), std::nullopt) << unusable;

  EXPECT_EQ(RetryDelay(3, "7", 0.5), milliseconds(7000));
  EXPECT_EQ(RetryDelay(3, "Wed, 21 Oct 2015 07:28:00 GMT", 0), milliseconds(4000));
  EXPECT_EQ(RetryDelay(20, "86400", 0), milliseconds(60000));
}

TEST(RetryTest, OnlyPassingFailuresRepeatAndARequestThatActsTwiceOnlyWhenTheServiceSurelyDidNotAct) {
  const auto facts = [](const std::exception& failure) { return DescribeFailure(failure); };
  const FailureFacts unavailable = facts(ApiError("busy", 503, 0, "5"));
  EXPECT_TRUE(unavailable.transient);
  EXPECT_TRUE(unavailable.notActedOn);
  EXPECT_EQ(unavailable.retryAfter, "5");
  EXPECT_TRUE(facts(ApiError("slow down", 429)).notActedOn);
  const FailureFacts serverError = facts(ApiError("oops", 500));
  EXPECT_TRUE(serverError.transient);
  EXPECT_FALSE(serverError.notActedOn);
  EXPECT_FALSE(facts(ApiError("gone", 404)).transient);
  EXPECT_FALSE(facts(ApiError("mismatch", 422)).transient);
  EXPECT_TRUE(facts(ApiError("refused", 0, CURLE_COULDNT_CONNECT)).notActedOn);
  const FailureFacts reset = facts(ApiError("reset", 0, CURLE_RECV_ERROR));
  EXPECT_TRUE(reset.transient);
  EXPECT_FALSE(reset.notActedOn);
  EXPECT_FALSE(facts(ApiError("not XML")).transient);
  EXPECT_FALSE(facts(std::runtime_error("Cannot open the file")).transient);

  EXPECT_EQ(RepeatSafetyOf("misc/sendinvitation"), RepeatSafety::OnlyIfNotActedOn);
  for (const char* method :
       {"user/checkaccess", "items/checkhashvalues", "set/prefill", "transmitfile", "items/add", "items/get/deliver"})
    EXPECT_EQ(RepeatSafetyOf(method), RepeatSafety::Idempotent) << method;
  EXPECT_TRUE(MayRepeat(RepeatSafety::Idempotent, reset));
  EXPECT_FALSE(MayRepeat(RepeatSafety::OnlyIfNotActedOn, reset));
  EXPECT_FALSE(MayRepeat(RepeatSafety::OnlyIfNotActedOn, serverError));
  EXPECT_TRUE(MayRepeat(RepeatSafety::OnlyIfNotActedOn, unavailable));
}

TEST(RetryTest, EachWaitIsAStatusLineAndTheLastFailureStandsWhenRetriesAreUsedUpOrAStopCame) {
  test::RecordingUi ui;
  Retrier retrier(ui);
  int attempts = 0;
  const auto failTwice = [&] {
    if (++attempts <= 2) throw ApiError("Request answered with HTTP status 503", 503, 0, "0");
    return attempts;
  };
  EXPECT_THROW(retrier.Run("items/add", RepeatSafety::Idempotent, failTwice), ApiError) << "no retries by default";
  EXPECT_EQ(attempts, 1);
  EXPECT_TRUE(ui.statusTexts.empty());

  attempts = 0;
  retrier.SetRetries(2);
  EXPECT_EQ(retrier.Run("items/add", RepeatSafety::Idempotent, failTwice), 3);
  ASSERT_EQ(ui.statusTexts.size(), 2u);
  EXPECT_EQ(ui.statusTexts[0],
            "     Retrying items/add in 0 s (attempt 1 of 2): Request answered with HTTP status 503");
  EXPECT_EQ(ui.statusTexts[1],
            "     Retrying items/add in 0 s (attempt 2 of 2): Request answered with HTTP status 503");

  attempts = -5;
  EXPECT_THROW(retrier.Run("items/add", RepeatSafety::Idempotent, failTwice), ApiError);
  EXPECT_EQ(attempts, -2) << "three attempts, then the failure stands";

  attempts = 0;
  retrier.Abandon();
  EXPECT_THROW(retrier.Run("items/add", RepeatSafety::Idempotent, failTwice), ApiError);
  EXPECT_EQ(attempts, 1);
}

} // namespace
} // namespace velmora
