#include "gui/Tfrmupload_status.h"

#include "gui/LinkLabel.h"
#include "gui/Presenter.h"
#include "gui/Tfrmmain.h"
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

QProgressBar* Bar(const char* name) {
  auto* bar = new QProgressBar;
  bar->setObjectName(QString::fromLatin1(name));
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setFixedHeight(16);
  return bar;
}

} // namespace

Tfrmupload_status::Tfrmupload_status(Tfrmmain& main) : QWidget(nullptr, Qt::Window), main_(main) {
  setObjectName(QStringLiteral("frmupload_status"));
  setWindowTitle(QStringLiteral("Uploading"));
  setWindowIcon(main.windowIcon());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
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
  cmp_lbl_name = new QLabel(QStringLiteral("..."));
  cmp_lbl_name->setObjectName(QStringLiteral("cmp_lbl_name"));
  cmp_lbl_name->setTextFormat(Qt::PlainText);
  QFont bold = cmp_lbl_name->font();
  bold.setBold(true);
  QFont nameFont = bold;
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.15);
  cmp_lbl_name->setFont(nameFont);
  cmp_lbl_name->setMinimumWidth(300);
  nameColumn->addWidget(cmp_lbl_name);
  header->addLayout(nameColumn, 1);
  bodyLayout->addLayout(header);

  cb_play_cur_track = new QCheckBox(QStringLiteral("Play the current track"));
  cb_play_cur_track->setObjectName(QStringLiteral("cb_play_cur_track"));
  bodyLayout->addWidget(cb_play_cur_track);

  auto* bars = new QGridLayout;
  bars->setHorizontalSpacing(10);
  bars->setVerticalSpacing(6);
  bars->addWidget(new QLabel(QStringLiteral("File progress")), 0, 0);
  cmp_bar_progress = Bar("cmp_bar_progress");
  bars->addWidget(cmp_bar_progress, 0, 1);
  bars->addWidget(new QLabel(QStringLiteral("Global progress")), 1, 0);
  cmp_global_progress = Bar("cmp_global_progress");
  bars->addWidget(cmp_global_progress, 1, 1);
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
  cmp_lbl_invitation = new QLabel(QString::fromUtf8(kInvitationPrompt));
  cmp_lbl_invitation->setObjectName(QStringLiteral("cmp_lbl_invitation"));
  cmp_lbl_invitation->setWordWrap(true);
  invitation->addWidget(cmp_lbl_invitation, 0, 0, 1, 2);
  edit_email_invite = new QLineEdit;
  edit_email_invite->setObjectName(QStringLiteral("edit_email_invite"));
  edit_email_invite->setPlaceholderText(QStringLiteral("friend@example.com"));
  invitation->addWidget(edit_email_invite, 1, 0);
  auto* send = new QPushButton(QStringLiteral("Send invitation ..."));
  send->setObjectName(QStringLiteral("cmp_btn_send_invitation"));
  send->setAutoDefault(false);
  invitation->addWidget(send, 1, 1);
  invitation->setColumnStretch(0, 1);
  invitationArea_->hide();
  bodyLayout->addWidget(invitationArea_);
  bodyLayout->addStretch(1);
  layout->addWidget(body, 1);

  auto* bottom = new QFrame;
  bottom->setObjectName(QStringLiteral("cmp_pnl_bottom"));
  bottom->setFixedHeight(30);
  bottom->setStyleSheet(QStringLiteral(
      "QFrame#cmp_pnl_bottom { background-color: #3b4048; border-top: 1px solid #23262b; }"
      "QLabel { color: #d6d6d6; }"));
  auto* bottomLayout = new QHBoxLayout(bottom);
  bottomLayout->setContentsMargins(0, 0, 12, 0);
  cmp_pnl_status = new QLabel;
  cmp_pnl_status->setObjectName(QStringLiteral("cmp_pnl_status"));
  cmp_pnl_status->setTextFormat(Qt::PlainText);
  bottomLayout->addWidget(cmp_pnl_status, 1);
  auto* details = new LinkLabel(QStringLiteral("Show more details ..."), nullptr, QColor(0xb8, 0xd4, 0xff));
  details->setObjectName(QStringLiteral("cmp_lbl_show_details"));
  bottomLayout->addWidget(details);
  layout->addWidget(bottom);

  cmp_tmr_upload = new QTimer(this);
  cmp_tmr_upload->setObjectName(QStringLiteral("cmp_tmr_upload"));
  cmp_tmr_upload->setInterval(1000);

  connect(cmp_tmr_upload, &QTimer::timeout, this, &Tfrmupload_status::cmp_tmr_uploadTimer);
  connect(share, &LinkLabel::clicked, this, &Tfrmupload_status::ShareClick);
  connect(send, &QPushButton::clicked, this, &Tfrmupload_status::SendInvitationClick);
  connect(cb_play_cur_track, &QCheckBox::clicked, this, &Tfrmupload_status::cb_play_cur_trackClick);
  connect(details, &LinkLabel::clicked, this, &Tfrmupload_status::ShowMoreDetailsClick);
}

