// A run on three lanes ends every file as a run that moves one file at a time does: under each
// fault on the upload and the restore paths, the same exit code, output, report and requests to
// the service, apart from the service's address, its keys and the seconds. Each run holds one
// file, so which file meets a fault is never left to the lanes' timing.

#include "LockerProcess.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"
#include "store/Sha1.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <map>
#include <regex>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Fault = std::map<std::string, std::string>;

class LanesAgreeTest : public test::TempHomeTest {
protected:
  struct Mode {
    int transfers;
    std::unique_ptr<test::LockerProcess> locker;
  };

  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    for (const int transfers : {1, 3}) {
      const fs::path data = files() / ("locker" + std::to_string(transfers));
      modes_.push_back({transfers, std::make_unique<test::LockerProcess>(
                                       std::vector<std::string>{"--data", data.string(), "--user", "alice:pw"})});
    }
  }

  // A folder holding one file of its own random bytes; with `stored`, both services already hold
  // its content (another user's), so only its metadata goes out.
  std::string OneFileFolder(const std::string& name, bool stored = false, std::size_t size = 20000) {
    const fs::path file = files() / name / (name + ".mp3");
    test::WriteNoise(file, size);
    if (stored) {
      for (const Mode& mode : modes_) mode.locker->StoreContent(file);
    }
    return test::ShellQuote((files() / name).string());
  }

  // What a run shows, with what differs between the two services and runs taken out.
  struct Ending {
    int exitCode;
    std::string out; // a restore's log
    std::string err;
    std::vector<nlohmann::json> report;
    bool operator==(const Ending&) const = default;
  };
  friend std::ostream& operator<<(std::ostream& out, const Ending& ending) {
    out << "exit " << ending.exitCode << "\n" << ending.out << ending.err;
    for (const auto& line : ending.report) out << line.dump() << "\n";
    return out;
  }

  // "{n}" in the arguments stands for the number of transfers, so each run has its own target.
  Ending Run(const Mode& mode, const std::string& command, std::string arguments) {
    arguments = std::regex_replace(arguments, std::regex("\\{n\\}"), std::to_string(mode.transfers));
    const fs::path home = files() / ("home" + std::to_string(mode.transfers));
    const fs::path report = home / "report.jsonl";
    fs::create_directories(home);
    const auto result = test::RunCommand(
        "XDG_CONFIG_HOME=" + test::ShellQuote((home / "config").string()) +
        " XDG_CACHE_HOME=" + test::ShellQuote((home / "cache").string()) + " VELMORA_PASSWORD=pw " +
        test::ShellQuote(VELMORA_CLI_PATH) + " --stage " + mode.locker->hostPort() + " --user alice " + command +
        " --transfers " + std::to_string(mode.transfers) + " --report " + test::ShellQuote(report.string()) + " " +
        arguments);
    const auto same = [&](std::string text) {
      text = std::regex_replace(text, std::regex(mode.locker->hostPort()), "SERVICE");
      text = std::regex_replace(text, std::regex("target" + std::to_string(mode.transfers)), "TARGET");
      // A connection cut while a file is sent is seen as either, by whichever the client notices first.
      text = std::regex_replace(text, std::regex("Failed sending data to the peer"),
                                "Server returned nothing (no headers, no data)");
      return std::regex_replace(text, std::regex("[0-9a-f]{32}"), "KEY");
    };
    Ending ending{result.exitCode, same(result.out), same(result.err), {}};
    std::istringstream lines(test::ReadFile(report));
    for (std::string line; std::getline(lines, line);) {
      nlohmann::json parsed = nlohmann::json::parse(same(line));
      EXPECT_GE(parsed.at("seconds").get<double>(), 0.0) << line; // they differ from run to run, but never go back
      parsed.erase("seconds");
      ending.report.push_back(std::move(parsed));
    }
    return ending;
  }

  // Arms the fault on both services, runs the command once with each, and expects the same ending
  // and the same requests from runs that both met the fault.
  void ExpectSameEnding(const std::string& name, const Fault& fault, const std::string& command,
                        const std::string& arguments) {
    std::vector<Ending> endings;
    std::vector<std::vector<std::string>> requests;
    for (const Mode& mode : modes_) {
      const unsigned long long before = mode.locker->LastRequest();
      if (!fault.empty()) {
        mode.locker->Control("/_control/stats/reset");
        mode.locker->Control("/_control/faults", fault);
      }
      endings.push_back(Run(mode, command, arguments));
      requests.push_back(mode.locker->RequestsSince(before));
      if (fault.empty()) continue;
      const auto stats = mode.locker->Document("/_control/stats");
      const std::string met = "/stats/counter[@target='" + fault.at("target") + "']/@faults";
      EXPECT_GT(stats.select_node(met.c_str()).attribute().as_int(), 0)
          << name << ": the fault was never met with " << mode.transfers << " transfer(s)";
      mode.locker->Control("/_control/faults/reset");
    }
    EXPECT_EQ(endings[1], endings[0]) << name << ": three transfers (first) against one";
    EXPECT_EQ(requests[1], requests[0]) << name << ": the requests of three transfers (first) against one";
  }

  std::vector<Mode> modes_;
};

