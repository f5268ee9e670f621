#include "app/Autostart.h"

#include "app/Settings.h"
#include "base/AtomicFile.h"

#include <fstream>
#include <stdexcept>
#include <string>

namespace velmora {
namespace {

// The program is found on PATH, as the installed desktop entry finds it.
constexpr const char* kEntry = "[Desktop Entry]\n"
                               "Type=Application\n"
                               "Name=Velmora Uploader\n"
                               "Comment=Uploads the music arriving in the watched folders\n"
                               "Exec=velmora-uploader --tray\n"
                               "Icon=velmora-uploader\n"
                               "Terminal=false\n"
                               "X-GNOME-Autostart-enabled=true\n";

} // namespace

std::filesystem::path AutostartEntryPath() { return ConfigHome() / "autostart" / "velmora-uploader.desktop"; }

bool AutostartEnabled() {
  std::ifstream in(AutostartEntryPath());
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (line == "Hidden=true") return false;
  }
  return true;
}

void SetAutostart(bool enabled) {
  const std::filesystem::path entry = AutostartEntryPath();
  if (enabled) {
    WriteFileAtomically(entry, kEntry, 0644, 0700);
    return;
  }
  std::error_code error;
  if (!std::filesystem::remove(entry, error) && error) {
    throw std::runtime_error("Cannot remove " + entry.string() + ": " + error.message());
  }
}

} // namespace velmora
