// The main window's handlers: each passes what the user set to the engine inside guarded(), and
// the views repaint what the engine holds when it says a part has changed.

#include "gui/Tfrmmain.h"

#include "service/WebPages.h"
#include "gui/Presenter.h"
#include "gui/Tfrmabout.h"
#include "gui/Tfrmlogin.h"
#include "gui/Tfrmupload_status.h"
#include "restore/Restore.h"
#include "service/ServicePlaylists.h"
#include "sources/DroppedFiles.h"
#include "sources/ITunesSource.h"
#include "sources/WinampSource.h"
#include "upload/UploadPipeline.h"

#include <QComboBox>
#include <QHeaderView>
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

#include <algorithm>
#include <climits>

namespace velmora::gui {

namespace {

constexpr int kStatusTab = 3;

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
  if (bar->value() != pos) bar->setValue(pos);
}

void SetText(QLabel* label, const std::string& text) {
  const QString value = Q(text);
  if (label->text() != value) label->setText(value);
}

struct ListRow {
  QStringList columns;
  bool checked = true;
};

// Brings a check-box list to the engine's rows, touching only what differs, so a repaint in the
// middle of a long analysis keeps the user's scroll position and selection.
void SyncCheckList(QTreeWidget* list, const std::vector<ListRow>& rows) {
  QSignalBlocker block(list);
  if (list->topLevelItemCount() != static_cast<int>(rows.size())) {
    list->clear();
    QList<QTreeWidgetItem*> items;
    for (const ListRow& row : rows) {
      auto* item = new QTreeWidgetItem(row.columns);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
      item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
      items << item;
    }
    list->addTopLevelItems(items);
    return;
  }
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    const ListRow& row = rows[static_cast<std::size_t>(i)];
    for (int c = 0; c < row.columns.size(); ++c) {
      if (item->text(c) != row.columns[c]) item->setText(c, row.columns[c]);
    }
    const Qt::CheckState state = row.checked ? Qt::Checked : Qt::Unchecked;
    if (item->checkState(0) != state) item->setCheckState(0, state);
  }
}

