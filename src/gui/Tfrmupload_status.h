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

class Tfrmmain;

class Tfrmupload_status : public QWidget {
  Q_OBJECT
public:
  explicit Tfrmupload_status(Tfrmmain& main);
  ~Tfrmupload_status() override;

  // Repaints texts and the player from the engine's description of this window.
  void paintState(const UploadStatusWindow& state);
  QProgressBar* fileBar() const { return cmp_bar_progress; }
  QProgressBar* globalBar() const { return cmp_global_progress; }
  QTimer* timer() const { return cmp_tmr_upload; }
  QString statusText() const;

protected:
  void closeEvent(QCloseEvent* event) override;

private slots:
  void cmp_tmr_uploadTimer();
  void ShareClick();
  void SendInvitationClick();
  void cb_play_cur_trackClick(bool checked);
  void ShowMoreDetailsClick();

private:
  void openTrack(const QString& path);
  void ensurePlayer();

  Tfrmmain& main_;
  QLabel* cmp_lbl_name = nullptr;
  QCheckBox* cb_play_cur_track = nullptr;
  QProgressBar* cmp_bar_progress = nullptr;
  QProgressBar* cmp_global_progress = nullptr;
  QWidget* invitationArea_ = nullptr;
  QLabel* cmp_lbl_invitation = nullptr;
  QLineEdit* edit_email_invite = nullptr;
  QLabel* cmp_pnl_status = nullptr;
  QTimer* cmp_tmr_upload = nullptr;
  QMediaPlayer* MediaPlayer1 = nullptr;
  QAudioOutput* audioOutput_ = nullptr;
  bool playerUnavailable_ = false;
  QString openedTrack_;
  QString wantedTrack_;
};

} // namespace velmora::gui
