#pragma once
// File > Preferences: the folders the window watches for new music (added with a folder picker,
// removed by selection), the speed limit of transfers and how often a failed request is retried. The dialog only edits
// a copy; the main window stores it when accepted.

#include <QDialog>
#include <QStringList>

#include <cstdint>

class QFormLayout;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

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
  // Times a request that failed for a passing reason is sent again (0 to 100).
  int retries() const;
  void setRetries(int retries);
  // Files in transfer at once (1 to 16).
  int transfers() const;
  void setTransfers(int transfers);
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
  QSpinBox* retries_ = nullptr;
  QSpinBox* transfers_ = nullptr;
};

} // namespace velmora::gui