void FillQueueRow(QTableWidget* grid, int row, const UploadQueueRecord& record) {
  auto cell = [&](int column, const std::string& text, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* item = new QTableWidgetItem(Q(text));
    item->setTextAlignment(align);
    grid->setItem(row, column, item);
  };
  cell(0, record.artist);
  cell(1, record.name);
  cell(2, std::to_string(record.size), Qt::AlignRight | Qt::AlignVCenter);
  cell(3, record.hashcheckresponse);
  cell(4, record.album);
  grid->item(row, 0)->setData(Qt::UserRole, QVariant::fromValue<qulonglong>(record.id));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Start-up and shell

void Tfrmmain::FormShow() {
  if (firstShowMarker_ != 0) return;
  firstShowMarker_ = 1;
  cmp_pc_main->setCurrentIndex(0);
  guarded([&] {
    if (!engine_->userName().empty() || !engine_->password().empty()) {
      engine_->Login();
      return;
    }
    Tfrmlogin dialog(presenter_, this);
    if (presenter_.execDialog(dialog) != QDialog::Accepted) return;
    engine_->SetCredentials(S(dialog.userName()), engine_->password());
    engine_->SetCredentials(engine_->userName(), S(dialog.password()));
    engine_->Login();
  });
}

void Tfrmmain::GoToWebHostClick() { presenter_.openUrl(QUrl(Q(WebPageUrl(WebPage::Root)))); }

void Tfrmmain::LogoutUserClick() {
  bool loggedOut = false;
  if (guarded([&] { loggedOut = engine_->Logout(); }) && loggedOut) close();
}

void Tfrmmain::CloseClick() { close(); }

void Tfrmmain::AboutClick() {
  if (about_) presenter_.execDialog(*about_);
}

void Tfrmmain::requestEngineStop() {
  guarded([&] { engine_->StopForExit(); });
}

// ---------------------------------------------------------------------------------------------
// iTunes tab

void Tfrmmain::cmp_btn_do_analyze_itunes_libClick() {
  guarded([&] { engine_->AnalyzeITunesLibraryNow(); });
}

void Tfrmmain::cmp_rg_itunes_upload_whole_libClick() {
  guarded([&] { engine_->SetITunesScope(cmp_rb_itunes_upload_playlists_only->isChecked()); });
}

void Tfrmmain::cmp_btn_start_uploadClick() {
  guarded([&] { engine_->StartITunesUpload(); });
}

void Tfrmmain::itunesPlaylistChecked(QTreeWidgetItem* item) {
  const int row = cmp_lv_itunes_playlists->indexOfTopLevelItem(item);
  if (row >= 0) engine_->SetITunesPlaylistChecked(static_cast<std::size_t>(row), item->checkState(0) == Qt::Checked);
}

// ---------------------------------------------------------------------------------------------
// Drag & Drop tab

void Tfrmmain::JvDragDrop1Drop(const QStringList& paths) {
  std::vector<std::string> dropped;
  dropped.reserve(static_cast<std::size_t>(paths.size()));
  for (const QString& path : paths) dropped.push_back(S(path));
  guarded([&] { engine_->DropFiles(dropped); });
}

void Tfrmmain::Button4Click() {
  guarded([&] { engine_->ClearDroppedFiles(); });
}

void Tfrmmain::Button3Click() {
  guarded([&] {
    engine_->SetDropPlaylist(S(cmp_manually_add_to_plist->currentText()));
    engine_->AnalyzeAndUpload();
  });
}

// ---------------------------------------------------------------------------------------------
// Winamp tab

void Tfrmmain::cmp_btn_winamp_browseClick() {
  const QString file = presenter_.chooseFile(this, QStringLiteral("Winamp Playlists XML File"),
      cmp_winamp_plist_location->text(), QStringLiteral("Winamp playlists (playlists.xml *.xml);;All files (*)"));
  if (file.isEmpty()) return;
  cmp_winamp_plist_location->setText(file);
  engine_->SetWinampLocation(S(file));
}

void Tfrmmain::cmp_btn_analyze_winamp_dataClick() {
  guarded([&] {
    engine_->SetWinampLocation(S(cmp_winamp_plist_location->text()));
    engine_->AnalyzeWinampData();
  });
}

void Tfrmmain::cmp_btn_build_winamp_dbClick() {
  guarded([&] { engine_->StartWinampUpload(); });
}

void Tfrmmain::winampPlaylistChecked(QTreeWidgetItem* item) {
  const int row = cmp_lv_winamp_playlists->indexOfTopLevelItem(item);
  if (row >= 0) engine_->SetWinampPlaylistChecked(static_cast<std::size_t>(row), item->checkState(0) == Qt::Checked);
}

// ---------------------------------------------------------------------------------------------
// Status tab and the upload run

void Tfrmmain::cmp_btn_abort_uploadClick() {
  guarded([&] { engine_->StopUpload(); });
}

void Tfrmmain::cmp_btn_resume_uploadClick() {
  guarded([&] { engine_->ResumeUpload(); });
}

void Tfrmmain::cmp_btn_clear_upload_queueClick() {
  guarded([&] { engine_->ClearUploadQueue(); });
}

void Tfrmmain::cmp_btn_remove_upload_itemClick() {
  const int row = cmp_grid_upload_queue->currentRow();
  if (row < 0 || !cmp_grid_upload_queue->item(row, 0)) return;
  const auto id = cmp_grid_upload_queue->item(row, 0)->data(Qt::UserRole).toULongLong();
  guarded([&] { engine_->RemoveQueueItem(id); });
}

void Tfrmmain::cmp_tmr_Start_uploadTimer() {
  guarded([&] { engine_->OnStartTimer(); });
}

void Tfrmmain::cmp_tmr_countTimer() {
  guarded([&] { engine_->OnDurationTimer(); });
}

void Tfrmmain::statusTick() {
  guarded([&] { engine_->OnStatusTimer(); });
}

void Tfrmmain::openInvitation() {
  guarded([&] { engine_->ShowInvitation(); });
}

void Tfrmmain::sendInvitation(const QString& email) {
  guarded([&] { engine_->SendInvitation(S(email)); });
}

void Tfrmmain::setPlayCurrentTrack(bool play) {
  guarded([&] { engine_->SetPlayCurrentTrack(play); });
}

void Tfrmmain::uploadStatusWindowClosed() {
  guarded([&] { engine_->CloseStatusWindow(); });
}

void Tfrmmain::uploadDoneBarClosed() {
  guarded([&] { engine_->CloseUploadDoneBar(); });
}

void Tfrmmain::switchToServiceSite() {
  guarded([&] { engine_->OpenServiceSite(); });
}

// The three timers run exactly when the engine says they are enabled.
void Tfrmmain::syncTimers() {
  const UploadWindows& w = engine_->upload().windows();
  if (w.startTimerEnabled && !cmp_tmr_Start_upload->isActive()) cmp_tmr_Start_upload->start();
  if (!w.startTimerEnabled && cmp_tmr_Start_upload->isActive()) cmp_tmr_Start_upload->stop();
  if (w.durationTimerEnabled != cmp_tmr_count->isActive()) {
    if (w.durationTimerEnabled) cmp_tmr_count->start(); else cmp_tmr_count->stop();
  }
  if (statusWindow_ && w.statusTimerEnabled != statusWindow_->timer()->isActive()) {
    if (w.statusTimerEnabled) statusWindow_->timer()->start(); else statusWindow_->timer()->stop();
  }
}

// ---------------------------------------------------------------------------------------------
// Restore tab

void Tfrmmain::btn_restore_analyzeClick() {
  guarded([&] { engine_->LoadLibraryInformation(); });
}

void Tfrmmain::cmp_btn_restoreClick() {
  guarded([&] {
    engine_->SetRestoreTarget(S(edit_restore_path->text()));
    engine_->SetRestoreWholeLibrary(cmp_btn_restore_area_all->isChecked());
    engine_->RestoreNow();
  });
}

void Tfrmmain::cmp_btn_cancel_downloadsClick() {
  guarded([&] { engine_->CancelDownloads(); });
}

void Tfrmmain::cmp_btn_restore_browseClick() {
  const QString folder = presenter_.chooseFolder(this, QStringLiteral("Target path for files"),
                                                 edit_restore_path->text());
  if (folder.isEmpty()) return;
  edit_restore_path->setText(folder);
  engine_->SetRestoreTarget(S(folder));
}

void Tfrmmain::restorePlaylistChecked(QTreeWidgetItem* item) {
  const int row = cmp_lb_restore_plists->indexOfTopLevelItem(item);
  if (row >= 0) engine_->SetRestorePlaylistChecked(static_cast<std::size_t>(row), item->checkState(0) == Qt::Checked);
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
    if (statusWindow_) statusWindow_->paintState(engine_->upload().statusWindow());
    break;
  case View::UploadWindows: refreshUploadWindows(); break;
  case View::RestoreLog: refreshRestoreLog(); break;
  case View::Settings: refreshSettings(); break;
  }
}

