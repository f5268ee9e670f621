#include "gui/LoginDialog.h"

#include "gui/LinkLabel.h"
#include "gui/Presenter.h"
#include "service/WebPages.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora::gui {

namespace {

QLineEdit* Edit(const char* name) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(name));
  edit->setFixedWidth(150); // room for about 18 characters of the dialog's font
  edit->setStyleSheet(
      QStringLiteral("QLineEdit { background-color: #f0f0f0; border: 1px solid #a9afb8; border-radius: 2px;"
                     " padding: 2px 4px; color: black; }"
                     "QLineEdit:focus { border-color: #2f6db5; }"));
  return edit;
}

} // namespace

LoginDialog::LoginDialog(Presenter& presenter, QWidget* parent) : QDialog(parent), presenter_(presenter) {
  setObjectName(QStringLiteral("frmlogin"));
  setWindowTitle(QStringLiteral("Login"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(639, 309);
  setModal(true);

  auto* outer = new QHBoxLayout(this);
  outer->setContentsMargins(24, 24, 24, 24);
  outer->addStretch(1);

  // The white panel with the form, over the dialog's picture.
  auto* panel = new QFrame;
  panel->setObjectName(QStringLiteral("cmp_pnl_login"));
  panel->setFrameShape(QFrame::StyledPanel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setFixedWidth(340);
  panel->setAutoFillBackground(true);
  panel->setStyleSheet(
      QStringLiteral("QFrame#cmp_pnl_login { background-color: white; border: 1px solid #9aa3ad;"
                     " border-radius: 4px; } QLabel { color: #1e1e1e; background: transparent; }"));
  auto* form = new QVBoxLayout(panel);
  form->setContentsMargins(22, 18, 22, 18);
  form->setSpacing(6);

  auto* heading = new QLabel(QStringLiteral("Please enter your username and password"));
  heading->setObjectName(QStringLiteral("cmp_lbl_login_heading"));
  QFont headingFont = heading->font();
  headingFont.setBold(true);
  headingFont.setPointSizeF(headingFont.pointSizeF() * 13.0 / 11.0);
  heading->setFont(headingFont);
  heading->setWordWrap(true);
  form->addWidget(heading);
  form->addSpacing(6);

  userNameEdit_ = Edit("cmp_username");
  passwordEdit_ = Edit("cmp_password");
  passwordEdit_->setEchoMode(QLineEdit::Password);
  loginButton_ = new QPushButton(QStringLiteral("Login"));
  loginButton_->setObjectName(QStringLiteral("cmp_btn_login"));
  loginButton_->setAutoDefault(false);
  loginButton_->setDefault(false);
  QFont bold = loginButton_->font();
  bold.setBold(true);
  loginButton_->setFont(bold);
  loginButton_->setMinimumWidth(90);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(2);
  grid->addWidget(new QLabel(QStringLiteral("Username:")), 0, 0);
  grid->addWidget(userNameEdit_, 1, 0);
  grid->addWidget(new QLabel(QStringLiteral("Password:")), 2, 0);
  grid->addWidget(passwordEdit_, 3, 0);
  grid->addWidget(loginButton_, 3, 1, Qt::AlignLeft);
  grid->setColumnStretch(2, 1);
  grid->setRowMinimumHeight(2, 22);
  form->addLayout(grid);
  form->addSpacing(10);

  auto* forgot = new LinkLabel(QStringLiteral("You don't know your password?"), nullptr, LinkBlue());
  forgot->setObjectName(QStringLiteral("cmp_lbl_forgot_password"));
  form->addWidget(forgot);
  form->addStretch(1);
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setStyleSheet(QStringLiteral("color: #d8dce1;"));
  form->addWidget(line);
  auto* signupRow = new QHBoxLayout;
  auto* noAccount = new QLabel(QStringLiteral("No account yet?"));
  noAccount->setFont(bold);
  signupRow->addWidget(noAccount);
  auto* signup = new LinkLabel(QStringLiteral("Signup now for free!"), nullptr, LinkBlue());
  signup->setObjectName(QStringLiteral("cmp_lbl_signup"));
  signupRow->addWidget(signup);
  signupRow->addStretch(1);
  form->addLayout(signupRow);
  outer->addWidget(panel);

  setTabOrder(userNameEdit_, passwordEdit_);
  setTabOrder(passwordEdit_, loginButton_);
  userNameEdit_->setFocus();

  connect(loginButton_, &QPushButton::clicked, this, &QDialog::accept);
  connect(forgot, &LinkLabel::clicked, this,
          [this] { presenter_.openUrl(QUrl(QString::fromStdString(WebPageUrl(WebPage::RequestPassword)))); });
  connect(signup, &LinkLabel::clicked, this,
          [this] { presenter_.openUrl(QUrl(QString::fromStdString(WebPageUrl(WebPage::Signup)))); });
}

QString LoginDialog::userName() const { return userNameEdit_->text(); }
QString LoginDialog::password() const { return passwordEdit_->text(); }

void LoginDialog::paintEvent(QPaintEvent*) {
  // The dialog's picture: a deep blue field with sound waves rising out of a record, and the
  // service's name, drawn so no artwork has to ship with the program.
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, width(), height());
  sky.setColorAt(0.0, QColor(0x1b, 0x2a, 0x4a));
  sky.setColorAt(0.55, QColor(0x2a, 0x4d, 0x8f));
  sky.setColorAt(1.0, QColor(0x5b, 0x3f, 0x9c));
  p.fillRect(rect(), sky);

  const QPointF centre(140, 150);
  for (int ring = 0; ring < 6; ++ring) {
    QColor c(255, 255, 255, 60 - ring * 9);
    p.setPen(QPen(c, 2));
    p.setBrush(Qt::NoBrush);
    const double r = 62 + ring * 22;
    p.drawEllipse(centre, r, r);
  }
  QRadialGradient disc(centre, 58);
  disc.setColorAt(0.0, QColor(0x3a, 0x3f, 0x4a));
  disc.setColorAt(1.0, QColor(0x12, 0x14, 0x19));
  p.setPen(Qt::NoPen);
  p.setBrush(disc);
  p.drawEllipse(centre, 58, 58);
  p.setBrush(QColor(0xfe, 0x9e, 0x0e));
  p.drawEllipse(centre, 18, 18);
  p.setBrush(QColor(0x1b, 0x2a, 0x4a));
  p.drawEllipse(centre, 4, 4);

  QFont title = font();
  title.setPointSizeF(title.pointSizeF() * 2.2);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRectF(20, 240, 250, 34), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Velmora Online"));
  QFont sub = font();
  p.setFont(sub);
  p.setPen(QColor(255, 255, 255, 190));
  p.drawText(QRectF(20, 272, 250, 20), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Your music, everywhere"));
}

} // namespace velmora::gui
