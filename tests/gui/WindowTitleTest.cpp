// On a real X server the window system holds each window's caption exactly as the window sets it:
// "Velmora Uploader" before login and "Velmora Uploader (alice)" after it, "Login", "About",
// "Uploading", with nothing appended. Runs under Xvfb (tests/gui/under-xvfb); skipped on
// platforms whose windows have no window-system title (offscreen).

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "gui/AboutDialog.h"
#include "gui/LoginDialog.h"
#include "gui/MainWindow.h"
#include "gui/UploadStatusWindow.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

namespace velmora::gui::test {

namespace {

// WM_NAME and _NET_WM_NAME of the widget's X window, as `xprop` reads them from the server
// ("WM_NAME(STRING) = \"About\"", one line each).
QString ServerTitles(QWidget& widget) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(widget.winId()),
                                        QStringLiteral("WM_NAME"), QStringLiteral("_NET_WM_NAME")});
  if (!xprop.waitForFinished(5000)) return QStringLiteral("(xprop did not answer)");
  return QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
}

// Whether both titles of the window read exactly `caption`, whatever text type the property has;
// the property change reaches the server asynchronously, so it is given a moment. `seen` gets what
// was read last.
bool ServerHoldsTitle(QWidget& widget, const QString& caption, QString& seen) {
  static const QRegularExpression line(QStringLiteral("^(WM_NAME|_NET_WM_NAME)\\([A-Z0-9_]+\\) = \"(.*)\"$"),
                                       QRegularExpression::MultilineOption);
  return WaitFor(
      [&] {
        seen = ServerTitles(widget);
        QStringList names, values;
        for (auto it = line.globalMatch(seen); it.hasNext();) {
          const auto match = it.next();
          names << match.captured(1);
          values << match.captured(2);
        }
        return names == QStringList{QStringLiteral("WM_NAME"), QStringLiteral("_NET_WM_NAME")} &&
               values == QStringList{caption, caption};
      },
      3000);
}

} // namespace

class WindowTitleTest : public QObject {
  Q_OBJECT

private slots:
  void windowSystemHoldsEachCaptionExactly() {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
      QSKIP("window-system titles need an X server (run under tests/gui/under-xvfb)");
    }
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    QString seen, mainBeforeLogin, login;
    bool loginTitled = false, mainTitledBeforeLogin = false;
    presenter.onDialog = [&](QDialog& dialog) {
      if (!qobject_cast<LoginDialog*>(&dialog)) return int(QDialog::Rejected);
      loginTitled = ServerHoldsTitle(dialog, QStringLiteral("Login"), login);
      mainTitledBeforeLogin = ServerHoldsTitle(main, QStringLiteral("Velmora Uploader"), mainBeforeLogin);
      QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("cmp_username")), QStringLiteral("alice"));
      QTest::keyClicks(dialog.findChild<QLineEdit*>(QStringLiteral("cmp_password")), QStringLiteral("secret"));
      QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cmp_btn_login")), Qt::LeftButton);
      return dialog.result();
    };
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));
    QVERIFY2(loginTitled, qPrintable(login));
    QVERIFY2(mainTitledBeforeLogin, qPrintable(mainBeforeLogin));
    QVERIFY2(ServerHoldsTitle(main, QStringLiteral("Velmora Uploader (alice)"), seen), qPrintable(seen));
    QVERIFY2(ServerHoldsTitle(program->aboutBox(), QStringLiteral("About"), seen), qPrintable(seen));
    QVERIFY2(ServerHoldsTitle(program->uploadStatusWindow(), QStringLiteral("Uploading"), seen), qPrintable(seen));
  }
};

VELMORA_GUI_TEST(WindowTitleTest);

} // namespace velmora::gui::test

#include "WindowTitleTest.moc"
