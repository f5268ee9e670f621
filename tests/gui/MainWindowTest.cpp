// The main window comes up with its tabs, controls, menus and hidden parts, logs in once at its
// first show with stored or typed credentials, and keeps running when an operation fails.

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "app/Settings.h"
#include "gui/LoginDialog.h"
#include "gui/MainWindow.h"
#include "gui/UploadStatusWindow.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

namespace velmora::gui::test {

namespace {

constexpr const char* kGreeting = "     Velmora Online Uploader";
constexpr const char* kLoggedIn = "     Logged in successfully";

std::uint64_t Requests(TestLocker& locker, const std::string& target) {
  const auto stats = locker.locker().stats().Snapshot();
  const auto it = stats.find(target);
  return it == stats.end() ? 0 : it->second.requests;
}

QAction* MenuAction(MainWindow& window, const char* name) {
  return window.findChild<QAction*>(QString::fromLatin1(name));
}

} // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

private slots:
  void windowHasItsTabsControlsMenusAndHiddenParts() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();

    QCOMPARE(main.windowTitle(), QStringLiteral("Velmora Uploader"));
    QCOMPARE(main.statusPanelText(), QString::fromLatin1(kGreeting));
    auto* tabs = main.findChild<QTabWidget*>(QStringLiteral("cmp_pc_main"));
    QVERIFY(tabs);
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
      captions << tabs->tabText(i).replace(QStringLiteral("&&"), QStringLiteral("&"));
    QCOMPARE(captions, (QStringList{"iTunes", "Drag & Drop (Filesystem)", "Winamp", "Status", "Restore"}));

    QVERIFY(main.findChild<QRadioButton*>(QStringLiteral("cmp_rb_itunes_upload_playlists_only"))->isChecked());
    QVERIFY(main.findChild<QRadioButton*>(QStringLiteral("cmp_btn_restore_area_2"))->isChecked());
    QVERIFY(!main.findChild<QPushButton*>(QStringLiteral("cmp_btn_resume_upload"))->isEnabled());
    QVERIFY(main.findChild<QPushButton*>(QStringLiteral("cmp_btn_abort_upload"))->isEnabled());
    QVERIFY(main.findChild<QComboBox*>(QStringLiteral("cmp_manually_add_to_plist"))->isEditable());

    main.show();
    QVERIFY(WaitFor([&] { return presenter.dialogs.size() == 1; }));
    QVERIFY(main.findChild<QLabel*>(QStringLiteral("cmp_lbl_Deep_analysis"))->isHidden());
    QVERIFY(main.findChild<QWidget*>(QStringLiteral("cmp_pnl_upload_done"))->isHidden());
    QVERIFY(!program->uploadStatusWindow().isVisible());

