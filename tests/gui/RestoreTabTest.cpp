// The Restore tab lists the service's playlists, restores the chosen ones into the target folder
// byte for byte, and "Cancel Downloads" stops after the current file while the window stays live.

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "app/Settings.h"
#include "gui/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

namespace velmora::gui::test {

namespace {

struct Track {
  QString artist, name, album;
  QByteArray bytes;
};

// Puts the tracks into alice's library and into one playlist of that name.
void Seed(TestLocker& locker, const std::string& playlist, const QList<Track>& tracks) {
  std::vector<std::string> hashes;
  for (const Track& t : tracks) {
    const std::string hash = locker.locker().objects().Put(std::string_view(t.bytes.constData(), t.bytes.size()));
    locker::ItemMetadata meta;
    meta.name = t.name.toStdString();
    meta.artist = t.artist.toStdString();
    meta.album = t.album.toStdString();
    meta.size = std::to_string(t.bytes.size());
    locker.locker().library().PutItem("alice", hash, meta);
    hashes.push_back(hash);
  }
  locker.locker().library().ReplacePlaylist("alice", playlist, hashes);
}

QList<Track> Tracks(int count) {
  QList<Track> tracks;
  for (int i = 0; i < count; ++i) {
    const QString name = QStringLiteral("Song %1").arg(i + 1);
    tracks.push_back({QStringLiteral("The Testers"), name, QStringLiteral("Fixtures"),
                      Mp3Bytes(name, QStringLiteral("The Testers"), QStringLiteral("Fixtures"), 100 + i)});
  }
  return tracks;
}

QByteArray Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

template <class T>
T* Find(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(QString::fromLatin1(name));
  if (!widget) qFatal("no widget %s", name);
  return widget;
}

} // namespace

class RestoreTabTest : public QObject {
  Q_OBJECT

private slots:
  void restoresTheChosenPlaylistIntoTheFolder() {
    TempHome home;
    TestLocker locker;
    const QList<Track> tracks = Tracks(3);
    Seed(locker, "Favourites", tracks);
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));

    Find<QTabWidget>(main, "cmp_pc_main")->setCurrentIndex(4);
    auto* analyze = Find<QPushButton>(main, "btn_restore_analyze");
    QTest::mouseClick(analyze, Qt::LeftButton);
    QCOMPARE(presenter.messages.last(),
             QStringLiteral(
                 "Please select which playlists you want to restore (or the whole library) and click on \"Restore\""));
    QVERIFY(!analyze->isEnabled());
    auto* list = Find<QTreeWidget>(main, "cmp_lb_restore_plists");
    QCOMPARE(list->topLevelItemCount(), 1);

    const QString target = home.path(QStringLiteral("restored"));
    auto* path = Find<QLineEdit>(main, "edit_restore_path");
    path->clear();
    QTest::keyClicks(path, QStringLiteral("/no/such/folder"));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_restore"), Qt::LeftButton);
    QCOMPARE(presenter.messages.last(),
             QStringLiteral("Please select a valid directory where the files should be restored"));

    QDir().mkpath(target);
    path->clear();
    QTest::keyClicks(path, target);
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_restore"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return !main.engine().restoreState().running; }));

    for (const Track& t : tracks) {
      const QString file =
          target + QStringLiteral("/Favourites/The Testers - ") + t.name + QStringLiteral(" (Fixtures).mp3");
      QCOMPARE(Read(file), t.bytes);
    }
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_dl_items_found")->text(), QStringLiteral("3"));
    QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("3"));
    const QString log = Find<QPlainTextEdit>(main, "cmp_memo_restore_log")->toPlainText();
    QVERIFY(log.contains(QStringLiteral("Item found | Name: Song 1; Artist: The Testers; Album:Fixtures")));
    QCOMPARE(log.count(QStringLiteral("Next file: ")), 3);
    QVERIFY(presenter.errorDisplays.isEmpty());
    // The target box is what the program stores at exit.
    program.reset();
    QCOMPARE(QString::fromStdString(LoadSettings().restorePath), target);
  }

  void uncheckedPlaylistsAreLeftOut() {
    TempHome home;
    TestLocker locker;
    Seed(locker, "Keep", Tracks(1));
    QList<Track> others = Tracks(3).mid(1);
    Seed(locker, "Skip", others);
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));
    auto* list = Find<QTreeWidget>(main, "cmp_lb_restore_plists");
    QCOMPARE(list->topLevelItemCount(), 2);
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      if (list->topLevelItem(i)->text(0) == QStringLiteral("Skip"))
        list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
    }
    const QString target = home.path(QStringLiteral("restored"));
    QDir().mkpath(target);
    Find<QLineEdit>(main, "edit_restore_path")->setText(target);
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_restore"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return !main.engine().restoreState().running; }));
    QVERIFY(QDir(target + QStringLiteral("/Keep")).exists());
    QVERIFY(!QDir(target + QStringLiteral("/Skip")).exists());
  }

  void cancelStopsAfterTheCurrentFileWhileTheWindowStaysLive() {
    TempHome home;
    TestLocker locker;
    Seed(locker, "Slow", Tracks(4));
    // Every download waits before it answers, so there is time to click while it runs.
    locker::Fault stall;
    stall.target = "download";
    stall.kind = locker::FaultKind::Stall;
    stall.delayMs = 600;
    stall.remaining = -1;
    locker.locker().faults().Add(stall);
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));
    const QString target = home.path(QStringLiteral("restored"));
    QDir().mkpath(target);
    Find<QLineEdit>(main, "edit_restore_path")->setText(target);

    // Clicks "Cancel Downloads" as soon as the first download has begun; the click can only be
    // handled if the restore keeps the window's events flowing.
    auto* memo = Find<QPlainTextEdit>(main, "cmp_memo_restore_log");
    bool cancelledWhileRunning = false;
    QTimer watcher;
    watcher.setInterval(10);
    connect(&watcher, &QTimer::timeout, this, [&] {
      if (!memo->toPlainText().contains(QStringLiteral("Next file: "))) return;
      watcher.stop();
      QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_cancel_downloads"), Qt::LeftButton);
      cancelledWhileRunning = main.engine().restoreState().running;
    });
    watcher.start();
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_restore"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return !main.engine().restoreState().running; }));

    QVERIFY(cancelledWhileRunning);
    QCOMPARE(presenter.messages.last(), QStringLiteral("Done - please wait for the current file to be finished"));
    QCOMPARE(memo->toPlainText().count(QStringLiteral("Next file: ")), 1);
    const QStringList restored = QDir(target + QStringLiteral("/Slow")).entryList(QDir::Files);
    QCOMPARE(restored, QStringList{QStringLiteral("The Testers - Song 1 (Fixtures).mp3")});
  }
};

VELMORA_GUI_TEST(RestoreTabTest);

} // namespace velmora::gui::test

#include "RestoreTabTest.moc"
