#include "gui/WatchDriver.h"

#include "app/Engine.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

namespace velmora::gui {

WatchDriver::WatchDriver(Engine& engine, std::function<bool(const std::function<void()>&)> guarded, QObject* parent)
    : QObject(parent), engine_(engine), guarded_(std::move(guarded)) {
  timer_ = new QTimer(this);
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &WatchDriver::onActivity);
}

void WatchDriver::restart() {
  stop();
  if (engine_.watchedFolders().empty()) return;
  WatchOptions options;
  options.takeExisting = true;
  guarded_([&] { engine_.StartWatching(engine_.watchedFolders(), options); });
  if (!engine_.IsWatching()) return;
  notifier_ = new QSocketNotifier(engine_.watchDescriptor(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &WatchDriver::onActivity);
  arm();
}

void WatchDriver::stop() {
  timer_->stop();
  // It may be the sender of the signal being handled further down the stack.
  if (notifier_) notifier_->deleteLater();
  notifier_ = nullptr;
  engine_.StopWatching();
}

void WatchDriver::onActivity() {
  if (!notifier_) return;
  // Events arriving while a watched file is analysed wait for this call to return.
  notifier_->setEnabled(false);
  guarded_([&] { engine_.OnWatchEvents(); });
  if (!engine_.IsWatching()) return;
  if (notifier_) notifier_->setEnabled(true);
  arm();
}

void WatchDriver::rearm() {
  if (notifier_ && engine_.IsWatching()) arm();
}

void WatchDriver::arm() {
  const auto timeout = engine_.WatchTimeout();
  if (!timeout) {
    timer_->stop();
    return;
  }
  timer_->start(static_cast<int>(std::min<long long>(timeout->count(), 24LL * 3600 * 1000)));
}

} // namespace velmora::gui
