#include "gui/ITunesPage.h"

#include "app/Engine.h"
#include "gui/UiBridge.h"
#include "gui/Widgets.h"
#include "sources/ITunesSource.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velmora::gui {

ITunesPage::ITunesPage(PageContext context, QWidget* parent) : QWidget(parent), context_(std::move(context)) {
  setObjectName(QStringLiteral("cmp_ts_itunes"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  auto* intro =
      Label(QStringLiteral("Upload the music of your iTunes library. Analyze the library first, then choose what to "
                           "upload: the playlists you tick below, or everything in the library."));
  intro->setWordWrap(true);
  layout->addWidget(intro);

  auto* top = new QHBoxLayout;
  analyzeButton_ = Button(QStringLiteral("Analyze library now"), "cmp_btn_do_analyze_itunes_lib", true);
  analyzeButton_->setMinimumWidth(170);
  top->addWidget(analyzeButton_);
  top->addSpacing(16);
  top->addWidget(Label(QStringLiteral("Items found:")));
  itemsFoundLabel_ = BoldLabel(QStringLiteral("0"), "cmp_lbl_itunes_analyze_items_found");
  top->addWidget(itemsFoundLabel_);
  top->addStretch(1);
  layout->addLayout(top);

  auto* scope = Group(QStringLiteral(" What to upload "));
  auto* scopeLayout = new QHBoxLayout(scope);
  selectedPlaylistsOnlyRadio_ = new QRadioButton(QStringLiteral("Selected playlists only"));
  selectedPlaylistsOnlyRadio_->setObjectName(QStringLiteral("cmp_rb_itunes_upload_playlists_only"));
  selectedPlaylistsOnlyRadio_->setChecked(true);
  wholeLibraryRadio_ = new QRadioButton(QStringLiteral("All media - items and playlists"));
  wholeLibraryRadio_->setObjectName(QStringLiteral("cmp_rg_itunes_upload_whole_lib"));
  auto* scopeGroup = new QButtonGroup(this);
  scopeGroup->addButton(selectedPlaylistsOnlyRadio_, 1);
  scopeGroup->addButton(wholeLibraryRadio_, 0);
  scopeLayout->addWidget(selectedPlaylistsOnlyRadio_);
  scopeLayout->addSpacing(24);
  scopeLayout->addWidget(wholeLibraryRadio_);
  scopeLayout->addStretch(1);
  layout->addWidget(scope);

  auto* lists = Group(QStringLiteral(" Playlists in your library "));
  auto* listsLayout = new QVBoxLayout(lists);
  iTunesPlaylistList_ =
      CheckList("cmp_lv_itunes_playlists",
                {QStringLiteral("Name"), QStringLiteral("Items"), QStringLiteral("hashvalues")}, {-1, 90, 0});
  listsLayout->addWidget(iTunesPlaylistList_);
  auto* startRow = new QHBoxLayout;
  startRow->addStretch(1);
  auto* startButton = Button(QStringLiteral("Start upload now"), "cmp_btn_start_upload", true);
  startButton->setMinimumWidth(170);
  startRow->addWidget(startButton);
  listsLayout->addLayout(startRow);
  layout->addWidget(lists, 1);

  auto* progress = Group(QStringLiteral(" Analyzing the iTunes Library "));
  auto* progressLayout = new QGridLayout(progress);
  progressLayout->setHorizontalSpacing(10);
  analyzeBar_ = Bar("cmp_bar_itunes_analyze");
  progressLayout->addWidget(analyzeBar_, 0, 0, 1, 3);
  progressLayout->addWidget(Label(QStringLiteral("Items analyzed:")), 1, 0);
  itemsAnalyzedLabel_ = Label(QStringLiteral("0"), "cmp_lbl_itunes_items_analyzed");
  progressLayout->addWidget(itemsAnalyzedLabel_, 1, 1);
  progressLayout->setColumnStretch(2, 1);
  layout->addWidget(progress);

  connect(selectedPlaylistsOnlyRadio_, &QRadioButton::clicked, this, &ITunesPage::onScopeClicked);
  connect(wholeLibraryRadio_, &QRadioButton::clicked, this, &ITunesPage::onScopeClicked);
  connect(iTunesPlaylistList_, &QTreeWidget::itemChanged, this, &ITunesPage::onPlaylistItemChanged);
  connect(analyzeButton_, &QPushButton::clicked, this, &ITunesPage::onAnalyzeLibraryClicked);
  connect(startButton, &QPushButton::clicked, this, &ITunesPage::onStartUploadClicked);
  connect(&context_.bridge, &UiBridge::iTunesPlaylistsChanged, this, &ITunesPage::refreshPlaylists);
  connect(&context_.bridge, &UiBridge::progressChanged, this, &ITunesPage::onProgressChanged);
}

void ITunesPage::onAnalyzeLibraryClicked() {
  context_.guarded([&] { context_.engine.AnalyzeITunesLibraryNow(); });
}

void ITunesPage::onScopeClicked() {
  context_.guarded([&] { context_.engine.SetITunesScope(selectedPlaylistsOnlyRadio_->isChecked()); });
}

void ITunesPage::onStartUploadClicked() {
  context_.guarded([&] { context_.engine.StartITunesUpload(); });
}

void ITunesPage::onPlaylistItemChanged(QTreeWidgetItem* item) {
  const int row = iTunesPlaylistList_->indexOfTopLevelItem(item);
  if (row >= 0) passPlaylistChecked(static_cast<std::size_t>(row), item->checkState(0) == Qt::Checked);
}

void ITunesPage::passPlaylistChecked(std::size_t row, bool checked) {
  context_.engine.SetITunesPlaylistChecked(row, checked);
}

void ITunesPage::onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum) {
  if (bar == ProgressBar::ITunesAnalyze) SetBar(analyzeBar_, position, maximum);
}

void ITunesPage::refreshPlaylists() {
  const ITunesTab& tab = context_.engine.iTunes();
  SetText(itemsFoundLabel_, tab.itemsFound.empty() ? "0" : tab.itemsFound);
  SetText(itemsAnalyzedLabel_, tab.itemsAnalyzed.empty() ? "0" : tab.itemsAnalyzed);
  analyzeButton_->setEnabled(tab.analyzeEnabled);
  iTunesPlaylistList_->setEnabled(tab.playlistListEnabled);
  if (selectedPlaylistsOnlyRadio_->isChecked() != tab.selectedPlaylistsOnly) {
    (tab.selectedPlaylistsOnly ? selectedPlaylistsOnlyRadio_ : wholeLibraryRadio_)->setChecked(true);
  }
  std::vector<ListRow> rows;
  for (const ITunesPlaylistRow& row : tab.rows)
    rows.push_back({{Q(row.caption), Q(row.items), QString()}, row.checked});
  SyncCheckList(iTunesPlaylistList_, rows);
  itemsAnalyzedLabel_->repaint();
}

} // namespace velmora::gui
