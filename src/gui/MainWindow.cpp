// The main window: its tabs, tray icon, status panel and timers, the start-up and shutdown
// order around the engine, the login at first show, and the upload run's windows.

#include "gui/MainWindow.h"

#include "gui/DropPage.h"
#include "gui/ITunesPage.h"
#include "gui/LoginDialog.h"
#include "gui/Presenter.h"
#include "gui/RestorePage.h"
#include "gui/UiBridge.h"
#include "gui/UploadQueuePage.h"
#include "gui/UploadStatusWindow.h"
#include "gui/WatchDriver.h"
#include "gui/Widgets.h"
#include "gui/WinampPage.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace velmora::gui {

namespace {

// Client size that, with a usual title bar and frame, makes the window 696 x 742 on screen.
constexpr int kClientWidth = 680;
constexpr int kClientHeight = 704;
constexpr int kStatusTab = 3;

} // namespace

MainWindow::MainWindow(Presenter& presenter, EngineOptions options, QWidget* parent)
    : QMainWindow(parent), presenter_(presenter) {
  setObjectName(QStringLiteral("frmmain"));
  setWindowTitle(QStringLiteral("Velmora Uploader"));
  setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora-uploader.svg")));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setAcceptDrops(true);

  bridge_ = std::make_unique<UiBridge>(*this, presenter_);
  engine_ = std::make_unique<Engine>(*bridge_, std::move(options));

  buildMenus();

  auto* central = new QWidget;
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(6);
  auto* layout = new QVBoxLayout;
  layout->setContentsMargins(6, 6, 6, 0);
  outer->addLayout(layout, 1);

  const PageContext context{*engine_, *bridge_, presenter_,
                            [this](const std::function<void()>& call) { return guarded(call); }};
  tabs_ = new QTabWidget;
  tabs_->setObjectName(QStringLiteral("cmp_pc_main"));
  tabs_->setDocumentMode(false);
  tabs_->addTab(new ITunesPage(context), QStringLiteral("iTunes"));
  dropPage_ = new DropPage(context);
  tabs_->addTab(dropPage_, QStringLiteral("Drag && Drop (Filesystem)"));
  tabs_->addTab(new WinampPage(context), QStringLiteral("Winamp"));
  tabs_->addTab(new UploadQueuePage(context), QStringLiteral("Status"));
  tabs_->addTab(new RestorePage(context), QStringLiteral("Restore"));

  // The badge sits at the top right, beside the tabs, while a file is read for its hash id.
  deepAnalysisBadge_ = new QLabel(QStringLiteral("Deep analysis"));
  deepAnalysisBadge_->setObjectName(QStringLiteral("cmp_lbl_Deep_analysis"));
  deepAnalysisBadge_->setAlignment(Qt::AlignCenter);
  deepAnalysisBadge_->setContentsMargins(10, 2, 10, 2);
  deepAnalysisBadge_->setStyleSheet(
      QStringLiteral("QLabel#cmp_lbl_Deep_analysis { background-color: #fe9e0e; color: white; font-weight: bold;"
                     " border-radius: 3px; }"));
  auto* corner = new QWidget;
  auto* cornerLayout = new QHBoxLayout(corner);
  cornerLayout->setContentsMargins(0, 2, 2, 4);
  cornerLayout->addWidget(deepAnalysisBadge_);
  tabs_->setCornerWidget(corner, Qt::TopRightCorner);
  deepAnalysisBadge_->hide();
  layout->addWidget(tabs_, 1);

  buildStatusPanel(central);
  outer->addWidget(statusPanel_);
  setCentralWidget(central);

  startUploadTimer_ = new QTimer(this);
  startUploadTimer_->setObjectName(QStringLiteral("cmp_tmr_Start_upload"));
  startUploadTimer_->setInterval(100);
  startUploadTimer_->setSingleShot(true);
  connect(startUploadTimer_, &QTimer::timeout, this, &MainWindow::onStartUploadTimer);
  durationTimer_ = new QTimer(this);
  durationTimer_->setObjectName(QStringLiteral("cmp_tmr_count"));
  durationTimer_->setInterval(1000);
  connect(durationTimer_, &QTimer::timeout, this, &MainWindow::onDurationTimer);

  watchDriver_ = new WatchDriver(
      *engine_, [this](const std::function<void()>& call) { return guarded(call); }, this);

  buildTray();
  connectBridge();

  // Drops land on whichever child is under the pointer; the filter hands them to the window.
  qApp->installEventFilter(this);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  // Clean the work folder, open the databases and tag readers, load the settings, greet.
  guarded([&] { engine_->Startup(); });
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  putAway();
}

Ui& MainWindow::ui() { return *bridge_; }

