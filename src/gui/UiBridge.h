#pragma once
// The engine's Ui on the desktop. Message boxes go through the presenter and the event pump is
// Qt's; everything the windows paint arrives as a signal: the status text, a bar by role, and
// one signal per part of the engine's state, after which its observers re-read that part.

#include "base/Ui.h"

#include <QObject>
#include <QString>

class QWidget;

namespace velmora::gui {

class Presenter;

class UiBridge : public QObject, public Ui {
  Q_OBJECT
public:
  // `mainWindow` owns the message boxes when none of the program's windows is active.
  UiBridge(QWidget& mainWindow, Presenter& presenter);

  void SetStatusText(const std::string& text) override;
  void ShowMessage(const std::string& text) override;
  void ShowErrorMessage(const std::string& text) override;
  void ShowErrorDisplay(const std::string& text) override;
  void SetProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) override;
  void ProcessMessages() override;
  void OpenUrl(const std::string& url) override;
  void ViewChanged(View view) override;

signals:
  void statusTextChanged(const QString& text);
  void progressChanged(velmora::ProgressBar bar, qint64 position, qint64 maximum);
  // One per View.
  void captionChanged();
  void deepAnalysisChanged();
  void restorePlaylistsChanged();
  void droppedFilesChanged();
  void iTunesPlaylistsChanged();
  void winampPlaylistsChanged();
  void uploadQueueChanged();
  void uploadStatusChanged();
  void uploadWindowsChanged();
  void restoreLogChanged();
  void settingsChanged();
  void runEnded();

private:
  QWidget* messageOwner() const;

  QWidget& mainWindow_;
  Presenter& presenter_;
};

} // namespace velmora::gui
