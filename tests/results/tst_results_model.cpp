#include "results/results_model.h"

#include <QSignalSpy>
#include <QTest>

using namespace orlenta;

namespace {

Addresses Strings(const AddressSnapshot& snapshot) {
    return Addresses(snapshot.begin(), snapshot.end());
}

}  // namespace

class ResultsModelTest final : public QObject {
    Q_OBJECT

private slots:
    void appendKeepsOrderAndDuplicates();
    void removeKeepsOrder();
    void removeOutsideChangesNothing();
    void clear();
    void snapshotIsIndependent();
    void header();
};

void ResultsModelTest::appendKeepsOrderAndDuplicates() {
    ResultsModel model;
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.append("b@x.org");
    model.append("A@x.org");
    model.append("b@x.org");
    QCOMPARE(inserted.count(), 3);
    QCOMPARE(Strings(model.snapshot()), (Addresses{"b@x.org", "A@x.org", "b@x.org"}));
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.data(model.index(1)).toString(), QStringLiteral("A@x.org"));
    QVERIFY(!model.data(model.index(3)).isValid());
}

void ResultsModelTest::removeKeepsOrder() {
    ResultsModel model;
    // Addresses of different lengths: the ones after a removed one move up by its length.
    for (const char* address : {"1@x.org", "22@x.org", "3@x.org", "4444@x.org"}) {
        model.append(address);
    }
    QVERIFY(model.removeAt(1));
    QCOMPARE(Strings(model.snapshot()), (Addresses{"1@x.org", "3@x.org", "4444@x.org"}));
    QVERIFY(model.removeAt(0));
    QCOMPARE(Strings(model.snapshot()), (Addresses{"3@x.org", "4444@x.org"}));
    QVERIFY(model.removeAt(1));
    QCOMPARE(Strings(model.snapshot()), Addresses{"3@x.org"});
    QVERIFY(model.removeAt(0));
    QCOMPARE(model.count(), 0);
}

// Guards against a double-click with no selected address (row -1) touching the list.
void ResultsModelTest::removeOutsideChangesNothing() {
    ResultsModel model;
    QVERIFY(!model.removeAt(0));
    model.append("a@x.org");
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QVERIFY(!model.removeAt(-1));
    QVERIFY(!model.removeAt(1));
    QCOMPARE(removed.count(), 0);
    QCOMPARE(Strings(model.snapshot()), Addresses{"a@x.org"});
}

void ResultsModelTest::clear() {
    ResultsModel model;
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    model.clear();
    QCOMPARE(reset.count(), 0);
    model.append("a@x.org");
    model.append("b@x.org");
    model.clear();
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.count(), 0);
    model.append("a@x.org");
    QCOMPARE(Strings(model.snapshot()), Addresses{"a@x.org"});
}

// Guards against a save's snapshot changing, or pointing at freed bytes, when the list changes
// during the save's yields.
void ResultsModelTest::snapshotIsIndependent() {
    ResultsModel model;
    model.append("a@x.org");
    model.append("b@x.org");
    const AddressSnapshot copy = model.snapshot();
    model.removeAt(0);
    model.append("c@x.org");
    QCOMPARE(Strings(copy), (Addresses{"a@x.org", "b@x.org"}));
    // The list lets go of its blocks; the snapshot's views into them must stay valid.
    model.clear();
    model.append("d@x.org");
    QCOMPARE(Strings(copy), (Addresses{"a@x.org", "b@x.org"}));
}

void ResultsModelTest::header() {
    ResultsModel model;
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Results"));
}

QTEST_GUILESS_MAIN(ResultsModelTest)
#include "tst_results_model.moc"
