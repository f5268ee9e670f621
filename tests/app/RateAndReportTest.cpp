// Speed limits read as curl reads them, the stored limit survives a run whose command line
// replaced it, and report lines are valid JSON whatever bytes a file name holds.

#include "app/Engine.h"
#include "app/OutcomeReport.h"
#include "base/RateTimetable.h"
#include "base/TransferRate.h"

#include "RecordingUi.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <limits>

namespace velmora {
namespace {

TEST(TransferRateTest, ReadsBytesAndTheBinarySuffixesAndNothingElse) {
  EXPECT_EQ(ParseTransferRate("0"), 0);
  EXPECT_EQ(ParseTransferRate("1000"), 1000);
  EXPECT_EQ(ParseTransferRate("200K"), 200 * 1024);
  EXPECT_EQ(ParseTransferRate("200k"), 200 * 1024);
  EXPECT_EQ(ParseTransferRate("1M"), 1048576);
  EXPECT_EQ(ParseTransferRate("3m"), 3 * 1048576);
  EXPECT_EQ(ParseTransferRate("2G"), std::int64_t{2} << 30);
  EXPECT_EQ(ParseTransferRate("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  for (const char* bad :
       {"", "M", "-1", "+5", " 1M", "1M ", "1.5M", "1MB", "1T", "1x", "0x10", "8589934592G", "9223372036854775808"}) {
    EXPECT_EQ(ParseTransferRate(bad), std::nullopt) << '"' << bad << '"';
  }
  for (const std::int64_t rate :
       {std::int64_t{0}, std::int64_t{1000}, std::int64_t{1536} * 1024, std::int64_t{1} << 20, std::int64_t{3} << 30}) {
    EXPECT_EQ(ParseTransferRate(FormatTransferRate(rate)), rate) << FormatTransferRate(rate);
  }
  EXPECT_EQ(FormatTransferRate(1048576), "1M");
}

TEST(RateTimetableTest, ReadsOneRateOrSwitchesByTimeOfDayAndNamesTheFirstBadEntry) {
  const auto table = [](const char* text) { return ParseRateTimetable(text).timetable; };
  EXPECT_EQ(table("1M"), RateTimetable(1 << 20));
  EXPECT_EQ(table("off"), RateTimetable(0));
  const auto day = table(" 18:00,2M\t8:00,512K 23:00,off ");
  ASSERT_TRUE(day);
  EXPECT_EQ(day->Text(), "08:00,512K 18:00,2M 23:00,off");
  EXPECT_EQ(table(day->Text().c_str()), day);
  // Before the day's first switch, the last one of the day still holds.
  for (const auto& [minute, rate] : std::vector<std::pair<int, std::int64_t>>{
           {0, 0}, {7 * 60 + 59, 0}, {8 * 60, 512 << 10}, {17 * 60 + 59, 512 << 10}, {18 * 60, 2 << 20}, {23 * 60, 0}}) {
    EXPECT_EQ(day->RateAt(minute), rate) << minute;
  }
  for (const auto& [text, named] : std::vector<std::pair<const char*, const char*>>{
           {"", "no rate"},
           {"08:00,512K 24:00,off", "\"24:00,off\": the time of day"},
           {"08:00,512K 9:60,1M", "\"9:60,1M\": the time of day"},
           {"8:0,1M", "\"8:0,1M\": the time of day"},
           {"08:00,1.5M", "\"08:00,1.5M\": the rate"},
           {"08:00,", "\"08:00,\": the rate"},
           {"08:00,1M 08:00,2M", "\"08:00,2M\": this time of day is already"},
           {"1M 18:00,2M", "\"1M\" is no switch"},
           {"fast", "\"fast\" is not a rate"}}) {
    const ParsedRateTimetable parsed = ParseRateTimetable(text);
    EXPECT_FALSE(parsed.timetable) << text;
    EXPECT_EQ(parsed.error.rfind(named, 0), 0u) << text << ": " << parsed.error;
  }
}

class RateSettingTest : public test::TempHomeTest {};

// Today at this local time of day.
std::time_t LocalToday(int hour, int minute) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = 30;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

TEST_F(RateSettingTest, TimetableGivesTransfersThatStartAfterASwitchTheNewRateAndIsStoredAsWritten) {
  test::RecordingUi ui;
  {
    Engine engine(ui);
    engine.Startup();
    std::time_t now = LocalToday(8, 29);
    engine.service().SetClock([&now] { return now; });
    engine.SetRateLimit(*ParseRateTimetable("08:30,512K 18:00,2M 23:00,off").timetable);
    EXPECT_EQ(engine.effectiveRateLimit(), 0);
    now = LocalToday(8, 30);
    EXPECT_EQ(engine.effectiveRateLimit(), 512 << 10);
    now = LocalToday(18, 30);
    EXPECT_EQ(engine.effectiveRateLimit(), 2 << 20);
    engine.OverrideRateLimit(*ParseRateTimetable("18:00,1K 19:00,off").timetable);
    EXPECT_EQ(engine.effectiveRateLimit(), 1024);
    engine.Shutdown();
  }
  EXPECT_EQ(LoadSettings().rateLimit.Text(), "08:30,512K 18:00,2M 23:00,off");
}

TEST_F(RateSettingTest, CommandLineLimitAndTransfersHoldForTheRunAndTheStoredOnesAreKept) {
  test::RecordingUi ui;
  {
    Engine engine(ui);
    engine.Startup();
    engine.SetRateLimit(2 << 20);
    engine.SetTransfers(2);
    EXPECT_EQ(engine.effectiveRateLimit(), 2 << 20);
    engine.Shutdown();
  }
  Engine engine(ui);
  engine.Startup();
  EXPECT_EQ(engine.rateLimit(), 2 << 20);
  engine.OverrideRateLimit(1024);
  EXPECT_EQ(engine.effectiveRateLimit(), 1024);
  EXPECT_EQ(engine.rateLimit(), 2 << 20);
  EXPECT_EQ(engine.effectiveTransfers(), 2);
  engine.OverrideTransfers(5);
  EXPECT_EQ(engine.effectiveTransfers(), 5);
  EXPECT_EQ(engine.transfers(), 2);
  engine.OverrideTransfers(std::nullopt);
  EXPECT_EQ(engine.effectiveTransfers(), 2);
  engine.Shutdown();
  EXPECT_EQ(LoadSettings().rateLimit, 2 << 20);
  EXPECT_EQ(LoadSettings().transfers, 2);
}

TEST_F(RateSettingTest, StoredLimitThatIsNoRateIsNamedOnceAndKeptAsWritten) {
  for (const char* bad : {"1.5M", "-5", "garbage", "08:00,1M 25:00,off"}) {
    SCOPED_TRACE(bad);
    StoredSettings stored;
    stored.unreadableRateLimit = bad;
    SaveSettings(stored);
    test::RecordingUi ui;
    Engine engine(ui);
    engine.Startup();
    EXPECT_EQ(engine.effectiveRateLimit(), 0);
    const std::string said = std::string("     The stored speed limit LimitRate=") + bad +
                             " is not a rate in bytes per second (such as 500K or 1M) or a timetable (such as "
                             "08:00,512K 23:00,off): transfers are not limited";
    EXPECT_EQ(std::count(ui.statusTexts.begin(), ui.statusTexts.end(), said), 1);
    engine.Shutdown();
    EXPECT_EQ(LoadSettings().unreadableRateLimit, bad);
  }
}

TEST_F(RateSettingTest, ReportLinesAreJsonEvenForNamesThatAreNotUtf8) {
  OutcomeLog log(ReportKind::Upload);
  log.Add({"/m/a\xff.mp3", "", {}, FileOutcomeKind::Skipped, reason::kVanished});
  log.Add({"/m/b \"q\".mp3", "ab12", {}, FileOutcomeKind::Sent, {}, 4212, 0.10449});
  EXPECT_EQ(OutcomeJsonLine(log.entries()[0]),
            "{\"type\":\"file\",\"path\":\"/m/a\xEF\xBF\xBD.mp3\",\"hash_id\":null,\"outcome\":\"skipped\","
            R"("reason":"vanished: the file is no longer there","bytes":0,"seconds":0.0})");
  EXPECT_EQ(OutcomeJsonLine(log.entries()[1]),
            R"({"type":"file","path":"/m/b \"q\".mp3","hash_id":"ab12","outcome":"sent","reason":null,)"
            R"("bytes":4212,"seconds":0.104})");
  EXPECT_EQ(SummaryJsonLine(log),
            R"({"type":"summary","report":"upload","counts":{"sent":1,"metadata-only":0,"already-in-library":0,)"
            R"("skipped":1,"failed":0},"files":2,"bytes":4212,"seconds":0.104})");
  EXPECT_EQ(SummaryLine(log), "1 sent, 0 metadata only, 0 already in your library, 1 skipped, 0 failed");
  // Files a stop kept back are counted once there are some.
  log.Add({"/m/c.mp3", "cd34", {}, FileOutcomeKind::NotSent, reason::kStillQueued});
  EXPECT_NE(SummaryJsonLine(log).find(R"("skipped":1,"not-sent":1,"failed":0})"), std::string::npos)
      << SummaryJsonLine(log);

  EXPECT_THROW(
      {
        try {
          OutcomeReportFile file(files() / "no such folder" / "report.jsonl");
        } catch (const std::runtime_error& error) {
          EXPECT_NE(std::string(error.what()).find("no such folder/report.jsonl"), std::string::npos);
          throw;
        }
      },
      std::runtime_error);
}

} // namespace
} // namespace velmora
