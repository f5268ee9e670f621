#include "gui/Widgets.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <climits>

namespace velmora::gui {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

QPushButton* Button(const QString& text, const char* name, bool bold) {
  auto* button = new QPushButton(text);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  if (bold) {
    QFont f = button->font();
    f.setBold(true);
    button->setFont(f);
  }
  return button;
}

QLabel* Label(const QString& text, const char* name) {
  auto* label = new QLabel(text);
  label->setTextFormat(Qt::PlainText);
  if (name) label->setObjectName(QString::fromLatin1(name));
  return label;
}

QLabel* BoldLabel(const QString& text, const char* name) {
  QLabel* label = Label(text, name);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

QGroupBox* Group(const QString& title, const char* name) {
  auto* group = new QGroupBox(title);
  if (name) group->setObjectName(QString::fromLatin1(name));
  return group;
}

QProgressBar* Bar(const char* name) {
  auto* bar = new QProgressBar;
  bar->setObjectName(QString::fromLatin1(name));
  bar->setTextVisible(false);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setFixedHeight(16);
  return bar;
}

QTreeWidget* CheckList(const char* name, const QStringList& columns, const QList<int>& widths) {
  auto* list = new QTreeWidget;
  list->setObjectName(QString::fromLatin1(name));
  list->setHeaderLabels(columns);
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setAlternatingRowColors(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->header()->setStretchLastSection(false);
  for (int i = 0; i < widths.size(); ++i) {
    if (widths[i] < 0) {
      list->header()->setSectionResizeMode(i, QHeaderView::Stretch);
    } else if (widths[i] == 0) {
      list->setColumnHidden(i, true);
    } else {
      list->setColumnWidth(i, widths[i]);
    }
  }
  return list;
}

void SetBar(QProgressBar* bar, std::int64_t position, std::int64_t maximum) {
  if (!bar) return;
  if (maximum <= 0) {
    bar->setRange(0, 1);
    bar->setValue(0);
    return;
  }
  // Byte counts outgrow a bar's int range; scale both ends alike.
  int shift = 0;
  while ((maximum >> shift) > INT_MAX / 2) ++shift;
  const auto max = static_cast<int>(maximum >> shift);
  const auto pos = static_cast<int>(std::clamp<std::int64_t>(position, 0, maximum) >> shift);
  if (bar->maximum() != max || bar->minimum() != 0) bar->setRange(0, max);
  if (bar->value() != pos) bar->setValue(pos);
}

void SetText(QLabel* label, const std::string& text) {
  const QString value = Q(text);
  if (label->text() != value) label->setText(value);
}

void SyncCheckList(QTreeWidget* list, const std::vector<ListRow>& rows) {
  QSignalBlocker block(list);
  if (list->topLevelItemCount() != static_cast<int>(rows.size())) {
    list->clear();
    QList<QTreeWidgetItem*> items;
    for (const ListRow& row : rows) {
      auto* item = new QTreeWidgetItem(row.columns);
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
      item->setCheckState(0, row.checked ? Qt::Checked : Qt::Unchecked);
      items << item;
    }
    list->addTopLevelItems(items);
    return;
  }
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = list->topLevelItem(i);
    const ListRow& row = rows[static_cast<std::size_t>(i)];
    for (int c = 0; c < row.columns.size(); ++c) {
      if (item->text(c) != row.columns[c]) item->setText(c, row.columns[c]);
    }
    const Qt::CheckState state = row.checked ? Qt::Checked : Qt::Unchecked;
    if (item->checkState(0) != state) item->setCheckState(0, state);
  }
}

} // namespace velmora::gui
