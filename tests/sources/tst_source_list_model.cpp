#include "sources/source_list_model.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace orlenta;

namespace {

QStringList Paths(const SourceListModel& model) {
    QStringList paths;
    for (int row = 0; row < model.count(); ++row) {
        paths.append(QString::fromUtf8(model.pathAt(row)));
    }
    return paths;
}

}  // namespace

class SourceListModelTest final : public QObject {
    Q_OBJECT

private slots:
    void appendKeepsEverything();
    void entryIsTheNamesBytes();
    void batchIsOneInsertion();
    void removeKeepsOrder();
    void removeOutsideChangesNothing();
    void setPathAt();
    void clear();
    void header();
};

void SourceListModelTest::appendKeepsEverything() {
    SourceListModel model;
    model.append(QStringLiteral("/data/a.txt"));
    model.append(QStringLiteral("/data/a.txt"));
    model.append(QStringLiteral("/data"));
    model.append(QStringLiteral("/no/such/file"));
    QCOMPARE(Paths(model), (QStringList{"/data/a.txt", "/data/a.txt", "/data", "/no/such/file"}));
    QCOMPARE(model.rowCount(), 4);
    QCOMPARE(model.data(model.index(2)).toString(), QStringLiteral("/data"));
}

// Guards against an entry that is not UTF-8 being kept as its shown text, which names no file.
void SourceListModelTest::entryIsTheNamesBytes() {
    SourceListModel model;
    const QByteArray name = "/data/caf\xe9.txt";
    model.append(QList<QByteArray>{name});
    QCOMPARE(model.pathAt(0), name);
    QCOMPARE(model.data(model.index(0)).toString(), QFile::decodeName(name));
    QVERIFY(model.setPathAt(0, "/data/r\xe9sum\xe9.txt"));
    QCOMPARE(model.pathAt(0), QByteArray("/data/r\xe9sum\xe9.txt"));
}

// The folder scan hands paths on in batches; a view must hear of each batch once.
void SourceListModelTest::batchIsOneInsertion() {
    SourceListModel model;
    model.append(QStringLiteral("first"));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.append(QStringList{"a", "b", "c"});
    model.append(QStringList{});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toInt(), 1);
    QCOMPARE(inserted.first().at(2).toInt(), 3);
    QCOMPARE(Paths(model), (QStringList{"first", "a", "b", "c"}));
}

void SourceListModelTest::removeKeepsOrder() {
    SourceListModel model;
    model.append(QStringList{"1", "2", "3", "4", "5"});
    QVERIFY(model.removeAt(2));
    QCOMPARE(Paths(model), (QStringList{"1", "2", "4", "5"}));
    QVERIFY(model.removeAt(3));
    QVERIFY(model.removeAt(0));
    QCOMPARE(Paths(model), (QStringList{"2", "4"}));
}

// Guards against a double-click with nothing selected (row -1) touching the list.
void SourceListModelTest::removeOutsideChangesNothing() {
    SourceListModel model;
    QVERIFY(!model.removeAt(-1));
    QVERIFY(!model.removeAt(0));
    model.append(QStringList{"a", "b"});
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QVERIFY(!model.removeAt(-1));
    QVERIFY(!model.removeAt(2));
    QCOMPARE(removed.count(), 0);
    QCOMPARE(Paths(model), (QStringList{"a", "b"}));
}

void SourceListModelTest::setPathAt() {
    SourceListModel model;
    model.append(QStringList{"a", "b"});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(model.setPathAt(1, "c"));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!model.setPathAt(2, "d"));
    QVERIFY(!model.setPathAt(-1, "d"));
    QCOMPARE(Paths(model), (QStringList{"a", "c"}));
}

void SourceListModelTest::clear() {
    SourceListModel model;
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.clear();
    QCOMPARE(reset.count(), 0);
    model.append(QStringList{"a", "b"});
    model.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.count(), 0);
}

void SourceListModelTest::header() {
    SourceListModel model;
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("File(s)"));
}

QTEST_GUILESS_MAIN(SourceListModelTest)
#include "tst_source_list_model.moc"
