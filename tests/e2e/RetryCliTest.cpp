// --retries against velmora-locker: a service that asks to come back later is waited for and the
// file is stored once; without the option one failure ends the run as always; an upload whose
// answer was lost is not sent to its used-up address again but registered anew; bad counts are
// usage errors.

#include "LockerProcess.h"
#include "TempHome.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <chrono>

namespace velmora {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class RetryCliTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    locker_ = std::make_unique<test::LockerProcess>(std::vector<std::string>{"--user", "alice:pw"});
    song_ = (files() / "song.mp3").string();
    std::string bytes(60000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 11);
    test::WriteFile(song_, bytes);
  }

  test::CommandResult Velmora(const std::string& arguments) {
    return test::RunCommand("VELMORA_PASSWORD=pw " + test::ShellQuote(VELMORA_CLI_PATH) + " --stage " +
                            locker_->hostPort() + " --user alice " + arguments);
  }
  std::size_t LibraryItems() const {
    return locker_->Document("/_control/library", {{"user", "alice"}}).select_nodes("/library/item").size();
  }
  void Fault(const std::map<std::string, std::string>& parameters) { locker_->Control("/_control/faults", parameters); }

  std::unique_ptr<test::LockerProcess> locker_;
  std::string song_;
};

TEST_F(RetryCliTest, ServiceUnavailableTwiceIsWaitedOutWithRetriesAndEndsTheRunWithout) {
  Fault({{"target", "items/add"}, {"kind", "http"}, {"status", "503"}, {"retryafter", "1"}, {"times", "2"}});
  const auto started = std::chrono::steady_clock::now();
  const auto retried = Velmora("upload --retries 3 " + test::ShellQuote(song_));
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(retried.exitCode, 0) << retried.err;
  EXPECT_THAT(retried.err, HasSubstr("Retrying upload of " + song_ + " in 1 s (attempt 1 of 3): "));
  EXPECT_THAT(retried.err, HasSubstr("in 1 s (attempt 2 of 3): "));
  EXPECT_GE(seconds.count(), 2.0) << "Retry-After was obeyed";
  EXPECT_EQ(LibraryItems(), 1u);
  EXPECT_EQ(locker_->RequestCounts().at("items/add"), 3);
  EXPECT_EQ(locker_->RequestCounts().at("upload"), 1);

  // Without --retries one failure ends the run, as it always did.
  Fault({{"target", "items/add"}, {"kind", "http"}, {"status", "503"}, {"retryafter", "1"}, {"times", "2"}});
  locker_->Control("/_control/stats/reset");
  test::WriteFile(files() / "other.mp3", std::string(50000, 'x'));
  const auto once = Velmora("upload " + test::ShellQuote((files() / "other.mp3").string()));
  EXPECT_EQ(once.exitCode, 1) << once.err;
  EXPECT_THAT(once.err, Not(HasSubstr("Retrying")));
  EXPECT_EQ(locker_->RequestCounts().at("items/add"), 1);
  EXPECT_EQ(LibraryItems(), 1u);
}

TEST_F(RetryCliTest, AnUploadWhoseAnswerWasLostIsRegisteredAnewNotSentToItsUsedAddressAgain) {
  // The service stores the file, then the connection dies before the answer: the one-use
  // address is spent, and only a new "items/add" can name one that takes the file. Once one file
  // after the other, once on lanes, where the file is done only when its retry is.
  for (const std::size_t transfers : {1u, 2u}) {
    SCOPED_TRACE(transfers);
    const std::string song = transfers == 1 ? song_ : (files() / "lanes.mp3").string();
    if (transfers > 1) test::WriteFile(song, test::ReadFile(song_) + "lanes");
    locker_->Control("/_control/stats/reset");
    Fault({{"target", "upload"}, {"kind", "cut"}, {"bytes", "0"}});
    const auto result = Velmora("upload --retries 2 --transfers " + std::to_string(transfers) + " " +
                                test::ShellQuote(song));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_THAT(result.err, HasSubstr("Retrying upload of " + song));
    EXPECT_THAT(result.err, HasSubstr("\n1 sent, 0 metadata only"));
    const auto counts = locker_->RequestCounts();
    EXPECT_EQ(counts.at("items/add"), 2);
    EXPECT_EQ(counts.at("upload"), 2);
    EXPECT_EQ(LibraryItems(), transfers) << "the second copy added nothing";
  }
  const pugi::xml_document log = locker_->Document("/_control/requests");
  for (const auto& request : log.select_nodes("//request[@target='upload']"))
    EXPECT_NE(request.node().attribute("code").as_int(), 1410) << "a used address was tried again";
}

TEST_F(RetryCliTest, RetriesThatAreNotACountFromZeroToAHundredAreBadUsage) {
  for (const char* command : {"upload", "watch"}) {
    for (const char* count : {"-1", "many", "101", "2.5"}) {
      const auto result =
          Velmora(std::string(command) + " --retries " + count + " " + test::ShellQuote(files().string()));
      EXPECT_EQ(result.exitCode, 2) << command << " --retries " << count << "\n" << result.err;
    }
  }
  EXPECT_EQ(locker_->RequestCounts().count("user/checkaccess"), 0u) << "nothing was sent";
}

} // namespace
} // namespace velmora
