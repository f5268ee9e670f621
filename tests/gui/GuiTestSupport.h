#pragma once
// Shared pieces of the window tests: a presenter that records instead of blocking, a temporary
// home for settings and work folder, an in-process velmora-locker, and MP3 files made in code.

#include "gui/Presenter.h"
#include "gui/UploaderProgram.h"

#include "Locker.h"

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>

namespace velmora::gui::test {

// Message boxes are recorded; dialogs are answered by `onDialog` (default: closed without OK).
class TestPresenter : public Presenter {
public:
  void showMessage(QWidget*, const QString& text) override;
  void showErrorMessage(QWidget*, const QString& text) override;
  void showErrorDisplay(QWidget*, const QString& text) override;
  int execDialog(QDialog& dialog) override;
  void openUrl(const QUrl& url) override { urls << url; }
  QString chooseFile(QWidget*, const QString&, const QString&, const QString&) override { return chosenPath; }
  QString chooseFolder(QWidget*, const QString&, const QString&) override { return chosenPath; }
  QString chooseSaveFile(QWidget*, const QString&, const QString&, const QString&) override { return chosenPath; }
  void showTrayMessage(QSystemTrayIcon&, const QString& title, const QString& text, bool) override {
    trayMessages << title + QLatin1Char('\n') + text;
  }

  QStringList messages;
  QStringList errorMessages;
  QStringList errorDisplays;
  QStringList trayMessages; // title, a line end, text
  QList<QUrl> urls;
  QStringList dialogs; // window titles of the dialogs run
  QString chosenPath;
  // Runs each modal dialog; it may fill in fields and click buttons. Returns the dialog's result.
  std::function<int(QDialog&)> onDialog;
  // Runs inside every plain message box, as if the user read it while it was open.
  std::function<void(const QString&)> onMessage;
};

// Points the settings and the work folder at a fresh temporary folder for the test's life.
class TempHome {
public:
  TempHome();
  ~TempHome();
  QString path(const QString& name) const { return dir_.filePath(name); }
  QString workFolder() const { return dir_.filePath(QStringLiteral("cache/VLUploader")); }

private:
  QTemporaryDir dir_;
  QByteArray oldCache_, oldConfig_;
};

// velmora-locker in this process, on a free loopback port, with the account alice / secret.
class TestLocker {
public:
  TestLocker();
  ~TestLocker();
  locker::Locker& locker() { return *locker_; }
  // The program's first argument that points it at this locker.
  std::string stageArgument() const;
  int itemCount(const std::string& user = "alice") const;

private:
  std::unique_ptr<locker::Locker> locker_;
};

// A playable MPEG-1 Layer III file with an ID3v2.3 tag: `frames` frames of 417 bytes whose
// payload depends on `seed`, so every seed gives other content and another hash id.
QByteArray Mp3Bytes(const QString& title, const QString& artist, const QString& album, int seed, int frames = 40);
void WriteBytes(const QString& path, const QByteArray& bytes);

// The whole program (main window, about box, status window) against the test locker.
std::unique_ptr<UploaderProgram> StartProgram(TestPresenter& presenter, const TestLocker& locker);

// Waits, handling events, until `done` holds; false after `ms` milliseconds.
bool WaitFor(const std::function<bool()>& done, int ms = 20000);

} // namespace velmora::gui::test
