// "Start with the desktop session, in the tray" writes an XDG autostart entry that starts the
// window in the tray, and removes it again; an entry the desktop switched off counts as off.

#include "app/Autostart.h"

#include "TempHome.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

class AutostartTest : public test::TempHomeTest {};

TEST_F(AutostartTest, EntryStartsTheWindowInTheTrayAndGoesAwayWhenUnticked) {
  EXPECT_EQ(AutostartEntryPath(), configHome() / "autostart" / "velmora-uploader.desktop");
  EXPECT_FALSE(AutostartEnabled());
  SetAutostart(true);
  EXPECT_TRUE(AutostartEnabled());
  const std::string entry = test::ReadFile(AutostartEntryPath());
  EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(entry.find("\nExec=velmora-uploader --tray\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos) << entry;

  test::WriteFile(AutostartEntryPath(), entry + "Hidden=true\n");
  EXPECT_FALSE(AutostartEnabled()) << "switched off in the desktop's own settings";
  SetAutostart(false);
  EXPECT_FALSE(std::filesystem::exists(AutostartEntryPath()));
  SetAutostart(false);
}

} // namespace
} // namespace velmora
