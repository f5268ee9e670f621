#include "gui/UploaderProgram.h"

#include "gui/AboutDialog.h"
#include "gui/MainWindow.h"
#include "gui/UploadStatusWindow.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>

// The icon lives in the static library; its resources must be registered by hand.
static void InitResources() { Q_INIT_RESOURCE(velmora_uploader); }

namespace velmora::gui {

UploaderProgram::UploaderProgram(Presenter& presenter, EngineOptions options) {
  main_ = std::make_unique<MainWindow>(presenter, std::move(options));
  about_ = std::make_unique<AboutDialog>(presenter, main_.get());
  status_ = std::make_unique<UploadStatusWindow>(*main_);
  main_->setAboutBox(about_.get());
  main_->setUploadStatusWindow(status_.get());
}

UploaderProgram::~UploaderProgram() {
  // The engine's shutdown may still repaint; it must not reach a window that is gone.
  main_->setUploadStatusWindow(nullptr);
  main_->setAboutBox(nullptr);
  // The about box is a child of the main window; let the main window delete it.
  about_.release();
  status_.reset();
  main_.reset();
}

std::string FirstArgument(const QStringList& arguments) {
  if (arguments.size() < 2) return {};
  const QString first = arguments.at(1).trimmed();
  if (first == QStringLiteral("/stage") && arguments.size() > 2) {
    return (first + QLatin1Char(' ') + arguments.at(2).trimmed()).toStdString();
  }
  return first.toStdString();
}

void SetUpApplication() {
  InitResources();
  QApplication::setApplicationName(QStringLiteral("velmora-uploader"));
  // No application display name: on X11 and Wayland Qt appends it to every window title
  // ("Login — Velmora Uploader"), and each window's title must be exactly its caption. Message
  // boxes take the application title from kApplicationTitle instead.
  QApplication::setOrganizationName(QStringLiteral("Velmora Online"));
  QApplication::setDesktopFileName(QStringLiteral("velmora-uploader"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/velmora/velmora-uploader.svg")));
  // The desktop's own font where it has one; DejaVu Sans (installed by setup) elsewhere, so the
  // layout looks the same on a bare machine.
  if (QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")) &&
      QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
  }
}

} // namespace velmora::gui