QString MainWindow::statusPanelText() const { return statusPanel_->text(); }

void MainWindow::buildStatusPanel(QWidget* central) {
  statusPanel_ = new QLabel(central);
  statusPanel_->setObjectName(QStringLiteral("cmp_pnl_status"));
  statusPanel_->setTextFormat(Qt::PlainText);
  statusPanel_->setFixedHeight(30);
  statusPanel_->setFrameShape(QFrame::Panel);
  statusPanel_->setFrameShadow(QFrame::Sunken);
  statusPanel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  statusPanel_->setStyleSheet(
      QStringLiteral("QLabel#cmp_pnl_status { background-color: #3b4048; color: #c0c0c0; font-weight: bold;"
                     " border-top: 1px solid #23262b; padding-left: 2px; }"));
}

void MainWindow::buildTray() {
  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setObjectName(QStringLiteral("cmp_tray"));
  tray_->setToolTip(QStringLiteral("Velmora Uploader"));
  auto* menu = new QMenu(this);
  QAction* show = menu->addAction(QStringLiteral("Show uploader"));
  show->setObjectName(QStringLiteral("cmp_mi_show_uploader"));
  connect(show, &QAction::triggered, this, &MainWindow::showUploader);
  tray_->setContextMenu(menu);
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) showUploader();
  });
  connect(tray_, &QSystemTrayIcon::messageClicked, this, &MainWindow::showUploader);
  tray_->show();
}

// The tabs connected themselves when they were built; these are the window's own parts.
void MainWindow::connectBridge() {
  UiBridge* bridge = bridge_.get();
  connect(bridge, &UiBridge::statusTextChanged, this, &MainWindow::setStatusPanelText);
  connect(bridge, &UiBridge::progressChanged, this, &MainWindow::onProgressChanged);
  connect(bridge, &UiBridge::captionChanged, this, &MainWindow::refreshCaption);
  connect(bridge, &UiBridge::deepAnalysisChanged, this, &MainWindow::refreshDeepAnalysis);
  connect(bridge, &UiBridge::uploadStatusChanged, this, &MainWindow::refreshUploadStatusWindow);
  connect(bridge, &UiBridge::uploadWindowsChanged, this, &MainWindow::refreshUploadWindows);
  connect(bridge, &UiBridge::runEnded, this, &MainWindow::onRunEnded);
}

// ---------------------------------------------------------------------------------------------
// Shell: first show, tray, drops, closing

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!firstShowDone_) {
    // Run once the window is on screen, so the login's status lines are seen.
    QTimer::singleShot(0, this, &MainWindow::onFirstShow);
  }
}

void MainWindow::onFirstShow() {
  if (firstShowDone_) return;
  firstShowDone_ = true;
  tabs_->setCurrentIndex(0);
  guarded([&] {
    // A user name alone (a locked keyring left closed) asks for the password instead of sending
    // an empty one.
    if (engine_->HasStoredPassword()) {
      engine_->Login();
      return;
    }
    LoginDialog dialog(presenter_, this);
    if (presenter_.execDialog(dialog) != QDialog::Accepted) return;
    passCredentials(dialog.userName(), dialog.password());
    engine_->Login();
  });
  // Uploads need the account: the watch starts with the login.
  if (engine_->IsLoggedIn()) watchDriver_->restart();
}

void MainWindow::passCredentials(const QString& userName, const QString& password) {
  engine_->SetCredentials(S(userName), S(password));
}

void MainWindow::startInTray() {
  // Without a tray nothing would bring the window back: it starts minimised instead.
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    showMinimized();
    return;
  }
  inTray_ = true;
  // The login and the watch start as on the first show.
  QTimer::singleShot(0, this, &MainWindow::onFirstShow);
}

