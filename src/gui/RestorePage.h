#pragma once
// The Restore tab: load the user's playlists from the service, choose the whole library or ticked
// playlists, the target folder, "Restore now" and "Cancel Downloads", the bars and the log.

#include "base/Ui.h"
#include "gui/PageContext.h"

#include <QWidget>

#include <cstddef>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velmora::gui {

class RestorePage : public QWidget {
  Q_OBJECT
public:
  explicit RestorePage(PageContext context, QWidget* parent = nullptr);

private:
  void onLoadInformationClicked();
  void onRestoreClicked();
  void onCancelDownloadsClicked();
  void onBrowseClicked();
  void onPlaylistItemChanged(QTreeWidgetItem* item);
  void onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum);
  void refreshPlaylists();
  void refreshLog();
  void refreshTargetPath();

  void passRestoreTarget(const QString& path);
  void passWholeLibrary(bool whole);
  void passPlaylistChecked(std::size_t row, bool checked);
  PageContext context_;
  QPushButton* loadInformationButton_ = nullptr;
  QRadioButton* wholeLibraryRadio_ = nullptr;
  QTreeWidget* restorePlaylistList_ = nullptr;
  QLineEdit* targetPathEdit_ = nullptr;
  QLabel* itemsFoundLabel_ = nullptr;
  QProgressBar* fileBar_ = nullptr;
  QLabel* currentFileLabel_ = nullptr;
  QProgressBar* totalBar_ = nullptr;
  QPlainTextEdit* logView_ = nullptr;
  std::size_t logLinesShown_ = 0;
};

} // namespace velmora::gui
