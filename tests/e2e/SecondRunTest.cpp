// An upload or a restore that follows others in the same session ends exactly as the same work
// started by a fresh program over the same stored state: every figure, count, outcome, bar,
// button, window, message and file it leaves, with one transfer and with three.

#include "LockerProcess.h"
#include "RecordingUi.h"
#include "TempHome.h"
#include "app/Engine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace velmora {
namespace {

namespace fs = std::filesystem;

class SecondRunTest : public test::TempHomeTest {
protected:
  // One program's life: its own service, settings and cache, engines started one after another.
  struct History {
    std::string name;
    int transfers;
    std::unique_ptr<test::LockerProcess> locker;
    std::unique_ptr<test::RecordingUi> ui;
    std::unique_ptr<Engine> engine;
  };

  void SetUp() override {
    if (!test::LockerProcess::Available()) GTEST_SKIP() << "no velmora-locker in this build";
    test::TempHomeTest::SetUp();
    test::WriteNoise(files() / "first/one.mp3", 30000);
    test::WriteNoise(files() / "first/two.mp3", 26000);
    test::WriteNoise(files() / "second/three.mp3", 41000);
    test::WriteNoise(files() / "second/four.mp3", 9000);
    fs::copy_file(files() / "first" / "one.mp3", files() / "second" / "one again.mp3"); // held already
    test::WriteNoise(files() / "second/held by another.mp3", 12000);                 // metadata only
    test::WriteNoise(files() / "third/refused.mp3", 15000);
  }

  History Begin(const std::string& name, int transfers) {
    const fs::path home = files() / name;
    History history{name, transfers,
                    std::make_unique<test::LockerProcess>(
                        std::vector<std::string>{"--data", (home / "locker").string(), "--user", "alice:pw"}),
                    nullptr, nullptr};
    history.locker->StoreContent(files() / "second/held by another.mp3");
    return history;
  }

  // The work folder follows the environment on every use, so each step sets its history's.
  void Enter(const History& history) {
    ::setenv("XDG_CACHE_HOME", (files() / history.name / "cache").c_str(), 1);
  }

  // A new program start in the history's home; the one before has shut down.
  void StartEngine(History& history) {
    if (history.engine) {
      Enter(history);
      history.engine->Shutdown();
    }
    history.engine.reset();
    const fs::path home = files() / history.name;
    Enter(history);
    history.ui = std::make_unique<test::RecordingUi>();
    history.engine = std::make_unique<Engine>(
        *history.ui, EngineOptions{"/stage " + history.locker->hostPort(), home / "settings.ini"});
    history.engine->Startup();
    history.engine->SetCredentials("alice", "pw");
    ASSERT_TRUE(history.engine->Login());
    history.engine->OverrideTransfers(history.transfers);
  }

  // What an upload showed, and its bytes moved: those count the requests' form too, whose length
  // varies by a few bytes with the service's answers.
  struct UploadEnding {
    std::string shown;
    std::int64_t bytesMoved;
  };

  // What the user can see once a step has ended, with the history's own folder names taken out.
  // Every list is sorted: on several lanes files end in the order they finish.
  // `beforeSending` runs between the analysis and the start of the transfers.
  UploadEnding Upload(History& history, const std::string& folder, const std::function<void()>& beforeSending = {}) {
    Enter(history);
    Engine& engine = *history.engine;
    // The window has shown the Status tab that earlier work asked for, and the user has closed
    // the "Upload done!" bar, which stays until then.
    engine.StatusTabShown();
    engine.CloseUploadDoneBar();
    const StepStart start = BeginStep(history);
    // While the files are analysed, nothing is counted and nothing can be stopped.
    std::set<std::string> duringAnalysis;
    history.ui->onViewChanged = [&](View) {
      const UploadQueueControls& controls = engine.upload().controls();
      if (!controls.analysisText.empty())
        duringAnalysis.insert("'" + controls.itemsToUpload + "' stop " + std::to_string(controls.stopEnabled) +
                              " file bar " + std::to_string(history.ui->bars[ProgressBar::File].position));
    };
    engine.ClearDroppedFiles();
    engine.DropFiles({(files() / folder).string()});
    EXPECT_TRUE(engine.AnalyzeAndUpload());
    EXPECT_EQ(duringAnalysis, std::set<std::string>{"'' stop 0 file bar 0"});
    history.ui->onViewChanged = nullptr;
    if (beforeSending) beforeSending();
    engine.OnStartTimer();
    std::vector<std::string> lines;
    const OutcomeLog report = engine.UploadReport();
    for (const FileOutcome& outcome : report.entries())
      lines.push_back("outcome " + outcome.path + " " + std::to_string(static_cast<int>(outcome.kind)) + " " +
                      outcome.reason + " " + std::to_string(outcome.bytes) + " " + outcome.hashId);
    const TransferFigures figures = engine.upload().Figures();
    const UploadWindows& windows = engine.upload().windows();
    const UploadQueueControls& controls = engine.upload().controls();
    const UploadStatusWindow& status = engine.upload().statusWindow();
    const RunCounters& counters = engine.counters();
    std::ostringstream state;
    state << "figures " << figures.filesDone << "/" << figures.filesTotal << " of " << figures.bytesTotal << " outcome " << static_cast<int>(engine.upload().outcome()) << " counts "
          << engine.upload().runFileCounts().uploaded << "," << engine.upload().runFileCounts().alreadyThere
          << " notice " << engine.upload().runEndNotice().title << "|" << engine.upload().runEndNotice().text
          << " windows " << windows.mainWindowVisible << windows.statusWindowVisible << windows.uploadDoneBarVisible
          << windows.statusTabRequested << windows.startTimerEnabled << windows.durationTimerEnabled
          << windows.statusTimerEnabled << " controls " << controls.stopEnabled << controls.resumeEnabled
          << controls.clearEnabled << controls.removeEnabled << " " << controls.itemsToUpload << " "
          << controls.globalMaximum << " started " << status.ItemsStarted << " queue "
          << engine.upload().queue().QueueCount() << " atStart " << engine.upload().QueueCountAtStart() << " total "
          << counters.TotalBytes << " itemsOnBar " << counters.ItemsOnGlobalBar;
    lines.push_back(state.str());
    if (history.transfers == 1)
      lines.push_back("last " + controls.lastUploadedFile + " playing " + status.currentTrack + " " + status.nameLabel);
    AddShown(history, start, {ProgressBar::QueueGlobal, ProgressBar::StatusGlobal}, lines);
    return {Sorted(std::move(lines), history), figures.bytesDone};
  }

