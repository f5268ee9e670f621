// velmora-screenshots: runs the real windows offscreen against a velmora-locker, uses them the way a
// person would (sign in, upload a folder, stop a run, analyse iTunes and Winamp, restore), and
// saves a picture of every tab, the login dialog, the about box and the upload status window.
// scripts/screenshots prepares the locker, the demo music and the library files, then runs it:
//
//   velmora-screenshots OUT_DIR LOCKER_ADDRESS MUSIC_DIR WINAMP_PLAYLISTS_XML RESTORE_DIR
//
// The account must already be stored (velmora login); VELMORA_ITUNES_LIBRARY names the iTunes
// library export.

#include "gui/AboutDialog.h"
#include "gui/LoginDialog.h"
#include "gui/MainWindow.h"
#include "gui/PreferencesDialog.h"
#include "gui/Presenter.h"
#include "gui/UploadStatusWindow.h"
#include "gui/UploaderProgram.h"

#include <curl/curl.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <functional>
#include <iostream>

namespace {

using namespace velmora::gui;

// Message boxes are noted on stderr instead of waiting for a click.
class ShotPresenter : public Presenter {
public:
  void showMessage(QWidget*, const QString& text) override { Note("message", text); }
  void showErrorMessage(QWidget*, const QString& text) override { Note("error", text); }
  void showErrorDisplay(QWidget*, const QString& text) override { Note("error display", text); }
  int execDialog(QDialog& dialog) override {
    Note("dialog", dialog.windowTitle());
    return QDialog::Rejected;
  }
  void openUrl(const QUrl&) override {}

private:
  static void Note(const char* kind, const QString& text) {
    std::cerr << "  (" << kind << ": " << text.toStdString() << ")\n";
  }
};

[[noreturn]] void Fail(const std::string& why) {
  std::cerr << "velmora-screenshots: " << why << "\n";
  std::exit(1);
}

void Pump(int ms = 30) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

void WaitFor(const std::function<bool()>& done, const char* what, int ms = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) Fail(std::string("timed out waiting for ") + what);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
}

template <class T>
T* Find(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(QString::fromLatin1(name));
  if (!widget) Fail(std::string("no widget ") + name);
  return widget;
}

void Click(QWidget& window, const char* button) { Find<QPushButton>(window, button)->click(); }

void Save(QWidget& widget, const QString& file) {
  Pump(80);
  if (!widget.grab().save(file)) Fail("cannot save " + file.toStdString());
  std::cerr << "saved " << file.toStdString() << "\n";
}

void ClickLabel(QLabel& label) {
  const QPointF at = QRectF(label.rect()).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, label.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, label.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&label, &press);
  QApplication::sendEvent(&label, &release);
  Pump();
}

void Drop(QWidget& target, const QString& path) {
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(path)});
  QDragEnterEvent enter(target.rect().center(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&target, &enter);
  QDropEvent drop(QPointF(target.rect().center()), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&target, &drop);
  Pump();
}

// A request to the locker's control interface: arming and clearing faults.
void Control(const std::string& address, const std::string& path, const std::string& fields) {
  CURL* curl = curl_easy_init();
  const std::string url = "http://" + address + "/_control/" + path;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, fields.c_str());
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (result != CURLE_OK) Fail("cannot reach the locker's control interface");
}

void SetChecked(QTreeWidget* list, const QString& caption, bool checked) {
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(0) == caption)
      list->topLevelItem(i)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
  }
}

