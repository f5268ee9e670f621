#include "gui/AboutDialog.h"

#include "base/SystemFacts.h"
#include "gui/LinkLabel.h"
#include "gui/Presenter.h"
#include "service/WebPages.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora::gui {

AboutDialog::AboutDialog(Presenter& presenter, QWidget* parent) : QDialog(parent), presenter_(presenter) {
  setObjectName(QStringLiteral("frmabout"));
  setWindowTitle(QStringLiteral("About"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(367, 224);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(14, 12, 14, 10);
  outer->setSpacing(6);
  auto* layout = new QHBoxLayout;
  layout->setSpacing(14);

  auto* icon = new QLabel;
  icon->setObjectName(QStringLiteral("cmp_img_about_icon"));
  icon->setPixmap(QIcon(QStringLiteral(":/velmora/velmora-uploader.svg")).pixmap(56, 56));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  layout->addWidget(icon);

  auto* right = new QVBoxLayout;
  right->setSpacing(5);
  auto* title = new QLabel(QStringLiteral("Velmora Uploader ") + QString::fromStdString(ProgramVersion()));
  QFont titleFont = title->font();
  titleFont.setBold(true);
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
  title->setFont(titleFont);
  right->addWidget(title);

  auto* notice = new QLabel(
      QStringLiteral("Copyright (c) Velmora Online. All trademarks belong to their owners, especially iTunes "
                     "(Apple Inc), Winamp (AOL) and Windows Media Player (Microsoft)"));
  notice->setObjectName(QStringLiteral("cmp_lbl_about_notice"));
  notice->setTextFormat(Qt::PlainText);
  notice->setWordWrap(true);
  right->addWidget(notice);
  right->addSpacing(4);

  auto* terms = new LinkLabel(QStringLiteral("Terms & Conditions"), nullptr, LinkBlue());
  terms->setObjectName(QStringLiteral("cmp_lbl_terms"));
  right->addWidget(terms);
  auto* feedback = new LinkLabel(QStringLiteral("Please provide us with Feedback"), nullptr, LinkBlue());
  feedback->setObjectName(QStringLiteral("cmp_lbl_feedback"));
  QFont bold = feedback->font();
  bold.setBold(true);
  feedback->setFont(bold);
  right->addWidget(feedback);
  right->addStretch(1);
  layout->addLayout(right, 1);
  outer->addLayout(layout, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setObjectName(QStringLiteral("cmp_btn_about_ok"));
  ok->setDefault(true);
  ok->setMinimumWidth(80);
  bottom->addWidget(ok);
  outer->addLayout(bottom);

  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(terms, &LinkLabel::clicked, this,
          [this] { presenter_.openUrl(QUrl(QString::fromStdString(WebPageUrl(WebPage::Terms)))); });
  connect(feedback, &LinkLabel::clicked, this,
          [this] { presenter_.openUrl(QUrl(QString::fromStdString(WebPageUrl(WebPage::Feedback)))); });
}

} // namespace velmora::gui
