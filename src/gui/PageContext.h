#pragma once
// What every tab of the main window works with: the engine whose state it paints, the bridge whose
// signals say when to repaint, the presenter for pickers, and the main window's way of running an
// engine call (errors to the central error display, closing deferred until the call returns).

#include <functional>

namespace velmora {
class Engine;
}

namespace velmora::gui {

class Presenter;
class UiBridge;

struct PageContext {
  Engine& engine;
  UiBridge& bridge;
  Presenter& presenter;
  // Returns whether the call completed.
  std::function<bool(const std::function<void()>&)> guarded;
};

} // namespace velmora::gui
