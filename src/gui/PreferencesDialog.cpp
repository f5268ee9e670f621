#include "gui/PreferencesDialog.h"

#include "gui/Presenter.h"
#include "gui/Widgets.h"
#include "service/Retry.h"
#include "service/TransferLanes.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

namespace velmora::gui {

PreferencesDialog::PreferencesDialog(Presenter& presenter, const QStringList& watchedFolders, const RateTimetable& rateLimit,
                                     QWidget* parent)
    : QDialog(parent), presenter_(presenter) {
  setObjectName(QStringLiteral("frmpreferences"));
  setWindowTitle(QStringLiteral("Preferences"));
  auto* layout = new QVBoxLayout(this);

  QGroupBox* group = Group(QStringLiteral("Watched folders"), "cmp_grp_watched");
  auto* groupLayout = new QVBoxLayout(group);
  QLabel* note =
      Label(QStringLiteral("New music in these folders and the folders below them is uploaded while the "
                           "uploader runs, also when it is minimised to the tray."));
  note->setWordWrap(true);
  groupLayout->addWidget(note);
  folders_ = new QListWidget;
  folders_->setObjectName(QStringLiteral("cmp_lst_watched"));
  folders_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  folders_->addItems(watchedFolders);
  groupLayout->addWidget(folders_);
  auto* buttons = new QHBoxLayout;
  QPushButton* add = Button(QStringLiteral("Add folder..."), "cmp_btn_add_watched");
  removeButton_ = Button(QStringLiteral("Remove"), "cmp_btn_remove_watched");
  buttons->addWidget(add);
  buttons->addWidget(removeButton_);
  buttons->addStretch(1);
  groupLayout->addLayout(buttons);
  layout->addWidget(group, 1);

  settingsForm_ = new QFormLayout;
  layout->addLayout(settingsForm_);
  const bool limited = rateLimit.IsTimetable() || rateLimit.RateAt(0) > 0;
  rateLimit_ = new QLineEdit(limited ? QString::fromStdString(rateLimit.Text()) : QString());
  rateLimit_->setObjectName(QStringLiteral("edit_rate_limit"));
  rateLimit_->setPlaceholderText(QStringLiteral("no limit"));
  rateLimit_->setToolTip(
      QStringLiteral("Bytes per second for uploads and downloads: 500K, 1M (1,048,576), 2G; or a timetable by time "
                     "of day, e.g. 08:00,512K 18:00,2M 23:00,off. A transfer keeps the rate it started with."));
  // Only what a rate or a timetable is written with; whether it reads is checked on OK.
  rateLimit_->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9kKmMgGoOfF:, ]*")), rateLimit_));
  settingsForm_->addRow(QStringLiteral("Speed limit (bytes/s):"), rateLimit_);
  retries_ = new QSpinBox;
  retries_->setObjectName(QStringLiteral("spin_retries"));
  retries_->setRange(0, kMaxRetries);
  retries_->setToolTip(
      QStringLiteral("How often a request that failed for a passing reason (no connection, a "
                     "server error) is sent again before the upload stops; 0: never"));
  settingsForm_->addRow(QStringLiteral("Retries of a failed request:"), retries_);
  transfers_ = new QSpinBox;
  transfers_->setObjectName(QStringLiteral("spin_transfers"));
  transfers_->setRange(kMinTransfers, kMaxTransfers);
  transfers_->setToolTip(
      QStringLiteral("How many files are uploaded or restored at once, each over a connection kept open; "
                     "1: one file after the other. More helps on a link with a long round trip"));
  settingsForm_->addRow(QStringLiteral("Simultaneous transfers:"), transfers_);
  startWithSession_ = new QCheckBox(QStringLiteral("Start with the desktop session, in the tray"));
  startWithSession_->setObjectName(QStringLiteral("chk_autostart"));
  startWithSession_->setToolTip(
      QStringLiteral("Starts the uploader with only its tray icon when you log in, so the watched folders are "
                     "followed without opening the window"));
  settingsForm_->addRow(startWithSession_);

  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  layout->addWidget(box);

  connect(add, &QPushButton::clicked, this, &PreferencesDialog::onAddClicked);
  connect(removeButton_, &QPushButton::clicked, this, &PreferencesDialog::removeSelectedFolders);
  connect(folders_, &QListWidget::itemSelectionChanged, this, &PreferencesDialog::refreshButtons);
  connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  refreshButtons();
  resize(520, 390);
}

RateTimetable PreferencesDialog::rateLimit() const {
  const std::string text = rateLimit_->text().trimmed().toStdString();
  if (text.empty()) return {};
  return ParseRateTimetable(text).timetable.value_or(RateTimetable());
}

void PreferencesDialog::accept() {
  const std::string text = rateLimit_->text().trimmed().toStdString();
  if (!text.empty()) {
    if (const ParsedRateTimetable parsed = ParseRateTimetable(text); !parsed.timetable) {
      presenter_.showErrorMessage(this, QStringLiteral("Speed limit: ") + QString::fromStdString(parsed.error));
      rateLimit_->setFocus();
      return;
    }
  }
  QDialog::accept();
}

void PreferencesDialog::setRateLimitText(const QString& text) { rateLimit_->setText(text); }

bool PreferencesDialog::startWithSession() const { return startWithSession_->isChecked(); }

void PreferencesDialog::setStartWithSession(bool start) { startWithSession_->setChecked(start); }

int PreferencesDialog::retries() const { return retries_->value(); }

void PreferencesDialog::setRetries(int retries) { retries_->setValue(retries); }

int PreferencesDialog::transfers() const { return transfers_->value(); }

void PreferencesDialog::setTransfers(int transfers) { transfers_->setValue(transfers); }

QStringList PreferencesDialog::watchedFolders() const {
  QStringList folders;
  for (int row = 0; row < folders_->count(); ++row) folders << folders_->item(row)->text();
  return folders;
}

void PreferencesDialog::addFolder(const QString& folder) {
  if (folder.isEmpty()) return;
  const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
  if (watchedFolders().contains(clean)) return;
  folders_->addItem(clean);
}

void PreferencesDialog::removeSelectedFolders() {
  qDeleteAll(folders_->selectedItems());
  refreshButtons();
}

void PreferencesDialog::onAddClicked() {
  addFolder(presenter_.chooseFolder(this, QStringLiteral("Folder to watch"), QDir::homePath()));
}

void PreferencesDialog::refreshButtons() { removeButton_->setEnabled(!folders_->selectedItems().isEmpty()); }

} // namespace velmora::gui