Tfrmupload_status::~Tfrmupload_status() = default;

QString Tfrmupload_status::statusText() const { return cmp_pnl_status->text(); }

void Tfrmupload_status::paintState(const UploadStatusWindow& state) {
  cmp_lbl_name->setText(QString::fromStdString(state.nameLabel));
  cmp_pnl_status->setText(QString::fromStdString(state.statusText));
  cmp_lbl_invitation->setText(QString::fromStdString(state.invitationText));
  if (state.invitationVisible && !invitationArea_->isVisible()) {
    invitationArea_->show();
    setFixedSize(kClientWidth, std::max(kClientHeightWithInvitation, sizeHint().height()));
  }
  if (cb_play_cur_track->isChecked() != state.playCurrentTrack) {
    cb_play_cur_track->setChecked(state.playCurrentTrack);
  }
  const QString track = QString::fromStdString(state.currentTrack);
  if (track != wantedTrack_) openTrack(track);
}

void Tfrmupload_status::ensurePlayer() {
  if (MediaPlayer1 || playerUnavailable_) return;
  // Without a sound device the box simply plays nothing.
  if (QMediaDevices::audioOutputs().isEmpty()) {
    playerUnavailable_ = true;
    return;
  }
  MediaPlayer1 = new QMediaPlayer(this);
  MediaPlayer1->setObjectName(QStringLiteral("MediaPlayer1"));
  audioOutput_ = new QAudioOutput(this);
  MediaPlayer1->setAudioOutput(audioOutput_);
  // Player errors never reach the user: the upload is what matters.
  connect(MediaPlayer1, &QMediaPlayer::errorOccurred, this, [] {});
}

void Tfrmupload_status::openTrack(const QString& path) {
  wantedTrack_ = path;
  // The backend is loaded only once the user wants to listen; until then the wanted track is
  // remembered and opened when the box is ticked.
  if (!MediaPlayer1) {
    if (!cb_play_cur_track->isChecked()) return;
    ensurePlayer();
    if (!MediaPlayer1) return;
  }
  MediaPlayer1->stop();
  openedTrack_ = path;
  MediaPlayer1->setSource(path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path));
  if (cb_play_cur_track->isChecked() && !path.isEmpty()) MediaPlayer1->play();
}

void Tfrmupload_status::cb_play_cur_trackClick(bool checked) {
  main_.setPlayCurrentTrack(checked);
  if (checked) {
    ensurePlayer();
    if (!MediaPlayer1) return;
    if (openedTrack_ != wantedTrack_) {
      openedTrack_ = wantedTrack_;
      MediaPlayer1->setSource(wantedTrack_.isEmpty() ? QUrl() : QUrl::fromLocalFile(wantedTrack_));
    }
    if (!openedTrack_.isEmpty()) MediaPlayer1->play();
  } else if (MediaPlayer1) {
    MediaPlayer1->stop();
  }
}

void Tfrmupload_status::cmp_tmr_uploadTimer() { main_.statusTick(); }

void Tfrmupload_status::ShareClick() { main_.openInvitation(); }

void Tfrmupload_status::SendInvitationClick() { main_.sendInvitation(edit_email_invite->text()); }

void Tfrmupload_status::ShowMoreDetailsClick() { close(); }

void Tfrmupload_status::closeEvent(QCloseEvent* event) {
  // The run goes on; the timer keeps ticking and the player keeps playing.
  event->accept();
  main_.uploadStatusWindowClosed();
}

} // namespace velmora::gui
