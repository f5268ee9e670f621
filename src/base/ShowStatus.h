#pragma once

#include "base/Ui.h"

#include <string>

namespace velmora {

// The one writer of the status panel: five blanks and the message, then a message pump.
inline void ShowStatus(Ui& ui, const std::string& message) {
  ui.SetStatusText("     " + message);
  ui.ProcessMessages();
}

} // namespace velmora
