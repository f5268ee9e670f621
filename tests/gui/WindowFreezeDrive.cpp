// Not a test of its own: drives the whole window through a big library (VELMORA_DRIVE_FILES
// files, default 2000) the way a user does, printing when each step starts, so that
// tools/window-probe/window-freeze.sh can time the window's replies (tools/window-probe) step by step:
// drop, analysis, upload, Stop, Resume, exit. Run by that script under Xvfb, not by CTest.

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "app/Settings.h"
#include "gui/MainWindow.h"

#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace velmora::gui::test {

namespace {

// Seconds of the monotonic clock, as the probe logs them.
void Step(const char* name) {
  const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
  std::printf("STEP %s %.3f\n", name, now);
  std::fflush(stdout);
}

// Each new text of the status line, with its moment, to tell which work a slow reply fell in.
class StatusLineLog : public QObject {
public:
  using QObject::QObject;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      const QString text = static_cast<QLabel*>(watched)->text();
      if (text != last_) {
        last_ = text;
        const double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        std::printf("STATUS %.3f %s\n", now, qPrintable(text.left(80)));
      }
    }
    return false;
  }

private:
  QString last_;
};

QPushButton* Button(QWidget& window, const char* name) {
  return window.findChild<QPushButton*>(QString::fromLatin1(name));
}

} // namespace

class WindowFreezeDrive : public QObject {
  Q_OBJECT

private slots:
  void bigLibrary() {
    const char* count = std::getenv("VELMORA_DRIVE_FILES");
    const int files = count ? std::atoi(count) : 2000;
    TempHome home;
    TestLocker locker;
    TestPresenter presenter;
    SaveSettings({"alice", "secret", "", ""});
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));

    const QString folder = home.path(QStringLiteral("music"));
    QDir().mkpath(folder);
    for (int i = 0; i < files; ++i) {
      WriteBytes(QStringLiteral("%1/t%2.mp3").arg(folder).arg(i),
                 Mp3Bytes(QStringLiteral("Track %1").arg(i), QStringLiteral("Driver"), QStringLiteral("Big"), i, 1));
    }

    StatusLineLog statusLog;
    main.findChild<QLabel*>(QStringLiteral("cmp_pnl_status"))->installEventFilter(&statusLog);
    Step("drop");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(folder)});
    const QPoint centre = main.rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&main, &enter);
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&main, &drop);
    auto* list = main.findChild<QTreeWidget*>(QStringLiteral("cmp_lv_manual_select"));
    QVERIFY(WaitFor([&] { return list->topLevelItemCount() == files; }, 600000));
    QTest::qWait(1000);

    // The steps after the click run from a timer: the click's handler does not return before the
    // queue is built, nor Resume's before the run ends.
    const UploadPipeline& upload = main.engine().upload();
    const int stopAt = std::max(1, files / 20);
    enum class Next { Stop, Resume, Exit, Done } next = Next::Stop;
    QSignalSpy closed(&main, &MainWindow::closed);
    QTimer driver;
    driver.setInterval(50);
    connect(&driver, &QTimer::timeout, this, [&] {
      if (next == Next::Stop && upload.LoopActive() && upload.statusWindow().ItemsStarted >= stopAt) {
        Step("stop");
        QTest::mouseClick(Button(main, "cmp_btn_abort_upload"), Qt::LeftButton);
        next = Next::Resume;
        QTimer::singleShot(3000, this, [&] {
          Step("resume");
          next = Next::Exit;
          QTest::mouseClick(Button(main, "cmp_btn_resume_upload"), Qt::LeftButton);
        });
      } else if (next == Next::Exit && upload.statusWindow().ItemsStarted >= 2 * stopAt) {
        Step("exit");
        next = Next::Done;
        main.close();
      }
    });
    driver.start();
    Step("analysis");
    QTest::mouseClick(Button(main, "cmp_btn_analyze_and_upload"), Qt::LeftButton);
    Step("upload");
    QVERIFY(WaitFor([&] { return closed.count() == 1; }, 3600000));
    Step("closed");
    driver.stop();
    program.reset();
    Step("gone");
  }
};

VELMORA_GUI_TEST(WindowFreezeDrive);

} // namespace velmora::gui::test

#include "WindowFreezeDrive.moc"