TEST_F(LanesAgreeTest, UploadsEndEachFileAsOneAtATimeUnderEveryFault) {
  const std::vector<std::tuple<std::string, Fault, bool>> cases{
      {"nothing goes wrong", {}, false},
      {"registration HTTP 500", {{"target", "items/add"}, {"kind", "http"}, {"status", "500"}}, false},
      {"registration not XML", {{"target", "items/add"}, {"kind", "notxml"}, {"body", "<html>oops"}}, false},
      {"registration cut", {{"target", "items/add"}, {"kind", "cut"}, {"bytes", "40"}}, false},
      {"registration without a location",
       {{"target", "items/add"},
        {"kind", "http"},
        {"status", "200"},
        {"body", "<result><result>true</result><error>0</error></result>"}},
       false},
      {"transfer HTTP 500", {{"target", "upload"}, {"kind", "http"}, {"status", "500"}, {"times", "3"}}, false},
      {"transfer HTTP 503", {{"target", "upload"}, {"kind", "http"}, {"status", "503"}}, false},
      {"transfer answer cut", {{"target", "upload"}, {"kind", "cut"}, {"bytes", "0"}}, false},
      // Twice: a kept connection that dies is tried once more on a new one.
      {"transfer cut while sent",
       {{"target", "upload"}, {"kind", "cut-upload"}, {"bytes", "4096"}, {"times", "2"}},
       false},
      {"metadata only", {}, true},
      {"metadata only, HTTP 500", {{"target", "transmitfile"}, {"kind", "http"}, {"status", "500"}}, true},
      {"metadata only, HTTP 503", {{"target", "transmitfile"}, {"kind", "http"}, {"status", "503"}}, true},
  };
  for (std::size_t n = 0; n < cases.size(); ++n) {
    const auto& [name, fault, stored] = cases[n];
    ExpectSameEnding(name, fault, "upload", OneFileFolder("up" + std::to_string(n), stored));
  }
  // With retries, a transient failure is waited out and the file goes after all.
  const std::vector<std::tuple<std::string, Fault, bool>> retried{
      {"registration HTTP 503, retried", {{"target", "items/add"}, {"kind", "http"}, {"status", "503"}, {"retryafter", "0"}}, false},
      {"transfer cut, retried", {{"target", "upload"}, {"kind", "cut"}, {"bytes", "0"}}, false},
      {"metadata only, HTTP 503, retried", {{"target", "transmitfile"}, {"kind", "http"}, {"status", "503"}, {"retryafter", "0"}}, true},
  };
  for (std::size_t n = 0; n < retried.size(); ++n) {
    const auto& [name, fault, stored] = retried[n];
    ExpectSameEnding(name, fault, "upload", "--retries 2 " + OneFileFolder("retried" + std::to_string(n), stored));
  }
  // A duplicate-check code that asks for nothing to be sent skips the file with that code.
  const std::string odd = OneFileFolder("odd code");
  const std::string answer = "<result><result>true</result><error>0</error><items><item><hashvalue>" +
                             Sha1OfFile((files() / "odd code" / "odd code.mp3").string()).value() +
                             "</hashvalue><code>300</code></item></items></result>";
  ExpectSameEnding("duplicate check answers code 300",
                   {{"target", "items/checkhashvalues"}, {"kind", "http"}, {"status", "200"}, {"body", answer}}, "upload",
                   odd);
}

TEST_F(LanesAgreeTest, RestoresEndEachFileAsOneAtATimeUnderEveryFault) {
  const std::vector<std::pair<std::string, Fault>> cases{
      {"nothing goes wrong", {}},
      {"delivery HTTP 500", {{"target", "items/get/deliver"}, {"kind", "http"}, {"status", "500"}, {"times", "9"}}},
      {"delivery HTTP 503", {{"target", "items/get/deliver"}, {"kind", "http"}, {"status", "503"}}},
      {"delivery not XML", {{"target", "items/get/deliver"}, {"kind", "notxml"}}},
      {"delivery refused",
       {{"target", "items/get/deliver"},
        {"kind", "http"},
        {"status", "200"},
        {"body", "<result><result>false</result><error>404</error><errormessage>No such item</errormessage></result>"},
        {"times", "9"}}},
      {"delivery cut", {{"target", "items/get/deliver"}, {"kind", "cut"}, {"bytes", "50"}}},
      {"delivery without an address",
       {{"target", "items/get/deliver"},
        {"kind", "http"},
        {"status", "200"},
        {"body", "<result><result>true</result><error>0</error></result>"}}},
      {"download HTTP 500", {{"target", "download"}, {"kind", "http"}, {"status", "500"}, {"times", "9"}}},
      {"download HTTP 503", {{"target", "download"}, {"kind", "http"}, {"status", "503"}}},
      {"download cut", {{"target", "download"}, {"kind", "cut"}, {"bytes", "1000"}}},
      // With retries, a transient failure is waited out and the file comes after all.
      {"delivery HTTP 503, retried", {{"target", "items/get/deliver"}, {"kind", "http"}, {"status", "503"}, {"retryafter", "0"}}},
      {"download cut, retried", {{"target", "download"}, {"kind", "cut"}, {"bytes", "1000"}}},
  };
  for (std::size_t n = 0; n < cases.size(); ++n) {
    const std::string playlist = "list" + std::to_string(n);
    const std::string folder = OneFileFolder(playlist);
    for (const Mode& mode : modes_) {
      ASSERT_EQ(Run(mode, "upload", "--playlist " + playlist + " " + folder).exitCode, 0);
      fs::create_directories(files() / ("target" + std::to_string(mode.transfers) + "-" + playlist));
    }
    const bool retried = cases[n].first.ends_with("retried");
    ExpectSameEnding(cases[n].first, cases[n].second, "restore",
                     std::string(retried ? "--retries 2 " : "") + "--playlist " + playlist + " --target " +
                         test::ShellQuote((files() / ("target{n}-" + playlist)).string()));
  }
}

