// Start-up cleans the work folder, opens the databases and loads the settings; shutdown cleans
// again and stores the settings in use.

#include "app/Engine.h"
#include "base/WorkFolder.h"

#include "RecordingUi.h"
#include "TempHome.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

class EngineLifecycleTest : public test::TempHomeTest {};

TEST_F(EngineLifecycleTest, StartupCleansLoadsAndGreets) {
  SaveSettings({"alice", "pw", "/wine/playlists.xml", "/restore"});
  const auto root = std::filesystem::path(WorkFolder());
  test::WriteFile(root / "tmp_{OLD}.xml", "old answer");
  test::WriteFile(root / "sub" / "tmp_x", "old");

  test::RecordingUi ui;
  Engine engine(ui);
  engine.Startup();
  EXPECT_FALSE(std::filesystem::exists(root / "tmp_{OLD}.xml"));
  EXPECT_FALSE(std::filesystem::exists(root / "sub" / "tmp_x"));
  EXPECT_TRUE(std::filesystem::exists(RunFolder() + "tmp_Velmora.db"));
  EXPECT_TRUE(std::filesystem::exists(root / "meta_Velmora.db"));
  EXPECT_EQ(engine.userName(), "alice");
  EXPECT_EQ(engine.password(), "pw");
  EXPECT_EQ(engine.winampLocation(), "/wine/playlists.xml");
  EXPECT_EQ(engine.restoreTarget(), "/restore");
  EXPECT_EQ(ui.status(), "     Velmora Online Uploader");
  EXPECT_FALSE(engine.IsLoggedIn());
}

TEST_F(EngineLifecycleTest, ShutdownCleansAndSavesWhatIsInUse) {
  test::RecordingUi ui;
  {
    Engine engine(ui);
    engine.Startup();
    engine.SetCredentials("bob", engine.password());
    engine.SetRestoreTarget("/music/back");
    test::WriteFile(std::filesystem::path(WorkFolder()) / "tmp_answer.xml", "x");
    engine.Shutdown();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(WorkFolder()) / "tmp_answer.xml"));
  }
  EXPECT_EQ(LoadSettings(), (StoredSettings{"bob", "", "", "/music/back"}));
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(WorkFolder()) / "meta_Velmora.db"));
}

TEST_F(EngineLifecycleTest, ShowStatusPrefixesFiveBlanksAndPumps) {
  test::RecordingUi ui;
  Engine engine(ui);
  engine.ShowStatus("");
  EXPECT_EQ(ui.status(), "     ");
  EXPECT_EQ(ui.pumps, 1);
}

} // namespace
} // namespace velmora
