// Files dropped anywhere on the main window are listed; "Analyze and upload" swaps the main window
// for the status window, sends the files, and brings the main window back with "Upload done!";
// "Stop upload" and "Resume upload" hold and continue a run while the window keeps answering; a run
// that ends while the window is in the tray says so from the tray icon.

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "app/Settings.h"
#include "gui/MainWindow.h"
#include "gui/UploadStatusWindow.h"
#include "upload/UploadStatus.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

namespace velmora::gui::test {

namespace {

template <class T>
T* Find(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(QString::fromLatin1(name));
  if (!widget) qFatal("no widget %s", name);
  return widget;
}

// What a file manager does: enter with the URLs, then drop them on the widget under the pointer.
void DropOn(QWidget* target, const QStringList& paths) {
  QMimeData mime;
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  mime.setUrls(urls);
  const QPoint pos = target->rect().center();
  QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(pos), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  QVERIFY(drop.isAccepted());
}

QStringList ListedFiles(MainWindow& main) {
  auto* list = Find<QTreeWidget>(main, "cmp_lv_manual_select");
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) rows << list->topLevelItem(i)->text(0);
  return rows;
}

// The Name column of each row of the upload queue on the Status tab.
QStringList QueuedNames(MainWindow& main) {
  const QAbstractItemModel* queue = Find<QTableView>(main, "cmp_grid_upload_queue")->model();
  QStringList names;
  for (int row = 0; row < queue->rowCount(); ++row) names << queue->index(row, 1).data().toString();
  return names;
}

// The title MusicFolder gave the file at this path ("07.mp3" is "Track 7"). The folder search
// lists files in the file system's order, so tests name records through the list, not a number.
QString TitleOf(const QString& path) {
  return QStringLiteral("Track %1").arg(QFileInfo(path).completeBaseName().toInt());
}

// A folder of `count` distinct MP3 files.
QString MusicFolder(TempHome& home, int count, int seedBase = 0) {
  const QString folder = home.path(QStringLiteral("music"));
  for (int i = 0; i < count; ++i) {
    const QString title = QStringLiteral("Track %1").arg(i + 1);
    WriteBytes(QStringLiteral("%1/%2.mp3").arg(folder).arg(i + 1, 2, 10, QLatin1Char('0')),
               Mp3Bytes(title, QStringLiteral("Dropper"), QStringLiteral("Demo"), seedBase + i));
  }
  return folder;
}

struct LoggedIn {
  TempHome home;
  TestLocker locker;
  TestPresenter presenter;
  std::unique_ptr<UploaderProgram> program;
  MainWindow& main() { return program->mainWindow(); }

  LoggedIn() {
    SaveSettings({"alice", "secret", "", ""});
    program = StartProgram(presenter, locker);
    program->mainWindow().show();
    if (!WaitFor([&] { return program->mainWindow().engine().IsLoggedIn(); })) qFatal("login failed");
  }
};

void Stall(TestLocker& locker, const std::string& target, int ms) {
  locker::Fault stall;
  stall.target = target;
  stall.kind = locker::FaultKind::Stall;
  stall.delayMs = ms;
  stall.remaining = -1;
  locker.locker().faults().Add(stall);
}

} // namespace

