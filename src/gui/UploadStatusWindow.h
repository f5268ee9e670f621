#pragma once
// The small "Uploading" window shown instead of the main window while a run is active: current
// track, file and run progress, the once-a-second status text, the invitation area and a player.

#include <QWidget>

class QAudioOutput;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMediaPlayer;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace velmora {
struct UploadStatusWindow;
}

namespace velmora::gui {

class MainWindow;

class UploadStatusWindow : public QWidget {
  Q_OBJECT
public:
  explicit UploadStatusWindow(MainWindow& main);
  ~UploadStatusWindow() override;

  // Repaints texts and the player from the engine's description of this window.
  void paintState(const velmora::UploadStatusWindow& state);
  QProgressBar* fileBar() const { return fileBar_; }
  QProgressBar* globalBar() const { return globalBar_; }
  QTimer* timer() const { return statusTimer_; }
  QString statusText() const;

protected:
  void closeEvent(QCloseEvent* event) override;

private slots:
  void onStatusTimer();
  void onShareClicked();
  void onSendInvitationClicked();
  void onPlayTrackClicked(bool checked);
  void onShowMoreDetailsClicked();

private:
  void openTrack(const QString& path);
  void ensurePlayer();

  MainWindow& main_;
  QLabel* trackNameLabel_ = nullptr;
  QCheckBox* playTrackCheckBox_ = nullptr;
  QProgressBar* fileBar_ = nullptr;
  QProgressBar* globalBar_ = nullptr;
  QWidget* invitationArea_ = nullptr;
  QLabel* invitationLabel_ = nullptr;
  QLineEdit* invitationEmailEdit_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QTimer* statusTimer_ = nullptr;
  QMediaPlayer* player_ = nullptr;
  QAudioOutput* audioOutput_ = nullptr;
  bool playerUnavailable_ = false;
  QString openedTrack_;
  QString wantedTrack_;
};

} // namespace velmora::gui
