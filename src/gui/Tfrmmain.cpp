// The main window's construction: widgets, menus, tray icon, timers, drop target, and the
// start-up and shutdown order around the engine.

#include "gui/Tfrmmain.h"

#include "service/WebPages.h"
#include "gui/LinkLabel.h"
#include "gui/Presenter.h"
#include "gui/Tfrmabout.h"
#include "gui/Tfrmupload_status.h"
#include "gui/WindowUi.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace velmora::gui {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

namespace {

// Client size that, with a usual title bar and frame, makes the window 696 x 742 on screen.
constexpr int kClientWidth = 680;
constexpr int kClientHeight = 704;

QPushButton* Button(const QString& text, const char* name, bool bold = false) {
  auto* button = new QPushButton(text);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  if (bold) {
    QFont f = button->font();
    f.setBold(true);
    button->setFont(f);
  }
  return button;
}

QLabel* Label(const QString& text, const char* name = nullptr) {
  auto* label = new QLabel(text);
  label->setTextFormat(Qt::PlainText);
  if (name) label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLabel* BoldLabel(const QString& text, const char* name = nullptr) {
  QLabel* label = Label(text, name);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

QGroupBox* Group(const QString& title, const char* name = nullptr) {
  auto* group = new QGroupBox(title);
  if (name) group->setObjectName(QString::fromLatin1(name));
  return group;
}

QProgressBar* Bar(const char* name) {
  auto* bar = new QProgressBar;
  bar->setObjectName(QString::fromLatin1(name));
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setFixedHeight(16);
  return bar;
}

// A list with check boxes and a header; hidden columns carry values only the engine needs.
QTreeWidget* CheckList(const char* name, const QStringList& columns, const QList<int>& widths) {
  auto* list = new QTreeWidget;
  list->setObjectName(QString::fromLatin1(name));
  list->setHeaderLabels(columns);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAlternatingRowColors(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->header()->setStretchLastSection(false);
  for (int i = 0; i < widths.size(); ++i) {
    if (widths[i] < 0) {
      list->header()->setSectionResizeMode(i, QHeaderView::Stretch);
    } else if (widths[i] == 0) {
      list->setColumnHidden(i, true);
    } else {
      list->setColumnWidth(i, widths[i]);
    }
  }
  return list;
}

} // namespace

Tfrmmain::Tfrmmain(Presenter& presenter, EngineOptions options, QWidget* parent)
    : QMainWindow(parent), presenter_(presenter) {
  setObjectName(QStringLiteral("frmmain"));
  setWindowTitle(QStringLiteral("Velmora Uploader"));
  setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora-uploader.svg")));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setAcceptDrops(true);

  ui_ = std::make_unique<WindowUi>(*this, presenter_);
  engine_ = std::make_unique<Engine>(*ui_, std::move(options));

  buildMenus();

  auto* central = new QWidget;
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(6);
  auto* layout = new QVBoxLayout;
  layout->setContentsMargins(6, 6, 6, 0);
  outer->addLayout(layout, 1);

  cmp_pc_main = new QTabWidget;
  cmp_pc_main->setObjectName(QStringLiteral("cmp_pc_main"));
  cmp_pc_main->setDocumentMode(false);
  cmp_pc_main->addTab(buildITunesTab(), QStringLiteral("iTunes"));
  cmp_pc_main->addTab(buildDropTab(), QStringLiteral("Drag && Drop (Filesystem)"));
  cmp_pc_main->addTab(buildWinampTab(), QStringLiteral("Winamp"));
  cmp_pc_main->addTab(buildStatusTab(), QStringLiteral("Status"));
  cmp_pc_main->addTab(buildRestoreTab(), QStringLiteral("Restore"));

  // The badge sits at the top right, beside the tabs, while a file is read for its hash id.
  cmp_lbl_Deep_analysis = new QLabel(QStringLiteral("Deep analysis"));
  cmp_lbl_Deep_analysis->setObjectName(QStringLiteral("cmp_lbl_Deep_analysis"));
  cmp_lbl_Deep_analysis->setAlignment(Qt::AlignCenter);
  cmp_lbl_Deep_analysis->setContentsMargins(10, 2, 10, 2);
  cmp_lbl_Deep_analysis->setStyleSheet(QStringLiteral(
      "QLabel#cmp_lbl_Deep_analysis { background-color: #fe9e0e; color: white; font-weight: bold;"
      " border-radius: 3px; }"));
  auto* corner = new QWidget;
  auto* cornerLayout = new QHBoxLayout(corner);
  cornerLayout->setContentsMargins(0, 2, 2, 4);
  cornerLayout->addWidget(cmp_lbl_Deep_analysis);
  cmp_pc_main->setCornerWidget(corner, Qt::TopRightCorner);
  cmp_lbl_Deep_analysis->hide();
  layout->addWidget(cmp_pc_main, 1);

  cmp_pnl_status = new QLabel;
  cmp_pnl_status->setObjectName(QStringLiteral("cmp_pnl_status"));
  cmp_pnl_status->setTextFormat(Qt::PlainText);
  cmp_pnl_status->setFixedHeight(30);
  cmp_pnl_status->setFrameShape(QFrame::Panel);
  cmp_pnl_status->setFrameShadow(QFrame::Sunken);
  cmp_pnl_status->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  cmp_pnl_status->setStyleSheet(QStringLiteral(
      "QLabel#cmp_pnl_status { background-color: #3b4048; color: #c0c0c0; font-weight: bold;"
      " border-top: 1px solid #23262b; padding-left: 2px; }"));
  outer->addWidget(cmp_pnl_status);
  setCentralWidget(central);

  cmp_tmr_Start_upload = new QTimer(this);
  cmp_tmr_Start_upload->setObjectName(QStringLiteral("cmp_tmr_Start_upload"));
  cmp_tmr_Start_upload->setInterval(100);
  cmp_tmr_Start_upload->setSingleShot(true);
  connect(cmp_tmr_Start_upload, &QTimer::timeout, this, &Tfrmmain::cmp_tmr_Start_uploadTimer);
  cmp_tmr_count = new QTimer(this);
  cmp_tmr_count->setObjectName(QStringLiteral("cmp_tmr_count"));
  cmp_tmr_count->setInterval(1000);
  connect(cmp_tmr_count, &QTimer::timeout, this, &Tfrmmain::cmp_tmr_countTimer);

  buildTray();

  // Drops land on whichever child is under the pointer; the filter hands them to the window.
  qApp->installEventFilter(this);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  // FormCreate: clean the work folder, databases, tag readers, settings, greeting.
  guarded([&] { engine_->Startup(); });
}

Tfrmmain::~Tfrmmain() {
  qApp->removeEventFilter(this);
  putAway();
}

Ui& Tfrmmain::ui() { return *ui_; }

void Tfrmmain::setUploadStatusWindow(Tfrmupload_status* window) { statusWindow_ = window; }

void Tfrmmain::setStatusPanelText(const QString& text) {
  cmp_pnl_status->setText(text);
  cmp_pnl_status->repaint();
}

QString Tfrmmain::statusPanelText() const { return cmp_pnl_status->text(); }

void Tfrmmain::buildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* goTo = file->addAction(Q(GoToMenuText()));
  goTo->setObjectName(QStringLiteral("cmp_mi_goto"));
  QFont bold = goTo->font();
  bold.setBold(true);
  goTo->setFont(bold);
  file->setDefaultAction(goTo);
  connect(goTo, &QAction::triggered, this, &Tfrmmain::GoToWebHostClick);
  QAction* logout = file->addAction(QStringLiteral("Logout user"));
  logout->setObjectName(QStringLiteral("cmp_mi_logout"));
  connect(logout, &QAction::triggered, this, &Tfrmmain::LogoutUserClick);
  file->addSeparator();
  QAction* close = file->addAction(QStringLiteral("Close"));
  close->setObjectName(QStringLiteral("cmp_mi_close"));
  connect(close, &QAction::triggered, this, &Tfrmmain::CloseClick);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* about = help->addAction(QStringLiteral("&About"));
  about->setObjectName(QStringLiteral("cmp_mi_about"));
  connect(about, &QAction::triggered, this, &Tfrmmain::AboutClick);
}

void Tfrmmain::buildTray() {
  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setObjectName(QStringLiteral("cmp_tray"));
  tray_->setToolTip(QStringLiteral("Velmora Uploader"));
  auto* menu = new QMenu(this);
  QAction* show = menu->addAction(QStringLiteral("Show uploader"));
  show->setObjectName(QStringLiteral("cmp_mi_show_uploader"));
  connect(show, &QAction::triggered, this, &Tfrmmain::showUploader);
  tray_->setContextMenu(menu);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) showUploader();
  });
  tray_->show();
}

