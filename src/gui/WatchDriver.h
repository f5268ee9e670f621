#pragma once
// Runs the engine's watch of folders inside the window's event loop: a socket notifier on the
// watch's descriptor and a single-shot timer for the engine's next deadline both call
// Engine::OnWatchEvents. While nothing waits to settle no timer runs, so an idle watch costs
// nothing.

#include <QObject>

#include <functional>

class QSocketNotifier;
class QTimer;

namespace velmora {
class Engine;
}

namespace velmora::gui {

class WatchDriver : public QObject {
  Q_OBJECT
public:
  // `guarded` runs an engine call as the main window does (errors to the error display).
  WatchDriver(Engine& engine, std::function<bool(const std::function<void()>&)> guarded, QObject* parent = nullptr);

  // Watches the engine's stored folders from now (their present files included), or stops when
  // there are none.
  void restart();
  void stop();
  // Asks the engine again when its next look is due (after a run that left files to take back).
  void rearm();

private:
  void onActivity();
  void arm();

  Engine& engine_;
  std::function<bool(const std::function<void()>&)> guarded_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer* timer_ = nullptr;
};

} // namespace velmora::gui
