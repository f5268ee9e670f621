// Not a test of its own: drives the whole window through a big library (VELMORA_DRIVE_FILES
// files, default 2000) the way a user does, printing when each step starts, so that
// tools/window-probe/window-freeze.sh can time the window's replies (tools/window-probe) step by step:
// drop, analysis, upload, Stop, Resume, then exit, or Stop, a second analysis and logout. Run by
// that script under Xvfb, not by CTest.

#include "GuiTestRegistry.h"
#include "GuiTestSupport.h"

#include "app/Settings.h"
#include "gui/MainWindow.h"

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
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
    // VELMORA_DRIVE_END=logout: after Resume, Stop again, analyse the same files once more (every
    // fingerprint cached), Stop that run too and log out with the queue full. Otherwise: exit
    // while uploading.
    const bool logout = QByteArray(std::getenv("VELMORA_DRIVE_END")) == "logout";
    // VELMORA_DRIVE_KEEP=DIR: settings, work folder and music live in DIR and outlast the run, so
    // a later run finds its files written and their fingerprints cached.
    const QByteArray keep = qgetenv("VELMORA_DRIVE_KEEP");
    TempHome home;
    const QString base = QString::fromLocal8Bit(keep);
    if (!keep.isEmpty()) {
      qputenv("XDG_CACHE_HOME", (base + QStringLiteral("/cache")).toLocal8Bit());
      qputenv("XDG_CONFIG_HOME", (base + QStringLiteral("/config")).toLocal8Bit());
    }
    TestLocker locker;
    TestPresenter presenter;
    SaveSettings({"alice", "secret", "", ""});
    auto program = StartProgram(presenter, locker);
    MainWindow& main = program->mainWindow();
    main.show();
    QVERIFY(WaitFor([&] { return main.engine().IsLoggedIn(); }));

    const QString folder = keep.isEmpty() ? home.path(QStringLiteral("music")) : base + QStringLiteral("/music");
    QDir().mkpath(folder);
    for (int i = 0; i < files; ++i) {
      const QString path = QStringLiteral("%1/t%2.mp3").arg(folder).arg(i);
      if (QFileInfo::exists(path)) continue;
      WriteBytes(path,
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

    // The steps after a click run from timers: the click's handler does not return before the
    // queue is built, nor Resume's before the run ends.
    const UploadPipeline& upload = main.engine().upload();
    const int stopAt = std::max(1, files / 20);
    enum class Next { Stop, Resume, End, Idle, Reanalysed, StopAgain, Logout, Done } next = Next::Stop;
    QSignalSpy closed(&main, &MainWindow::closed);
    const auto click = [&](const char* button) { QTest::mouseClick(Button(main, button), Qt::LeftButton); };
    const auto analyse = [&] {
      main.findChild<QTabWidget*>(QStringLiteral("cmp_pc_main"))->setCurrentIndex(1);
      click("cmp_btn_analyze_and_upload");
    };
    QElapsedTimer reanalysed;
    QTimer driver;
    driver.setInterval(50);
    connect(&driver, &QTimer::timeout, this, [&] {
      const int started = upload.statusWindow().ItemsStarted; // counts on over Stop and Resume
      if (next == Next::Stop && upload.LoopActive() && started >= stopAt) {
        Step("stop");
        click("cmp_btn_abort_upload");
        next = Next::Resume;
        QTimer::singleShot(3000, this, [&] {
          Step("resume");
          next = Next::End;
          click("cmp_btn_resume_upload");
        });
      } else if (next == Next::End && started >= 2 * stopAt) {
        if (!logout) {
          Step("exit");
          next = Next::Done;
          main.close();
          return;
        }
        Step("stop2");
        click("cmp_btn_abort_upload");
        next = Next::Idle;
      } else if (next == Next::Idle && !upload.LoopActive()) {
        next = Next::Reanalysed;
        QTimer::singleShot(2000, this, [&] {
          Step("reanalysis");
          analyse();
          Step("upload2");
          next = Next::StopAgain;
          reanalysed.start();
        });
      } else if (next == Next::StopAgain && reanalysed.elapsed() >= 3000) {
        next = Next::Logout;
        if (!upload.LoopActive()) return;
        Step("stop3");
        click("cmp_btn_abort_upload");
      } else if (next == Next::Logout && !upload.LoopActive()) {
        next = Next::Done;
        QTimer::singleShot(2000, this, [&] {
          Step("logout");
          main.findChild<QAction*>(QStringLiteral("cmp_mi_logout"))->trigger();
        });
      }
    });
    driver.start();
    Step("analysis");
    click("cmp_btn_analyze_and_upload");
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
