#include "gui/UploadQueueModel.h"

#include "upload/UploadQueue.h"

namespace velmora::gui {

UploadQueueModel::UploadQueueModel(QObject* parent) : QAbstractTableModel(parent) {}

UploadQueueModel::Row UploadQueueModel::RowOf(const UploadQueueRecord& record) {
  Row row;
  row.id = record.id;
  row.columns[Artist] = QString::fromStdString(record.artist);
  row.columns[Name] = QString::fromStdString(record.name);
  row.size = record.size;
  row.columns[Size] = QString::number(record.size);
  row.columns[HashCheckResponse] = QString::fromStdString(record.hashcheckresponse);
  row.columns[Album] = QString::fromStdString(record.album);
  return row;
}

void UploadQueueModel::sync(const std::deque<UploadQueueRecord>& records) {
  const auto count = static_cast<int>(records.size());
  const int shown = rowCount();
  // The common changes are recognised without walking the whole queue: nothing, or the first
  // record sent.
  if (count == shown &&
      (count == 0 || (rows_.front().id == records.front().id && rows_.back().id == records.back().id))) {
    return;
  }
  if (count == shown - 1 && count > 0 && rows_[1].id == records.front().id && rows_.back().id == records.back().id) {
    beginRemoveRows(QModelIndex(), 0, 0);
    rows_.pop_front();
    endRemoveRows();
    return;
  }
  // Otherwise walk both lists: rows whose record is gone leave, new records are appended.
  std::size_t row = 0;
  std::size_t index = 0;
  while (row < rows_.size()) {
    if (index < records.size() && rows_[row].id == records[index].id) {
      ++row;
      ++index;
      continue;
    }
    std::size_t end = row + 1;
    while (end < rows_.size() && !(index < records.size() && rows_[end].id == records[index].id)) ++end;
    beginRemoveRows(QModelIndex(), static_cast<int>(row), static_cast<int>(end) - 1);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row), rows_.begin() + static_cast<std::ptrdiff_t>(end));
    endRemoveRows();
  }
  if (index == records.size()) return;
  beginInsertRows(QModelIndex(), rowCount(), count - 1);
  for (; index < records.size(); ++index) rows_.push_back(RowOf(records[index]));
  endInsertRows();
}

std::optional<std::uint64_t> UploadQueueModel::recordId(int row) const {
  if (row < 0 || row >= rowCount()) return std::nullopt;
  return rows_[static_cast<std::size_t>(row)].id;
}

int UploadQueueModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int UploadQueueModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant UploadQueueModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount) return {};
  switch (role) {
  case Qt::DisplayRole:
  case Qt::EditRole: return rows_[static_cast<std::size_t>(index.row())].columns[index.column()];
  case kSortRole: {
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    return index.column() == Size ? QVariant(row.size) : QVariant(row.columns[index.column()].toCaseFolded());
  }
  case Qt::TextAlignmentRole:
    return static_cast<int>((index.column() == Size ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  default: return {};
  }
}

QVariant UploadQueueModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return QAbstractTableModel::headerData(section, orientation, role);
  if (role != Qt::DisplayRole || section < 0 || section >= ColumnCount) return {};
  static const char* const kTitles[ColumnCount] = {"Artist", "Name", "Size", "hashcheckresponse", "Album"};
  return QString::fromLatin1(kTitles[section]);
}

Qt::ItemFlags UploadQueueModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

} // namespace velmora::gui
