#pragma once
// The windows that live for the whole run, created in the start-up order: the main window (which
// brings up the engine), the about box, and the hidden upload status window.

#include "app/Engine.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace velmora::gui {

class Presenter;
class AboutDialog;
class MainWindow;
class UploadStatusWindow;

class UploaderProgram {
public:
  UploaderProgram(Presenter& presenter, EngineOptions options);
  ~UploaderProgram();

  MainWindow& mainWindow() { return *main_; }
  AboutDialog& aboutBox() { return *about_; }
  UploadStatusWindow& uploadStatusWindow() { return *status_; }

private:
  std::unique_ptr<MainWindow> main_;
  std::unique_ptr<AboutDialog> about_;
  std::unique_ptr<UploadStatusWindow> status_;
};

// The engine's first argument from the program's arguments (after Qt has taken its own): the
// "/stage" redirect, given as one argument or as "/stage" followed by the host.
std::string FirstArgument(const QStringList& arguments);

// Application-wide look: title, icon, font.
void SetUpApplication();

} // namespace velmora::gui