class DropUploadTest : public QObject {
  Q_OBJECT

private slots:
  void dropsOnEveryTabListEachFileOnce() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return presenter.dialogs.size() == 1; }));

    const QString folder = home.path(QStringLiteral("drop"));
    WriteBytes(folder + QStringLiteral("/a.mp3"), Mp3Bytes("A", "X", "Y", 1));
    WriteBytes(folder + QStringLiteral("/deeper/b.MP3"), Mp3Bytes("B", "X", "Y", 2));
    WriteBytes(folder + QStringLiteral("/notes.txt"), "not music");
    const QString loose = home.path(QStringLiteral("loose/c.mp3"));
    WriteBytes(loose, Mp3Bytes("C", "X", "Y", 3));
    const QString listed = home.path(QStringLiteral("loose/d.mp3"));
    WriteBytes(listed, Mp3Bytes("D", "X", "Y", 4));
    const QString m3u = home.path(QStringLiteral("loose/list.m3u"));
    WriteBytes(m3u, "#EXTM3U\r\n#EXTINF:1,D\r\nd.mp3\r\n");

    auto* tabs = Find<QTabWidget>(main, "cmp_pc_main");
    tabs->setCurrentIndex(0);
    DropOn(Find<QTreeWidget>(main, "cmp_lv_itunes_playlists")->viewport(), {folder});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 2; }));
    QCOMPARE(ListedFiles(main), (QStringList{folder + "/a.mp3", folder + "/deeper/b.MP3"}));

    tabs->setCurrentIndex(2);
    DropOn(Find<QLineEdit>(main, "cmp_winamp_plist_location"), {loose, folder + "/a.mp3"});
    tabs->setCurrentIndex(4);
    DropOn(tabs->currentWidget(), {m3u});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 4; }));
    QCOMPARE(ListedFiles(main), (QStringList{folder + "/a.mp3", folder + "/deeper/b.MP3", loose, listed}));
    // A drop leaves the tab the user is on.
    QCOMPARE(tabs->currentIndex(), 4);

    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_clear_list"), Qt::LeftButton);
    QVERIFY(ListedFiles(main).isEmpty());
  }

  void analyzeAndUploadSendsTheFilesAndShowsUploadDone() {
    LoggedIn run;
    MainWindow& main = run.main();
    UploadStatusWindow& status = run.program->uploadStatusWindow();
    const QString folder = MusicFolder(run.home, 3);
    DropOn(&main, {folder});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 3; }));
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_file_count")->text(), QStringLiteral("3 files"));
    auto* box = Find<QComboBox>(main, "cmp_manually_add_to_plist");
    QTest::keyClicks(box->lineEdit(), QStringLiteral("Dropped songs"));

    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_and_upload"), Qt::LeftButton);
    QVERIFY(!main.isVisible());
    QVERIFY(status.isVisible());
    QCOMPARE(status.windowTitle(), QStringLiteral("Uploading"));
    QCOMPARE(Find<QTabWidget>(main, "cmp_pc_main")->currentIndex(), 3);

    QVERIFY(WaitFor([&] { return Find<QWidget>(main, "cmp_pnl_upload_done")->isVisible(); }));
    QVERIFY(main.isVisible());
    QVERIFY(!status.isVisible());
    QCOMPARE(run.locker.itemCount(), 3);
    std::size_t inPlaylist = 0;
    for (const auto& playlist : run.locker.locker().library().Playlists("alice")) {
      if (playlist.name == "Dropped songs") inPlaylist = playlist.hashIds.size();
    }
    QCOMPARE(inPlaylist, std::size_t{3});
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_items_to_upload")->text(), QStringLiteral("0"));
    QVERIFY(QueuedNames(main).isEmpty());
    const QString last = TitleOf(ListedFiles(main).last());
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_last_uploaded_file")->text(), QStringLiteral("Dropper ") + last);
    QCOMPARE(Find<QLabel>(status, "cmp_lbl_name")->text(), QStringLiteral("Dropper: ") + last);
    QVERIFY(!Find<QPushButton>(main, "cmp_btn_abort_upload")->isEnabled());
    QVERIFY(!Find<QPushButton>(main, "cmp_btn_resume_upload")->isEnabled());
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_run_summary")->text(),
             QStringLiteral("3 sent, 0 metadata only, 0 already in your library, 0 skipped, 0 failed"));
    run.presenter.chosenPath = run.home.path(QStringLiteral("run.jsonl"));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_save_report"), Qt::LeftButton);
    QFile report(run.presenter.chosenPath);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = report.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines.last().contains(R"("counts":{"sent":3,)"));
    QVERIFY(run.presenter.errorDisplays.isEmpty());
    // The window came back by itself: nothing from the tray.
    QVERIFY(run.presenter.trayMessages.isEmpty());
    // The list stays for another round; the second round sends nothing new.
    QCOMPARE(ListedFiles(main).size(), 3);

    QTest::mouseClick(Find<QLabel>(main, "cmp_lbl_close_done_bar"), Qt::LeftButton);
    QVERIFY(!Find<QWidget>(main, "cmp_pnl_upload_done")->isVisible());
    QTest::mouseClick(Find<QLabel>(main, "cmp_lbl_switch_to_web"), Qt::LeftButton);
    // The site of the service in use: "/stage" moves it with the requests.
    QCOMPARE(run.presenter.urls.last(), QUrl(QString::fromStdString("http://" + run.locker.stageArgument().substr(7))));
  }

  void stopThenResumeGoesOnWithTheNextRecordWhileTheWindowAnswers() {
    LoggedIn run;
    MainWindow& main = run.main();
    // Each file transfer takes over a second: long enough for clicks and timer ticks to arrive.
    Stall(run.locker, "upload", 1800);
    DropOn(&main, {MusicFolder(run.home, 3)});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 3; }));
    auto* stop = Find<QPushButton>(main, "cmp_btn_abort_upload");
    auto* resume = Find<QPushButton>(main, "cmp_btn_resume_upload");

    // Presses "Stop upload" while the first file is in transfer, and notes whether the
    // one-second timers got through meanwhile.
    bool stoppedDuringTransfer = false;
    QString durationDuringTransfer;
    QTimer clicker;
    clicker.setInterval(20);
    connect(&clicker, &QTimer::timeout, this, [&] {
      if (!main.engine().upload().LoopActive() || main.engine().upload().statusWindow().ItemsStarted < 1) return;
      if (Find<QLabel>(main, "cmp_lbl_duration")->text() == QStringLiteral("0")) return;
      clicker.stop();
      durationDuringTransfer = Find<QLabel>(main, "cmp_lbl_duration")->text();
      QTest::mouseClick(stop, Qt::LeftButton);
      stoppedDuringTransfer = main.engine().upload().LoopActive();
    });
    clicker.start();
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_and_upload"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return stoppedDuringTransfer && !main.engine().upload().LoopActive(); }));
    QVERIFY(durationDuringTransfer.toInt() >= 1);

    // The file in transfer completed and left the queue; the other two wait.
    QCOMPARE(run.locker.itemCount(), 1);
    const QStringList waiting = QueuedNames(main);
    QCOMPARE(waiting.size(), 2);
    QCOMPARE(waiting.first(), TitleOf(ListedFiles(main).at(1)));
    QVERIFY(!stop->isEnabled());
    QVERIFY(resume->isEnabled());
    QCOMPARE(main.statusPanelText(), QStringLiteral("     Upload has been aborted"));
    // Only the duration timer writes the label: it keeps the value it had when stopped.
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_duration")->text(), durationDuringTransfer);

    run.locker.locker().faults().Reset();
    QTest::mouseClick(resume, Qt::LeftButton);
    QVERIFY(WaitFor([&] { return Find<QWidget>(main, "cmp_pnl_upload_done")->isVisible(); }));
    QCOMPARE(run.locker.itemCount(), 3);
    QVERIFY(QueuedNames(main).isEmpty());
    QVERIFY(!resume->isEnabled());
    QVERIFY(run.presenter.errorDisplays.isEmpty());
  }

  void removeSelectedItemTakesThatRecordOut() {
    LoggedIn run;
    MainWindow& main = run.main();
    Stall(run.locker, "upload", 800);
    DropOn(&main, {MusicFolder(run.home, 3)});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 3; }));
    auto* grid = Find<QTableView>(main, "cmp_grid_upload_queue");
    bool removed = false;
    QStringList sortedNames;
    int homeRow = -1;
    QString removedName;
    QTimer clicker;
    clicker.setInterval(20);
    connect(&clicker, &QTimer::timeout, this, [&] {
      if (!main.engine().upload().LoopActive() || grid->model()->rowCount() != 3) return;
      clicker.stop();
      QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_abort_upload"), Qt::LeftButton);
      // A click on the Name title sorts the rows; Home and End go to the first and last row.
      QHeaderView* header = grid->horizontalHeader();
      QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                        QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
      sortedNames = QueuedNames(main);
      grid->setFocus();
      grid->setCurrentIndex(grid->model()->index(1, 1));
      QTest::keyClick(grid, Qt::Key_Home);
      homeRow = grid->currentIndex().row();
      QTest::keyClick(grid, Qt::Key_End);
      removedName = grid->currentIndex().siblingAtColumn(1).data().toString();
      // The selected row is removed, wherever the sort has put its record.
      QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_remove_upload_item"), Qt::LeftButton);
      removed = true;
    });
    clicker.start();
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_and_upload"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return removed && !main.engine().upload().LoopActive(); }));
    QCOMPARE(homeRow, 0);
    QStringList expected = sortedNames;
    std::sort(expected.begin(), expected.end());
    if (grid->horizontalHeader()->sortIndicatorOrder() == Qt::DescendingOrder)
      std::reverse(expected.begin(), expected.end());
    QCOMPARE(sortedNames, expected);
    QCOMPARE(removedName, sortedNames.last());
    QStringList left;
    for (const QString& path : ListedFiles(main).mid(1))
      if (TitleOf(path) != removedName) left << TitleOf(path);
    QStringList queued = QueuedNames(main);
    std::sort(queued.begin(), queued.end());
    std::sort(left.begin(), left.end());
    QCOMPARE(queued, left);
  }

  void statusWindowClosesToTheMainWindowAndSendsInvitations() {
    LoggedIn run;
    MainWindow& main = run.main();
    UploadStatusWindow& status = run.program->uploadStatusWindow();
    Stall(run.locker, "upload", 700);
    DropOn(&main, {MusicFolder(run.home, 2)});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 2; }));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_and_upload"), Qt::LeftButton);
    QVERIFY(status.isVisible());

    // The longest status text, hours included, shows whole at the window's size (the picture is
    // left in the working folder to look at).
    velmora::UploadStatusWindow longest;
    longest.statusText = "     Speed: 99999 kb/sec  |  Uploaded: 20000 / 20000  |  Time left: 277 hours 46 min 39 sec";
    status.paintState(longest);
    status.layout()->activate();
    auto* footer = Find<QLabel>(status, "cmp_pnl_status");
    QVERIFY(footer->heightForWidth(footer->width()) <= footer->height());
    const QRect shown(footer->mapTo(&status, QPoint(0, 0)), footer->size());
    QVERIFY(status.rect().contains(shown));
    QVERIFY(!shown.intersects(QRect(Find<QLabel>(status, "cmp_lbl_show_details")->mapTo(&status, QPoint(0, 0)),
                                    Find<QLabel>(status, "cmp_lbl_show_details")->size())));
    status.grab().save(QStringLiteral("upload-status-longest.png"));
    status.paintState(main.engine().upload().statusWindow());

    // Without a sound device the player stays silent; the run is not disturbed either way.
    auto* play = Find<QCheckBox>(status, "cb_play_cur_track");
    QTest::mouseClick(play, Qt::LeftButton, {}, QPoint(8, play->height() / 2));
    QVERIFY(run.main().engine().upload().statusWindow().playCurrentTrack);
    QTest::mouseClick(Find<QLabel>(status, "cmp_lbl_share"), Qt::LeftButton);
    QVERIFY(Find<QLineEdit>(status, "edit_email_invite")->isVisible());
    QVERIFY(status.height() >= 330);
    QTest::keyClicks(Find<QLineEdit>(status, "edit_email_invite"), QStringLiteral("friend@example.org"));
    QTest::mouseClick(Find<QPushButton>(status, "cmp_btn_send_invitation"), Qt::LeftButton);
    QVERIFY(WaitFor([&] {
      return Find<QLabel>(status, "cmp_lbl_invitation")->text() ==
             QStringLiteral("DONE! You can enter a further address now.");
    }));
    QCOMPARE(Find<QLineEdit>(status, "edit_email_invite")->text(), QStringLiteral("friend@example.org"));
    const auto invitations = run.locker.locker().library().Invitations();
    QCOMPARE(invitations.size(), std::size_t{1});
    QCOMPARE(invitations.front().email, std::string("friend@example.org"));

    // "Show more details ..." brings the main window back, and its Status tab the status window.
    QTest::mouseClick(Find<QLabel>(status, "cmp_lbl_show_details"), Qt::LeftButton);
    QVERIFY(!status.isVisible());
    QVERIFY(main.isVisible());
    auto* back = Find<QLabel>(main, "cmp_lbl_show_status_window");
    QVERIFY(back->isVisible());
    QTest::mouseClick(back, Qt::LeftButton);
    QVERIFY(status.isVisible());
    QVERIFY(!main.isVisible());
    // The tab shows what the status window shows, once it has a speed to show.
    QTest::mouseClick(Find<QLabel>(status, "cmp_lbl_show_details"), Qt::LeftButton);
    QVERIFY(main.isVisible());
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_speed")->text(), status.statusText().trimmed());
    QVERIFY(WaitFor([&] { return Find<QWidget>(main, "cmp_pnl_upload_done")->isVisible(); }));
    QCOMPARE(run.locker.itemCount(), 2);
    QVERIFY(!back->isVisible());
  }

  void aRunEndingWhileTheWindowIsInTheTraySaysSoFromTheTray() {
    LoggedIn run;
    MainWindow& main = run.main();
    Stall(run.locker, "upload", 500);
    DropOn(&main, {MusicFolder(run.home, 2)});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 2; }));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_and_upload"), Qt::LeftButton);
    // Back to the main window, then away into the tray while the run goes on.
    QTest::mouseClick(Find<QLabel>(run.program->uploadStatusWindow(), "cmp_lbl_show_details"), Qt::LeftButton);
    main.hide();
    QVERIFY(WaitFor([&] { return main.engine().upload().outcome() == RunOutcome::Finished; }));
    QCOMPARE(run.locker.itemCount(), 2);
    QCOMPARE(run.presenter.trayMessages, QStringList{QStringLiteral("Upload done!\n2 files uploaded.")});
    QVERIFY(!main.isVisible());

    emit Find<QSystemTrayIcon>(main, "cmp_tray")->messageClicked();
    QVERIFY(main.isVisible());
  }

  void closingTheWindowDuringAnUploadWaitsForTheCurrentFile() {
    LoggedIn run;
    MainWindow& main = run.main();
    Stall(run.locker, "upload", 800);
    DropOn(&main, {MusicFolder(run.home, 3)});
    QVERIFY(WaitFor([&] { return ListedFiles(main).size() == 3; }));
    QSignalSpy closed(&main, &MainWindow::closed);
    bool closeRequested = false;
    QTimer closer;
    closer.setInterval(20);
    connect(&closer, &QTimer::timeout, this, [&] {
      if (!main.engine().upload().LoopActive() || main.engine().upload().statusWindow().ItemsStarted < 1) return;
      closer.stop();
      main.close();
      closeRequested = true;
    });
    closer.start();
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_and_upload"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return closed.count() == 1; }));
    QVERIFY(closeRequested);
    QVERIFY(!main.engine().upload().LoopActive());
    QCOMPARE(run.locker.itemCount(), 1);
    QVERIFY(!main.isVisible());
    QVERIFY(!run.program->uploadStatusWindow().isVisible());
  }
};

VELMORA_GUI_TEST(DropUploadTest);

} // namespace velmora::gui::test

#include "DropUploadTest.moc"
