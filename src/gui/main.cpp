// velmora-uploader: the desktop window of Velmora Uploader.

#include "gui/MainWindow.h"
#include "gui/Presenter.h"
#include "gui/UploaderProgram.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  velmora::gui::SetUpApplication();
  // The program ends when the main window closes, not when the last window hides: minimised to
  // the tray, or replaced by the status window during an upload, no window may be visible.
  QApplication::setQuitOnLastWindowClosed(false);

  velmora::gui::Presenter presenter;
  velmora::EngineOptions options;
  QStringList arguments = QApplication::arguments();
  // --tray: start with the tray icon only (the desktop session's autostart entry asks for it).
  const bool inTray = arguments.removeAll(QStringLiteral("--tray")) > 0;
  options.firstArgument = velmora::gui::FirstArgument(arguments);
  velmora::gui::UploaderProgram program(presenter, std::move(options));
  QObject::connect(&program.mainWindow(), &velmora::gui::MainWindow::closed, &app, &QApplication::quit,
                   Qt::QueuedConnection);
  if (inTray) program.mainWindow().startInTray();
  else program.mainWindow().show();
  return app.exec();
}