void MainWindow::showUploader() {
  inTray_ = false;
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Minimised, the window leaves the taskbar; the tray icon is the way back. Without a tray
  // there would be no way back, so it then stays an ordinary minimised window.
  if (event->type() == QEvent::WindowStateChange && isMinimized() && QSystemTrayIcon::isSystemTrayAvailable()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
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
    QTimer::singleShot(0, this, [this, paths] { dropPage_->addDroppedPaths(paths); });
  }
  return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
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

void MainWindow::finishPendingClose() {
  closePending_ = false;
  QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::requestEngineStop() {
  guarded([&] { engine_->StopForExit(); });
}

void MainWindow::putAway() {
  if (putAway_) return;
  putAway_ = true;
  startUploadTimer_->stop();
  durationTimer_->stop();
  watchDriver_->stop();
  if (tray_) tray_->hide();
  // Clean the work folder, save the settings, drop the tag readers.
  try {
    engine_->Shutdown();
  } catch (const std::exception& error) {
    presenter_.showErrorDisplay(nullptr, Q(error.what()));
  }
}

void MainWindow::showCentralError(std::exception_ptr error) {
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

// ---------------------------------------------------------------------------------------------
// The upload run: timers and the status window's requests

void MainWindow::onStartUploadTimer() {
  guarded([&] { engine_->OnStartTimer(); });
}

void MainWindow::onDurationTimer() {
  guarded([&] { engine_->OnDurationTimer(); });
}

void MainWindow::statusTick() {
  guarded([&] { engine_->OnStatusTimer(); });
}

void MainWindow::openInvitation() {
  guarded([&] { engine_->ShowInvitation(); });
}

void MainWindow::sendInvitation(const QString& email) {
  guarded([&] { engine_->SendInvitation(S(email)); });
}

void MainWindow::setPlayCurrentTrack(bool play) {
  guarded([&] { engine_->SetPlayCurrentTrack(play); });
}

void MainWindow::uploadStatusWindowClosed() {
  guarded([&] { engine_->CloseStatusWindow(); });
}

// The three timers run exactly when the engine says they are enabled.
void MainWindow::syncTimers() {
  const UploadWindows& w = engine_->upload().windows();
  if (w.startTimerEnabled && !startUploadTimer_->isActive()) startUploadTimer_->start();
  if (!w.startTimerEnabled && startUploadTimer_->isActive()) startUploadTimer_->stop();
  if (w.durationTimerEnabled != durationTimer_->isActive()) {
    if (w.durationTimerEnabled) durationTimer_->start();
    else durationTimer_->stop();
  }
  if (statusWindow_ && w.statusTimerEnabled != statusWindow_->timer()->isActive()) {
    if (w.statusTimerEnabled) statusWindow_->timer()->start();
    else statusWindow_->timer()->stop();
  }
}

// ---------------------------------------------------------------------------------------------
// The window's own views

void MainWindow::setStatusPanelText(const QString& text) {
  statusPanel_->setText(text);
  statusPanel_->repaint();
}

void MainWindow::onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum) {
  if (!statusWindow_) return;
  if (bar == ProgressBar::File) SetBar(statusWindow_->fileBar(), position, maximum);
  if (bar == ProgressBar::StatusGlobal) SetBar(statusWindow_->globalBar(), position, maximum);
}

void MainWindow::refreshCaption() { setWindowTitle(Q(engine_->Caption())); }

void MainWindow::refreshDeepAnalysis() {
  deepAnalysisBadge_->setVisible(engine_->fingerprinter().DeepAnalysisVisible());
  deepAnalysisBadge_->repaint();
}

void MainWindow::refreshUploadStatusWindow() {
  if (statusWindow_) statusWindow_->paintState(engine_->upload().statusWindow());
}

void MainWindow::refreshUploadWindows() {
  // The Status tab shows or hides its "Upload done!" bar itself.
  const UploadWindows& w = engine_->upload().windows();
  syncTimers();
  if (w.statusTabRequested) {
    tabs_->setCurrentIndex(kStatusTab);
    engine_->StatusTabShown();
  }
  // Windows follow the engine's changes of mind, not its state at every signal: a user who
  // minimised the main window or closed the status window in the middle of a run is not
  // overruled by the next progress signal.
  if (statusWindow_ && w.statusWindowVisible != shownStatusWindow_) {
    shownStatusWindow_ = w.statusWindowVisible;
    if (w.statusWindowVisible) {
      statusWindow_->paintState(engine_->upload().statusWindow());
      statusWindow_->show();
      statusWindow_->raise();
    } else {
      statusWindow_->hide();
    }
  }
  if (w.mainWindowVisible != shownMainWindow_) {
    shownMainWindow_ = w.mainWindowVisible;
    // A window that is closing does not come back.
    if (w.mainWindowVisible && !closePending_ && !putAway_ && !inTray_) {
      showUploader();
    } else if (!w.mainWindowVisible) {
      hide();
    }
  }
}

// A run that ends out of the user's sight says so from the tray; a window in view shows it itself.
void MainWindow::onRunEnded() {
  // A watched run that could not reach the service leaves files for the watch to take back now.
  if (engine_->upload().HasHeldBack()) watchDriver_->rearm();
  const RunEndNotice& notice = engine_->upload().runEndNotice();
  // Such a run says nothing itself; the watch tells of the outage once.
  if (notice.title.empty()) return;
  if (!tray_ || closePending_ || putAway_ || (isVisible() && !isMinimized())) return;
  presenter_.showTrayMessage(*tray_, Q(notice.title), Q(notice.text), notice.error);
}

} // namespace velmora::gui
