// The main window's handlers: each passes what the user set to the engine inside guarded(), and
// the views repaint what the engine holds when it says a part has changed.

#include "gui/Tfrmmain.h"

#include "app/Login.h"
#include "app/WebPages.h"
#include "gui/Presenter.h"
#include "gui/Tfrmabout.h"
#include "gui/Tfrmlogin.h"
#include "gui/Tfrmupload_status.h"
#include "restore/Restore.h"
#include "restore/ServicePlaylists.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>

#include <climits>

namespace velmora::gui {

namespace {

void SetBar(QProgressBar* bar, std::int64_t position, std::int64_t maximum) {
  if (!bar) return;
  if (maximum <= 0) {
    bar->setRange(0, 1);
    bar->setValue(0);
    return;
  }
  // Byte counts outgrow a bar's int range; scale both ends alike.
  int shift = 0;
  while ((maximum >> shift) > INT_MAX / 2) ++shift;
  const auto max = static_cast<int>(maximum >> shift);
  const auto pos = static_cast<int>(std::clamp<std::int64_t>(position, 0, maximum) >> shift);
  if (bar->maximum() != max || bar->minimum() != 0) bar->setRange(0, max);
  bar->setValue(pos);
}

QTreeWidgetItem* CheckedRow(const QStringList& columns, bool checked) {
  auto* item = new QTreeWidgetItem(columns);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
  return item;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Start-up and shell

void Tfrmmain::FormShow() {
  if (firstShowMarker_ != 0) return;
  firstShowMarker_ = 1;
  cmp_pc_main->setCurrentIndex(0);
  guarded([&] {
    if (!engine_->UserName.empty() || !engine_->Password.empty()) {
      performLogin(*engine_);
      return;
    }
    Tfrmlogin dialog(presenter_, this);
    if (presenter_.execDialog(dialog) != QDialog::Accepted) return;
    engine_->UserName = S(dialog.userName());
    engine_->Password = S(dialog.password());
    performLogin(*engine_);
  });
}

void Tfrmmain::GoToWebHostClick() { presenter_.openUrl(QUrl(Q(WebPageUrl(WebPage::Root)))); }

void Tfrmmain::LogoutUserClick() {
  if (guarded([&] { Logout(*engine_); })) close();
}

void Tfrmmain::CloseClick() { close(); }

void Tfrmmain::AboutClick() {
  if (about_) presenter_.execDialog(*about_);
}

void Tfrmmain::requestEngineStop() {}

// ---------------------------------------------------------------------------------------------
// iTunes tab

void Tfrmmain::cmp_btn_do_analyze_itunes_libClick() {}

void Tfrmmain::cmp_rg_itunes_upload_whole_libClick() {
  // Only the chosen playlists need the list; the whole library ignores it.
  cmp_lv_itunes_playlists->setEnabled(cmp_rb_itunes_upload_playlists_only->isChecked());
}

void Tfrmmain::cmp_btn_start_uploadClick() {}

// ---------------------------------------------------------------------------------------------
// Drag & Drop tab

void Tfrmmain::JvDragDrop1Drop(const QStringList&) {}

void Tfrmmain::Button4Click() {}

void Tfrmmain::Button3Click() {}

// ---------------------------------------------------------------------------------------------
// Winamp tab

void Tfrmmain::cmp_btn_winamp_browseClick() {
  const QString file = presenter_.chooseFile(this, QStringLiteral("Winamp Playlists XML File"),
      cmp_winamp_plist_location->text(), QStringLiteral("Winamp playlists (playlists.xml *.xml);;All files (*)"));
  if (file.isEmpty()) return;
  cmp_winamp_plist_location->setText(file);
  engine_->winampLocationBox = S(file);
}

void Tfrmmain::cmp_btn_analyze_winamp_dataClick() {}

void Tfrmmain::cmp_btn_build_winamp_dbClick() {}

// ---------------------------------------------------------------------------------------------
// Status tab and the upload run

void Tfrmmain::cmp_btn_abort_uploadClick() {}

void Tfrmmain::cmp_btn_resume_uploadClick() {}

void Tfrmmain::cmp_btn_clear_upload_queueClick() {}

void Tfrmmain::cmp_btn_remove_upload_itemClick() {}

void Tfrmmain::cmp_tmr_Start_uploadTimer() {}

void Tfrmmain::cmp_tmr_countTimer() {}

void Tfrmmain::statusTick() {}

void Tfrmmain::openInvitation() {}

void Tfrmmain::sendInvitation(const QString&) {}

void Tfrmmain::setPlayCurrentTrack(bool) {}

void Tfrmmain::uploadStatusWindowClosed() { showUploader(); }

void Tfrmmain::syncTimers() {}

// ---------------------------------------------------------------------------------------------
// Restore tab

void Tfrmmain::btn_restore_analyzeClick() {
  guarded([&] { LoadLibraryInformation(*engine_); });
}

void Tfrmmain::cmp_btn_restoreClick() {
  guarded([&] {
    engine_->restorePathBox = S(edit_restore_path->text());
    engine_->Restore.wholeLibrary = cmp_btn_restore_area_all->isChecked();
    RestoreNow(*engine_);
  });
}

void Tfrmmain::cmp_btn_cancel_downloadsClick() {
  guarded([&] { CancelDownloads(*engine_); });
}

void Tfrmmain::restorePlaylistChecked(QTreeWidgetItem* item) {
  const int row = cmp_lb_restore_plists->indexOfTopLevelItem(item);
  if (row >= 0 && static_cast<std::size_t>(row) < engine_->RestorePlaylists.size()) {
    engine_->RestorePlaylists[static_cast<std::size_t>(row)].checked = item->checkState(0) == Qt::Checked;
  }
}

void Tfrmmain::cmp_btn_restore_browseClick() {
  const QString folder = presenter_.chooseFolder(this, QStringLiteral("Target path for files"),
                                                 edit_restore_path->text());
  if (folder.isEmpty()) return;
  edit_restore_path->setText(folder);
  engine_->restorePathBox = S(folder);
}

// ---------------------------------------------------------------------------------------------
// Views

void Tfrmmain::setProgress(ProgressBar bar, std::int64_t position, std::int64_t maximum) {
  switch (bar) {
  case ProgressBar::File:
    SetBar(cmp_progress_file, position, maximum);
    if (statusWindow_) SetBar(statusWindow_->fileBar(), position, maximum);
    break;
  case ProgressBar::QueueGlobal: SetBar(cmp_pg_global, position, maximum); break;
  case ProgressBar::StatusGlobal:
    if (statusWindow_) SetBar(statusWindow_->globalBar(), position, maximum);
    break;
  case ProgressBar::ITunesAnalyze: SetBar(cmp_bar_itunes_analyze, position, maximum); break;
  case ProgressBar::DownloadFile: SetBar(cmp_pb_dl, position, maximum); break;
  case ProgressBar::DownloadTotal: SetBar(cmp_pb_dl_total, position, maximum); break;
  }
}

void Tfrmmain::refreshView(View view) {
  switch (view) {
  case View::Caption: refreshCaption(); break;
  case View::DeepAnalysis:
    cmp_lbl_Deep_analysis->setVisible(engine_->fingerprinter().DeepAnalysisVisible());
    cmp_lbl_Deep_analysis->repaint();
    break;
  case View::RestorePlaylists: refreshRestorePlaylists(); break;
  case View::DroppedFiles: refreshDroppedFiles(); break;
  case View::ITunesPlaylists: refreshITunesPlaylists(); break;
  case View::WinampPlaylists: refreshWinampPlaylists(); break;
  case View::UploadQueue: refreshUploadQueue(); break;
  case View::UploadStatus:
  case View::UploadWindows: refreshUploadWindows(); break;
  case View::RestoreLog: refreshRestoreLog(); break;
  case View::Settings: refreshSettings(); break;
  }
}

void Tfrmmain::refreshCaption() { setWindowTitle(Q(engine_->Caption())); }

void Tfrmmain::refreshSettings() {
  cmp_winamp_plist_location->setText(Q(engine_->winampLocationBox));
  edit_restore_path->setText(Q(engine_->restorePathBox));
}

void Tfrmmain::refreshRestorePlaylists() {
  QSignalBlocker block(cmp_lb_restore_plists);
  cmp_lb_restore_plists->clear();
  for (const ServicePlaylistRow& row : engine_->RestorePlaylists) {
    cmp_lb_restore_plists->addTopLevelItem(
        CheckedRow({Q(row.caption), Q(row.entryKey), Q(row.items)}, row.checked));
  }
  // The box keeps what the user typed; only its drop-down list is the service's.
  const QString typed = cmp_manually_add_to_plist->currentText();
  cmp_manually_add_to_plist->clear();
  for (const std::string& name : engine_->DropPlaylistNames) cmp_manually_add_to_plist->addItem(Q(name));
  cmp_manually_add_to_plist->setCurrentIndex(-1);
  cmp_manually_add_to_plist->setEditText(typed);
}

void Tfrmmain::refreshDroppedFiles() {}

void Tfrmmain::refreshITunesPlaylists() {}

void Tfrmmain::refreshWinampPlaylists() {}

void Tfrmmain::refreshUploadQueue() {}

void Tfrmmain::refreshUploadWindows() {}

void Tfrmmain::refreshRestoreLog() {
  const RestoreState& state = engine_->Restore;
  btn_restore_analyze->setEnabled(state.analyzeEnabled);
  cmp_lbl_dl_items_found->setText(Q(state.itemsFoundCaption));
  lbl_current_dl_file->setText(Q(state.currentFile));
  SetBar(cmp_pb_dl_total, state.totalPosition, state.totalMaximum);
  // The log only grows during a run; append what is new instead of repainting it all.
  if (state.log.size() < memoLinesShown_) {
    Memo1->clear();
    memoLinesShown_ = 0;
  }
  for (; memoLinesShown_ < state.log.size(); ++memoLinesShown_) {
    Memo1->appendPlainText(Q(state.log[memoLinesShown_]));
  }
  // The "Items" column is filled in as each playlist is listed.
  const auto& rows = engine_->RestorePlaylists;
  QSignalBlocker block(cmp_lb_restore_plists);
  for (int i = 0; i < cmp_lb_restore_plists->topLevelItemCount() && static_cast<std::size_t>(i) < rows.size(); ++i) {
    cmp_lb_restore_plists->topLevelItem(i)->setText(2, Q(rows[static_cast<std::size_t>(i)].items));
  }
}

} // namespace velmora::gui
