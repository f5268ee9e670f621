#include "gui/WinampPage.h"

#include "app/Engine.h"
#include "gui/Presenter.h"
#include "gui/UiBridge.h"
#include "gui/Widgets.h"
#include "sources/WinampSource.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velmora::gui {

WinampPage::WinampPage(PageContext context, QWidget* parent) : QWidget(parent), context_(std::move(context)) {
  setObjectName(QStringLiteral("cmp_ts_winamp"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  auto* source = Group(QStringLiteral(" Winamp media library "));
  auto* sourceLayout = new QVBoxLayout(source);
  sourceLayout->addWidget(Label(QStringLiteral("Please select the location of your Winamp Playlists XML File")));
  auto* pathRow = new QHBoxLayout;
  pathRow->setSpacing(4);
  locationEdit_ = new QLineEdit;
  locationEdit_->setObjectName(QStringLiteral("cmp_winamp_plist_location"));
  locationEdit_->setPlaceholderText(QStringLiteral("playlists.xml"));
  locationEdit_->setAcceptDrops(false);
  auto* browse = new QToolButton;
  browse->setObjectName(QStringLiteral("cmp_btn_winamp_browse"));
  browse->setText(QStringLiteral("..."));
  browse->setToolTip(QStringLiteral("Choose the playlists file"));
  pathRow->addWidget(locationEdit_, 1);
  pathRow->addWidget(browse);
  pathRow->addSpacing(8);
  QPushButton* analyze = Button(QStringLiteral("Analyze data ..."), "cmp_btn_analyze_winamp_data", true);
  analyze->setMinimumWidth(140);
  pathRow->addWidget(analyze);
  sourceLayout->addLayout(pathRow);
  auto* foundRow = new QHBoxLayout;
  foundRow->addWidget(Label(QStringLiteral("Items found:")));
  itemsFoundLabel_ = BoldLabel(QStringLiteral("0"), "cmp_lbl_media_items_winamp_found");
  foundRow->addWidget(itemsFoundLabel_);
  foundRow->addStretch(1);
  sourceLayout->addLayout(foundRow);
  layout->addWidget(source);

  auto* lists = Group(QStringLiteral(" Winamp Playlists found "));
  auto* listsLayout = new QVBoxLayout(lists);
  winampPlaylistList_ =
      CheckList("cmp_lv_winamp_playlists", {QStringLiteral("Name"), QStringLiteral("Items"), QStringLiteral("items")},
                {-1, 90, 0});
  listsLayout->addWidget(winampPlaylistList_);
  auto* startRow = new QHBoxLayout;
  startRow->addStretch(1);
  QPushButton* start = Button(QStringLiteral("Start upload"), "cmp_btn_build_winamp_db", true);
  start->setMinimumWidth(170);
  startRow->addWidget(start);
  listsLayout->addLayout(startRow);
  layout->addWidget(lists, 1);

  connect(winampPlaylistList_, &QTreeWidget::itemChanged, this, &WinampPage::onPlaylistItemChanged);
  connect(browse, &QToolButton::clicked, this, &WinampPage::onBrowseClicked);
  connect(analyze, &QPushButton::clicked, this, &WinampPage::onAnalyzeDataClicked);
  connect(start, &QPushButton::clicked, this, &WinampPage::onStartUploadClicked);
  connect(locationEdit_, &QLineEdit::textEdited, this, &WinampPage::passLocation);
  connect(&context_.bridge, &UiBridge::winampPlaylistsChanged, this, &WinampPage::refreshPlaylists);
  connect(&context_.bridge, &UiBridge::settingsChanged, this, &WinampPage::refreshLocation);
}

void WinampPage::onBrowseClicked() {
  const QString file =
      context_.presenter.chooseFile(window(), QStringLiteral("Winamp Playlists XML File"), locationEdit_->text(),
                                    QStringLiteral("Winamp playlists (playlists.xml *.xml);;All files (*)"));
  if (file.isEmpty()) return;
  locationEdit_->setText(file);
  passLocation(file);
}

void WinampPage::onAnalyzeDataClicked() {
  context_.guarded([&] {
    passLocation(locationEdit_->text());
    context_.engine.AnalyzeWinampData();
  });
}

void WinampPage::onStartUploadClicked() {
  context_.guarded([&] { context_.engine.StartWinampUpload(); });
}

void WinampPage::onPlaylistItemChanged(QTreeWidgetItem* item) {
  const int row = winampPlaylistList_->indexOfTopLevelItem(item);
  if (row >= 0) passPlaylistChecked(static_cast<std::size_t>(row), item->checkState(0) == Qt::Checked);
}

void WinampPage::passLocation(const QString& location) { context_.engine.SetWinampLocation(S(location)); }

void WinampPage::passPlaylistChecked(std::size_t row, bool checked) {
  context_.engine.SetWinampPlaylistChecked(row, checked);
}

void WinampPage::refreshPlaylists() {
  const WinampTab& tab = context_.engine.winamp();
  SetText(itemsFoundLabel_, tab.itemsFound);
  std::vector<ListRow> rows;
  for (const WinampPlaylistRow& row : tab.rows) {
    rows.push_back({{Q(row.caption), Q(row.items), Q(row.hashValues)}, row.checked});
  }
  SyncCheckList(winampPlaylistList_, rows);
  refreshLocation();
}

void WinampPage::refreshLocation() {
  const QString location = Q(context_.engine.winampLocation());
  if (locationEdit_->text() != location) locationEdit_->setText(location);
}

} // namespace velmora::gui
