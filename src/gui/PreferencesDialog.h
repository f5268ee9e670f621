#pragma once
// File > Preferences: the folders the window watches for new music (added with a folder picker,
// removed by selection) and the speed limit of transfers. The dialog only edits a copy; the main
// window stores it when accepted.

#include <QDialog>
#include <QStringList>

#include <cstdint>

class QFormLayout;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace velmora::gui {

class Presenter;

class PreferencesDialog : public QDialog {
  Q_OBJECT
public:
  PreferencesDialog(Presenter& presenter, const QStringList& watchedFolders, std::int64_t rateLimit,
                    QWidget* parent = nullptr);

  QStringList watchedFolders() const;
  // Bytes per second, 0 for none (an empty field).
  std::int64_t rateLimit() const;
  void setRateLimitText(const QString& text);
  // Rows for further settings below the folder list, one labelled field each.
  QFormLayout* settingsForm() const { return settingsForm_; }

  // What the buttons do, callable without clicking.
  void addFolder(const QString& folder);
  void removeSelectedFolders();

private:
  void onAddClicked();
  void refreshButtons();

  Presenter& presenter_;
  QListWidget* folders_ = nullptr;
  QPushButton* removeButton_ = nullptr;
  QFormLayout* settingsForm_ = nullptr;
  QLineEdit* rateLimit_ = nullptr;
};

} // namespace velmora::gui
