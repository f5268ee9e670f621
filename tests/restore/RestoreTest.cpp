// A restore lists the chosen playlists or the whole library into the work list and downloads each
// item once into target/playlist/"Artist - Name (Album).mp3"; failures leave no file at the target
// name and the row unhandled, and no name from the service reaches outside the target.

#include "EngineInternals.h"
#include "app/Engine.h"
#include "restore/ListingNames.h"
#include "restore/Restore.h"
#include "service/ServicePlaylists.h"
#include "sources/M3uPlaylist.h"
#include "store/Sha1.h"
#include "store/Statements.h"

#include "RawHttpServer.h"
#include "RecordingUi.h"
#include "TempHome.h"

#include <gtest/gtest.h>

#include <atomic>

#include <map>

namespace velmora {
namespace {

using test::Envelope;
using test::HttpAnswer;

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else out += c;
  }
  return out;
}

std::string Item(const std::string& key, const std::string& name, const std::string& artist, const std::string& album) {
  // An empty album is left out: an empty element means "unknown" to the listing.
  return "<item><entrykey>" + key + "</entrykey><name>" + Escaped(name) + "</name><artist>" + Escaped(artist) +
         "</artist>" + (album.empty() ? "" : "<album>" + Escaped(album) + "</album>") + "</item>";
}

std::string Field(const test::CapturedRequest& request, const std::string& name) {
  for (const auto& part : test::MultipartParts(request)) {
    if (part.name == name) return part.content;
  }
  return {};
}

