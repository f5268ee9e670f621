#pragma once
// The about box: program icon, the maker's notice, links to the terms and to the feedback site.

#include <QDialog>

namespace velmora::gui {

class Presenter;

class AboutDialog : public QDialog {
  Q_OBJECT
public:
  explicit AboutDialog(Presenter& presenter, QWidget* parent = nullptr);

private:
  Presenter& presenter_;
};

} // namespace velmora::gui