    // The service in use: "/stage" names the locker.
    QCOMPARE(MenuAction(main, "cmp_mi_goto")->text(),
             QString::fromStdString("Go to " + locker.stageArgument().substr(7)));
    QVERIFY(MenuAction(main, "cmp_mi_goto")->font().bold());
    QCOMPARE(MenuAction(main, "cmp_mi_logout")->text(), QStringLiteral("Logout user"));
    QCOMPARE(MenuAction(main, "cmp_mi_close")->text(), QStringLiteral("Close"));
    QCOMPARE(MenuAction(main, "cmp_mi_about")->text(), QStringLiteral("&About"));
  }

  void stageArgumentIsTakenAsTheCommandLineTakesIt() {
    QCOMPARE(FirstArgument({"velmora-uploader"}), std::string());
    QCOMPARE(FirstArgument({"velmora-uploader", " /stage 127.0.0.1:9 "}), std::string("/stage 127.0.0.1:9"));
    QCOMPARE(FirstArgument({"velmora-uploader", "/stage", "127.0.0.1:9"}), std::string("/stage 127.0.0.1:9"));
  }

  void storedCredentialsLogInAtFirstShow() {
    TempHome home;
    TestLocker locker;
    locker.locker().library().ReplacePlaylist("alice", "Road: Trip", {});
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();

    main.show();
    QVERIFY(WaitFor([&] { return main.statusPanelText() == QString::fromLatin1(kLoggedIn); }));
    QVERIFY(presenter.dialogs.isEmpty());
    QCOMPARE(main.windowTitle(), QStringLiteral("Velmora Uploader (alice)"));
    QVERIFY(main.engine().IsLoggedIn());
    auto* restoreList = main.findChild<QTreeWidget*>(QStringLiteral("cmp_lb_restore_plists"));
    QCOMPARE(restoreList->topLevelItemCount(), 1);
    QCOMPARE(restoreList->topLevelItem(0)->text(0), QStringLiteral("Road Trip"));
    QCOMPARE(restoreList->topLevelItem(0)->checkState(0), Qt::Checked);
    auto* box = main.findChild<QComboBox*>(QStringLiteral("cmp_manually_add_to_plist"));
    QCOMPARE(box->count(), 1);
    QCOMPARE(box->itemText(0), QStringLiteral("Road: Trip"));
    QCOMPARE(box->currentText(), QString());

    // Shown again from the tray: no second login, the chosen tab stays.
    auto* tabs = main.findChild<QTabWidget*>(QStringLiteral("cmp_pc_main"));
    tabs->setCurrentIndex(4);
    main.hide();
    main.showUploader();
    QTest::qWait(50);
    QCOMPARE(Requests(locker, "user/checkaccess"), 1u);
    QCOMPARE(tabs->currentIndex(), 4);
  }

  void loginDialogLogsInWithWhatWasTyped() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    presenter.onDialog = [](QDialog& dialog) {
      auto* login = qobject_cast<LoginDialog*>(&dialog);
      if (!login) return int(QDialog::Rejected);
      QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("cmp_username")), QStringLiteral("alice"));
      QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("cmp_password")), QStringLiteral("secret"));
      // Enter does nothing special in this dialog.
      QTest::keyClick(dialog.findChild<QLineEdit*>(QStringLiteral("cmp_password")), Qt::Key_Return);
      if (dialog.result() == QDialog::Accepted || !dialog.isVisible()) return int(QDialog::Rejected);
      QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cmp_btn_login")), Qt::LeftButton);
      return dialog.result();
    };
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.statusPanelText() == QString::fromLatin1(kLoggedIn); }));
    QCOMPARE(presenter.dialogs, QStringList{QStringLiteral("Login")});
    QCOMPARE(main.windowTitle(), QStringLiteral("Velmora Uploader (alice)"));
    QCOMPARE(main.engine().userName(), std::string("alice"));
    // The typed credentials are stored only when the program ends.
    QCOMPARE(LoadSettings().userName, std::string());
    program.reset();
    QCOMPARE(LoadSettings().userName, std::string("alice"));
    QCOMPARE(LoadSettings().password, std::string("secret"));
  }

  void cancelledLoginDialogSendsNothingAndLeavesTheWindowUsable() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    presenter.onDialog = [](QDialog& dialog) {
      dialog.close(); // the window's close button
      return dialog.result();
    };
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return presenter.dialogs.size() == 1; }));
    QTest::qWait(50);
    QCOMPARE(main.statusPanelText(), QString::fromLatin1(kGreeting));
    QCOMPARE(Requests(locker, "user/checkaccess"), 0u);
    QVERIFY(!main.engine().IsLoggedIn());
    main.hide();
    main.show();
    QTest::qWait(50);
    QCOMPARE(presenter.dialogs.size(), 1);
  }

  void rejectedCredentialsAreShownAndErased() {
    TempHome home;
    TestLocker locker;
    SaveSettings({"alice", "wrong", "/keep/playlists.xml", "/keep/restore"});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return !presenter.errorMessages.isEmpty(); }));
    QVERIFY2(presenter.errorMessages.first().startsWith(QStringLiteral("Could not connect to server - error ")),
             qPrintable(presenter.errorMessages.first()));
    QCOMPARE(main.statusPanelText(), QStringLiteral("     Login failed"));
    QCOMPARE(main.windowTitle(), QStringLiteral("Velmora Uploader"));
    const StoredSettings stored = LoadSettings();
    QCOMPARE(stored.userName, std::string());
    QCOMPARE(stored.password, std::string());
    QCOMPARE(stored.restorePath, std::string("/keep/restore"));
  }

  void unreadableAnswerReachesTheErrorDisplayAndTheProgramGoesOn() {
    TempHome home;
    TestLocker locker;
    locker::Fault notXml;
    notXml.target = "sets/get";
    notXml.kind = locker::FaultKind::NotXml;
    notXml.body = "this is not an answer";
    locker.locker().faults().Add(notXml);
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return !presenter.errorDisplays.isEmpty(); }));
    QVERIFY(!main.engine().IsLoggedIn());
    QVERIFY(main.statusPanelText() != QString::fromLatin1(kLoggedIn));
    // Still answering: the about box opens from the menu.
    MenuAction(main, "cmp_mi_about")->trigger();
    QCOMPARE(presenter.dialogs.last(), QStringLiteral("About"));
  }

  void linksOpenTheServicePages() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();

    MenuAction(main, "cmp_mi_goto")->trigger();
    presenter.onDialog = [](QDialog& dialog) {
      QTest::mouseClick(dialog.findChild<QLabel*>(QStringLiteral("cmp_lbl_terms")), Qt::LeftButton);
      QTest::mouseClick(dialog.findChild<QLabel*>(QStringLiteral("cmp_lbl_feedback")), Qt::LeftButton);
      return int(QDialog::Accepted);
    };
    MenuAction(main, "cmp_mi_about")->trigger();
    LoginDialog login(presenter, &main);
    QTest::mouseClick(login.findChild<QLabel*>(QStringLiteral("cmp_lbl_forgot_password")), Qt::LeftButton);
    QTest::mouseClick(login.findChild<QLabel*>(QStringLiteral("cmp_lbl_signup")), Qt::LeftButton);
    QTest::mouseClick(main.findChild<QLabel*>(QStringLiteral("cmp_lbl_switch_to_web")), Qt::LeftButton);

    QStringList urls;
    for (const QUrl& url : presenter.urls) urls << url.toString();
    // The site follows "/stage"; the other pages stay on the built-in host.
    const QString site = QString::fromStdString("http://" + locker.stageArgument().substr(7));
    QCOMPARE(urls, (QStringList{site, "http://localhost:8480/rd/terms/", "http://localhost:8480/feedback",
                                "http://localhost:8480/rd/requestpassword/?source=uploader",
                                "http://localhost:8480/rd/signup/?source=uploaderwin32&version=", site}));
  }

  void trayBringsTheMinimisedWindowBack() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return presenter.dialogs.size() == 1; }));
    main.showMinimized();
    QVERIFY(WaitFor([&] { return main.isMinimized() || !main.isVisible(); }));
    MenuAction(main, "cmp_mi_show_uploader")->trigger();
    QVERIFY(main.isVisible());
    QVERIFY(!main.isMinimized());
    // A double-click on the icon does the same.
    main.hide();
    auto* tray = main.findChild<QSystemTrayIcon*>(QStringLiteral("cmp_tray"));
    QCOMPARE(tray->toolTip(), QStringLiteral("Velmora Uploader"));
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(main.isVisible());
    QCOMPARE(presenter.dialogs.size(), 1);
  }

  void deepAnalysisBadgeShowsWhileAFileIsHashed() {
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return presenter.dialogs.size() == 1; }));
    auto* badge = main.findChild<QLabel*>(QStringLiteral("cmp_lbl_Deep_analysis"));
    QCOMPARE(badge->text(), QStringLiteral("Deep analysis"));
    const QString file = home.path(QStringLiteral("big.mp3"));
    WriteBytes(file, Mp3Bytes(QStringLiteral("Big"), QStringLiteral("X"), QStringLiteral("Y"), 9, 2000));

    // Notes the badge whenever the hashing lets events through.
    bool seen = false;
    QTimer watcher;
    watcher.setInterval(0);
    connect(&watcher, &QTimer::timeout, this, [&] { seen = seen || badge->isVisible(); });
    watcher.start();
    main.engine().FileFingerprint(file.toStdString());
    watcher.stop();
    QVERIFY(seen);
    QVERIFY(badge->isHidden());
  }

  void logoutForgetsTheAccountAndEndsTheProgram() {
    TempHome home;
    TestLocker locker;
    SaveSettings({"alice", "secret", "", ""});
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    QSignalSpy closed(&main, &MainWindow::closed);
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));
    MenuAction(main, "cmp_mi_logout")->trigger();
    QCOMPARE(presenter.messages, QStringList{QStringLiteral("Please restart the program.")});
    QCOMPARE(closed.count(), 1);
    QVERIFY(!main.isVisible());
    QCOMPARE(LoadSettings().userName, std::string());
    QCOMPARE(LoadSettings().password, std::string());
  }
};

VELMORA_GUI_TEST(MainWindowTest);

} // namespace velmora::gui::test

#include "MainWindowTest.moc"