// A fake service: playlists and library answers set by the test, deliver addresses on itself.
class RestoreTest : public test::TempHomeTest {
protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    server = std::make_unique<test::RawHttpServer>([this](const test::CapturedRequest& r) { return Answer(r); });
    engine = std::make_unique<Engine>(ui, EngineOptions{"/stage " + server->hostPort(), {}});
    engine->Startup();
    engine->SetCredentials("alice", engine->password());
    target = files() / "restore";
    std::filesystem::create_directories(target);
    engine->SetRestoreTarget(target.string());
  }
  void TearDown() override {
    engine.reset();
    server.reset();
    TempHomeTest::TearDown();
  }

  std::string Answer(const test::CapturedRequest& request) {
    const std::string& path = request.target;
    if (path == "/api/rest/sets/set/getitems/") {
      ++getItemsCalls;
      return HttpAnswer(200,
                        Envelope("true", "0", "", "<items>" + playlistItems[Field(request, "setkey")] + "</items>"));
    }
    if (path == "/api/rest/items/get")
      return HttpAnswer(200, Envelope("true", "0", "", "<items>" + libraryItems + "</items>"));
    if (path == "/api/rest/items/get/deliver") {
      ++deliverCalls;
      if (refuseDeliver) return HttpAnswer(200, Envelope("false", "77", "not yours"));
      if (Field(request, "entrykey") == addresslessKey) return HttpAnswer(200, Envelope("true", "0", "", "<nothing/>"));
      return HttpAnswer(200, Envelope("true", "0", "",
                                      "<location>http://" + server->hostPort() + "/file/" + Field(request, "entrykey") +
                                          "</location>"));
    }
    if (path.rfind("/file/", 0) == 0) {
      const std::string key = path.substr(6);
      if (key == brokenKey) return brokenAnswer;
      return HttpAnswer(200, Content(key));
    }
    return HttpAnswer(404, "no such page");
  }
  static std::string Content(const std::string& key) { return "ID3 audio bytes of " + key + std::string(5000, 'x'); }

  void ChoosePlaylists(std::vector<std::pair<std::string, std::string>> captionsAndKeys) {
    EngineInternals::servicePlaylists(*engine).rows.clear();
    for (auto& [caption, key] : captionsAndKeys)
      EngineInternals::servicePlaylists(*engine).rows.push_back({caption, key, "", true, caption});
  }
  std::vector<std::string> LogLinesStartingWith(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const auto& line : engine->restoreState().log) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }
  // Every regular file in the folders below the target (not the playlist files beside them),
  // relative to the target.
  std::vector<std::string> FilesBelowTarget() const {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(target)) {
      if (entry.is_regular_file() && entry.path().parent_path() != target)
        found.push_back(std::filesystem::relative(entry.path(), target).string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  std::string PlaylistFile(const std::string& name) const { return test::ReadFile(target / name); }
  // The files the project's own playlist reader finds through a restored playlist file.
  std::vector<std::string> FilesListedIn(const std::string& name) const {
    std::vector<std::string> found;
    for (const auto& path : M3u8Playlist().ExistingFiles((target / name).string()))
      found.push_back(std::filesystem::path(path).lexically_relative(target).string());
    return found;
  }
  std::string Summary() const { return engine->restoreState().log.back(); }

  test::RecordingUi ui;
  std::unique_ptr<test::RawHttpServer> server;
  std::unique_ptr<Engine> engine;
  std::filesystem::path target;
  std::map<std::string, std::string> playlistItems;
  std::string libraryItems;
  std::string brokenKey, brokenAnswer, addresslessKey;
  bool refuseDeliver = false;
  // Counted on the fake server's thread, read on the engine's while a request is in flight.
  std::atomic<int> deliverCalls{0}, getItemsCalls{0};
};

TEST_F(RestoreTest, PlaylistModeListsAndDownloadsEachItemOnce) {
  playlistItems["p1"] = Item("e1", "Song", "Band", "Album") +
                        "<item><entrykey>e2</entrykey><name>Other</name><artist/><album/></item>" +
                        "<item><name>no key</name></item>" + Item("e3", "Shared", "Duo", "Both");
  playlistItems["p2"] = Item("e3", "Shared", "Duo", "Both") + "<item><entrykey>e4</entrykey><name>Bare</name></item>";
  ChoosePlaylists({{"Road trip", "p1"}, {"Chill", "p2"}});

  ASSERT_TRUE(engine->RestoreNow());

  EXPECT_EQ(FilesBelowTarget(), (std::vector<std::string>{"Chill/ - Bare.mp3", "Road trip/Band - Song (Album).mp3",
                                                          "Road trip/Duo - Shared (Both).mp3",
                                                          "Road trip/unknown artist - Other (unknown).mp3"}));
  EXPECT_EQ(test::ReadFile(target / "Road trip" / "Band - Song (Album).mp3"), Content("e1"));
  EXPECT_EQ(deliverCalls.load(), 4); // e3 sits in both playlists and is fetched once
  EXPECT_EQ(engine->restoreState().itemsFound, 5);
  EXPECT_EQ(engine->restoreState().itemsFoundCaption, "5");
  EXPECT_EQ(EngineInternals::servicePlaylists(*engine).rows[0].items, "4");
  EXPECT_EQ(EngineInternals::servicePlaylists(*engine).rows[1].items, "2");
  EXPECT_EQ(LogLinesStartingWith("Item found | ").front(), "Item found | Name: Song; Artist: Band; Album:Album");
  EXPECT_EQ(LogLinesStartingWith("Next file: ").size(), 4u);
  // Four passes fetched, one found nothing left: the total bar moved five times.
  EXPECT_EQ(engine->restoreState().totalPosition, 5);
  EXPECT_EQ(ui.bars[ProgressBar::DownloadTotal].maximum, 5);
  EXPECT_EQ(engine->restorer().UnhandledRows(), 0);
  EXPECT_EQ(Summary(), "4 restored, 0 already there, 0 failed");
  EXPECT_TRUE(ui.sawStatus("     4 restored, 0 already there, 0 failed"));
  // The command line's live line: files handled of the rows listed, the bytes of every download.
  const TransferFigures figures = engine->restorer().Figures();
  EXPECT_EQ(std::tuple(figures.filesDone, figures.bytesDone, figures.bytesTotal),
            std::tuple(4, std::int64_t{4 * 5021}, std::int64_t{0}));
  EXPECT_EQ(figures.filesTotal, engine->restoreState().rowsToFetch);
  EXPECT_EQ(figures.currentFile, " - Bare");

  // One playlist file per playlist, in the service's order; "Shared" was fetched into the first
  // playlist's folder and the second playlist's file points there.
  EXPECT_EQ(PlaylistFile("Road trip.m3u8"),
            "#EXTM3U\n"
            "#EXTINF:-1,Band - Song\nRoad trip/Band - Song (Album).mp3\n"
            "#EXTINF:-1,unknown artist - Other\n"
            "Road trip/unknown artist - Other (unknown).mp3\n"
            "#EXTINF:-1,Duo - Shared\nRoad trip/Duo - Shared (Both).mp3\n");
  EXPECT_EQ(FilesListedIn("Chill.m3u8"),
            (std::vector<std::string>{"Road trip/Duo - Shared (Both).mp3", "Chill/ - Bare.mp3"}));

  // Each download's hash id was taken as it streamed: the file is known without reading it.
  ui.statusTexts.clear();
  EXPECT_EQ(engine->FileFingerprint((target / "Road trip" / "Band - Song (Album).mp3").string()),
            Sha1Hex(Content("e1")));
  EXPECT_TRUE(ui.statusTexts.empty()) << ui.statusTexts.front(); // no "Deep analysis of ..."

  // Running again lists the same items, finds every file in place and asks for no download.
  deliverCalls = 0;
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_EQ(deliverCalls.load(), 0);
  EXPECT_EQ(engine->restorer().UnhandledRows(), 0);
  EXPECT_EQ(Summary(), "0 restored, 4 already there, 0 failed");
  EXPECT_EQ(engine->restorer().Figures().bytesDone, 0) << "counted afresh each restore";
  EXPECT_EQ(FilesListedIn("Road trip.m3u8").size(), 3u);
}

TEST_F(RestoreTest, WholeLibraryModeUsesAllItemsAndScalesTheTotalBar) {
  for (int i = 0; i < 25; ++i) {
    libraryItems += Item("k" + std::to_string(i), "T" + std::to_string(i), "A", "");
  }
  engine->SetRestoreWholeLibrary(true);
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_EQ(FilesBelowTarget().size(), 25u);
  EXPECT_TRUE(std::filesystem::exists(target / "All items" / "A - T7.mp3"));
  std::vector<std::string> found;
  for (const auto& status : ui.statusTexts) {
    if (status.rfind("     Item found: ", 0) == 0) found.push_back(status);
  }
  EXPECT_EQ(found, (std::vector<std::string>{"     Item found: A - T0", "     Item found: A - T10",
                                             "     Item found: A - T20"}));
  EXPECT_EQ(engine->restoreState().itemsFoundCaption, "25");
  EXPECT_EQ(engine->restoreState().totalMaximum, 26);
  EXPECT_EQ(engine->restoreState().totalPosition, 26);
  EXPECT_TRUE(LogLinesStartingWith("Item found | ").empty());
}

TEST_F(RestoreTest, FailedDownloadsLeaveNoFileAndTheRowForTheNextRun) {
  playlistItems["p"] = Item("good", "One", "A", "") + Item("bad", "Two", "A", "") + Item("later", "Three", "A", "");
  ChoosePlaylists({{"P", "p"}});
  int runs = 0;
  for (const std::string& answer : {HttpAnswer(500, "server error"), test::CutAnswer("ID3 partial", 100000)}) {
    brokenKey = "bad";
    brokenAnswer = answer;
    ui.errorDisplays.clear();
    ASSERT_TRUE(engine->RestoreNow());
    EXPECT_EQ(FilesBelowTarget(), std::vector<std::string>{"P/A - One.mp3"}) << "no partial file anywhere";
    ASSERT_EQ(ui.errorDisplays.size(), 1u);
    const auto& log = engine->restoreState().log;
    EXPECT_NE(std::find(log.begin(), log.end(), "http://" + server->hostPort() + "/file/bad"), log.end());
    // The second run starts with the row the first one left unhandled.
    EXPECT_EQ(Summary(),
              ++runs == 1 ? "1 restored, 0 already there, 1 failed" : "0 restored, 0 already there, 1 failed");
    EXPECT_EQ(FilesListedIn("P.m3u8"), std::vector<std::string>{"P/A - One.mp3"}) << "the failed item is left out";
    EXPECT_GT(engine->databases()
                  .temporary->execAndGet("SELECT count(*) FROM downloadmetainfo WHERE entrykey = 'bad' AND handled = 0")
                  .getInt(),
              0);
    EXPECT_FALSE(std::filesystem::exists(target / "P" / "A - Three.mp3")); // the run ended at the failure
  }
  brokenKey.clear();
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_EQ(FilesBelowTarget().size(), 3u);
  EXPECT_TRUE(test::ReadFile(target / "P" / "A - Two.mp3") == Content("bad"));
  EXPECT_EQ(engine->restorer().UnhandledRows(), 0);
  EXPECT_EQ(Summary(), "2 restored, 1 already there, 0 failed");
  EXPECT_EQ(FilesListedIn("P.m3u8"), (std::vector<std::string>{"P/A - One.mp3", "P/A - Two.mp3", "P/A - Three.mp3"}));
}

TEST_F(RestoreTest, RefusedDeliveryReportsAndStops) {
  playlistItems["p"] = Item("a", "One", "A", "") + Item("b", "Two", "A", "");
  ChoosePlaylists({{"P", "p"}});
  refuseDeliver = true;
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_EQ(deliverCalls.load(), 1);
  EXPECT_TRUE(ui.sawStatus("     Login failed"));
  EXPECT_EQ(ui.errorMessages,
            std::vector<std::string>{"Could not load data from server - error 77 (details: not yours)"});
  EXPECT_TRUE(FilesBelowTarget().empty());
  EXPECT_EQ(engine->restorer().UnhandledRows(), 2);
  EXPECT_EQ(Summary(), "0 restored, 0 already there, 1 failed");
}

// An accepted delivery without an address ends the restore with that error, whether files are
// fetched one at a time or on lanes; the item stays in the work list for the next restore.
TEST_F(RestoreTest, DeliveryWithoutAnAddressEndsTheRestoreWithItsErrorOnEveryNumberOfTransfers) {
  playlistItems["p"] = Item("a", "One", "A", "") + Item("bad", "Two", "A", "");
  ChoosePlaylists({{"P", "p"}});
  addresslessKey = "bad";
  for (const int transfers : {1, 3}) {
    engine->SetTransfers(transfers);
    try {
      engine->RestoreNow();
      ADD_FAILURE() << transfers << " transfers: the restore ended without the error";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "The service named no download address for the item bad") << transfers;
    }
    EXPECT_EQ(engine->restoreState().failedCount, 1) << transfers;
    EXPECT_EQ(engine->databases()
                  .temporary->execAndGet("SELECT count(*) FROM downloadmetainfo WHERE entrykey = 'bad' AND handled = 0")
                  .getInt(),
              transfers == 1 ? 1 : 2)
        << "kept for the next restore, which lists it again";
  }
}