// File > Preferences with two watched folders of the demo, a speed timetable and the start with
// the session; it needs no service.
void ShootPreferences(Presenter& presenter, QWidget* parent, const QString& music, const QString& file) {
  PreferencesDialog preferences(presenter, {music + QStringLiteral("/Incoming"), music + QStringLiteral("/Rips")},
                                *velmora::ParseRateTimetable("08:00,512K 18:00,2M 23:00,off").timetable, parent);
  preferences.setStartWithSession(true);
  preferences.show();
  Save(preferences, file);
  preferences.hide();
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetUpApplication();
  QApplication::setQuitOnLastWindowClosed(false);
  const QStringList args = QApplication::arguments();
  // Only the pictures that need no service: velmora-screenshots --dialogs OUT_DIR MUSIC_DIR
  if (args.size() == 4 && args.at(1) == QStringLiteral("--dialogs")) {
    ShotPresenter presenter;
    QDir().mkpath(args.at(2));
    ShootPreferences(presenter, nullptr, args.at(3), args.at(2) + QStringLiteral("/preferences.png"));
    return 0;
  }
  if (args.size() != 6) Fail("usage: velmora-screenshots OUT_DIR LOCKER_ADDRESS MUSIC_DIR WINAMP_XML RESTORE_DIR");
  const QString out = args.at(1);
  const std::string address = args.at(2).toStdString();
  const QString music = args.at(3);
  const QString winampXml = args.at(4);
  const QString restoreDir = args.at(5);
  QDir().mkpath(out);
  auto shot = [&](QWidget& widget, const char* name) { Save(widget, out + QLatin1Char('/') + name + ".png"); };

  ShotPresenter presenter;
  velmora::EngineOptions options;
  options.firstArgument = "/stage " + address;
  UploaderProgram program(presenter, options);
  MainWindow& main = program.mainWindow();
  UploadStatusWindow& status = program.uploadStatusWindow();
  auto* tabs = Find<QTabWidget>(main, "cmp_pc_main");
  main.show();
  WaitFor([&] { return main.engine().IsLoggedIn(); }, "the login");

  // A first upload, so the service has a playlist to restore later.
  Drop(main, music + QStringLiteral("/Northern Lights"));
  Find<QComboBox>(main, "cmp_manually_add_to_plist")->setEditText(QStringLiteral("Road Trip"));
  Click(main, "cmp_btn_analyze_and_upload");
  WaitFor([&] { return main.engine().upload().outcome() == velmora::RunOutcome::Finished; }, "the first upload");
  Click(main, "cmp_btn_clear_list");
  ClickLabel(*Find<QLabel>(main, "cmp_lbl_close_done_bar"));

  // The whole folder, with every file transfer slowed down so the status window has a speed to
  // show and the run can be stopped half-way.
  Drop(main, music);
  Find<QComboBox>(main, "cmp_manually_add_to_plist")->setEditText(QStringLiteral("Favourites"));
  Control(address, "faults", "target=upload&kind=stall&ms=1400&times=always");
  // The loop runs inside the event handling of its start timer, so the pictures are taken by a
  // timer that fires while the loop pumps events, as a user's clicks would arrive.
  QTimer during;
  during.setInterval(50);
  bool shared = false, stopped = false;
  QObject::connect(&during, &QTimer::timeout, [&] {
    if (main.engine().upload().statusWindow().ItemsStarted < 3 || status.statusText().isEmpty()) return;
    if (!shared) {
      ClickLabel(*Find<QLabel>(status, "cmp_lbl_share"));
      Find<QLineEdit>(status, "edit_email_invite")->setText(QStringLiteral("friend@example.org"));
      shared = true;
      return;
    }
    during.stop();
    shot(status, "upload-status");
    Click(main, "cmp_btn_abort_upload");
    stopped = true;
  });
  during.start();
  Click(main, "cmp_btn_analyze_and_upload");
  WaitFor([&] { return stopped; }, "the status window's first speed figure");
  WaitFor([&] { return !main.engine().upload().LoopActive(); }, "the stop");
  status.close();
  WaitFor([&] { return main.isVisible(); }, "the main window");
  Find<QWidget>(main, "cmp_grid_upload_queue")->setFocus();
  tabs->setCurrentIndex(3);
  shot(main, "tab-status");

  // The rest of the run, at full speed, to the "Upload done!" bar.
  Control(address, "faults/reset", "");
  Click(main, "cmp_btn_resume_upload");
  WaitFor([&] { return main.engine().upload().outcome() == velmora::RunOutcome::Finished; }, "the resumed upload");
  WaitFor([&] { return main.isVisible(); }, "the main window after the run");
  status.hide();
  tabs->setCurrentIndex(3);
  shot(main, "tab-status-done");

  tabs->setCurrentIndex(1);
  Find<QComboBox>(main, "cmp_manually_add_to_plist")->setEditText(QString());
  shot(main, "tab-dragdrop");

  tabs->setCurrentIndex(0);
  Click(main, "cmp_btn_do_analyze_itunes_lib");
  Pump(200);
  shot(main, "tab-itunes");

  tabs->setCurrentIndex(2);
  Find<QLineEdit>(main, "cmp_winamp_plist_location")->setText(winampXml);
  main.engine().SetWinampLocation(winampXml.toStdString());
  Click(main, "cmp_btn_analyze_winamp_data");
  Pump(200);
  shot(main, "tab-winamp");

  tabs->setCurrentIndex(4);
  Click(main, "btn_restore_analyze");
  SetChecked(Find<QTreeWidget>(main, "cmp_lb_restore_plists"), QStringLiteral("Favourites"), false);
  QDir().mkpath(restoreDir);
  Find<QLineEdit>(main, "edit_restore_path")->setText(restoreDir);
  Click(main, "cmp_btn_restore");
  WaitFor([&] { return !main.engine().restoreState().running; }, "the restore");
  shot(main, "tab-restore");

  LoginDialog login(presenter, &main);
  login.findChild<QLineEdit*>(QStringLiteral("cmp_username"))->setText(QStringLiteral("demo"));
  login.show();
  shot(login, "login");
  login.hide();
  program.aboutBox().show();
  shot(program.aboutBox(), "about");
  program.aboutBox().hide();
  ShootPreferences(presenter, &main, music, out + QStringLiteral("/preferences.png"));

  main.close();
  return 0;
}