QWidget* Tfrmmain::buildITunesTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("cmp_ts_itunes"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  auto* intro = Label(QStringLiteral(
      "Upload the music of your iTunes library. Analyze the library first, then choose what to "
      "upload: the playlists you tick below, or everything in the library."));
  intro->setWordWrap(true);
  layout->addWidget(intro);

  auto* top = new QHBoxLayout;
  cmp_btn_do_analyze_itunes_lib = Button(QStringLiteral("Analyze library now"), "cmp_btn_do_analyze_itunes_lib", true);
  cmp_btn_do_analyze_itunes_lib->setMinimumWidth(170);
  top->addWidget(cmp_btn_do_analyze_itunes_lib);
  top->addSpacing(16);
  top->addWidget(Label(QStringLiteral("Items found:")));
  cmp_lbl_itunes_analyze_items_found = BoldLabel(QStringLiteral("0"), "cmp_lbl_itunes_analyzecmp_lbl_itunes_analyze_items_found");
  top->addWidget(cmp_lbl_itunes_analyze_items_found);
  top->addStretch(1);
  layout->addLayout(top);

  auto* scope = Group(QStringLiteral(" What to upload "));
  auto* scopeLayout = new QHBoxLayout(scope);
  cmp_rb_itunes_upload_playlists_only = new QRadioButton(QStringLiteral("Selected playlists only"));
  cmp_rb_itunes_upload_playlists_only->setObjectName(QStringLiteral("cmp_rb_itunes_upload_playlists_only"));
  cmp_rb_itunes_upload_playlists_only->setChecked(true);
  cmp_rg_itunes_upload_whole_lib = new QRadioButton(QStringLiteral("All media - items and playlists"));
  cmp_rg_itunes_upload_whole_lib->setObjectName(QStringLiteral("cmp_rg_itunes_upload_whole_lib"));
  auto* scopeGroup = new QButtonGroup(page);
  scopeGroup->addButton(cmp_rb_itunes_upload_playlists_only, 1);
  scopeGroup->addButton(cmp_rg_itunes_upload_whole_lib, 0);
  scopeLayout->addWidget(cmp_rb_itunes_upload_playlists_only);
  scopeLayout->addSpacing(24);
  scopeLayout->addWidget(cmp_rg_itunes_upload_whole_lib);
  scopeLayout->addStretch(1);
  layout->addWidget(scope);
  connect(cmp_rb_itunes_upload_playlists_only, &QRadioButton::clicked, this, &Tfrmmain::cmp_rg_itunes_upload_whole_libClick);
  connect(cmp_rg_itunes_upload_whole_lib, &QRadioButton::clicked, this, &Tfrmmain::cmp_rg_itunes_upload_whole_libClick);

  auto* lists = Group(QStringLiteral(" Playlists in your library "));
  auto* listsLayout = new QVBoxLayout(lists);
  cmp_lv_itunes_playlists = CheckList("cmp_lv_itunes_playlists",
      {QStringLiteral("Name"), QStringLiteral("Items"), QStringLiteral("hashvalues")}, {-1, 90, 0});
  listsLayout->addWidget(cmp_lv_itunes_playlists);
  auto* startRow = new QHBoxLayout;
  startRow->addStretch(1);
  cmp_btn_start_upload = Button(QStringLiteral("Start upload now"), "cmp_btn_start_upload", true);
  cmp_btn_start_upload->setMinimumWidth(170);
  startRow->addWidget(cmp_btn_start_upload);
  listsLayout->addLayout(startRow);
  layout->addWidget(lists, 1);

  auto* progress = Group(QStringLiteral(" Analyzing the iTunes Library "));
  auto* progressLayout = new QGridLayout(progress);
  progressLayout->setHorizontalSpacing(10);
  cmp_bar_itunes_analyze = Bar("cmp_bar_itunes_analyze");
  progressLayout->addWidget(cmp_bar_itunes_analyze, 0, 0, 1, 3);
  progressLayout->addWidget(Label(QStringLiteral("Items analyzed:")), 1, 0);
  cmp_lbl_itunes_items_analyzed = Label(QStringLiteral("0"), "cmp_lbl_itunes_items_analyzed");
  progressLayout->addWidget(cmp_lbl_itunes_items_analyzed, 1, 1);
  progressLayout->setColumnStretch(2, 1);
  layout->addWidget(progress);

  connect(cmp_lv_itunes_playlists, &QTreeWidget::itemChanged, this, &Tfrmmain::itunesPlaylistChecked);
  connect(cmp_btn_do_analyze_itunes_lib, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_do_analyze_itunes_libClick);
  connect(cmp_btn_start_upload, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_start_uploadClick);
  return page;
}

