// The upload queue table follows the engine's queue record by record: rows that stay keep their
// place (and so the user's selection), rows whose record left go, new records are appended.

#include "GuiTestRegistry.h"

#include "gui/UploadQueueModel.h"
#include "upload/UploadQueue.h"

#include <QPersistentModelIndex>

#include <deque>

namespace velmora::gui::test {

namespace {

UploadQueueRecord Record(std::uint64_t id) {
  UploadQueueRecord record;
  record.id = id;
  record.artist = "Artist " + std::to_string(id);
  record.name = "Track " + std::to_string(id);
  record.size = static_cast<std::int64_t>(id) * 1000;
  return record;
}

QList<std::uint64_t> Ids(const UploadQueueModel& model) {
  QList<std::uint64_t> ids;
  for (int row = 0; row < model.rowCount(); ++row) ids << model.recordId(row).value_or(0);
  return ids;
}

} // namespace

class UploadQueueModelTest : public QObject {
  Q_OBJECT

private slots:
  void rowsFollowTheQueueAndKeepTheirPlace() {
    UploadQueueModel model;
    std::deque<UploadQueueRecord> queue;
    for (std::uint64_t id = 1; id <= 5; ++id) queue.push_back(Record(id));
    model.sync(queue);
    QCOMPARE(Ids(model), (QList<std::uint64_t>{1, 2, 3, 4, 5}));
    QCOMPARE(model.index(2, UploadQueueModel::Name).data().toString(), QStringLiteral("Track 3"));
    QCOMPARE(model.index(2, UploadQueueModel::Size).data().toString(), QStringLiteral("3000"));
    QCOMPARE(model.index(2, UploadQueueModel::Size).data(Qt::TextAlignmentRole).toInt(),
             int(Qt::AlignRight | Qt::AlignVCenter));
    const QPersistentModelIndex selected = model.index(3, UploadQueueModel::Name); // record 4

    queue.pop_front(); // the first record sent
    model.sync(queue);
    QCOMPARE(Ids(model), (QList<std::uint64_t>{2, 3, 4, 5}));

    // Records leave from the middle and the end while new ones arrive.
    queue.erase(queue.begin() + 1); // 3
    queue.pop_back();               // 5
    queue.push_back(Record(6));
    queue.push_back(Record(7));
    model.sync(queue);
    QCOMPARE(Ids(model), (QList<std::uint64_t>{2, 4, 6, 7}));
    QVERIFY(selected.isValid());
    QCOMPARE(selected.row(), 1);
    QCOMPARE(model.index(3, UploadQueueModel::Artist).data().toString(), QStringLiteral("Artist 7"));

    queue.clear();
    model.sync(queue);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.recordId(0));
    QVERIFY(!selected.isValid());
  }
};

VELMORA_GUI_TEST(UploadQueueModelTest);

} // namespace velmora::gui::test

#include "UploadQueueModelTest.moc"
