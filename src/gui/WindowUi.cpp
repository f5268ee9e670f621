#include "gui/WindowUi.h"

#include "gui/Presenter.h"
#include "gui/Tfrmmain.h"

#include <QApplication>
#include <QUrl>

namespace velmora::gui {

namespace {

// Message boxes belong to whichever of the two windows the user is looking at.
QWidget* Owner(Tfrmmain& window) {
  QWidget* active = QApplication::activeWindow();
  if (active && active->isVisible()) return active;
  return window.isVisible() ? &window : nullptr;
}

} // namespace

void WindowUi::SetStatusText(const std::string& text) { window_.setStatusPanelText(Q(text)); }

void WindowUi::ShowMessage(const std::string& text) {
  presenter_.showMessage(Owner(window_), Q(text));
}

void WindowUi::ShowErrorMessage(const std::string& text) {
  presenter_.showErrorMessage(Owner(window_), Q(text));
}

void WindowUi::ShowErrorDisplay(const std::string& text) {
  presenter_.showErrorDisplay(Owner(window_), Q(text));
}

void WindowUi::SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) {
  window_.setProgress(bar, position, maximum);
}

void WindowUi::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void WindowUi::OpenUrl(const std::string& url) {
  presenter_.openUrl(QUrl(Q(url), QUrl::TolerantMode));
}

void WindowUi::ViewChanged(View view) { window_.refreshView(view); }

} // namespace velmora::gui
