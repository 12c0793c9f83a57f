#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/results_commands.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"

#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTest>

#include <optional>

using namespace orlenta;

namespace {

constexpr int RunButton = 2;    // Check2, "Delete Duplicate Emails"
constexpr int SourceClear = 3;  // Check3, "Clear List" under the source list
constexpr int ListButton = 6;   // Check6, "Save Results As List"
constexpr int ClearButton = 7;  // Check7, "Clear List" under the results

const QStringList Four{"a@example.com", "b@example.com", "c@example.com", "d@example.com"};

}  // namespace

// The results list: removal by double-click and "Clear List" under it.
class ResultsCommandsTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { window_.emplace(); }
    void cleanup() { window_.reset(); }

    void doubleClickRemovesThatAddress_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("first") << 0
                               << QStringList{"b@example.com", "c@example.com", "d@example.com"};
        QTest::newRow("middle") << 2
                                << QStringList{"a@example.com", "b@example.com", "d@example.com"};
        QTest::newRow("last") << 3
                              << QStringList{"a@example.com", "b@example.com", "c@example.com"};
    }
    void doubleClickRemovesThatAddress() {
        QFETCH(int, row);
        QFETCH(QStringList, after);
        window_->setResults(Four);
        window_->doubleClickResult(row);
        QCOMPARE(window_->results(), after);
        QVERIFY(window_->messages().empty());
    }

    void doubleClickOnTheLastOneLeavesAnEmptyList() {
        window_->setResults({"only@example.com"});
        window_->doubleClickResult(0);
        QCOMPARE(window_->results(), QStringList());
        // A save then writes the empty form.
        const QString path = window_->filePath(QStringLiteral("out.txt"));
        window_->platform.saveAnswers << FileName(path);
        window_->press(ListButton);
        QCOMPARE(ReadBytes(path), QByteArray(""));
    }

    // Guards against removing a row when nothing is selected (row -1 or the current row).
    void doubleClickWithoutSelectionChangesNothing() {
        window_->setResults(Four);
        ReportListView* view = window_->form.resultsList();
        view->setCurrentIndex(view->model()->index(1, 0));
        view->selectionModel()->clearSelection();
        QSignalSpy removed(&window_->form.resultsModel(), &QAbstractItemModel::rowsRemoved);

        QVERIFY(!RemoveSelectedResult(*view, window_->form.resultsModel()));
        // Below the last row, where there is no item to select.
        const QPoint belowTheRows(10, view->viewport()->height() - 3);
        QVERIFY(!view->indexAt(belowTheRows).isValid());
        DoubleClick(view->viewport(), belowTheRows);

        QCOMPARE(window_->results(), Four);
        QCOMPARE(removed.count(), 0);
        QVERIFY(window_->messages().empty());
    }

    // A double-click outside the rows removes nothing, even with an address still selected.
    void doubleClickBesideTheRowsKeepsTheSelectedAddress() {
        window_->setResults(Four);
        window_->clickResult(1);
        QCOMPARE(window_->selectedResults(), QList<int>{1});
        ReportListView* view = window_->form.resultsList();
        DoubleClick(view->viewport(), QPoint(10, view->viewport()->height() - 3));
        QCOMPARE(window_->results(), Four);
    }

    void removalOfTheSelectedRow() {
        window_->setResults(Four);
        window_->clickResult(2);
        QVERIFY(RemoveSelectedResult(*window_->form.resultsList(), window_->form.resultsModel()));
        QCOMPARE(window_->results(),
                 (QStringList{"a@example.com", "b@example.com", "d@example.com"}));
    }

    void clearListEmptiesOnlyTheResults() {
        window_->setResults(Four);
        const QString source = window_->filePath(QStringLiteral("kept.txt"));
        window_->form.sourceModel().append(source);
        window_->press(ClearButton);
        QCOMPARE(window_->results(), QStringList());
        QCOMPARE(window_->form.sourceModel().count(), 1);
        QCOMPARE(window_->form.sourceModel().pathAt(0), source);
        QCOMPARE(window_->button(ClearButton)->value(), 0);
        // Once more on the empty list: nothing to do, nothing shown.
        window_->press(ClearButton);
        QCOMPARE(window_->results(), QStringList());
        QVERIFY(window_->messages().empty());
    }

    // Guards against Check3 and Check7 being crossed.
    void sourceClearLeavesTheResults() {
        window_->setResults(Four);
        window_->form.sourceModel().append(window_->filePath(QStringLiteral("x.txt")));
        window_->press(SourceClear);
        QCOMPARE(window_->form.sourceModel().count(), 0);
        QCOMPARE(window_->results(), Four);
    }

    void runAfterClearFillsTheListAgain() {
        const QString source = window_->filePath(QStringLiteral("source.txt"));
        QVERIFY(PutBytes(source, "x@example.com y@example.org X@EXAMPLE.COM\r\n"));
        window_->form.sourceModel().append(source);
        const QStringList found{"x@example.com", "y@example.org"};
        window_->press(RunButton);
        QCOMPARE(window_->results(), found);
        window_->press(ClearButton);
        QCOMPARE(window_->results(), QStringList());
        window_->press(RunButton);
        QCOMPARE(window_->results(), found);
    }

private:
    std::optional<WindowFixture> window_;
};

QTEST_MAIN(ResultsCommandsTest)
#include "tst_results_commands.moc"
