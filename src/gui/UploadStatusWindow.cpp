#include "gui/UploadStatusWindow.h"

#include "gui/LinkLabel.h"
#include "gui/MainWindow.h"
#include "gui/Presenter.h"
#include "gui/Widgets.h"
#include "upload/UploadStatus.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace velmora::gui {

namespace {

constexpr int kClientWidth = 562;
constexpr int kClientHeight = 297;
constexpr int kClientHeightWithInvitation = 330;

} // namespace

UploadStatusWindow::UploadStatusWindow(MainWindow& main) : QWidget(nullptr, Qt::Window), main_(main) {
  setObjectName(QStringLiteral("frmupload_status"));
  setWindowTitle(QStringLiteral("Uploading"));
  setWindowIcon(main.windowIcon());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* body = new QWidget;
  auto* bodyLayout = new QVBoxLayout(body);
  bodyLayout->setContentsMargins(16, 14, 16, 10);
  bodyLayout->setSpacing(8);

  auto* header = new QHBoxLayout;
  auto* icon = new QLabel;
  icon->setPixmap(main.windowIcon().pixmap(40, 40));
  header->addWidget(icon);
  header->addSpacing(8);
  auto* nameColumn = new QVBoxLayout;
  nameColumn->setSpacing(2);
  auto* nowSending = new QLabel(QStringLiteral("Now uploading"));
  nowSending->setStyleSheet(QStringLiteral("color: #666;"));
  nameColumn->addWidget(nowSending);
  trackNameLabel_ = new QLabel(QStringLiteral("..."));
  trackNameLabel_->setObjectName(QStringLiteral("cmp_lbl_name"));
  trackNameLabel_->setTextFormat(Qt::PlainText);
  QFont bold = trackNameLabel_->font();
  bold.setBold(true);
  QFont nameFont = bold;
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.15);
  trackNameLabel_->setFont(nameFont);
  trackNameLabel_->setMinimumWidth(300);
  nameColumn->addWidget(trackNameLabel_);
  header->addLayout(nameColumn, 1);
  bodyLayout->addLayout(header);

  playTrackCheckBox_ = new QCheckBox(QStringLiteral("Play the current track"));
  playTrackCheckBox_->setObjectName(QStringLiteral("cb_play_cur_track"));
  bodyLayout->addWidget(playTrackCheckBox_);

  auto* bars = new QGridLayout;
  bars->setHorizontalSpacing(10);
  bars->setVerticalSpacing(6);
  bars->addWidget(new QLabel(QStringLiteral("File progress")), 0, 0);
  fileBar_ = Bar("cmp_bar_progress");
  bars->addWidget(fileBar_, 0, 1);
  bars->addWidget(new QLabel(QStringLiteral("Global progress")), 1, 0);
  globalBar_ = Bar("cmp_global_progress");
  bars->addWidget(globalBar_, 1, 1);
  bars->setColumnStretch(1, 1);
  bodyLayout->addLayout(bars);
  bodyLayout->addSpacing(4);

  auto* share = new LinkLabel(QStringLiteral("Share this track with a friend"), nullptr, LinkBlue());
  share->setObjectName(QStringLiteral("cmp_lbl_share"));
  share->setFont(bold);
  QFont shareFont = share->font();
  shareFont.setUnderline(false);
  share->setFont(shareFont);
  bodyLayout->addWidget(share);

  invitationArea_ = new QWidget;
  invitationArea_->setObjectName(QStringLiteral("cmp_pnl_invitation"));
  auto* invitation = new QGridLayout(invitationArea_);
  invitation->setContentsMargins(0, 0, 0, 0);
  invitation->setHorizontalSpacing(6);
  invitation->setVerticalSpacing(4);
  invitationLabel_ = new QLabel(QString::fromUtf8(kInvitationPrompt));
  invitationLabel_->setObjectName(QStringLiteral("cmp_lbl_invitation"));
  invitationLabel_->setWordWrap(true);
  invitation->addWidget(invitationLabel_, 0, 0, 1, 2);
  invitationEmailEdit_ = new QLineEdit;
  invitationEmailEdit_->setObjectName(QStringLiteral("edit_email_invite"));
  invitationEmailEdit_->setPlaceholderText(QStringLiteral("friend@example.com"));
  invitation->addWidget(invitationEmailEdit_, 1, 0);
  auto* send = new QPushButton(QStringLiteral("Send invitation ..."));
  send->setObjectName(QStringLiteral("cmp_btn_send_invitation"));
  send->setAutoDefault(false);
  invitation->addWidget(send, 1, 1);
  invitation->setColumnStretch(0, 1);
  invitationArea_->hide();
  bodyLayout->addWidget(invitationArea_);
  bodyLayout->addStretch(1);
  layout->addWidget(body, 1);

  // The status text has the panel's whole width to itself, the link a line of its own below it:
  // side by side, a time left with hours ran under the link and was cut off.
  auto* bottom = new QFrame;
  bottom->setObjectName(QStringLiteral("cmp_pnl_bottom"));
  bottom->setStyleSheet(
      QStringLiteral("QFrame#cmp_pnl_bottom { background-color: #3b4048; border-top: 1px solid #23262b; }"
                     "QLabel { color: #d6d6d6; }"));
  auto* bottomLayout = new QVBoxLayout(bottom);
  bottomLayout->setContentsMargins(0, 6, 12, 6);
  bottomLayout->setSpacing(2);
  statusLabel_ = new QLabel;
  statusLabel_->setObjectName(QStringLiteral("cmp_pnl_status"));
  statusLabel_->setTextFormat(Qt::PlainText);
  // Still whole in a larger font: the text breaks at a blank rather than being cut.
  statusLabel_->setWordWrap(true);
  statusLabel_->setMinimumHeight(statusLabel_->fontMetrics().height());
  bottomLayout->addWidget(statusLabel_);
  auto* details = new LinkLabel(QStringLiteral("Show more details ..."), nullptr, QColor(0xb8, 0xd4, 0xff));
  details->setObjectName(QStringLiteral("cmp_lbl_show_details"));
  bottomLayout->addWidget(details, 0, Qt::AlignRight);
  layout->addWidget(bottom);

  statusTimer_ = new QTimer(this);
  statusTimer_->setObjectName(QStringLiteral("cmp_tmr_upload"));
  statusTimer_->setInterval(1000);

  connect(statusTimer_, &QTimer::timeout, this, &UploadStatusWindow::onStatusTimer);
  connect(share, &LinkLabel::clicked, this, &UploadStatusWindow::onShareClicked);
  connect(send, &QPushButton::clicked, this, &UploadStatusWindow::onSendInvitationClicked);
  connect(playTrackCheckBox_, &QCheckBox::clicked, this, &UploadStatusWindow::onPlayTrackClicked);
  connect(details, &LinkLabel::clicked, this, &UploadStatusWindow::onShowMoreDetailsClicked);
}