// The window on lanes as one at a time: the file bars move with the bytes of the file the status
// window names (between empty and full, never beyond), the run's bar ends full, a finished run
// puts the window and its buttons back, and a restore's bar moves while its files come.
TEST_F(LanesAgreeTest, FileBarsMoveWithTheBytesOnEveryNumberOfTransfers) {
  OneFileFolder("bars", false, 150 << 10);
  test::WriteFile(files() / "bars" / "a small one.mp3", std::string(20 << 10, 's')); // queued first
  for (const Mode& mode : modes_) {
    SCOPED_TRACE(std::to_string(mode.transfers) + " transfer(s)");
    test::RecordingUi ui;
    Engine engine(ui, {"/stage " + mode.locker->hostPort(), files() / "bars-settings.ini"});
    engine.Startup();
    engine.SetCredentials("alice", "pw");
    ASSERT_TRUE(engine.Login());
    engine.OverrideTransfers(mode.transfers);
    engine.OverrideRateLimit(100 << 10);
    std::map<ProgressBar, int> between, beyond;
    std::vector<std::string> otherFilesBar;
    int restoreBarBehind = 0;
    ui.onProcessMessages = [&] {
      const RestoreState& restore = engine.restoreState();
      restoreBarBehind += restore.running && restore.totalPosition > 0 &&
                          ui.bars[ProgressBar::DownloadTotal].position != restore.totalPosition;
      for (const ProgressBar bar : {ProgressBar::File, ProgressBar::DownloadFile}) {
        const auto& shown = ui.bars[bar];
        between[bar] += shown.position > 0 && shown.position < shown.maximum;
        beyond[bar] += shown.position > shown.maximum;
      }
      // A file's requests are at most its bytes and a few KiB of form around them.
      const std::string named = engine.upload().statusWindow().currentTrack;
      const auto total = ui.bars[ProgressBar::File].maximum;
      std::error_code error;
      const auto size = static_cast<std::int64_t>(fs::file_size(named, error));
      if (!error && engine.upload().RunActive() && total > 0 && total > size + (16 << 10))
        otherFilesBar.push_back(named + ": " + std::to_string(total));
    };
    engine.DropFiles({(files() / "bars").string()});
    ASSERT_TRUE(engine.AnalyzeAndUpload());
    engine.OnStartTimer();
    ASSERT_EQ(engine.upload().outcome(), RunOutcome::Finished);
    EXPECT_TRUE(otherFilesBar.empty()) << otherFilesBar.front();
    const UploadWindows& windows = engine.upload().windows();
    const UploadQueueControls& controls = engine.upload().controls();
    EXPECT_EQ(std::vector<bool>({windows.statusWindowVisible, windows.mainWindowVisible, windows.durationTimerEnabled,
                                 windows.statusTimerEnabled, controls.stopEnabled, controls.clearEnabled,
                                 controls.removeEnabled}),
              std::vector<bool>({false, true, false, false, false, false, false}));
    // Request overhead counts as moved bytes too, so the run's bar may end a little past its total.
    const auto& run = ui.bars[ProgressBar::StatusGlobal];
    EXPECT_GE(run.position, run.maximum);
    EXPECT_LE(run.position, run.maximum * 21 / 20);

    const fs::path target = files() / ("bars-target" + std::to_string(mode.transfers));
    fs::create_directories(target);
    engine.SetRestoreTarget(target.string());
    engine.SetRestoreWholeLibrary(true);
    ASSERT_TRUE(engine.RestoreNow());
    EXPECT_EQ(engine.restoreState().restoredCount, 2);
    EXPECT_EQ(restoreBarBehind, 0) << "the restore's bar moves as its files come, not only at the end";
    for (const ProgressBar bar : {ProgressBar::File, ProgressBar::DownloadFile}) {
      EXPECT_GT(between[bar], 0) << static_cast<int>(bar);
      EXPECT_EQ(beyond[bar], 0) << static_cast<int>(bar);
    }
    engine.Shutdown();
  }
}

} // namespace
} // namespace velmora
