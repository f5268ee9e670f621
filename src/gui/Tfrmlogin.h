#pragma once
// The login dialog: asks for the account when none is stored. "Login" accepts, closing cancels.

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velmora::gui {

class Presenter;

class Tfrmlogin : public QDialog {
  Q_OBJECT
public:
  explicit Tfrmlogin(Presenter& presenter, QWidget* parent = nullptr);

  QString userName() const;
  QString password() const;

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  Presenter& presenter_;
  QLineEdit* cmp_username = nullptr;
  QLineEdit* cmp_password = nullptr;
  QPushButton* cmp_btn_login = nullptr;
};

} // namespace velmora::gui