UploadStatusWindow::~UploadStatusWindow() = default;

QString UploadStatusWindow::statusText() const { return statusLabel_->text(); }

void UploadStatusWindow::paintState(const velmora::UploadStatusWindow& state) {
  trackNameLabel_->setText(QString::fromStdString(state.nameLabel));
  statusLabel_->setText(QString::fromStdString(state.statusText));
  invitationLabel_->setText(QString::fromStdString(state.invitationText));
  if (state.invitationVisible && !invitationArea_->isVisible()) {
    invitationArea_->show();
    setFixedSize(kClientWidth, std::max(kClientHeightWithInvitation, sizeHint().height()));
  }
  if (playTrackCheckBox_->isChecked() != state.playCurrentTrack) {
    playTrackCheckBox_->setChecked(state.playCurrentTrack);
  }
  const QString track = QString::fromStdString(state.currentTrack);
  if (track != wantedTrack_) openTrack(track);
}

void UploadStatusWindow::ensurePlayer() {
  if (player_ || playerUnavailable_) return;
  // Without a sound device the box simply plays nothing.
  if (QMediaDevices::audioOutputs().isEmpty()) {
    playerUnavailable_ = true;
    return;
  }
  player_ = new QMediaPlayer(this);
  player_->setObjectName(QStringLiteral("MediaPlayer1"));
  audioOutput_ = new QAudioOutput(this);
  player_->setAudioOutput(audioOutput_);
  // Player errors never reach the user: the upload is what matters.
  connect(player_, &QMediaPlayer::errorOccurred, this, [] {});
}

void UploadStatusWindow::openTrack(const QString& path) {
  wantedTrack_ = path;
  // The backend is loaded only once the user wants to listen; until then the wanted track is
  // remembered and opened when the box is ticked.
  if (!player_) {
    if (!playTrackCheckBox_->isChecked()) return;
    ensurePlayer();
    if (!player_) return;
  }
  player_->stop();
  openedTrack_ = path;
  player_->setSource(path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path));
  if (playTrackCheckBox_->isChecked() && !path.isEmpty()) player_->play();
}

void UploadStatusWindow::onPlayTrackClicked(bool checked) {
  main_.setPlayCurrentTrack(checked);
  if (checked) {
    ensurePlayer();
    if (!player_) return;
    if (openedTrack_ != wantedTrack_) {
      openedTrack_ = wantedTrack_;
      player_->setSource(wantedTrack_.isEmpty() ? QUrl() : QUrl::fromLocalFile(wantedTrack_));
    }
    if (!openedTrack_.isEmpty()) player_->play();
  } else if (player_) {
    player_->stop();
  }
}

void UploadStatusWindow::onStatusTimer() { main_.statusTick(); }

void UploadStatusWindow::onShareClicked() { main_.openInvitation(); }

void UploadStatusWindow::onSendInvitationClicked() { main_.sendInvitation(invitationEmailEdit_->text()); }

void UploadStatusWindow::onShowMoreDetailsClicked() { close(); }

void UploadStatusWindow::closeEvent(QCloseEvent* event) {
  // The run goes on; the timer keeps ticking and the player keeps playing.
  event->accept();
  main_.uploadStatusWindowClosed();
}

} // namespace velmora::gui