QWidget* Tfrmmain::buildDropTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("cmp_ts_dragdrop"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  auto* instructions = Group(QStringLiteral(" Instructions "));
  auto* instructionsLayout = new QVBoxLayout(instructions);
  instructionsLayout->setSpacing(4);
  const QStringList steps = {
      QStringLiteral("1.  Drag music files, folders or playlists (.m3u, .pls) from your file manager "
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
  playlistLayout->addWidget(Label(QStringLiteral(
      "Select a playlist or enter the name of a new one to add all uploaded tracks to it")));
  cmp_manually_add_to_plist = new QComboBox;
  cmp_manually_add_to_plist->setObjectName(QStringLiteral("cmp_manually_add_to_plist"));
  cmp_manually_add_to_plist->setEditable(true);
  cmp_manually_add_to_plist->setInsertPolicy(QComboBox::NoInsert);
  cmp_manually_add_to_plist->setMinimumWidth(320);
  auto* comboRow = new QHBoxLayout;
  comboRow->addWidget(cmp_manually_add_to_plist);
  comboRow->addStretch(1);
  playlistLayout->addLayout(comboRow);
  layout->addWidget(playlist);

  auto* files = Group(QStringLiteral(" File list "));
  auto* filesLayout = new QVBoxLayout(files);
  cmp_lv_manual_select = CheckList("cmp_lv_manual_select", {QStringLiteral("Filename")}, {-1});
  cmp_lv_manual_select->setSelectionMode(QAbstractItemView::ExtendedSelection);
  filesLayout->addWidget(cmp_lv_manual_select);
  auto* buttons = new QHBoxLayout;
  QPushButton* clear = Button(QStringLiteral("Clear list"), "cmp_btn_clear_list");
  clear->setMinimumWidth(120);
  QPushButton* analyze = Button(QStringLiteral("Analyze and upload"), "cmp_btn_analyze_and_upload", true);
  analyze->setMinimumWidth(170);
  buttons->addWidget(clear);
  buttons->addStretch(1);
  buttons->addWidget(analyze);
  filesLayout->addLayout(buttons);
  layout->addWidget(files, 1);

  connect(cmp_manually_add_to_plist, &QComboBox::editTextChanged, this,
          [this](const QString& text) { engine_->SetDropPlaylist(S(text)); });
  connect(clear, &QPushButton::clicked, this, &Tfrmmain::Button4Click);
  connect(analyze, &QPushButton::clicked, this, &Tfrmmain::Button3Click);
  return page;
}

QWidget* Tfrmmain::buildWinampTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("cmp_ts_winamp"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  auto* source = Group(QStringLiteral(" Winamp media library "));
  auto* sourceLayout = new QVBoxLayout(source);
  sourceLayout->addWidget(Label(QStringLiteral("Please select the location of your Winamp Playlists XML File")));
  auto* pathRow = new QHBoxLayout;
  pathRow->setSpacing(4);
  cmp_winamp_plist_location = new QLineEdit;
  cmp_winamp_plist_location->setObjectName(QStringLiteral("cmp_winamp_plist_location"));
  cmp_winamp_plist_location->setPlaceholderText(QStringLiteral("playlists.xml"));
  cmp_winamp_plist_location->setAcceptDrops(false);
  auto* browse = new QToolButton;
  browse->setObjectName(QStringLiteral("cmp_btn_winamp_browse"));
  browse->setText(QStringLiteral("..."));
  browse->setToolTip(QStringLiteral("Choose the playlists file"));
  pathRow->addWidget(cmp_winamp_plist_location, 1);
  pathRow->addWidget(browse);
  pathRow->addSpacing(8);
  QPushButton* analyze = Button(QStringLiteral("Analyze data ..."), "cmp_btn_analyze_winamp_data", true);
  analyze->setMinimumWidth(140);
  pathRow->addWidget(analyze);
  sourceLayout->addLayout(pathRow);
  auto* foundRow = new QHBoxLayout;
  foundRow->addWidget(Label(QStringLiteral("Items found:")));
  cmp_lbl_media_items_winamp_found = BoldLabel(QStringLiteral("0"), "cmp_lbl_media_items_winamp_found");
  foundRow->addWidget(cmp_lbl_media_items_winamp_found);
  foundRow->addStretch(1);
  sourceLayout->addLayout(foundRow);
  layout->addWidget(source);

  auto* lists = Group(QStringLiteral(" Winamp Playlists found "));
  auto* listsLayout = new QVBoxLayout(lists);
  cmp_lv_winamp_playlists = CheckList("cmp_lv_winamp_playlists",
      {QStringLiteral("Name"), QStringLiteral("Items"), QStringLiteral("items")}, {-1, 90, 0});
  listsLayout->addWidget(cmp_lv_winamp_playlists);
  auto* startRow = new QHBoxLayout;
  startRow->addStretch(1);
  QPushButton* start = Button(QStringLiteral("Start upload"), "cmp_btn_build_winamp_db", true);
  start->setMinimumWidth(170);
  startRow->addWidget(start);
  listsLayout->addLayout(startRow);
  layout->addWidget(lists, 1);

  connect(cmp_lv_winamp_playlists, &QTreeWidget::itemChanged, this, &Tfrmmain::winampPlaylistChecked);
  connect(browse, &QToolButton::clicked, this, &Tfrmmain::cmp_btn_winamp_browseClick);
  connect(analyze, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_analyze_winamp_dataClick);
  connect(start, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_build_winamp_dbClick);
  connect(cmp_winamp_plist_location, &QLineEdit::textEdited, this,
          [this](const QString& text) { engine_->SetWinampLocation(S(text)); });
  return page;
}

QWidget* Tfrmmain::buildStatusTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("cmp_ts_status"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);

  cmp_pnl_upload_done = new QFrame;
  cmp_pnl_upload_done->setObjectName(QStringLiteral("cmp_pnl_upload_done"));
  cmp_pnl_upload_done->setStyleSheet(QStringLiteral(
      "QFrame#cmp_pnl_upload_done { background-color: #e3f4e1; border: 1px solid #8cc785;"
      " border-radius: 3px; }"));
  auto* doneLayout = new QHBoxLayout(cmp_pnl_upload_done);
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
  cmp_pnl_upload_done->hide();
  layout->addWidget(cmp_pnl_upload_done);
  connect(switchLink, &LinkLabel::clicked, this, &Tfrmmain::switchToServiceSite);
  connect(closeLink, &LinkLabel::clicked, this, &Tfrmmain::uploadDoneBarClosed);

  auto* queue = Group(QStringLiteral(" Upload queue "));
  auto* queueLayout = new QVBoxLayout(queue);
  cmp_grid_upload_queue = new QTableWidget(0, 5);
  cmp_grid_upload_queue->setObjectName(QStringLiteral("cmp_grid_upload_queue"));
  cmp_grid_upload_queue->setHorizontalHeaderLabels({QStringLiteral("Artist"), QStringLiteral("Name"),
      QStringLiteral("Size"), QStringLiteral("hashcheckresponse"), QStringLiteral("Album")});
  cmp_grid_upload_queue->setEditTriggers(QAbstractItemView::NoEditTriggers);
  cmp_grid_upload_queue->setSelectionBehavior(QAbstractItemView::SelectRows);
  cmp_grid_upload_queue->setSelectionMode(QAbstractItemView::SingleSelection);
  cmp_grid_upload_queue->setAlternatingRowColors(true);
  cmp_grid_upload_queue->verticalHeader()->setVisible(false);
  cmp_grid_upload_queue->verticalHeader()->setDefaultSectionSize(22);
  cmp_grid_upload_queue->setColumnWidth(0, 160);
  cmp_grid_upload_queue->setColumnWidth(1, 240);
  cmp_grid_upload_queue->setColumnWidth(2, 140);
  cmp_grid_upload_queue->setColumnHidden(3, true);
  cmp_grid_upload_queue->setColumnHidden(4, true);
  cmp_grid_upload_queue->horizontalHeader()->setStretchLastSection(true);
  cmp_grid_upload_queue->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  queueLayout->addWidget(cmp_grid_upload_queue);
  auto* queueButtons = new QHBoxLayout;
  cmp_btn_abort_upload = Button(QStringLiteral("Stop upload"), "cmp_btn_abort_upload");
  cmp_btn_resume_upload = Button(QStringLiteral("Resume upload"), "cmp_btn_resume_upload");
  cmp_btn_resume_upload->setEnabled(false);
  cmp_btn_clear_upload_queue = Button(QStringLiteral("Clear upload queue"), "cmp_btn_clear_upload_queue");
  cmp_btn_remove_upload_item = Button(QStringLiteral("Remove selected item"), "cmp_btn_remove_upload_item");
  for (QPushButton* b : {cmp_btn_abort_upload, cmp_btn_resume_upload, cmp_btn_clear_upload_queue, cmp_btn_remove_upload_item}) {
    b->setMinimumWidth(120);
  }
  queueButtons->addWidget(cmp_btn_abort_upload);
  queueButtons->addWidget(cmp_btn_resume_upload);
  queueButtons->addStretch(1);
  queueButtons->addWidget(cmp_btn_clear_upload_queue);
  queueButtons->addWidget(cmp_btn_remove_upload_item);
  queueLayout->addLayout(queueButtons);
  layout->addWidget(queue, 1);

  auto* status = Group(QStringLiteral(" Status "));
  auto* statusLayout = new QGridLayout(status);
  statusLayout->setHorizontalSpacing(12);
  statusLayout->setVerticalSpacing(8);
  statusLayout->setColumnMinimumWidth(0, 120);
  statusLayout->addWidget(Label(QStringLiteral("Items to upload:")), 0, 0);
  cmp_lbl_items_to_upload = BoldLabel(QStringLiteral("0"), "cmp_lbl_items_to_upload");
  statusLayout->addWidget(cmp_lbl_items_to_upload, 0, 1);
  cmp_lbl_duration = Label(QStringLiteral("0"), "cmp_lbl_duration");
  cmp_lbl_duration->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  cmp_lbl_duration->setToolTip(QStringLiteral("Seconds since the upload started"));
  statusLayout->addWidget(cmp_lbl_duration, 0, 2);
  statusLayout->addWidget(Label(QStringLiteral("Global progress:")), 1, 0);
  cmp_pg_global = Bar("cmp_pg_global");
  cmp_pg_global->setRange(0, 1);
  statusLayout->addWidget(cmp_pg_global, 1, 1, 1, 2);
  statusLayout->addWidget(Label(QStringLiteral("File progress:")), 2, 0);
  cmp_progress_file = Bar("cmp_progress_file");
  statusLayout->addWidget(cmp_progress_file, 2, 1, 1, 2);
  statusLayout->addWidget(Label(QStringLiteral("Last uploaded file:")), 3, 0);
  cmp_lbl_last_uploaded_file = Label(QString(), "cmp_lbl_last_uploaded_file");
  cmp_lbl_last_uploaded_file->setMinimumWidth(200);
  statusLayout->addWidget(cmp_lbl_last_uploaded_file, 3, 1, 1, 2);
  statusLayout->setColumnStretch(1, 1);
  layout->addWidget(status);

  connect(cmp_btn_abort_upload, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_abort_uploadClick);
  connect(cmp_btn_resume_upload, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_resume_uploadClick);
  connect(cmp_btn_clear_upload_queue, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_clear_upload_queueClick);
  connect(cmp_btn_remove_upload_item, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_remove_upload_itemClick);
  return page;
}

QWidget* Tfrmmain::buildRestoreTab() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("cmp_ts_restore"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(8);

  auto* top = new QHBoxLayout;
  top->addWidget(BoldLabel(QStringLiteral("Start here:")));
  btn_restore_analyze = Button(QStringLiteral("Load information about your library"), "btn_restore_analyze", true);
  top->addWidget(btn_restore_analyze);
  top->addStretch(1);
  layout->addLayout(top);

  auto* source = Group(QStringLiteral(" Select data to restore"), "cmp_gb_source");
  auto* sourceLayout = new QVBoxLayout(source);
  auto* radios = new QHBoxLayout;
  cmp_btn_restore_area_all = new QRadioButton(QStringLiteral("Restore the whole media library"));
  cmp_btn_restore_area_all->setObjectName(QStringLiteral("cmp_btn_restore_area_all"));
  cmp_btn_restore_area_2 = new QRadioButton(QStringLiteral("Select playlists to restore"));
  cmp_btn_restore_area_2->setObjectName(QStringLiteral("cmp_btn_restore_area_2"));
  cmp_btn_restore_area_2->setChecked(true);
  radios->addWidget(cmp_btn_restore_area_all);
  radios->addSpacing(24);
  radios->addWidget(cmp_btn_restore_area_2);
  radios->addStretch(1);
  sourceLayout->addLayout(radios);
  cmp_lb_restore_plists = CheckList("cmp_lb_restore_plists",
      {QStringLiteral("Name"), QStringLiteral("entrykey"), QStringLiteral("Items")}, {-1, 0, 90});
  sourceLayout->addWidget(cmp_lb_restore_plists);
  layout->addWidget(source, 1);

  auto* target = Group(QStringLiteral("Target path for files"));
  auto* targetLayout = new QHBoxLayout(target);
  targetLayout->setSpacing(4);
  edit_restore_path = new QLineEdit;
  edit_restore_path->setObjectName(QStringLiteral("edit_restore_path"));
  edit_restore_path->setPlaceholderText(QStringLiteral("Folder for the restored files"));
  edit_restore_path->setAcceptDrops(false);
  auto* browse = new QToolButton;
  browse->setObjectName(QStringLiteral("cmp_btn_restore_browse"));
  browse->setText(QStringLiteral("..."));
  browse->setToolTip(QStringLiteral("Choose the folder"));
  targetLayout->addWidget(edit_restore_path, 1);
  targetLayout->addWidget(browse);
  layout->addWidget(target);

  auto* operation = Group(QStringLiteral("Operation && Progress"));
  auto* opLayout = new QGridLayout(operation);
  opLayout->setHorizontalSpacing(10);
  opLayout->setVerticalSpacing(6);
  auto* opButtons = new QHBoxLayout;
  opButtons->setSpacing(6);
  cmp_btn_restore = Button(QStringLiteral("Restore now"), "cmp_btn_restore", true);
  cmp_btn_restore->setMinimumWidth(130);
  opButtons->addWidget(cmp_btn_restore);
  opButtons->addSpacing(16);
  opButtons->addWidget(Label(QStringLiteral("Items found:")));
  cmp_lbl_dl_items_found = BoldLabel(QStringLiteral("0"), "cmp_lbl_dl_items_found");
  opButtons->addWidget(cmp_lbl_dl_items_found);
  opButtons->addStretch(1);
  cmp_btn_cancel_downloads = Button(QStringLiteral("Cancel Downloads"), "cmp_btn_cancel_downloads");
  cmp_btn_cancel_downloads->setMinimumWidth(130);
  opButtons->addWidget(cmp_btn_cancel_downloads);
  opLayout->addLayout(opButtons, 0, 0, 1, 2);
  opLayout->addWidget(Label(QStringLiteral("Current file: ")), 1, 0);
  cmp_pb_dl = Bar("cmp_pb_dl");
  opLayout->addWidget(cmp_pb_dl, 1, 1);
  lbl_current_dl_file = Label(QString(), "lbl_current_dl_file");
  lbl_current_dl_file->setStyleSheet(QStringLiteral("color: #555;"));
  opLayout->addWidget(lbl_current_dl_file, 2, 1);
  opLayout->addWidget(Label(QStringLiteral("Total progress: ")), 3, 0);
  cmp_pb_dl_total = Bar("cmp_pb_dl_total");
  opLayout->addWidget(cmp_pb_dl_total, 3, 1);
  Memo1 = new QPlainTextEdit;
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setMaximumBlockCount(100000);
  Memo1->setFixedHeight(110);
  opLayout->addWidget(Memo1, 4, 0, 1, 2);
  opLayout->setColumnStretch(1, 1);
  layout->addWidget(operation);

  connect(btn_restore_analyze, &QPushButton::clicked, this, &Tfrmmain::btn_restore_analyzeClick);
  connect(cmp_btn_restore, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_restoreClick);
  connect(cmp_btn_cancel_downloads, &QPushButton::clicked, this, &Tfrmmain::cmp_btn_cancel_downloadsClick);
  connect(browse, &QToolButton::clicked, this, &Tfrmmain::cmp_btn_restore_browseClick);
  connect(cmp_lb_restore_plists, &QTreeWidget::itemChanged, this, &Tfrmmain::restorePlaylistChecked);
  connect(cmp_btn_restore_area_all, &QRadioButton::toggled, this,
          [this](bool whole) { engine_->SetRestoreWholeLibrary(whole); });
  connect(edit_restore_path, &QLineEdit::textEdited, this,
          [this](const QString& text) { engine_->SetRestoreTarget(S(text)); });
  return page;
}

void Tfrmmain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (firstShowMarker_ == 0) {
    // Run once the window is on screen, so the login's status lines are seen.
    QTimer::singleShot(0, this, &Tfrmmain::FormShow);
  }
}

