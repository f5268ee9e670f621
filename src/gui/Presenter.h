#pragma once
// Everything the windows show modally or hand to the desktop goes through one replaceable object,
// so tests can answer dialogs and record messages without a modal loop blocking them.

#include <QString>
#include <QUrl>

class QDialog;
class QSystemTrayIcon;
class QWidget;

namespace velmora::gui {

// The application title: the caption of the program's plain message boxes and error display.
inline constexpr const char* kApplicationTitle = "Velmora Uploader";

class Presenter {
public:
  virtual ~Presenter() = default;

  // A plain message box with one OK button.
  virtual void showMessage(QWidget* parent, const QString& text);
  // A message box with the error icon and one OK button.
  virtual void showErrorMessage(QWidget* parent, const QString& text);
  // The central error display: an operation ended by an error that nothing else handled.
  virtual void showErrorDisplay(QWidget* parent, const QString& text);
  // Runs a dialog modally and returns its result code.
  virtual int execDialog(QDialog& dialog);
  // Hands a web address to the desktop's browser; the program does not wait for it.
  virtual void openUrl(const QUrl& url);
  // File and folder pickers; empty text when the user cancels.
  virtual QString chooseFile(QWidget* parent, const QString& caption, const QString& start, const QString& filter);
  virtual QString chooseFolder(QWidget* parent, const QString& caption, const QString& start);
  // A file name to write to (the desktop asks before replacing a file); empty when cancelled.
  virtual QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& start, const QString& filter);
  // A balloon message from the tray icon, with the error icon when `error`; the desktop shows it
  // for a while and the program does not wait for it.
  virtual void showTrayMessage(QSystemTrayIcon& tray, const QString& title, const QString& text, bool error);
};

} // namespace velmora::gui
