#include "gui/UiBridge.h"

#include "gui/Presenter.h"
#include "gui/Widgets.h"

#include <QApplication>
#include <QUrl>
#include <QWidget>

namespace velmora::gui {

UiBridge::UiBridge(QWidget& mainWindow, Presenter& presenter) : mainWindow_(mainWindow), presenter_(presenter) {}

// Message boxes belong to whichever of the two windows the user is looking at.
QWidget* UiBridge::messageOwner() const {
  QWidget* active = QApplication::activeWindow();
  if (active && active->isVisible()) return active;
  return mainWindow_.isVisible() ? &mainWindow_ : nullptr;
}

void UiBridge::SetStatusText(const std::string& text) { emit statusTextChanged(Q(text)); }

void UiBridge::ShowMessage(const std::string& text) { presenter_.showMessage(messageOwner(), Q(text)); }

void UiBridge::ShowErrorMessage(const std::string& text) { presenter_.showErrorMessage(messageOwner(), Q(text)); }

void UiBridge::ShowErrorDisplay(const std::string& text) { presenter_.showErrorDisplay(messageOwner(), Q(text)); }

void UiBridge::SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) {
  emit progressChanged(bar, position, maximum);
}

void UiBridge::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void UiBridge::OpenUrl(const std::string& url) { presenter_.openUrl(QUrl(Q(url), QUrl::TolerantMode)); }

void UiBridge::ViewChanged(View view) {
  switch (view) {
  case View::Caption: emit captionChanged(); break;
  case View::DeepAnalysis: emit deepAnalysisChanged(); break;
  case View::RestorePlaylists: emit restorePlaylistsChanged(); break;
  case View::DroppedFiles: emit droppedFilesChanged(); break;
  case View::ITunesPlaylists: emit iTunesPlaylistsChanged(); break;
  case View::WinampPlaylists: emit winampPlaylistsChanged(); break;
  case View::UploadQueue: emit uploadQueueChanged(); break;
  case View::UploadStatus: emit uploadStatusChanged(); break;
  case View::UploadWindows: emit uploadWindowsChanged(); break;
  case View::RestoreLog: emit restoreLogChanged(); break;
  case View::Settings: emit settingsChanged(); break;
  case View::RunEnded: emit runEnded(); break;
  }
}

} // namespace velmora::gui