TEST_F(RestoreTest, HostileNamesStayInsideTheTarget) {
  const std::string longName(600, 'n');
  playlistItems["p"] = Item("1", "../../../escape", "..", "") + Item("2", "a/b\\c:d*e?f\"g<h>i|j", "x", "") +
                       Item("3", "ctl\x01\x1f", "tab\there", "") + Item("4", longName, "é", "");
  ChoosePlaylists({{"..", "p"}, {"", "q"}, {".", "r"}});
  playlistItems["q"] = Item("5", "In empty", "A", "");
  playlistItems["r"] = Item("6", "In dot", "A", "");
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_TRUE(ui.errorDisplays.empty()) << ui.errorDisplays.front();
  EXPECT_EQ(FilesBelowTarget().size(), 6u) << ::testing::PrintToString(FilesBelowTarget());
  const auto root = std::filesystem::weakly_canonical(target).string() + "/";
  for (const auto& file : FilesBelowTarget()) {
    EXPECT_EQ(std::filesystem::weakly_canonical(target / file).string().rfind(root, 0), 0u) << file;
  }
  EXPECT_TRUE(std::filesystem::exists(target / "_.." / ".. - ......escape.mp3"));
  EXPECT_TRUE(std::filesystem::exists(target / "_" / "A - In empty.mp3"));
  EXPECT_TRUE(std::filesystem::exists(target / "_." / "A - In dot.mp3"));
  EXPECT_TRUE(std::filesystem::exists(target / "_.." / "x - abcdefghij.mp3"));
}