void Tfrmmain::refreshCaption() { setWindowTitle(Q(engine_->Caption())); }

void Tfrmmain::refreshSettings() {
  if (cmp_winamp_plist_location->text() != Q(engine_->winampLocation())) {
    cmp_winamp_plist_location->setText(Q(engine_->winampLocation()));
  }
  if (edit_restore_path->text() != Q(engine_->restoreTarget())) edit_restore_path->setText(Q(engine_->restoreTarget()));
}

void Tfrmmain::syncRestoreList() {
  std::vector<ListRow> rows;
  for (const ServicePlaylistRow& row : engine_->servicePlaylists().rows) {
    rows.push_back({{Q(row.caption), Q(row.entryKey), Q(row.items)}, row.checked});
  }
  SyncCheckList(cmp_lb_restore_plists, rows);
}

void Tfrmmain::refreshRestorePlaylists() {
  syncRestoreList();
  // The box keeps what the user typed; only its drop-down list is the service's.
  QSignalBlocker block(cmp_manually_add_to_plist);
  const QString typed = cmp_manually_add_to_plist->currentText();
  cmp_manually_add_to_plist->clear();
  for (const std::string& name : engine_->servicePlaylists().names) cmp_manually_add_to_plist->addItem(Q(name));
  cmp_manually_add_to_plist->setCurrentIndex(-1);
  cmp_manually_add_to_plist->setEditText(typed);
}

void Tfrmmain::refreshDroppedFiles() {
  const auto& rows = engine_->droppedFiles().rows();
  const int shown = cmp_lv_manual_select->topLevelItemCount();
  // Drops only append; anything else (Clear list) repaints the whole list.
  bool prefix = static_cast<std::size_t>(shown) <= rows.size();
  for (int i = 0; prefix && i < shown; ++i) {
    prefix = cmp_lv_manual_select->topLevelItem(i)->text(0) == Q(rows[static_cast<std::size_t>(i)]);
  }
  if (!prefix) cmp_lv_manual_select->clear();
  QList<QTreeWidgetItem*> added;
  for (std::size_t i = static_cast<std::size_t>(cmp_lv_manual_select->topLevelItemCount()); i < rows.size(); ++i) {
    added << new QTreeWidgetItem(QStringList{Q(rows[i])});
  }
  cmp_lv_manual_select->addTopLevelItems(added);
}

