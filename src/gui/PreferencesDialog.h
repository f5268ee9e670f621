#pragma once
// File > Preferences: the folders the window watches for new music (added with a folder picker,
// removed by selection), the speed limit of transfers and how often a failed request is retried. The dialog only edits
// a copy; the main window stores it when accepted.

#include "base/RateTimetable.h"

#include <QDialog>
#include <QStringList>

#include <cstdint>

class QCheckBox;
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
  PreferencesDialog(Presenter& presenter, const QStringList& watchedFolders, const RateTimetable& rateLimit,
                    QWidget* parent = nullptr);

  QStringList watchedFolders() const;
  // One rate or a timetable by time of day; no limit for an empty field. OK is refused (with a
  // message naming the bad entry) while the field holds neither.
  RateTimetable rateLimit() const;
  void setRateLimitText(const QString& text);
  // Times a request that failed for a passing reason is sent again (0 to 100).
  int retries() const;
  void setRetries(int retries);
  // "Start with the desktop session, in the tray".
  bool startWithSession() const;
  void setStartWithSession(bool start);
  // Files in transfer at once (1 to 16).
  int transfers() const;
  void setTransfers(int transfers);
  // Rows for further settings below the folder list, one labelled field each.
  QFormLayout* settingsForm() const { return settingsForm_; }

  // What the buttons do, callable without clicking.
  void addFolder(const QString& folder);
  void removeSelectedFolders();

  void accept() override;

private:
  void onAddClicked();
  void refreshButtons();

  Presenter& presenter_;
  QListWidget* folders_ = nullptr;
  QPushButton* removeButton_ = nullptr;
  QFormLayout* settingsForm_ = nullptr;
  QLineEdit* rateLimit_ = nullptr;
  QSpinBox* retries_ = nullptr;
  QCheckBox* startWithSession_ = nullptr;
  QSpinBox* transfers_ = nullptr;
};

} // namespace velmora::gui