TEST_F(RestoreTest, FailingWorkListStatementsReportSqliteMessageAndStatementText) {
  const auto failure = [](auto&& run) -> std::string {
    try {
      run();
    } catch (const std::runtime_error& error) {
      return error.what();
    }
    return "(no error)";
  };
  SQLite::Database& db = *engine->databases().temporary;
  playlistItems["p"] = Item("a", "One", "A", "");
  ChoosePlaylists({{"P", "p"}});

  db.exec("CREATE TEMP TRIGGER refuse BEFORE INSERT ON downloadmetainfo BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  EXPECT_EQ(failure([&] { engine->RestoreNow(); }), std::string("refused\n\n") + sql::kInsertDownloadMetaInfo);
  db.exec("DROP TRIGGER refuse");
  db.exec("CREATE TEMP TRIGGER refuse BEFORE UPDATE ON downloadmetainfo BEGIN SELECT RAISE(ABORT, 'refused'); END;");
  EXPECT_EQ(failure([&] { engine->RestoreNow(); }), std::string("refused\n\n") + sql::kMarkDownloadHandled);
  EXPECT_FALSE(engine->restoreState().running);

  db.exec("DROP TRIGGER refuse");
  db.exec("DROP TABLE downloadmetainfo");
  engine->SetRestoreWholeLibrary(true);
  EXPECT_EQ(failure([&] { engine->RestoreNow(); }),
            std::string("no such table: downloadmetainfo\n\n") + sql::kCountUnhandledDownloads);
  EXPECT_FALSE(engine->restoreState().running);
  EXPECT_EQ(failure([&] { engine->restorer().DownloadNextItems(); }),
            std::string("no such table: downloadmetainfo\n\n") + sql::kSelectUnhandledDownloads);
}

TEST_F(RestoreTest, PlaylistFilesOfCollidingNamesStayApartAndAreRewrittenEachRestore) {
  playlistItems["a"] = Item("1", "One", "A", "");
  playlistItems["b"] = Item("2", "Two", "A", "");
  playlistItems["c"] = Item("3", "Three", "A", "");
  playlistItems["d"] = Item("4", "Four", "A", "");
  playlistItems["e"] = Item("5", "Five", "A", "");
  // Two playlists named "Mix" get a folder each; "Hits" meets the folder of "Hits.m3u8".
  ChoosePlaylists({{"Mix", "a"}, {"Mix", "b"}, {"Hits.m3u8", "c"}, {"Hits", "d"}, {"#1", "e"}});
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_EQ(FilesListedIn("Mix.m3u8"), std::vector<std::string>{"Mix/A - One.mp3"});
  EXPECT_EQ(FilesListedIn("Mix (2).m3u8"), std::vector<std::string>{"Mix (2)/A - Two.mp3"});
  EXPECT_EQ(FilesListedIn("Hits.m3u8.m3u8"), std::vector<std::string>{"Hits.m3u8/A - Three.mp3"});
  EXPECT_EQ(FilesListedIn("Hits (2).m3u8"), std::vector<std::string>{"Hits/A - Four.mp3"});
  EXPECT_EQ(PlaylistFile("#1.m3u8"), "#EXTM3U\n#EXTINF:-1,A - Five\n./#1/A - Five.mp3\n"); // never a comment

  // The next restore writes every file anew from what is in the folders: a file restored earlier
  // stays listed, one that failed now is left out.
  std::filesystem::remove(target / "Mix" / "A - One.mp3");
  refuseDeliver = true;
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_EQ(PlaylistFile("Mix.m3u8"), "#EXTM3U\n");
  EXPECT_EQ(FilesListedIn("Mix (2).m3u8"), std::vector<std::string>{"Mix (2)/A - Two.mp3"});
  EXPECT_EQ(Summary(), "0 restored, 0 already there, 1 failed");
}

TEST(RestorePaths, CollidingNamesAreNumberedInListingOrderWithinTheLengthLimit) {
  ListingNames names(12);
  EXPECT_EQ(names.Take("k1", "Song"), "Song");
  EXPECT_EQ(names.Take("k2", "Song (2)"), "Song (2)"); // a name of its own that looks numbered
  EXPECT_EQ(names.Take("k3", "Song"), "Song (3)");
  EXPECT_EQ(names.Take("k1", "Song"), "Song") << "the same item again is the same file";
  EXPECT_EQ(names.Take("k4", "Long name here"), "Long name he");
  EXPECT_EQ(names.Take("k5", "Long name here"), "Long nam (2)");
}

TEST(RestorePaths, NamesAreCleanedAndCutWithoutSplittingCharacters) {
  EXPECT_EQ(RestoreFolder("/t", "Two\nlines\tand tab"), std::filesystem::path("/t/Two lines and tab"));
  EXPECT_EQ(RestoreFolder("/t", "Mix: 1/2"), std::filesystem::path("/t/Mix 12"));
  EXPECT_EQ(RestoreFolder("/t", "..."), std::filesystem::path("/t/_..."));
  EXPECT_EQ(RestoreFolder("/t", "/"), std::filesystem::path("/t/_"));
  const std::string umlauts(300, 'a');
  const std::string wide = std::string(199, 'a') + "\xC3\xA9" + "tail";
  EXPECT_EQ(RestoreTargetFile("/t", "P", wide).filename().string(), std::string(199, 'a') + ".mp3");
  EXPECT_LE(RestoreFolder("/t", umlauts).filename().string().size(), 200u);
}

TEST_F(RestoreTest, CancelLetsTheCurrentFileFinishAndTheNextRestoreStartsAfresh) {
  playlistItems["p"] = Item("a", "One", "A", "") + Item("b", "Two", "A", "") + Item("c", "Three", "A", "");
  ChoosePlaylists({{"P", "p"}});
  bool cancelled = false;
  ui.onProcessMessages = [&] {
    if (!cancelled && deliverCalls == 1) {
      cancelled = true;
      engine->CancelDownloads();
    }
  };
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_EQ(ui.messages.back(), "Done - please wait for the current file to be finished");
  EXPECT_EQ(FilesBelowTarget(), std::vector<std::string>{"P/A - One.mp3"});
  EXPECT_EQ(LogLinesStartingWith("Next file: ").size(), 1u);
  EXPECT_TRUE(engine->restoreState().DownloadsCancelled);

  ui.onProcessMessages = nullptr;
  ASSERT_TRUE(engine->RestoreNow()); // a new restore is not held back by the old cancel
  EXPECT_EQ(FilesBelowTarget().size(), 3u);
}

TEST_F(RestoreTest, OneRestoreAtATimeAndAValidTargetFirst) {
  playlistItems["p"] = Item("a", "One", "A", "");
  ChoosePlaylists({{"P", "p"}});
  bool secondTried = false, secondRefused = false;
  ui.onProcessMessages = [&] {
    if (engine->restoreState().running && !secondTried) {
      secondTried = true;
      secondRefused = !engine->RestoreNow();
    }
  };
  ASSERT_TRUE(engine->RestoreNow());
  EXPECT_TRUE(secondRefused);
  EXPECT_EQ(getItemsCalls.load(), 1);
  EXPECT_FALSE(engine->restoreState().running);

  ui.onProcessMessages = nullptr;
  engine->SetRestoreTarget((files() / "missing").string());
  EXPECT_FALSE(engine->RestoreNow());
  EXPECT_EQ(ui.messages.back(), "Please select a valid directory where the files should be restored");
}

} // namespace
} // namespace velmora
