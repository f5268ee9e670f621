#pragma once
// The Winamp tab: the location of Winamp's playlists file, its analysis, the playlists found with
// their check boxes, and the upload of the ticked ones.

#include "gui/PageContext.h"

#include <QWidget>

#include <cstddef>

class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace velmora::gui {

class WinampPage : public QWidget {
  Q_OBJECT
public:
  explicit WinampPage(PageContext context, QWidget* parent = nullptr);

private:
  void onBrowseClicked();
  void onAnalyzeDataClicked();
  void onStartUploadClicked();
  void onPlaylistItemChanged(QTreeWidgetItem* item);
  void refreshPlaylists();
  void refreshLocation();

  void passLocation(const QString& location);
  void passPlaylistChecked(std::size_t row, bool checked);
  PageContext context_;
  QLineEdit* locationEdit_ = nullptr;
  QLabel* itemsFoundLabel_ = nullptr;
  QTreeWidget* winampPlaylistList_ = nullptr;
};

} // namespace velmora::gui
