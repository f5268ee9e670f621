#include "gui/Presenter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QSystemTrayIcon>

namespace velmora::gui {

namespace {

void Box(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

} // namespace

void Presenter::showMessage(QWidget* parent, const QString& text) {
  Box(parent, QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text);
}

void Presenter::showErrorMessage(QWidget* parent, const QString& text) {
  Box(parent, QMessageBox::Critical, QStringLiteral("Error"), text);
}

void Presenter::showErrorDisplay(QWidget* parent, const QString& text) {
  Box(parent, QMessageBox::Critical, QString::fromUtf8(kApplicationTitle), text);
}

int Presenter::execDialog(QDialog& dialog) { return dialog.exec(); }

void Presenter::openUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

QString Presenter::chooseFile(QWidget* parent, const QString& caption, const QString& start, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, start, filter);
}

QString Presenter::chooseSaveFile(QWidget* parent, const QString& caption, const QString& start,
                                  const QString& filter) {
  return QFileDialog::getSaveFileName(parent, caption, start, filter);
}

QString Presenter::chooseFolder(QWidget* parent, const QString& caption, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, caption, start);
}

void Presenter::showTrayMessage(QSystemTrayIcon& tray, const QString& title, const QString& text, bool error) {
  tray.showMessage(title, text, error ? QSystemTrayIcon::Critical : QSystemTrayIcon::Information);
}

} // namespace velmora::gui
