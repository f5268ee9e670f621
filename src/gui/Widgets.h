#pragma once
// Building blocks shared by the windows: text conversion, the usual buttons, labels, groups, bars
// and check-box lists, and the repaint helpers that touch a widget only when its value differs.

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace velmora::gui {

// Text for the window from the engine's UTF-8 text, and back.
QString Q(const std::string& text);
std::string S(const QString& text);

QPushButton* Button(const QString& text, const char* name, bool bold = false);
QLabel* Label(const QString& text, const char* name = nullptr);
QLabel* BoldLabel(const QString& text, const char* name = nullptr);
QGroupBox* Group(const QString& title, const char* name = nullptr);
// A 16 pixel bar without text, empty.
QProgressBar* Bar(const char* name);
// A list with check boxes and a header. Widths: -1 stretches, 0 hides the column (values only
// the engine needs), anything else is the width in pixels.
QTreeWidget* CheckList(const char* name, const QStringList& columns, const QList<int>& widths);

// Sets a bar to position of maximum; byte counts beyond int are scaled. No maximum: empty.
void SetBar(QProgressBar* bar, std::int64_t position, std::int64_t maximum);
void SetText(QLabel* label, const std::string& text);

struct ListRow {
  QStringList columns;
  bool checked = true;
};

// Brings a check-box list to the engine's rows, touching only what differs, so a repaint in the
// middle of a long analysis keeps the user's scroll position and selection. Emits no signals.
void SyncCheckList(QTreeWidget* list, const std::vector<ListRow>& rows);

} // namespace velmora::gui