void Tfrmmain::showUploader() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void Tfrmmain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Minimised, the window leaves the taskbar; the tray icon is the way back. Without a tray
  // there would be no way back, so it then stays an ordinary minimised window.
  if (event->type() == QEvent::WindowStateChange && isMinimized() &&
      QSystemTrayIcon::isSystemTrayAvailable()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

bool Tfrmmain::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
    return QMainWindow::eventFilter(watched, event);
  }
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return QMainWindow::eventFilter(watched, event);
  auto* drop = static_cast<QDropEvent*>(event);
  const QMimeData* mime = drop->mimeData();
  if (!mime || !mime->hasUrls()) return QMainWindow::eventFilter(watched, event);
  QStringList paths;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) paths << QFileInfo(url.toLocalFile()).absoluteFilePath();
  }
  if (paths.isEmpty()) return QMainWindow::eventFilter(watched, event);
  drop->setDropAction(Qt::CopyAction);
  drop->accept();
  if (type == QEvent::Drop) {
    // Handled after the drag-and-drop machinery has returned, so a long folder search or a
    // message box does not run inside the platform's drop callback.
    QTimer::singleShot(0, this, [this, paths] { JvDragDrop1Drop(paths); });
  }
  return true;
}

void Tfrmmain::closeEvent(QCloseEvent* event) {
  if (busy()) {
    // An engine operation is still on the stack, pumping events: stop it and close once it
    // has returned, never underneath it.
    closePending_ = true;
    event->ignore();
    hide();
    requestEngineStop();
    return;
  }
  event->accept();
  putAway();
  if (statusWindow_) statusWindow_->hide();
  emit closed();
}

void Tfrmmain::finishPendingClose() {
  closePending_ = false;
  QTimer::singleShot(0, this, [this] { close(); });
}

void Tfrmmain::putAway() {
  if (putAway_) return;
  putAway_ = true;
  cmp_tmr_Start_upload->stop();
  cmp_tmr_count->stop();
  if (tray_) tray_->hide();
  // FormDestroy: clean the work folder, save the settings, drop the tag readers.
  try {
    engine_->Shutdown();
  } catch (const std::exception& error) {
    presenter_.showErrorDisplay(nullptr, Q(error.what()));
  }
}

void Tfrmmain::showCentralError(std::exception_ptr error) {
  QString text;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    text = Q(e.what());
  } catch (...) {
    text = QStringLiteral("An unknown error occurred.");
  }
  presenter_.showErrorDisplay(QApplication::activeWindow() ? QApplication::activeWindow() : this, text);
}

} // namespace velmora::gui