void Tfrmmain::refreshITunesPlaylists() {
  const ITunesTab& tab = engine_->iTunes();
  SetText(cmp_lbl_itunes_analyze_items_found, tab.itemsFound.empty() ? "0" : tab.itemsFound);
  SetText(cmp_lbl_itunes_items_analyzed, tab.itemsAnalyzed.empty() ? "0" : tab.itemsAnalyzed);
  cmp_btn_do_analyze_itunes_lib->setEnabled(tab.analyzeEnabled);
  cmp_lv_itunes_playlists->setEnabled(tab.playlistListEnabled);
  if (cmp_rb_itunes_upload_playlists_only->isChecked() != tab.selectedPlaylistsOnly) {
    (tab.selectedPlaylistsOnly ? cmp_rb_itunes_upload_playlists_only : cmp_rg_itunes_upload_whole_lib)->setChecked(true);
  }
  std::vector<ListRow> rows;
  for (const ITunesPlaylistRow& row : tab.rows) rows.push_back({{Q(row.caption), Q(row.items), QString()}, row.checked});
  SyncCheckList(cmp_lv_itunes_playlists, rows);
  cmp_lbl_itunes_items_analyzed->repaint();
}

void Tfrmmain::refreshWinampPlaylists() {
  const WinampTab& tab = engine_->winamp();
  SetText(cmp_lbl_media_items_winamp_found, tab.itemsFound);
  std::vector<ListRow> rows;
  for (const WinampPlaylistRow& row : tab.rows) {
    rows.push_back({{Q(row.caption), Q(row.items), Q(row.hashValues)}, row.checked});
  }
  SyncCheckList(cmp_lv_winamp_playlists, rows);
  refreshSettings();
}

void Tfrmmain::refreshUploadQueue() {
  const UploadQueueControls& c = engine_->upload().controls();
  cmp_btn_abort_upload->setEnabled(c.stopEnabled);
  cmp_btn_resume_upload->setEnabled(c.resumeEnabled);
  cmp_btn_clear_upload_queue->setEnabled(c.clearEnabled);
  cmp_btn_remove_upload_item->setEnabled(c.removeEnabled);
  SetText(cmp_lbl_items_to_upload, c.itemsToUpload);
  SetText(cmp_lbl_last_uploaded_file, c.lastUploadedFile);
  SetText(cmp_lbl_duration, c.durationLabel);
  SetBar(cmp_pg_global, c.globalPosition, c.globalMaximum);

  // The grid follows the queue. Records are appended with rising ids and leave from anywhere, so
  // the common change (the first record sent) is recognised without walking the whole queue.
  const auto& records = engine_->upload().queue().records();
  const int shown = cmp_grid_upload_queue->rowCount();
  auto idAt = [&](int row) { return cmp_grid_upload_queue->item(row, 0)->data(Qt::UserRole).toULongLong(); };
  const auto count = static_cast<int>(records.size());
  if (count == shown && (count == 0 || (idAt(0) == records.front().id && idAt(shown - 1) == records.back().id))) {
    return;
  }
  if (count == shown - 1 && count > 0 && idAt(1) == records.front().id && idAt(shown - 1) == records.back().id) {
    cmp_grid_upload_queue->removeRow(0);
    return;
  }
  // Otherwise walk both lists: rows whose record is gone leave, new records are appended.
  int row = 0;
  std::size_t index = 0;
  while (row < cmp_grid_upload_queue->rowCount()) {
    if (index < records.size() && idAt(row) == records[index].id) {
      ++row;
      ++index;
    } else {
      cmp_grid_upload_queue->removeRow(row);
    }
  }
  cmp_grid_upload_queue->setUpdatesEnabled(false);
  for (; index < records.size(); ++index) {
    const int at = cmp_grid_upload_queue->rowCount();
    cmp_grid_upload_queue->insertRow(at);
    FillQueueRow(cmp_grid_upload_queue, at, records[index]);
  }
  cmp_grid_upload_queue->setUpdatesEnabled(true);
}

void Tfrmmain::refreshUploadWindows() {
  const UploadWindows& w = engine_->upload().windows();
  syncTimers();
  cmp_pnl_upload_done->setVisible(w.uploadDoneBarVisible);
  if (w.statusTabRequested) {
    cmp_pc_main->setCurrentIndex(kStatusTab);
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
    if (w.mainWindowVisible && !closePending_ && !putAway_) {
      showUploader();
    } else if (!w.mainWindowVisible) {
      hide();
    }
  }
}

void Tfrmmain::refreshRestoreLog() {
  const RestoreState& state = engine_->restoreState();
  btn_restore_analyze->setEnabled(state.analyzeEnabled);
  SetText(cmp_lbl_dl_items_found, state.itemsFoundCaption);
  SetText(lbl_current_dl_file, state.currentFile);
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
  syncRestoreList();
}

} // namespace velmora::gui
