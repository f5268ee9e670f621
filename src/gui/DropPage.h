#pragma once
// The Drag & Drop tab: the files dropped on the window, the playlist box for them, "Clear list"
// and "Analyze and upload". Drops arrive from the main window, which takes them anywhere.

#include "gui/PageContext.h"

#include <QStringList>
#include <QWidget>

class QComboBox;
class QLabel;
class QTreeWidget;

namespace velmora::gui {

class DropPage : public QWidget {
  Q_OBJECT
public:
  explicit DropPage(PageContext context, QWidget* parent = nullptr);

  // The full paths of every file and folder dropped on the window.
  void addDroppedPaths(const QStringList& paths);

private:
  void onClearListClicked();
  void onAnalyzeAndUploadClicked();
  void refreshDroppedFiles();
  void refreshPlaylistNames();

  void passPlaylistName(const QString& name);
  PageContext context_;
  QComboBox* playlistBox_ = nullptr;
  QTreeWidget* droppedFileList_ = nullptr;
  // How many files the list holds.
  QLabel* fileCountLabel_ = nullptr;
};

} // namespace velmora::gui
