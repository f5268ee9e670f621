// The main window's menus: File (the service's site, logout, preferences, close) and Help, and
// what their items do.

#include "gui/MainWindow.h"

#include "app/Autostart.h"
#include "gui/AboutDialog.h"
#include "gui/PreferencesDialog.h"
#include "gui/Presenter.h"
#include "gui/WatchDriver.h"
#include "gui/Widgets.h"
#include "service/WebPages.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace velmora::gui {

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* goTo = file->addAction(Q(GoToMenuText(engine_->service().baseUrl())));
  goTo->setObjectName(QStringLiteral("cmp_mi_goto"));
  QFont bold = goTo->font();
  bold.setBold(true);
  goTo->setFont(bold);
  file->setDefaultAction(goTo);
  connect(goTo, &QAction::triggered, this, &MainWindow::onGoToWebsiteTriggered);
  QAction* logout = file->addAction(QStringLiteral("Logout user"));
  logout->setObjectName(QStringLiteral("cmp_mi_logout"));
  connect(logout, &QAction::triggered, this, &MainWindow::onLogoutTriggered);
  QAction* preferences = file->addAction(QStringLiteral("Preferences..."));
  preferences->setObjectName(QStringLiteral("cmp_mi_preferences"));
  connect(preferences, &QAction::triggered, this, &MainWindow::onPreferencesTriggered);
  file->addSeparator();
  QAction* close = file->addAction(QStringLiteral("Close"));
  close->setObjectName(QStringLiteral("cmp_mi_close"));
  connect(close, &QAction::triggered, this, [this] { this->close(); });

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* about = help->addAction(QStringLiteral("&About"));
  about->setObjectName(QStringLiteral("cmp_mi_about"));
  connect(about, &QAction::triggered, this, &MainWindow::onAboutTriggered);
}

void MainWindow::onGoToWebsiteTriggered() { presenter_.openUrl(QUrl(Q(ServiceSiteUrl(engine_->service().baseUrl())))); }

void MainWindow::onLogoutTriggered() {
  bool loggedOut = false;
  if (guarded([&] { loggedOut = engine_->Logout(); }) && loggedOut) close();
}

void MainWindow::onAboutTriggered() {
  if (about_) presenter_.execDialog(*about_);
}

void MainWindow::onPreferencesTriggered() {
  QStringList folders;
  for (const std::string& folder : engine_->watchedFolders()) folders << Q(folder);
  PreferencesDialog dialog(presenter_, folders, engine_->rateLimit(), this);
  dialog.setRetries(engine_->retries());
  const bool autostart = AutostartEnabled();
  dialog.setStartWithSession(autostart);
  dialog.setTransfers(engine_->transfers());
  if (presenter_.execDialog(dialog) != QDialog::Accepted) return;
  if (dialog.startWithSession() != autostart) guarded([&] { SetAutostart(dialog.startWithSession()); });
  std::vector<std::string> chosen;
  for (const QString& folder : dialog.watchedFolders()) chosen.push_back(S(folder));
  const bool foldersChanged = chosen != engine_->watchedFolders();
  const bool rateChanged = dialog.rateLimit() != engine_->rateLimit();
  const bool retriesChanged = dialog.retries() != engine_->retries();
  const bool transfersChanged = dialog.transfers() != engine_->transfers();
  if (!foldersChanged && !rateChanged && !retriesChanged && !transfersChanged) return;
  guarded([&] {
    if (rateChanged) engine_->SetRateLimit(dialog.rateLimit());
    if (retriesChanged) engine_->SetRetries(dialog.retries());
    if (transfersChanged) engine_->SetTransfers(dialog.transfers());
    if (foldersChanged) engine_->SetWatchedFolders(std::move(chosen));
    engine_->SaveSettings();
  });
  if (foldersChanged && engine_->IsLoggedIn()) watchDriver_->restart();
}

} // namespace velmora::gui
