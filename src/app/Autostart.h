#pragma once
// "Start with the desktop session, in the tray": an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/velmora-uploader.desktop, that starts the window in the tray when the
// user's desktop session begins.

#include <filesystem>

namespace velmora {

std::filesystem::path AutostartEntryPath();
// Whether the entry is there and not switched off (Hidden=true, as desktops write for an entry
// the user turned off in their own settings).
bool AutostartEnabled();
// Writes the entry (atomically, created with its folder) or removes it. Throws
// std::runtime_error naming the file when it cannot.
void SetAutostart(bool enabled);

} // namespace velmora
