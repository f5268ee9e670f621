#include "gui/RestorePage.h"

#include "app/Engine.h"
#include "gui/Presenter.h"
#include "gui/UiBridge.h"
#include "gui/Widgets.h"
#include "restore/Restore.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velmora::gui {

RestorePage::RestorePage(PageContext context, QWidget* parent) : QWidget(parent), context_(std::move(context)) {
  setObjectName(QStringLiteral("cmp_ts_restore"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(8);

  auto* top = new QHBoxLayout;
  top->addWidget(BoldLabel(QStringLiteral("Start here:")));
  loadInformationButton_ = Button(QStringLiteral("Load information about your library"), "btn_restore_analyze", true);
  top->addWidget(loadInformationButton_);
  top->addStretch(1);
  layout->addLayout(top);

  auto* source = Group(QStringLiteral(" Select data to restore"), "cmp_gb_source");
  auto* sourceLayout = new QVBoxLayout(source);
  auto* radios = new QHBoxLayout;
  wholeLibraryRadio_ = new QRadioButton(QStringLiteral("Restore the whole media library"));
  wholeLibraryRadio_->setObjectName(QStringLiteral("cmp_btn_restore_area_all"));
  auto* selectedPlaylistsRadio = new QRadioButton(QStringLiteral("Select playlists to restore"));
  selectedPlaylistsRadio->setObjectName(QStringLiteral("cmp_btn_restore_area_2"));
  selectedPlaylistsRadio->setChecked(true);
  radios->addWidget(wholeLibraryRadio_);
  radios->addSpacing(24);
  radios->addWidget(selectedPlaylistsRadio);
  radios->addStretch(1);
  sourceLayout->addLayout(radios);
  restorePlaylistList_ =
      CheckList("cmp_lb_restore_plists", {QStringLiteral("Name"), QStringLiteral("entrykey"), QStringLiteral("Items")},
                {-1, 0, 90});
  sourceLayout->addWidget(restorePlaylistList_);
  layout->addWidget(source, 1);

  auto* target = Group(QStringLiteral("Target path for files"));
  auto* targetLayout = new QHBoxLayout(target);
  targetLayout->setSpacing(4);
  targetPathEdit_ = new QLineEdit;
  targetPathEdit_->setObjectName(QStringLiteral("edit_restore_path"));
  targetPathEdit_->setPlaceholderText(QStringLiteral("Folder for the restored files"));
  targetPathEdit_->setAcceptDrops(false);
  auto* browse = new QToolButton;
  browse->setObjectName(QStringLiteral("cmp_btn_restore_browse"));
  browse->setText(QStringLiteral("..."));
  browse->setToolTip(QStringLiteral("Choose the folder"));
  targetLayout->addWidget(targetPathEdit_, 1);
  targetLayout->addWidget(browse);
  layout->addWidget(target);

  auto* operation = Group(QStringLiteral("Operation && Progress"));
  auto* opLayout = new QGridLayout(operation);
  opLayout->setHorizontalSpacing(10);
  opLayout->setVerticalSpacing(6);
  auto* opButtons = new QHBoxLayout;
  opButtons->setSpacing(6);
  QPushButton* restore = Button(QStringLiteral("Restore now"), "cmp_btn_restore", true);
  restore->setMinimumWidth(130);
  opButtons->addWidget(restore);
  opButtons->addSpacing(16);
  opButtons->addWidget(Label(QStringLiteral("Items found:")));
  itemsFoundLabel_ = BoldLabel(QStringLiteral("0"), "cmp_lbl_dl_items_found");
  opButtons->addWidget(itemsFoundLabel_);
  opButtons->addStretch(1);
  QPushButton* cancel = Button(QStringLiteral("Cancel Downloads"), "cmp_btn_cancel_downloads");
  cancel->setMinimumWidth(130);
  opButtons->addWidget(cancel);
  opLayout->addLayout(opButtons, 0, 0, 1, 2);
  opLayout->addWidget(Label(QStringLiteral("Current file: ")), 1, 0);
  fileBar_ = Bar("cmp_pb_dl");
  opLayout->addWidget(fileBar_, 1, 1);
  currentFileLabel_ = Label(QString(), "lbl_current_dl_file");
  currentFileLabel_->setStyleSheet(QStringLiteral("color: #555;"));
  opLayout->addWidget(currentFileLabel_, 2, 1);
  opLayout->addWidget(Label(QStringLiteral("Total progress: ")), 3, 0);
  totalBar_ = Bar("cmp_pb_dl_total");
  opLayout->addWidget(totalBar_, 3, 1);
  logView_ = new QPlainTextEdit;
  logView_->setObjectName(QStringLiteral("cmp_memo_restore_log"));
  logView_->setReadOnly(true);
  logView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  logView_->setLineWrapMode(QPlainTextEdit::NoWrap);
  logView_->setMaximumBlockCount(100000);
  logView_->setFixedHeight(110);
  opLayout->addWidget(logView_, 4, 0, 1, 2);
  opLayout->setColumnStretch(1, 1);
  layout->addWidget(operation);

  connect(loadInformationButton_, &QPushButton::clicked, this, &RestorePage::onLoadInformationClicked);
  connect(restore, &QPushButton::clicked, this, &RestorePage::onRestoreClicked);
  connect(cancel, &QPushButton::clicked, this, &RestorePage::onCancelDownloadsClicked);
  connect(browse, &QToolButton::clicked, this, &RestorePage::onBrowseClicked);
  connect(restorePlaylistList_, &QTreeWidget::itemChanged, this, &RestorePage::onPlaylistItemChanged);
  connect(wholeLibraryRadio_, &QRadioButton::toggled, this, &RestorePage::passWholeLibrary);
  connect(targetPathEdit_, &QLineEdit::textEdited, this, &RestorePage::passRestoreTarget);
  connect(&context_.bridge, &UiBridge::restorePlaylistsChanged, this, &RestorePage::refreshPlaylists);
  connect(&context_.bridge, &UiBridge::restoreLogChanged, this, &RestorePage::refreshLog);
  connect(&context_.bridge, &UiBridge::progressChanged, this, &RestorePage::onProgressChanged);
  // The Winamp view re-reads both settings boxes, as the Settings view does.
  connect(&context_.bridge, &UiBridge::settingsChanged, this, &RestorePage::refreshTargetPath);
  connect(&context_.bridge, &UiBridge::winampPlaylistsChanged, this, &RestorePage::refreshTargetPath);
}

void RestorePage::onLoadInformationClicked() {
  context_.guarded([&] { context_.engine.LoadLibraryInformation(); });
}

void RestorePage::onRestoreClicked() {
  context_.guarded([&] {
    passRestoreTarget(targetPathEdit_->text());
    passWholeLibrary(wholeLibraryRadio_->isChecked());
    context_.engine.RestoreNow();
  });
}

void RestorePage::onCancelDownloadsClicked() {
  context_.guarded([&] { context_.engine.CancelDownloads(); });
}

void RestorePage::onBrowseClicked() {
  const QString folder =
      context_.presenter.chooseFolder(window(), QStringLiteral("Target path for files"), targetPathEdit_->text());
  if (folder.isEmpty()) return;
  targetPathEdit_->setText(folder);
  passRestoreTarget(folder);
}

void RestorePage::onPlaylistItemChanged(QTreeWidgetItem* item) {
  const int row = restorePlaylistList_->indexOfTopLevelItem(item);
  if (row >= 0) passPlaylistChecked(static_cast<std::size_t>(row), item->checkState(0) == Qt::Checked);
}

void RestorePage::passRestoreTarget(const QString& path) { context_.engine.SetRestoreTarget(S(path)); }

void RestorePage::passWholeLibrary(bool whole) { context_.engine.SetRestoreWholeLibrary(whole); }

void RestorePage::passPlaylistChecked(std::size_t row, bool checked) {
  context_.engine.SetRestorePlaylistChecked(row, checked);
}

void RestorePage::onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum) {
  if (bar == ProgressBar::DownloadFile) SetBar(fileBar_, position, maximum);
  if (bar == ProgressBar::DownloadTotal) SetBar(totalBar_, position, maximum);
}

void RestorePage::refreshPlaylists() {
  std::vector<ListRow> rows;
  for (const ServicePlaylistRow& row : context_.engine.servicePlaylists().rows) {
    rows.push_back({{Q(row.caption), Q(row.entryKey), Q(row.items)}, row.checked});
  }
  SyncCheckList(restorePlaylistList_, rows);
}

void RestorePage::refreshLog() {
  const RestoreState& state = context_.engine.restoreState();
  loadInformationButton_->setEnabled(state.analyzeEnabled);
  SetText(itemsFoundLabel_, state.itemsFoundCaption);
  SetText(currentFileLabel_, state.currentFile);
  SetBar(totalBar_, state.totalPosition, state.totalMaximum);
  // The log only grows during a run; append what is new instead of repainting it all.
  if (state.log.size() < logLinesShown_) {
    logView_->clear();
    logLinesShown_ = 0;
  }
  for (; logLinesShown_ < state.log.size(); ++logLinesShown_) {
    logView_->appendPlainText(Q(state.log[logLinesShown_]));
  }
  // The "Items" column is filled in as each playlist is listed.
  refreshPlaylists();
}

void RestorePage::refreshTargetPath() {
  const QString path = Q(context_.engine.restoreTarget());
  if (targetPathEdit_->text() != path) targetPathEdit_->setText(path);
}

} // namespace velmora::gui