  std::string Restore(History& history, const fs::path& target) {
    Enter(history);
    Engine& engine = *history.engine;
    const StepStart start = BeginStep(history);
    const std::size_t logBefore = engine.restoreState().log.size();
    engine.SetRestoreTarget(target.string());
    engine.SetRestoreWholeLibrary(true);
    EXPECT_TRUE(engine.RestoreNow());
    const RestoreState& state = engine.restoreState();
    const TransferFigures figures = engine.restorer().Figures();
    // The log memo keeps earlier restores' lines above this one's.
    std::vector<std::string> lines(state.log.begin() + static_cast<std::ptrdiff_t>(logBefore), state.log.end());
    for (const FileOutcome& outcome : engine.RestoreReport().entries())
      lines.push_back("outcome " + outcome.path + " " + std::to_string(static_cast<int>(outcome.kind)) + " " +
                      outcome.reason + " " + std::to_string(outcome.bytes));
    for (const auto& entry : fs::recursive_directory_iterator(target))
      lines.push_back("file " + entry.path().string() + " " +
                      (entry.is_regular_file() ? std::to_string(entry.file_size()) : "folder"));
    std::ostringstream figuresLine;
    figuresLine << "figures " << figures.filesDone << "/" << figures.filesTotal << " " << figures.bytesDone << "/"
                << figures.bytesTotal << " state " << state.analyzeEnabled << state.DownloadsCancelled
                << state.running << " found " << state.itemsFound << " " << state.itemsFoundCaption << " counts "
                << state.restoredCount << "," << state.alreadyThereCount << "," << state.failedCount << " rows "
                << state.rowsToFetch << " received " << state.bytesReceived << " bar " << state.totalPosition << "/"
                << state.totalMaximum << " failed " << state.listingFailed << state.playlistFileFailed;
    lines.push_back(figuresLine.str());
    AddShown(history, start, {ProgressBar::DownloadFile, ProgressBar::DownloadTotal}, lines);
    return Sorted(std::move(lines), history);
  }

  // Where the step begins: the messages shown and requests answered so far.
  struct StepStart {
    std::size_t messages;
    unsigned long long requests;
  };
  static StepStart BeginStep(History& history) {
    // The file bar stays as the step before left it, as the window's does: a step resets it itself.
    std::erase_if(history.ui->bars, [](const auto& bar) { return bar.first != ProgressBar::File; });
    return {Messages(history).size(), history.locker->LastRequest()};
  }
  static std::vector<std::string> Messages(const History& history) {
    std::vector<std::string> messages = history.ui->messages;
    messages.insert(messages.end(), history.ui->errorMessages.begin(), history.ui->errorMessages.end());
    messages.insert(messages.end(), history.ui->errorDisplays.begin(), history.ui->errorDisplays.end());
    return messages;
  }

