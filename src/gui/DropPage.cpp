#include "gui/DropPage.h"

#include "app/Engine.h"
#include "gui/UiBridge.h"
#include "gui/Widgets.h"
#include "sources/DroppedFiles.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velmora::gui {

DropPage::DropPage(PageContext context, QWidget* parent) : QWidget(parent), context_(std::move(context)) {
  setObjectName(QStringLiteral("cmp_ts_dragdrop"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  auto* instructions = Group(QStringLiteral(" Instructions "));
  auto* instructionsLayout = new QVBoxLayout(instructions);
  instructionsLayout->setSpacing(4);
  const QStringList steps = {
      QStringLiteral("1.  Drag music files, folders or playlists (.m3u, .m3u8, .pls) from your file manager "
                     "and drop them anywhere on this window."),
      QStringLiteral("2.  Folders are searched with all their subfolders for MP3, M4A, WMA and OGG files."),
      QStringLiteral("3.  Click \"Analyze and upload\". Files that are already in your locker are not "
                     "sent again."),
  };
  for (const QString& step : steps) {
    QLabel* label = Label(step);
    label->setWordWrap(true);
    instructionsLayout->addWidget(label);
  }
  layout->addWidget(instructions);

  auto* playlist = Group(QStringLiteral(" Add to a playlist "));
  auto* playlistLayout = new QVBoxLayout(playlist);
  playlistLayout->addWidget(
      Label(QStringLiteral("Select a playlist or enter the name of a new one to add all uploaded tracks to it")));
  playlistBox_ = new QComboBox;
  playlistBox_->setObjectName(QStringLiteral("cmp_manually_add_to_plist"));
  playlistBox_->setEditable(true);
  playlistBox_->setInsertPolicy(QComboBox::NoInsert);
  playlistBox_->setMinimumWidth(320);
  auto* comboRow = new QHBoxLayout;
  comboRow->addWidget(playlistBox_);
  comboRow->addStretch(1);
  playlistLayout->addLayout(comboRow);
  layout->addWidget(playlist);

  auto* files = Group(QStringLiteral(" File list "));
  auto* filesLayout = new QVBoxLayout(files);
  droppedFileList_ = CheckList("cmp_lv_manual_select", {QStringLiteral("Filename")}, {-1});
  droppedFileList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  filesLayout->addWidget(droppedFileList_);
  auto* buttons = new QHBoxLayout;
  QPushButton* clear = Button(QStringLiteral("Clear list"), "cmp_btn_clear_list");
  clear->setMinimumWidth(120);
  QPushButton* analyze = Button(QStringLiteral("Analyze and upload"), "cmp_btn_analyze_and_upload", true);
  analyze->setMinimumWidth(170);
  buttons->addWidget(clear);
  buttons->addSpacing(12);
  fileCountLabel_ = Label(QStringLiteral("0 files"), "cmp_lbl_file_count");
  buttons->addWidget(fileCountLabel_);
  buttons->addStretch(1);
  buttons->addWidget(analyze);
  filesLayout->addLayout(buttons);
  layout->addWidget(files, 1);

  connect(playlistBox_, &QComboBox::editTextChanged, this, &DropPage::passPlaylistName);
  connect(clear, &QPushButton::clicked, this, &DropPage::onClearListClicked);
  connect(analyze, &QPushButton::clicked, this, &DropPage::onAnalyzeAndUploadClicked);
  connect(&context_.bridge, &UiBridge::droppedFilesChanged, this, &DropPage::refreshDroppedFiles);
  connect(&context_.bridge, &UiBridge::restorePlaylistsChanged, this, &DropPage::refreshPlaylistNames);
}

void DropPage::addDroppedPaths(const QStringList& paths) {
  std::vector<std::string> dropped;
  dropped.reserve(static_cast<std::size_t>(paths.size()));
  for (const QString& path : paths) dropped.push_back(S(path));
  context_.guarded([&] { context_.engine.DropFiles(dropped); });
}

void DropPage::onClearListClicked() {
  context_.guarded([&] { context_.engine.ClearDroppedFiles(); });
}

void DropPage::onAnalyzeAndUploadClicked() {
  context_.guarded([&] {
    passPlaylistName(playlistBox_->currentText());
    context_.engine.AnalyzeAndUpload();
  });
}

void DropPage::passPlaylistName(const QString& name) { context_.engine.SetDropPlaylist(S(name)); }

void DropPage::refreshDroppedFiles() {
  const auto& rows = context_.engine.droppedFiles().rows();
  const int shown = droppedFileList_->topLevelItemCount();
  // Drops only append; anything else (Clear list) repaints the whole list.
  bool prefix = static_cast<std::size_t>(shown) <= rows.size();
  for (int i = 0; prefix && i < shown; ++i) {
    prefix = droppedFileList_->topLevelItem(i)->text(0) == Q(rows[static_cast<std::size_t>(i)]);
  }
  if (!prefix) droppedFileList_->clear();
  QList<QTreeWidgetItem*> added;
  for (std::size_t i = static_cast<std::size_t>(droppedFileList_->topLevelItemCount()); i < rows.size(); ++i) {
    added << new QTreeWidgetItem(QStringList{Q(rows[i])});
  }
  droppedFileList_->addTopLevelItems(added);
  fileCountLabel_->setText(rows.size() == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(rows.size()));
}

void DropPage::refreshPlaylistNames() {
  // The box keeps what the user typed; only its drop-down list is the service's.
  QSignalBlocker block(playlistBox_);
  const QString typed = playlistBox_->currentText();
  playlistBox_->clear();
  for (const std::string& name : context_.engine.servicePlaylists().names) playlistBox_->addItem(Q(name));
  playlistBox_->setCurrentIndex(-1);
  playlistBox_->setEditText(typed);
}

} // namespace velmora::gui
