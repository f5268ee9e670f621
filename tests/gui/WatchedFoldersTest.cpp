// File > Preferences stores the watched folders and the speed limit; from then on the window
// uploads what arrives in them (and what they held) through an upload run of its own, without a
// click.

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "app/Settings.h"
#include "gui/MainWindow.h"
#include "gui/PreferencesDialog.h"

#include <QAction>
#include <QDir>

namespace velmora::gui::test {

class WatchedFoldersTest : public QObject {
  Q_OBJECT

private slots:
  void preferencesStoreTheFoldersAndWhatArrivesIsUploaded() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    SaveSettings({"alice", "secret", "", ""});
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));

    const QString folder = home.path(QStringLiteral("incoming"));
    QDir().mkpath(folder);
    WriteBytes(folder + QStringLiteral("/before.mp3"), Mp3Bytes("Before", "X", "Y", 1));
    presenter.onDialog = [&](QDialog& dialog) {
      auto* preferences = qobject_cast<PreferencesDialog*>(&dialog);
      if (!preferences) return int(QDialog::Rejected);
      preferences->addFolder(folder);
      preferences->setRateLimitText(QStringLiteral("64M"));
      preferences->setRetries(4);
      preferences->setTransfers(3);
      return int(QDialog::Accepted);
    };
    main.findChild<QAction*>(QStringLiteral("cmp_mi_preferences"))->trigger();
    QCOMPARE(LoadSettings().watchedFolders, std::vector<std::string>{folder.toStdString()});
    QVERIFY(LoadSettings().rateLimit == RateTimetable(std::int64_t{64} << 20));
    QCOMPARE(main.engine().effectiveRateLimit(), std::int64_t{64} << 20);
    QCOMPARE(LoadSettings().retries, 4);
    QCOMPARE(main.engine().effectiveRetries(), 4);
    QCOMPARE(LoadSettings().transfers, 3);
    QCOMPARE(main.engine().effectiveTransfers(), 3);
    QVERIFY(main.engine().IsWatching());

    WriteBytes(folder + QStringLiteral("/new/arrived.mp3"), Mp3Bytes("Arrived", "X", "Y", 2));
    // The default settle time is 10 s.
    QVERIFY(WaitFor([&] { return locker.itemCount() == 2; }, 40000));
    QVERIFY(presenter.errorDisplays.isEmpty());
  }
};

VELMORA_GUI_TEST(WatchedFoldersTest);

} // namespace velmora::gui::test

#include "WatchedFoldersTest.moc"
