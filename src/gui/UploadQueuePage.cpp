#include "gui/UploadQueuePage.h"

#include "app/Engine.h"
#include "gui/LinkLabel.h"
#include "gui/Presenter.h"
#include "gui/UiBridge.h"
#include "gui/UploadQueueModel.h"
#include "gui/Widgets.h"
#include "upload/UploadPipeline.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace velmora::gui {
namespace {

// Home and End go to the first and the last record, as Ctrl+Home and Ctrl+End do: a queue is read
// by its rows, and its few columns are all in view.
class QueueTableView : public QTableView {
protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
    if ((action == MoveHome || action == MoveEnd) && model()->rowCount() > 0) {
      const int row = action == MoveHome ? 0 : model()->rowCount() - 1;
      return model()->index(row, std::max(currentIndex().column(), 0));
    }
    return QTableView::moveCursor(action, modifiers);
  }
};

} // namespace

UploadQueuePage::UploadQueuePage(PageContext context, QWidget* parent) : QWidget(parent), context_(std::move(context)) {
  setObjectName(QStringLiteral("cmp_ts_status"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  uploadDoneBar_ = new QFrame;
  uploadDoneBar_->setObjectName(QStringLiteral("cmp_pnl_upload_done"));
  uploadDoneBar_->setStyleSheet(
      QStringLiteral("QFrame#cmp_pnl_upload_done { background-color: #e3f4e1; border: 1px solid #8cc785;"
                     " border-radius: 3px; }"));
  auto* doneLayout = new QHBoxLayout(uploadDoneBar_);
  doneLayout->setContentsMargins(10, 6, 10, 6);
  QLabel* done = BoldLabel(QStringLiteral("Upload done!"));
  done->setStyleSheet(QStringLiteral("color: #2d6a27;"));
  doneLayout->addWidget(done);
  doneLayout->addSpacing(16);
  auto* switchLink = new LinkLabel(QStringLiteral("Switch to Velmora Online now ..."), nullptr, LinkBlue());
  switchLink->setObjectName(QStringLiteral("cmp_lbl_switch_to_web"));
  doneLayout->addWidget(switchLink);
  doneLayout->addStretch(1);
  auto* closeLink = new LinkLabel(QStringLiteral("Close this bar"), nullptr, LinkBlue());
  closeLink->setObjectName(QStringLiteral("cmp_lbl_close_done_bar"));
  doneLayout->addWidget(closeLink);
  uploadDoneBar_->hide();
  layout->addWidget(uploadDoneBar_);

  auto* queue = Group(QStringLiteral(" Upload queue "));
  auto* queueLayout = new QVBoxLayout(queue);
  queueModel_ = new UploadQueueModel(this);
  // A click on a column's title sorts the rows shown; the queue itself keeps its order.
  sortedQueue_ = new QSortFilterProxyModel(this);
  sortedQueue_->setSourceModel(queueModel_);
  sortedQueue_->setSortRole(UploadQueueModel::kSortRole);
  queueView_ = new QueueTableView;
  queueView_->setObjectName(QStringLiteral("cmp_grid_upload_queue"));
  queueView_->setModel(sortedQueue_);
  // Unsorted until a title is clicked: the rows in queue order.
  queueView_->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
  queueView_->setSortingEnabled(true);
  queueView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  queueView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  queueView_->setSelectionMode(QAbstractItemView::SingleSelection);
  queueView_->setAlternatingRowColors(true);
  queueView_->verticalHeader()->setVisible(false);
  queueView_->verticalHeader()->setDefaultSectionSize(22);
  queueView_->setColumnWidth(UploadQueueModel::Artist, 160);
  queueView_->setColumnWidth(UploadQueueModel::Name, 240);
  queueView_->setColumnWidth(UploadQueueModel::Size, 140);
  queueView_->setColumnHidden(UploadQueueModel::HashCheckResponse, true);
  queueView_->setColumnHidden(UploadQueueModel::Album, true);
  queueView_->horizontalHeader()->setStretchLastSection(true);
  queueView_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  queueLayout->addWidget(queueView_);
  auto* queueButtons = new QHBoxLayout;
  stopButton_ = Button(QStringLiteral("Stop upload"), "cmp_btn_abort_upload");
  resumeButton_ = Button(QStringLiteral("Resume upload"), "cmp_btn_resume_upload");
  resumeButton_->setEnabled(false);
  clearQueueButton_ = Button(QStringLiteral("Clear upload queue"), "cmp_btn_clear_upload_queue");
  removeItemButton_ = Button(QStringLiteral("Remove selected item"), "cmp_btn_remove_upload_item");
  for (QPushButton* b : {stopButton_, resumeButton_, clearQueueButton_, removeItemButton_}) b->setMinimumWidth(120);
  queueButtons->addWidget(stopButton_);
  queueButtons->addWidget(resumeButton_);
  queueButtons->addStretch(1);
  queueButtons->addWidget(clearQueueButton_);
  queueButtons->addWidget(removeItemButton_);
  queueLayout->addLayout(queueButtons);
  layout->addWidget(queue, 1);

  auto* status = Group(QStringLiteral(" Status "));
  auto* statusLayout = new QGridLayout(status);
  statusLayout->setHorizontalSpacing(12);
  statusLayout->setVerticalSpacing(8);
  statusLayout->setColumnMinimumWidth(0, 120);
  statusLayout->addWidget(Label(QStringLiteral("Items to upload:")), 0, 0);
  itemsToUploadLabel_ = BoldLabel(QStringLiteral("0"), "cmp_lbl_items_to_upload");
  statusLayout->addWidget(itemsToUploadLabel_, 0, 1);
  // The seconds counter starts again at 0 after "Stop upload"; the tab shows the run's speed and
  // time left instead, as the status window does, and keeps the counter out of view.
  durationLabel_ = Label(QStringLiteral("0"), "cmp_lbl_duration");
  durationLabel_->setParent(status);
  durationLabel_->hide();
  showStatusWindowLink_ = new LinkLabel(QStringLiteral("Show the upload window"), nullptr, LinkBlue());
  showStatusWindowLink_->setObjectName(QStringLiteral("cmp_lbl_show_status_window"));
  showStatusWindowLink_->setToolTip(QStringLiteral("Back to the small window of the running upload"));
  showStatusWindowLink_->hide();
  statusLayout->addWidget(showStatusWindowLink_, 0, 2, Qt::AlignRight);
  statusLayout->addWidget(Label(QStringLiteral("Global progress:")), 1, 0);
  globalBar_ = Bar("cmp_pg_global");
  globalBar_->setRange(0, 1);
  statusLayout->addWidget(globalBar_, 1, 1, 1, 2);
  statusLayout->addWidget(Label(QStringLiteral("File progress:")), 2, 0);
  fileBar_ = Bar("cmp_progress_file");
  statusLayout->addWidget(fileBar_, 2, 1, 1, 2);
  statusLayout->addWidget(Label(QStringLiteral("Progress:")), 3, 0);
  speedLabel_ = Label(QString(), "cmp_lbl_speed");
  speedLabel_->setWordWrap(true);
  statusLayout->addWidget(speedLabel_, 3, 1, 1, 2);
  statusLayout->addWidget(Label(QStringLiteral("Last uploaded file:")), 4, 0);
  lastUploadedFileLabel_ = Label(QString(), "cmp_lbl_last_uploaded_file");
  lastUploadedFileLabel_->setMinimumWidth(200);
  statusLayout->addWidget(lastUploadedFileLabel_, 4, 1, 1, 2);
  statusLayout->addWidget(Label(QStringLiteral("Last run:")), 5, 0);
  runSummaryLabel_ = Label(QString(), "cmp_lbl_run_summary");
  runSummaryLabel_->setToolTip(QStringLiteral("What happened to the files of the last upload run"));
  // Six counts after a stop: the line breaks rather than being cut at the window's edge.
  runSummaryLabel_->setWordWrap(true);
  statusLayout->addWidget(runSummaryLabel_, 5, 1, 1, 2);
  saveReportButton_ = Button(QStringLiteral("Save report\u2026"), "cmp_btn_save_report");
  saveReportButton_->setToolTip(QStringLiteral("Write what happened to every file as JSON Lines"));
  saveReportButton_->setEnabled(false);
  statusLayout->addWidget(saveReportButton_, 6, 1, 1, 2, Qt::AlignRight);
  statusLayout->setColumnStretch(1, 1);
  layout->addWidget(status);

  connect(switchLink, &LinkLabel::clicked, this, &UploadQueuePage::onSwitchToServiceSiteClicked);
  connect(closeLink, &LinkLabel::clicked, this, &UploadQueuePage::onCloseDoneBarClicked);
  connect(stopButton_, &QPushButton::clicked, this, &UploadQueuePage::onStopUploadClicked);
  connect(resumeButton_, &QPushButton::clicked, this, &UploadQueuePage::onResumeUploadClicked);
  connect(clearQueueButton_, &QPushButton::clicked, this, &UploadQueuePage::onClearQueueClicked);
  connect(removeItemButton_, &QPushButton::clicked, this, &UploadQueuePage::onRemoveSelectedItemClicked);
  connect(&context_.bridge, &UiBridge::uploadQueueChanged, this, &UploadQueuePage::refreshQueue);
  connect(&context_.bridge, &UiBridge::uploadWindowsChanged, this, &UploadQueuePage::refreshDoneBar);
  connect(&context_.bridge, &UiBridge::progressChanged, this, &UploadQueuePage::onProgressChanged);
  connect(saveReportButton_, &QPushButton::clicked, this, &UploadQueuePage::onSaveReportClicked);
  connect(showStatusWindowLink_, &LinkLabel::clicked, this, &UploadQueuePage::onShowStatusWindowClicked);
  connect(&context_.bridge, &UiBridge::uploadStatusChanged, this, &UploadQueuePage::refreshSpeed);
  connect(&context_.bridge, &UiBridge::uploadWindowsChanged, this, &UploadQueuePage::refreshSpeed);
  connect(&context_.bridge, &UiBridge::runEnded, this, &UploadQueuePage::refreshRunSummary);
  // "Stop upload" ends a run too, without a run-end notice; the queue's signal follows it.
  connect(&context_.bridge, &UiBridge::uploadWindowsChanged, this, &UploadQueuePage::refreshRunSummary);
}

void UploadQueuePage::onStopUploadClicked() {
  context_.guarded([&] { context_.engine.StopUpload(); });
}

void UploadQueuePage::onResumeUploadClicked() {
  context_.guarded([&] { context_.engine.ResumeUpload(); });
}

void UploadQueuePage::onClearQueueClicked() {
  context_.guarded([&] { context_.engine.ClearUploadQueue(); });
}

void UploadQueuePage::onRemoveSelectedItemClicked() {
  const std::optional<std::uint64_t> id =
      queueModel_->recordId(sortedQueue_->mapToSource(queueView_->currentIndex()).row());
  if (!id) return;
  context_.guarded([&] { context_.engine.RemoveQueueItem(*id); });
}

void UploadQueuePage::onShowStatusWindowClicked() {
  context_.guarded([&] { context_.engine.ShowStatusWindow(); });
}

void UploadQueuePage::refreshSpeed() {
  const UploadPipeline& upload = context_.engine.upload();
  // An analysis says how far it is; a run, its speed and time left.
  const std::string& text =
      upload.controls().analysisText.empty() ? upload.statusWindow().statusText : upload.controls().analysisText;
  const QString speed = QString::fromStdString(text).trimmed();
  if (speedLabel_->text() != speed) speedLabel_->setText(speed);
  showStatusWindowLink_->setVisible(upload.RunActive() && !upload.windows().statusWindowVisible);
}

void UploadQueuePage::onSwitchToServiceSiteClicked() {
  context_.guarded([&] { context_.engine.OpenServiceSite(); });
}

void UploadQueuePage::onCloseDoneBarClicked() {
  context_.guarded([&] { context_.engine.CloseUploadDoneBar(); });
}

void UploadQueuePage::onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum) {
  if (bar == ProgressBar::File) SetBar(fileBar_, position, maximum);
  if (bar == ProgressBar::QueueGlobal) SetBar(globalBar_, position, maximum);
}

void UploadQueuePage::refreshQueue() {
  const UploadQueueControls& c = context_.engine.upload().controls();
  stopButton_->setEnabled(c.stopEnabled);
  resumeButton_->setEnabled(c.resumeEnabled);
  clearQueueButton_->setEnabled(c.clearEnabled);
  removeItemButton_->setEnabled(c.removeEnabled);
  SetText(itemsToUploadLabel_, c.itemsToUpload);
  SetText(lastUploadedFileLabel_, c.lastUploadedFile);
  SetText(durationLabel_, c.durationLabel);
  refreshSpeed();
  SetBar(globalBar_, c.globalPosition, c.globalMaximum);
  queueModel_->sync(context_.engine.upload().queue().records());
  refreshRunSummary();
}

void UploadQueuePage::refreshRunSummary() {
  const RunOutcome outcome = context_.engine.upload().outcome();
  // While watched files wait for an unreachable service, the tab says so (once per outage).
  if (!context_.engine.watchNotice().empty()) {
    SetText(runSummaryLabel_, context_.engine.watchNotice());
    return;
  }
  if (outcome == RunOutcome::None || outcome == RunOutcome::Running) return;
  SetText(runSummaryLabel_, SummaryLine(context_.engine.UploadReport()));
  saveReportButton_->setEnabled(true);
}

void UploadQueuePage::onSaveReportClicked() {
  const QString file =
      context_.presenter.chooseSaveFile(this, QStringLiteral("Save report"), QStringLiteral("velmora-report.jsonl"),
                                        QStringLiteral("JSON Lines (*.jsonl);;All files (*)"));
  if (file.isEmpty()) return;
  context_.guarded([&] { context_.engine.SaveUploadReport(file.toStdString()); });
}

void UploadQueuePage::refreshDoneBar() {
  uploadDoneBar_->setVisible(context_.engine.upload().windows().uploadDoneBarVisible);
}

} // namespace velmora::gui
