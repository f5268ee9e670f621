#pragma once
// The Status tab: the "Upload done!" bar, the upload queue with its four buttons, and the run's
// counters and bars.

#include "base/Ui.h"
#include "gui/PageContext.h"

#include <QWidget>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace velmora::gui {

class LinkLabel;
class UploadQueueModel;

class UploadQueuePage : public QWidget {
  Q_OBJECT
public:
  explicit UploadQueuePage(PageContext context, QWidget* parent = nullptr);

private:
  void onStopUploadClicked();
  void onResumeUploadClicked();
  void onClearQueueClicked();
  void onRemoveSelectedItemClicked();
  void onSwitchToServiceSiteClicked();
  void onCloseDoneBarClicked();
  void onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum);
  void refreshQueue();
  void refreshDoneBar();
  // The last run's counts, once a run has ended.
  void refreshRunSummary();
  void onSaveReportClicked();
  // "Show the upload window": back to the status window while a run is active.
  void onShowStatusWindowClicked();
  // The status window's speed and time left, and whether the way back to it shows.
  void refreshSpeed();

  PageContext context_;
  QFrame* uploadDoneBar_ = nullptr;
  UploadQueueModel* queueModel_ = nullptr;
  QSortFilterProxyModel* sortedQueue_ = nullptr;
  QTableView* queueView_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* resumeButton_ = nullptr;
  QPushButton* clearQueueButton_ = nullptr;
  QPushButton* removeItemButton_ = nullptr;
  QLabel* itemsToUploadLabel_ = nullptr;
  QProgressBar* globalBar_ = nullptr;
  QProgressBar* fileBar_ = nullptr;
  QLabel* lastUploadedFileLabel_ = nullptr;
  QLabel* durationLabel_ = nullptr;
  QLabel* speedLabel_ = nullptr;
  LinkLabel* showStatusWindowLink_ = nullptr;
  QLabel* runSummaryLabel_ = nullptr;
  QPushButton* saveReportButton_ = nullptr;
};

} // namespace velmora::gui
