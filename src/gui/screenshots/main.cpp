// velmora-screenshots: starts the real windows offscreen and saves a picture of each tab, the
// login dialog, the about box and the upload status window. scripts/screenshots runs it against
// a local velmora-locker with a demo account.

#include "gui/Presenter.h"
#include "gui/Tfrmabout.h"
#include "gui/Tfrmlogin.h"
#include "gui/Tfrmmain.h"
#include "gui/Tfrmupload_status.h"
#include "gui/UploaderProgram.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QTabWidget>
#include <QTimer>

#include <iostream>

namespace {

using namespace velmora::gui;

class ShotPresenter : public Presenter {
public:
  explicit ShotPresenter(QString folder) : folder_(std::move(folder)) {}
  void showMessage(QWidget*, const QString& text) override { std::cerr << "message: " << text.toStdString() << "\n"; }
  void showErrorMessage(QWidget*, const QString& text) override { std::cerr << "error: " << text.toStdString() << "\n"; }
  void showErrorDisplay(QWidget*, const QString& text) override { std::cerr << "error display: " << text.toStdString() << "\n"; }
  int execDialog(QDialog& dialog) override {
    dialog.show();
    QCoreApplication::processEvents();
    return QDialog::Rejected;
  }
  void openUrl(const QUrl&) override {}

private:
  QString folder_;
};

bool Save(QWidget& widget, const QString& file) {
  widget.show();
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const bool ok = widget.grab().save(file);
  std::cerr << (ok ? "saved " : "could not save ") << file.toStdString() << "\n";
  return ok;
}

} // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  SetUpApplication();
  QApplication::setQuitOnLastWindowClosed(false);
  const QStringList args = QApplication::arguments();
  const QString folder = args.size() > 1 ? args.at(1) : QStringLiteral("docs/screenshots");
  QDir().mkpath(folder);

  ShotPresenter presenter(folder);
  velmora::EngineOptions options;
  if (args.size() > 2) options.firstArgument = args.at(2).toStdString();
  UploaderProgram program(presenter, options);
  Tfrmmain& main = program.mainWindow();
  main.show();
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();

  auto* tabs = main.findChild<QTabWidget*>(QStringLiteral("cmp_pc_main"));
  const char* names[] = {"tab-itunes", "tab-dragdrop", "tab-winamp", "tab-status", "tab-restore"};
  bool ok = true;
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    ok &= Save(main, folder + "/" + names[i] + ".png");
  }
  Tfrmlogin login(presenter, &main);
  ok &= Save(login, folder + "/login.png");
  login.hide();
  ok &= Save(program.aboutBox(), folder + "/about.png");
  program.aboutBox().hide();
  ok &= Save(program.uploadStatusWindow(), folder + "/upload-status.png");
  program.uploadStatusWindow().hide();
  main.close();
  return ok ? 0 : 1;
}
