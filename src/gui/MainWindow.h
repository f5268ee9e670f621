#pragma once
// The main window: the five tabs, the status panel, menus, tray icon and the timers of an upload
// run. It owns the engine and the bridge the engine talks to; each tab paints its own part of the
// engine's state. Every engine call runs through guarded(), which shows whatever it throws.

#include "app/Engine.h"
#include "base/Ui.h"

#include <QMainWindow>

#include <exception>
#include <memory>
#include <string>

class QLabel;
class QTabWidget;
class QSystemTrayIcon;
class QTimer;

namespace velmora::gui {

class AboutDialog;
class DropPage;
class Presenter;
class UiBridge;
class UploadStatusWindow;
class WatchDriver;

class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  // Builds the window and runs the engine's start-up (work folder, databases, settings).
  MainWindow(Presenter& presenter, EngineOptions options, QWidget* parent = nullptr);
  ~MainWindow() override;

  Engine& engine() { return *engine_; }
  Presenter& presenter() { return presenter_; }
  Ui& ui();
  void setAboutBox(AboutDialog* about) { about_ = about; }
  void setUploadStatusWindow(UploadStatusWindow* window) { statusWindow_ = window; }
  UploadStatusWindow* uploadStatusWindow() const { return statusWindow_; }

  // The status panel; only the engine's status text writes it.
  QString statusPanelText() const;

  // Runs an engine call. Whatever it throws goes to the central error display and the program
  // keeps running. Returns whether the call completed.
  template <class F>
  bool guarded(F&& call) {
    ++busyDepth_;
    bool ok = false;
    try {
      call();
      ok = true;
    } catch (...) {
      showCentralError(std::current_exception());
    }
    --busyDepth_;
    if (busyDepth_ == 0 && closePending_) finishPendingClose();
    return ok;
  }
  void showCentralError(std::exception_ptr error);
  // Whether an engine call is under way further down the stack (events pumped from inside it).
  bool busy() const { return busyDepth_ > 0; }

  // What the upload status window passes on.
  void statusTick();
  void openInvitation();
  void sendInvitation(const QString& email);
  void setPlayCurrentTrack(bool play);
  void uploadStatusWindowClosed();

  // `velmora-uploader --tray`: only the tray icon shows; the login and the watched folders start as
  // on the first show, and the window stays hidden until the tray brings it (an upload run's end
  // does not). Without a system tray the window starts minimised instead.
  void startInTray();

public slots:
  // Tray icon: "Show uploader", double-click and a click on its message.
  void showUploader();

signals:
  // The window was closed and the engine put away: the program ends.
  void closed();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void buildMenus();
  void buildTray();
  void buildStatusPanel(QWidget* central);
  void connectBridge();

  // The first time the window is shown: log in with the stored account or ask for one.
  void onFirstShow();
  void onGoToWebsiteTriggered();
  void onLogoutTriggered();
  void onAboutTriggered();
  // File > Preferences: the watched folders are stored when accepted and watched from then on.
  void onPreferencesTriggered();
  void onStartUploadTimer();
  void onDurationTimer();

  void finishPendingClose();
  // Asks a running upload or restore to stop after the current file.
  void requestEngineStop();
  void putAway();
  void syncTimers();

  void setStatusPanelText(const QString& text);
  void onProgressChanged(ProgressBar bar, qint64 position, qint64 maximum);
  void refreshCaption();
  void refreshDeepAnalysis();
  void refreshUploadStatusWindow();
  void refreshUploadWindows();
  void onRunEnded();
  void passCredentials(const QString& userName, const QString& password);

  Presenter& presenter_;
  std::unique_ptr<UiBridge> bridge_;
  std::unique_ptr<Engine> engine_;
  AboutDialog* about_ = nullptr;
  UploadStatusWindow* statusWindow_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;

  int busyDepth_ = 0;
  bool closePending_ = false;
  bool putAway_ = false;
  bool firstShowDone_ = false;
  // Started in the tray and not yet shown: runs do not bring the window up when they end.
  bool inTray_ = false;
  // What the engine last asked of the two windows during an upload run.
  bool shownMainWindow_ = true;
  bool shownStatusWindow_ = false;

  QTabWidget* tabs_ = nullptr;
  DropPage* dropPage_ = nullptr;
  QLabel* statusPanel_ = nullptr;
  QLabel* deepAnalysisBadge_ = nullptr;
  QTimer* startUploadTimer_ = nullptr;
  QTimer* durationTimer_ = nullptr;
  // Follows the watched folders once logged in.
  WatchDriver* watchDriver_ = nullptr;
};

} // namespace velmora::gui
