#pragma once
// The iTunes tab: analyse the library, choose the scope (ticked playlists or the whole library),
// tick playlists, start the upload; the analysis bar and counters follow the engine.

#include "base/Ui.h"
#include "gui/PageContext.h"

#include <QWidget>

#include <cstddef>

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velmora::gui {

class ITunesPage : public QWidget {
  Q_OBJECT
public:
  explicit ITunesPage(PageContext context, QWidget* parent = nullptr);

private:
  void onAnalyzeLibraryClicked();
  void onScopeClicked();
  void onStartUploadClicked();
  void onPlaylistItemChanged(QTreeWidgetItem* item);
  void onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum);
  void refreshPlaylists();

  void passPlaylistChecked(std::size_t row, bool checked);
  PageContext context_;
  QPushButton* analyzeButton_ = nullptr;
  QLabel* itemsFoundLabel_ = nullptr;
  QRadioButton* selectedPlaylistsOnlyRadio_ = nullptr;
  QRadioButton* wholeLibraryRadio_ = nullptr;
  QTreeWidget* iTunesPlaylistList_ = nullptr;
  QProgressBar* analyzeBar_ = nullptr;
  QLabel* itemsAnalyzedLabel_ = nullptr;
};

} // namespace velmora::gui
