// Speed limits read as curl reads them, the stored limit survives a run whose command line
// replaced it, and report lines are valid JSON whatever bytes a file name holds.

#include "app/Engine.h"
#include "app/OutcomeReport.h"
#include "base/TransferRate.h"

#include "RecordingUi.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
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

class RateSettingTest : public test::TempHomeTest {};

TEST_F(RateSettingTest, CommandLineLimitHoldsForTheRunAndTheStoredOneIsKept) {
  test::RecordingUi ui;
  {
    Engine engine(ui);
    engine.Startup();
    engine.SetRateLimit(2 << 20);
    EXPECT_EQ(engine.effectiveRateLimit(), 2 << 20);
    engine.Shutdown();
  }
  Engine engine(ui);
  engine.Startup();
  EXPECT_EQ(engine.rateLimit(), 2 << 20);
  engine.OverrideRateLimit(1024);
  EXPECT_EQ(engine.effectiveRateLimit(), 1024);
  EXPECT_EQ(engine.rateLimit(), 2 << 20);
  engine.Shutdown();
  EXPECT_EQ(LoadSettings().rateLimit, 2 << 20);
}

TEST_F(RateSettingTest, StoredLimitThatIsNoRateIsNamedOnceAndKeptAsWritten) {
  for (const char* bad : {"1.5M", "-5", "garbage"}) {
    SCOPED_TRACE(bad);
    StoredSettings stored;
    stored.unreadableRateLimit = bad;
    SaveSettings(stored);
    test::RecordingUi ui;
    Engine engine(ui);
    engine.Startup();
    EXPECT_EQ(engine.effectiveRateLimit(), 0);
    const std::string said = std::string("     The stored speed limit LimitRate=") + bad +
                             " is not a rate in bytes per second (such as 500K or 1M): transfers are not limited";
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
