#pragma once
// The main window: five tabs, the status panel, menus, tray icon and the timers of an upload run.
// It owns the engine and paints the engine's state whenever the engine says a part changed;
// every handler passes what the user set to the engine and shows whatever it throws.

#include "app/Engine.h"
#include "base/Ui.h"

#include <QMainWindow>
#include <QPointer>

#include <exception>
#include <memory>
#include <string>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTabWidget;
class QTableWidget;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace velmora::gui {

class Presenter;
class Tfrmabout;
class Tfrmupload_status;
class WindowUi;

class Tfrmmain : public QMainWindow {
  Q_OBJECT
public:
  // Builds the window and runs the engine's start-up (work folder, databases, settings).
  Tfrmmain(Presenter& presenter, EngineOptions options, QWidget* parent = nullptr);
  ~Tfrmmain() override;

  Engine& engine() { return *engine_; }
  Presenter& presenter() { return presenter_; }
  Ui& ui();
  void setAboutBox(Tfrmabout* about) { about_ = about; }
  void setUploadStatusWindow(Tfrmupload_status* window);
  Tfrmupload_status* uploadStatusWindow() const { return statusWindow_; }

  // The status panel; only the engine's ShowStatus writes it.
  void setStatusPanelText(const QString& text);
  QString statusPanelText() const;

  void refreshView(View view);
  void setProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum);

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

public slots:
  // Tray icon: "Show uploader" and double-click.
  void showUploader();

signals:
  // The window was closed and the engine put away: the program ends.
  void closed();

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
  void FormShow();
  // iTunes tab
  void cmp_btn_do_analyze_itunes_libClick();
  void cmp_rg_itunes_upload_whole_libClick();
  void cmp_btn_start_uploadClick();
  // Drag & Drop tab
  void Button4Click();
  void Button3Click();
  // Winamp tab
  void cmp_btn_analyze_winamp_dataClick();
  void cmp_btn_build_winamp_dbClick();
  void cmp_btn_winamp_browseClick();
  // Status tab
  void cmp_btn_abort_uploadClick();
  void cmp_btn_resume_uploadClick();
  void cmp_btn_clear_upload_queueClick();
  void cmp_btn_remove_upload_itemClick();
  void cmp_tmr_Start_uploadTimer();
  void cmp_tmr_countTimer();
  // Restore tab
  void btn_restore_analyzeClick();
  void cmp_btn_restoreClick();
  void cmp_btn_cancel_downloadsClick();
  void cmp_btn_restore_browseClick();
  void restorePlaylistChecked(QTreeWidgetItem* item);
  void itunesPlaylistChecked(QTreeWidgetItem* item);
  void winampPlaylistChecked(QTreeWidgetItem* item);
  void uploadDoneBarClosed();
  void switchToServiceSite();
  // Menus and links
  void GoToWebHostClick();
  void LogoutUserClick();
  void CloseClick();
  void AboutClick();

private:
  void buildMenus();
  void buildTray();
  QWidget* buildITunesTab();
  QWidget* buildDropTab();
  QWidget* buildWinampTab();
  QWidget* buildStatusTab();
  QWidget* buildRestoreTab();

  // A drop anywhere on the window: the full paths of every dropped file and folder.
  void JvDragDrop1Drop(const QStringList& paths);
  void finishPendingClose();
  // Asks a running upload or restore to stop after the current file.
  void requestEngineStop();
  void putAway();
  void syncTimers();

  void refreshCaption();
  void refreshSettings();
  void refreshRestorePlaylists();
  void syncRestoreList();
  void refreshDroppedFiles();
  void refreshITunesPlaylists();
  void refreshWinampPlaylists();
  void refreshUploadQueue();
  void refreshUploadWindows();
  void refreshRestoreLog();

  Presenter& presenter_;
  std::unique_ptr<WindowUi> ui_;
  std::unique_ptr<Engine> engine_;
  Tfrmabout* about_ = nullptr;
  Tfrmupload_status* statusWindow_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;

  int busyDepth_ = 0;
  bool closePending_ = false;
  bool putAway_ = false;
  int firstShowMarker_ = 0; // the form's tag: 1 once the first show has run
  // What the engine last asked of the two windows during an upload run.
  bool shownMainWindow_ = true;
  bool shownStatusWindow_ = false;

  // Window-wide parts
  QTabWidget* cmp_pc_main = nullptr;
  QLabel* cmp_pnl_status = nullptr;
  QLabel* cmp_lbl_Deep_analysis = nullptr;
  QTimer* cmp_tmr_Start_upload = nullptr;
  QTimer* cmp_tmr_count = nullptr;

  // iTunes tab
  QPushButton* cmp_btn_do_analyze_itunes_lib = nullptr;
  QLabel* cmp_lbl_itunes_analyze_items_found = nullptr;
  QRadioButton* cmp_rb_itunes_upload_playlists_only = nullptr;
  QRadioButton* cmp_rg_itunes_upload_whole_lib = nullptr;
  QTreeWidget* cmp_lv_itunes_playlists = nullptr;
  QPushButton* cmp_btn_start_upload = nullptr;
  QProgressBar* cmp_bar_itunes_analyze = nullptr;
  QLabel* cmp_lbl_itunes_items_analyzed = nullptr;

  // Drag & Drop tab
  QComboBox* cmp_manually_add_to_plist = nullptr;
  QTreeWidget* cmp_lv_manual_select = nullptr;

  // Winamp tab
  QLineEdit* cmp_winamp_plist_location = nullptr;
  QLabel* cmp_lbl_media_items_winamp_found = nullptr;
  QTreeWidget* cmp_lv_winamp_playlists = nullptr;

  // Status tab
  QFrame* cmp_pnl_upload_done = nullptr;
  QTableWidget* cmp_grid_upload_queue = nullptr;
  QPushButton* cmp_btn_abort_upload = nullptr;
  QPushButton* cmp_btn_resume_upload = nullptr;
  QPushButton* cmp_btn_clear_upload_queue = nullptr;
  QPushButton* cmp_btn_remove_upload_item = nullptr;
  QLabel* cmp_lbl_items_to_upload = nullptr;
  QProgressBar* cmp_pg_global = nullptr;
  QProgressBar* cmp_progress_file = nullptr;
  QLabel* cmp_lbl_last_uploaded_file = nullptr;
  QLabel* cmp_lbl_duration = nullptr;

  // Restore tab
  QPushButton* btn_restore_analyze = nullptr;
  QRadioButton* cmp_btn_restore_area_all = nullptr;
  QRadioButton* cmp_btn_restore_area_2 = nullptr;
  QTreeWidget* cmp_lb_restore_plists = nullptr;
  QLineEdit* edit_restore_path = nullptr;
  QPushButton* cmp_btn_restore = nullptr;
  QLabel* cmp_lbl_dl_items_found = nullptr;
  QPushButton* cmp_btn_cancel_downloads = nullptr;
  QProgressBar* cmp_pb_dl = nullptr;
  QLabel* lbl_current_dl_file = nullptr;
  QProgressBar* cmp_pb_dl_total = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  std::size_t memoLinesShown_ = 0;
};

// Text for the window from the engine's UTF-8 text, and back.
QString Q(const std::string& text);
std::string S(const QString& text);

} // namespace velmora::gui
