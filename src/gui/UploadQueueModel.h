#pragma once
// The Status tab's upload queue as a table: one row per queue record, columns Artist, Name, Size
// and the two hidden ones (hash check answer, album). The rows are a copy of what they show,
// brought to the engine's queue by sync(): the queue may change while events are pumped, before
// the engine says so, and the view must never read a record that is gone.

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <deque>
#include <optional>

namespace velmora {
struct UploadQueueRecord;
}

namespace velmora::gui {

class UploadQueueModel : public QAbstractTableModel {
  Q_OBJECT
public:
  enum Column { Artist, Name, Size, HashCheckResponse, Album, ColumnCount };
  // What a column sorts by: the size as a number, the texts case-blind.
  static constexpr int kSortRole = Qt::UserRole;

  explicit UploadQueueModel(QObject* parent = nullptr);

  // Records are appended with rising ids and leave from anywhere: rows whose record is gone are
  // removed, new records appended; rows that stay keep their place, selection and scroll position.
  void sync(const std::deque<UploadQueueRecord>& records);
  // The id of the record shown in this row.
  std::optional<std::uint64_t> recordId(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
  struct Row {
    std::uint64_t id = 0;
    qint64 size = 0;
    QString columns[ColumnCount];
  };
  static Row RowOf(const UploadQueueRecord& record);

  std::deque<Row> rows_;
};

} // namespace velmora::gui
