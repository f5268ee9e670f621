// The iTunes and Winamp tabs refuse to analyse before login, list what the library holds, and
// upload only what the user left ticked, through the same status window as dropped files.

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "app/Settings.h"
#include "gui/MainWindow.h"
#include "gui/UploadStatusWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace velmora::gui::test {

namespace {

template <class T>
T* Find(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(QString::fromLatin1(name));
  if (!widget) qFatal("no widget %s", name);
  return widget;
}

QStringList Rows(QTreeWidget* list) {
  QStringList rows;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    rows << list->topLevelItem(i)->text(0) + QLatin1Char('=') + list->topLevelItem(i)->text(1);
  }
  return rows;
}

void Untick(QTreeWidget* list, const QString& caption) {
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(0) == caption) list->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
  }
}

std::size_t PlaylistSize(TestLocker& locker, const std::string& name) {
  for (const auto& playlist : locker.locker().library().Playlists("alice")) {
    if (playlist.name == name) return playlist.hashIds.size();
  }
  return 0;
}

// Three MP3 files: song1 and song2 in playlist "Mix", song3 in "Other".
QStringList ThreeSongs(TempHome& home) {
  QStringList files;
  for (int i = 1; i <= 3; ++i) {
    const QString file = home.path(QStringLiteral("lib/song%1.mp3").arg(i));
    WriteBytes(file, Mp3Bytes(QStringLiteral("Song %1").arg(i), QStringLiteral("Band"), QStringLiteral("LP"), 500 + i));
    files << file;
  }
  return files;
}

QByteArray ITunesLibraryXml(const QStringList& files) {
  QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Tracks</key><dict>";
  for (int i = 0; i < files.size(); ++i) {
    const QByteArray id = QByteArray::number(i + 1);
    xml += "<key>" + id + "</key><dict><key>Track ID</key><integer>" + id + "</integer><key>Name</key><string>Song " +
           id +
           "</string><key>Artist</key><string>Band</string><key>Track Type</key><string>File</string>"
           "<key>Location</key><string>" +
           QUrl::fromLocalFile(files[i]).toEncoded() + "</string></dict>";
  }
  auto playlist = [](const QByteArray& name, const QList<int>& ids, bool master = false) {
    QByteArray p = "<dict><key>Name</key><string>" + name + "</string>";
    if (master) p += "<key>Master</key><true/>";
    p += "<key>Playlist Items</key><array>";
    for (int id : ids) p += "<dict><key>Track ID</key><integer>" + QByteArray::number(id) + "</integer></dict>";
    return p + "</array></dict>";
  };
  xml += "</dict><key>Playlists</key><array>" + playlist("Library", {1, 2, 3}, true) + playlist("Mix", {1, 2}) +
         playlist("Other", {3}) + "</array></dict></plist>\n";
  return xml;
}

} // namespace