  // The messages and requests of the step, and the step's own bars as it left them.
  static void AddShown(const History& history, const StepStart& start, const std::vector<ProgressBar>& bars,
                       std::vector<std::string>& lines) {
    const std::vector<std::string> messages = Messages(history);
    for (std::size_t n = start.messages; n < messages.size(); ++n) lines.push_back("message " + messages[n]);
    // On lanes an address asked ahead may come after its file went to a lane, which asks again.
    // The log is sorted, so a second ask stands right after the first and is left out.
    std::string previous;
    for (const std::string& request : history.locker->RequestsSince(start.requests)) {
      const bool askedAgain = request == previous && request.starts_with("items/get/deliver ");
      previous = request;
      if (!askedAgain) lines.push_back("request " + request);
    }
    for (const ProgressBar bar : bars) {
      const auto shown = history.ui->bars.find(bar);
      if (shown != history.ui->bars.end())
        lines.push_back("bar " + std::to_string(static_cast<int>(bar)) + " " +
                        std::to_string(shown->second.position) + "/" + std::to_string(shown->second.maximum));
    }
  }

  static std::string Sorted(std::vector<std::string> lines, const History& history) {
    for (std::string& line : lines) {
      // The services name items by keys of their own.
      line = std::regex_replace(line, std::regex("[0-9a-f]{32}"), "KEY");
      line = std::regex_replace(line, std::regex(history.name), "HISTORY");
      line = std::regex_replace(line, std::regex(history.locker->hostPort()), "SERVICE");
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }
};

// The same work on lanes ends as one file at a time too, but for the last file sent (which lane
// ends last) and the download bar's size once it is empty.
std::string AsOnEveryNumberOfTransfers(const std::string& shown) {
  std::string same = std::regex_replace(shown, std::regex("(^|\n)last [^\n]*"), "");
  return std::regex_replace(same, std::regex("bar 4 0/[0-9]+"), "bar 4 empty");
}

TEST_F(SecondRunTest, UploadAndRestoreAfterOthersInOneSessionEndAsInAFreshProgram) {
  std::map<int, std::vector<std::string>> endings; // by number of transfers
  for (const int transfers : {1, 3}) {
    SCOPED_TRACE(std::to_string(transfers) + " transfer(s)");
    History session = Begin("session" + std::to_string(transfers), transfers);
    History fresh = Begin("fresh" + std::to_string(transfers), transfers);
    const auto targets = [&](const History& history) {
      return std::make_pair(files() / history.name / "first target", files() / history.name / "second target");
    };
    for (History* history : {&session, &fresh}) {
      fs::create_directories(targets(*history).first);
      StartEngine(*history);
      Upload(*history, "first");
      Restore(*history, targets(*history).first);
      // The second restore finds the first one's files in place and downloads the rest.
      fs::copy(targets(*history).first, targets(*history).second, fs::copy_options::recursive);
    }
    const UploadEnding sessionUpload = Upload(session, "second");
    StartEngine(fresh);
    const UploadEnding freshUpload = Upload(fresh, "second");
    EXPECT_EQ(sessionUpload.shown, freshUpload.shown);
    EXPECT_LE(std::abs(sessionUpload.bytesMoved - freshUpload.bytesMoved), 1024);
    const std::string sessionRestore = Restore(session, targets(session).second);
    StartEngine(fresh);
    EXPECT_EQ(sessionRestore, Restore(fresh, targets(fresh).second));
    // A run the service refuses, after all that.
    for (History* history : {&session, &fresh})
      history->locker->Control("/_control/faults", {{"target", "items/add"}, {"kind", "http"}, {"status", "500"}});
    const UploadEnding sessionRefused = Upload(session, "third");
    StartEngine(fresh);
    EXPECT_EQ(sessionRefused.shown, Upload(fresh, "third").shown);
    endings[transfers] = {AsOnEveryNumberOfTransfers(sessionUpload.shown), AsOnEveryNumberOfTransfers(sessionRestore),
                          AsOnEveryNumberOfTransfers(sessionRefused.shown)};
    for (History* history : {&session, &fresh}) {
      Enter(*history);
      history->engine->Shutdown();
    }
  }
  EXPECT_EQ(endings[3], endings[1]) << "three transfers (first) against one";
}

// A file edited between its analysis and its transfer is refused by the service for its new
// hash id; the run ends naming the edit as the cause, on lanes as one at a time.
TEST_F(SecondRunTest, AFileEditedAfterItsAnalysisIsNamedAsTheCauseOnEveryNumberOfTransfers) {
  std::map<int, std::string> endings;
  for (const int transfers : {1, 3}) {
    History history = Begin("edited" + std::to_string(transfers), transfers);
    const fs::path song = files() / (history.name + " music") / "song.mp3";
    test::WriteNoise(song, 20000);
    StartEngine(history);
    const UploadEnding ending = Upload(history, song.parent_path().filename(), [&] { test::WriteNoise(song, 21000); });
    EXPECT_NE(ending.shown.find("message The file " + (files() / "HISTORY music" / "song.mp3").string() +
                                " changed since it was analysed, so the service refused it (HTTP status 422); "
                                "analyse it again to send it\n"),
              std::string::npos)
        << ending.shown;
    endings[transfers] = AsOnEveryNumberOfTransfers(ending.shown);
    Enter(history);
    history.engine->Shutdown();
  }
  EXPECT_EQ(endings[3], endings[1]) << "three transfers (first) against one";
}

} // namespace
} // namespace velmora
