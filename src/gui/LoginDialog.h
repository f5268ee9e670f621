#pragma once
// The login dialog: asks for the account when none is stored. "Login" accepts, closing cancels.

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmora::gui {

class Presenter;

class LoginDialog : public QDialog {
  Q_OBJECT
public:
  explicit LoginDialog(Presenter& presenter, QWidget* parent = nullptr);

  QString userName() const;
  QString password() const;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  Presenter& presenter_;
  QLineEdit* userNameEdit_ = nullptr;
  QLineEdit* passwordEdit_ = nullptr;
  QPushButton* loginButton_ = nullptr;
};

} // namespace velmora::gui