class SourceTabsTest : public QObject {
  Q_OBJECT

private slots:
  void analysisWaitsForTheLogin() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return presenter.dialogs.size() == 1; }));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_do_analyze_itunes_lib"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_winamp_data"), Qt::LeftButton);
    QCOMPARE(presenter.messages, (QStringList{"Please log in.", "Please log in."}));
    QVERIFY(Find<QPushButton>(main, "cmp_btn_do_analyze_itunes_lib")->isEnabled());
  }

  void itunesUploadsTheTickedPlaylists() {
    TempHome home;
    TestLocker locker;
    const QString library = home.path(QStringLiteral("iTunes Music Library.xml"));
    WriteBytes(library, ITunesLibraryXml(ThreeSongs(home)));
    const QByteArray oldLibrary = qgetenv("VELMORA_ITUNES_LIBRARY");
    qputenv("VELMORA_ITUNES_LIBRARY", library.toLocal8Bit());
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));

    auto* analyze = Find<QPushButton>(main, "cmp_btn_do_analyze_itunes_lib");
    QTest::mouseClick(analyze, Qt::LeftButton);
    auto* list = Find<QTreeWidget>(main, "cmp_lv_itunes_playlists");
    QCOMPARE(Rows(list), (QStringList{"Library=3", "Mix=2", "Other=1"}));
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_itunes_analyze_items_found")->text(), QStringLiteral("3"));
    QVERIFY(!analyze->isEnabled());

    // The whole-library choice makes the list pointless, so it is disabled until chosen back.
    QTest::mouseClick(Find<QRadioButton>(main, "cmp_rg_itunes_upload_whole_lib"), Qt::LeftButton);
    QVERIFY(!list->isEnabled());
    QTest::mouseClick(Find<QRadioButton>(main, "cmp_rb_itunes_upload_playlists_only"), Qt::LeftButton);
    QVERIFY(list->isEnabled());

    Untick(list, QStringLiteral("Library"));
    Untick(list, QStringLiteral("Other"));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_start_upload"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return Find<QWidget>(main, "cmp_pnl_upload_done")->isVisible(); }));
    QVERIFY(main.isVisible());
    QCOMPARE(locker.itemCount(), 2);
    QCOMPARE(PlaylistSize(locker, "Mix"), std::size_t{2});
    QCOMPARE(PlaylistSize(locker, "Other"), std::size_t{0});
    QVERIFY(presenter.errorDisplays.isEmpty());
    qputenv("VELMORA_ITUNES_LIBRARY", oldLibrary);
  }

  void missingITunesLibraryIsReported() {
    TempHome home;
    TestLocker locker;
    const QByteArray oldLibrary = qgetenv("VELMORA_ITUNES_LIBRARY");
    qputenv("VELMORA_ITUNES_LIBRARY", home.path(QStringLiteral("nowhere.xml")).toLocal8Bit());
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_do_analyze_itunes_lib"), Qt::LeftButton);
    QCOMPARE(
        presenter.messages.last(),
        QStringLiteral(
            "Unable to start iTunes - please retry or make sure the latest version of iTunes is installed correctly."));
    QVERIFY(presenter.errorDisplays.isEmpty());
    qputenv("VELMORA_ITUNES_LIBRARY", oldLibrary);
  }

  void winampUploadsTheTickedPlaylistsAndKeepsTheLocation() {
    TempHome home;
    TestLocker locker;
    const QStringList songs = ThreeSongs(home);
    const QString ml = home.path(QStringLiteral("Winamp/Plugins/ml"));
    WriteBytes(ml + QStringLiteral("/plf1.m3u"), (songs[0] + "\n" + songs[1] + "\n").toUtf8());
    WriteBytes(ml + QStringLiteral("/plf2.m3u"), (songs[2] + "\n").toUtf8());
    WriteBytes(ml + QStringLiteral("/playlists.xml"),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlists playlists=\"2\">"
               "<playlist filename=\"plf1.m3u\" title=\"Mix\" songs=\"2\"/>"
               "<playlist filename=\"plf2.m3u\" title=\"Other\" songs=\"1\"/></playlists>\n");
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));

    auto* location = Find<QLineEdit>(main, "cmp_winamp_plist_location");
    QTest::keyClicks(location, ml);
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_winamp_data"), Qt::LeftButton);
    QCOMPARE(presenter.messages.last(), QStringLiteral("Please select a valid playlist.xml file"));

    QTest::keyClicks(location, QStringLiteral("/playlists.xml"));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_analyze_winamp_data"), Qt::LeftButton);
    auto* list = Find<QTreeWidget>(main, "cmp_lv_winamp_playlists");
    QCOMPARE(Rows(list), (QStringList{"Mix=2", "Other=1"}));
    QCOMPARE(Find<QLabel>(main, "cmp_lbl_media_items_winamp_found")->text(), QStringLiteral("3"));

    Untick(list, QStringLiteral("Other"));
    QTest::mouseClick(Find<QPushButton>(main, "cmp_btn_build_winamp_db"), Qt::LeftButton);
    QVERIFY(WaitFor([&] { return Find<QWidget>(main, "cmp_pnl_upload_done")->isVisible(); }));
    QCOMPARE(locker.itemCount(), 2);
    QCOMPARE(PlaylistSize(locker, "Mix"), std::size_t{2});
    QVERIFY(presenter.errorDisplays.isEmpty());

    program.reset();
    QCOMPARE(QString::fromStdString(LoadSettings().winampLocation), ml + QStringLiteral("/playlists.xml"));
  }
};

VELMORA_GUI_TEST(SourceTabsTest);

} // namespace velmora::gui::test

#include "SourceTabsTest.moc"
