// Carrying an entry of the source list to other places with the mouse: presses, moves with the
// button held and releases on the list's viewport, as the list receives them, with the pointer's
// screen row scripted.
#include "sources/source_list_model.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/source_list_drop.h"
#include "ui/pointer/mouse_pointer.h"
#include "ui/pointer/source_list_reorder.h"
#include "ui/window/form1.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

#include <optional>

using namespace orlenta;

namespace {

const QString AssetsDir = QStringLiteral(ORLENTA_ASSETS_DIR);

// A screen row between the two scrolling bands.
constexpr int QuietScreenRow = 340;

QStringList Numbered(int count) {
    QStringList paths;
    for (int i = 1; i <= count; ++i) {
        paths << QStringLiteral("/data/entry%1.txt").arg(i, 2, 10, QLatin1Char('0'));
    }
    return paths;
}

}  // namespace

class SourceListReorderTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        window_.emplace();
        window_->platform.pointer = QPoint(200, QuietScreenRow);
    }
    void cleanup() { window_.reset(); }

    void carriedPathMovesOnePlaceAtATime() {
        fill({"A", "B", "C", "D"});
        press(1);
        QCOMPARE(reorder()->carriedRow(), 1);
        QVERIFY(reorder()->dragFlag());
        QCOMPARE(form().sourceListPointer().value(), MousePointer::Custom);

        moveHeldOver(2);
        QCOMPARE(entries(), (QStringList{"A", "C", "B", "D"}));
        QCOMPARE(selectedRows(), QList<int>{2});
        QCOMPARE(form().sourceList()->currentIndex().row(), 2);

        moveHeldOver(3);
        QCOMPARE(entries(), (QStringList{"A", "C", "D", "B"}));
        QCOMPARE(selectedRows(), QList<int>{3});

        release(3);
        QVERIFY(!reorder()->dragFlag());
        QCOMPARE(form().sourceListPointer().value(), MousePointer::Arrow);
        QCOMPARE(form().sourceList()->cursor().shape(), Qt::ArrowCursor);
        // The release neither moves nor selects anything, and the carried entry is kept.
        QCOMPARE(entries(), (QStringList{"A", "C", "D", "B"}));
        QCOMPARE(selectedRows(), QList<int>{3});
        QCOMPARE(reorder()->carriedRow(), 3);
    }

    // Guards against the list's own click handling selecting the entry under the release: a
    // press on the entry already selected makes it wait for the release to select, and after a
    // carry that scrolled, the pointer is over another entry when the button comes up.
    void releaseOverAnotherEntrySelectsNothing() {
        fill({"A", "B", "C", "D"});
        press(1);
        release(1);
        press(1);  // B is selected already
        moveHeldOver(2);
        QCOMPARE(entries(), (QStringList{"A", "C", "B", "D"}));
        release(3);
        QCOMPARE(selectedRows(), QList<int>{2});
        QCOMPARE(reorder()->carriedRow(), 2);
    }

    // Guards against moving the carried entry like a row move: two paths change places, the
    // ones between stay.
    void aLongStepExchangesTwoPathsOnly() {
        fill({"A", "B", "C", "D"});
        press(0);
        moveHeldOver(3);
        QCOMPARE(entries(), (QStringList{"D", "B", "C", "A"}));
        QCOMPARE(selectedRows(), QList<int>{3});
        release(3);
    }

    void movingOverTheCarriedEntryOrEmptySpaceChangesNothing() {
        fill({"A", "B", "C"});
        press(1);
        QSignalSpy changed(&form().sourceModel(), &QAbstractItemModel::dataChanged);
        moveHeldOver(1);
        moveHeldTo(rightOfTheColumn(0));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(selectedRows(), QList<int>{1});
        release(1);
    }

    // Guards against the list's own drag selection, which would select the twin under the
    // pointer, and against exchanging paths that compare equal.
    void twinChangesNothingSelectsNothingScrollsNothing() {
        QStringList paths = Numbered(20);
        paths[6] = paths[7] = QStringLiteral("/data/twin.txt");
        fill(paths);
        window_->platform.pointer.setY(400);
        placeAtBottom(7);
        const int scrolled = scrollValue();
        press(6);
        QSignalSpy changed(&form().sourceModel(), &QAbstractItemModel::dataChanged);

        moveHeldOver(7);

        QCOMPARE(changed.count(), 0);
        QCOMPARE(entries(), paths);
        QCOMPARE(selectedRows(), QList<int>{6});
        QCOMPARE(scrollValue(), scrolled);
        QCOMPARE(reorder()->carriedRow(), 6);

        // The carried entry is still the one clicked.
        window_->platform.pointer.setY(QuietScreenRow);
        moveHeldOver(5);
        QCOMPARE(entries().mid(5, 3), (QStringList{"/data/twin.txt", paths[5], "/data/twin.txt"}));
        QCOMPARE(selectedRows(), QList<int>{5});
        release(5);
    }

    void exchangeScrollsByTheScreenRow_data() {
        QTest::addColumn<int>("screenRow");
        QTest::addColumn<int>("position");   // of the entry moved over, from 1, in 20 entries
        QTest::addColumn<bool>("atTop");     // that entry is the top row shown, or the bottom
        QTest::addColumn<int>("direction");  // -1 up, 0 none, 1 down

        QTest::newRow("row 304 scrolls up") << 304 << 7 << true << -1;
        QTest::newRow("row 0 scrolls up") << 0 << 2 << true << -1;
        QTest::newRow("row 305 scrolls nothing") << 305 << 7 << true << 0;
        QTest::newRow("row 340 at the top scrolls nothing") << 340 << 7 << true << 0;
        QTest::newRow("row 340 scrolls nothing") << 340 << 7 << false << 0;
        QTest::newRow("row 364 scrolls nothing") << 364 << 7 << false << 0;
        QTest::newRow("row 365 scrolls down") << 365 << 7 << false << 1;
        QTest::newRow("row 400 scrolls down") << 400 << 7 << false << 1;
        QTest::newRow("row 304, first entry") << 304 << 1 << true << 0;
        QTest::newRow("row 365, last entry") << 365 << 20 << false << 0;
        QTest::newRow("row 400, next to last") << 400 << 19 << false << 1;
    }
    void exchangeScrollsByTheScreenRow() {
        QFETCH(int, screenRow);
        QFETCH(int, position);
        QFETCH(bool, atTop);
        QFETCH(int, direction);
        const QStringList paths = Numbered(20);
        fill(paths);
        const int target = position - 1;
        // The carried entry is the visible neighbour of the one moved over.
        const int carried = atTop ? target + 1 : target - 1;
        atTop ? placeAtTop(target) : placeAtBottom(target);
        const int neighbour = target + (atTop ? -1 : 1);
        if (neighbour >= 0 && neighbour < paths.size()) {
            QVERIFY(!fullyShown(neighbour));
        }
        const int before = scrollValue();
        window_->platform.pointer.setY(screenRow);

        press(carried);
        moveHeldOver(target);

        QCOMPARE(entries()[target], paths[carried]);
        QCOMPARE(entries()[carried], paths[target]);
        QCOMPARE(selectedRows(), QList<int>{target});
        if (direction == 0) {
            QCOMPARE(scrollValue(), before);
        } else {
            QVERIFY(direction < 0 ? scrollValue() < before : scrollValue() > before);
            QVERIFY(fullyShown(target + direction));
        }
        release(target);
    }

    // Guards against the selection of the carried path scrolling the list on its own: only the
    // screen row decides that.
    void exchangeWithAHalfShownEntryScrollsNothingInTheQuietRows() {
        fill(Numbered(20));
        placeAtBottom(6);
        const QPoint edge(20, view()->viewport()->height() - 1);  // its last pixel row
        const QModelIndex halfShown = view()->indexAt(edge);
        if (!halfShown.isValid() || fullyShown(halfShown.row())) {
            QSKIP("the rows fill the list exactly, none is half shown");
        }
        const int before = scrollValue();
        press(halfShown.row() - 1);
        moveHeldTo(edge);
        QCOMPARE(selectedRows(), QList<int>{halfShown.row()});
        QCOMPARE(scrollValue(), before);
        releaseAt(edge);
    }

    void pressOnEmptySpaceCarriesTheRememberedEntryAgain() {
        fill({"A", "B", "C"});
        press(1);
        release(1);
        QVERIFY(!reorder()->dragFlag());

        const QPoint empty = rightOfTheColumn(1);
        pressAt(empty);
        QVERIFY(reorder()->dragFlag());
        QCOMPARE(reorder()->carriedRow(), 1);
        moveHeldOver(2);
        QCOMPARE(entries(), (QStringList{"A", "C", "B"}));
        releaseAt(empty);

        // Below the last entry is empty too.
        const QPoint below = rowCentre(2) + QPoint(0, rowHeight());
        QVERIFY(!form().sourceList()->indexAt(below).isValid());
        pressAt(below);
        moveHeldOver(0);
        QCOMPARE(entries(), (QStringList{"B", "C", "A"}));
        releaseAt(below);
    }

    // Guards against taking any press as the click: only the left button starts carrying.
    void anyButtonSetsTheFlagButOnlyALeftClickPicksTheEntry() {
        fill({"A", "B", "C"});
        press(1);
        release(1);
        press(2, Qt::RightButton);
        QVERIFY(reorder()->dragFlag());
        QCOMPARE(reorder()->carriedRow(), 1);
        moveHeldOver(0, Qt::RightButton);
        QCOMPARE(entries(), (QStringList{"B", "A", "C"}));
        release(0, Qt::RightButton);
        QVERIFY(!reorder()->dragFlag());
    }

    void movesWithoutTheFlagCarryNothing() {
        fill({"A", "B", "C"});
        // Before any click.
        pressAt(rightOfTheColumn(0));
        moveHeldOver(1);
        QCOMPARE(entries(), (QStringList{"A", "B", "C"}));
        releaseAt(rightOfTheColumn(0));
        // After a click and its release: the pointer merely passes over.
        press(0);
        release(0);
        hoverOver(1);
        hoverOver(2);
        QCOMPARE(entries(), (QStringList{"A", "B", "C"}));
    }

    // Guards against a release that never came (it went to a message box that opened while
    // the button was down) leaving every later pass over the list moving entries.
    void moveWithoutAButtonEndsADragWhoseReleaseWentElsewhere() {
        fill({"A", "B", "C"});
        press(0);
        hoverOver(1);
        QVERIFY(!reorder()->dragFlag());
        QCOMPARE(form().sourceListPointer().value(), MousePointer::Arrow);
        hoverOver(2);
        QCOMPARE(entries(), (QStringList{"A", "B", "C"}));
        release(2);
    }

    void movesOverTheListGiveTheDefaultPointerButKeepTheHourglass() {
        fill({"A", "B", "C"});
        form().windowPointer().set(MousePointer::Custom);
        hoverOver(0);
        QCOMPARE(form().windowPointer().value(), MousePointer::Default);

        form().windowPointer().set(MousePointer::Hourglass);
        press(0);
        moveHeldOver(1);
        QCOMPARE(entries(), (QStringList{"B", "A", "C"}));
        QCOMPARE(form().windowPointer().value(), MousePointer::Hourglass);
        release(1);
        hoverOver(2);
        QCOMPARE(form().windowPointer().value(), MousePointer::Hourglass);
    }

    void firstClickEndsFileDropsButTheButtonsStillAdd() {
        fill({"A", "B"});
        QVERIFY(form().sourceDrops().acceptsFileDrops());
        QVERIFY(offerFiles());

        press(0);
        release(0);

        QVERIFY(!form().sourceDrops().acceptsFileDrops());
        QVERIFY(!form().sourceList()->viewport()->acceptDrops());
        QCOMPARE(form().sourceList()->dragDropMode(), QAbstractItemView::NoDragDrop);
        QVERIFY(!form().sourceList()->dragEnabled());
        QVERIFY(!offerFiles());

        const QString added = QDir::toNativeSeparators(window_->filePath(QStringLiteral("c.txt")));
        window_->platform.openAnswers << FileNames({added});
        window_->press(1);
        QCOMPARE(entries(), (QStringList{"A", "B", added}));
        QVERIFY(!offerFiles());
    }

    void dragImageOrArrowAndTheClickRemembersEither_data() {
        QTest::addColumn<QByteArray>("fileBytes");  // null: no file
        QTest::addColumn<bool>("image");
        QFile picture(AssetsDir + QStringLiteral("/drag.ico"));
        QVERIFY(picture.open(QIODevice::ReadOnly));
        QTest::newRow("drag.ico present") << picture.readAll() << true;
        QTest::newRow("drag.ico missing") << QByteArray() << false;
        QTest::newRow("drag.ico unreadable") << QByteArray("no icon here") << false;
    }
    void dragImageOrArrowAndTheClickRemembersEither() {
        QFETCH(QByteArray, fileBytes);
        QFETCH(bool, image);
        window_->platform.folder = window_->dir.path();
        if (!fileBytes.isNull()) {
            QVERIFY(PutBytes(window_->filePath(QStringLiteral("drag.ico")), fileBytes));
        }
        fill({"A", "B", "C"});

        press(2);

        QCOMPARE(form().sourceListPointer().value(), MousePointer::Custom);
        const QCursor shown = form().sourceList()->viewport()->cursor();
        if (image) {
            QCOMPARE(shown.shape(), Qt::BitmapCursor);
            QCOMPARE(shown.pixmap().size(), QSize(32, 32));
            QCOMPARE(shown.hotSpot(), QPoint(16, 16));  // an icon's hot spot is its centre
        } else {
            QCOMPARE(shown.shape(), Qt::ArrowCursor);
        }
        QCOMPARE(reorder()->carriedRow(), 2);
        moveHeldOver(0);
        QCOMPARE(entries(), (QStringList{"C", "B", "A"}));
        release(0);
        QCOMPARE(form().sourceList()->viewport()->cursor().shape(), Qt::ArrowCursor);
    }

    void doubleClickStillRemovesTheSelectedEntry_data() {
        QTest::addColumn<bool>("secondPress");  // Qt 6 reports the second press before the
                                                // double-click, Qt 5 instead of it
        QTest::newRow("press, release, double-click, release") << false;
        QTest::newRow("press, release, press, double-click, release") << true;
    }
    void doubleClickStillRemovesTheSelectedEntry() {
        QFETCH(bool, secondPress);
        fill({"A", "B", "C"});
        QWidget* viewport = form().sourceList()->viewport();
        const QPoint at = rowCentre(1);
        QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
        if (secondPress) {
            QTest::mousePress(viewport, Qt::LeftButton, {}, at);
        }
        QTest::mouseDClick(viewport, Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, at);
        QCOMPARE(entries(), (QStringList{"A", "C"}));
        QVERIFY(!reorder()->dragFlag());
    }

    // Guards against a carried entry that outlives its removal and overwrites whatever row it
    // pointed at.
    void removedCarriedEntryIsNeverTouched() {
        fill({"A", "B", "C", "D"});
        DoubleClick(form().sourceList()->viewport(), rowCentre(1));
        QCOMPARE(entries(), (QStringList{"A", "C", "D"}));
        QCOMPARE(reorder()->carriedRow(), -1);
        QSignalSpy changed(&form().sourceModel(), &QAbstractItemModel::dataChanged);

        pressAt(rightOfTheColumn(0));
        moveHeldOver(1);
        moveHeldOver(2);
        moveHeldOver(0);
        releaseAt(rightOfTheColumn(0));

        QCOMPARE(changed.count(), 0);
        QCOMPARE(entries(), (QStringList{"A", "C", "D"}));
    }

    // Guards against remembering a row number instead of the entry: the entry moves up when
    // one above it goes.
    void carriedEntryFollowsItsEntryWhenAnotherGoes() {
        fill({"A", "B", "C", "D"});
        press(2);
        release(2);
        QVERIFY(form().sourceModel().removeAt(0));
        QCOMPARE(reorder()->carriedRow(), 1);
        pressAt(rightOfTheColumn(0));
        moveHeldOver(2);
        QCOMPARE(entries(), (QStringList{"B", "D", "C"}));
        releaseAt(rightOfTheColumn(0));
    }

    void afterClearListNothingIsCarried() {
        fill({"A", "B", "C"});
        press(1);
        release(1);
        window_->press(3);  // Clear List under the source list
        QCOMPARE(form().sourceModel().count(), 0);
        QCOMPARE(reorder()->carriedRow(), -1);
        fill({"E", "F", "G"});
        QSignalSpy changed(&form().sourceModel(), &QAbstractItemModel::dataChanged);

        pressAt(rightOfTheColumn(0));
        moveHeldOver(1);
        moveHeldOver(2);
        releaseAt(rightOfTheColumn(0));

        QCOMPARE(changed.count(), 0);
        QCOMPARE(entries(), (QStringList{"E", "F", "G"}));
        // The next click starts again.
        press(0);
        moveHeldOver(2);
        QCOMPARE(entries(), (QStringList{"G", "F", "E"}));
        release(2);
    }

private:
    Form1& form() { return window_->form; }
    ReportListView* view() { return form().sourceList(); }
    SourceListReorder* reorder() {
        return form().findChild<SourceListReorder*>(QStringLiteral("SourceListReorder"));
    }

    void fill(const QStringList& paths) { form().sourceModel().append(paths); }

    QStringList entries() {
        QStringList paths;
        for (int row = 0; row < form().sourceModel().count(); ++row) {
            paths << form().sourceModel().pathAt(row);
        }
        return paths;
    }

    QList<int> selectedRows() {
        QList<int> rows;
        for (const QModelIndex& index : view()->selectionModel()->selectedRows()) {
            rows << index.row();
        }
        return rows;
    }

    QModelIndex entry(int row) { return form().sourceModel().index(row, 0); }
    QPoint rowCentre(int row) { return view()->visualRect(entry(row)).center(); }
    int rowHeight() { return view()->visualRect(entry(0)).height(); }
    // Beside the entry's row but right of the list's only column: no entry there.
    QPoint rightOfTheColumn(int row) {
        const QPoint point(view()->header()->sectionSize(0) + 20, rowCentre(row).y());
        if (view()->indexAt(point).isValid() || point.x() >= view()->viewport()->width()) {
            qFatal("no empty space right of the column");
        }
        return point;
    }

    int scrollValue() { return view()->verticalScrollBar()->value(); }
    bool fullyShown(int row) {
        return view()->viewport()->rect().contains(view()->visualRect(entry(row)));
    }
    void placeAtTop(int row) { view()->scrollTo(entry(row), QAbstractItemView::PositionAtTop); }
    void placeAtBottom(int row) {
        view()->scrollTo(entry(row), QAbstractItemView::PositionAtBottom);
    }

    void press(int row, Qt::MouseButton button = Qt::LeftButton) {
        pressAt(rowCentre(row), button);
    }
    void pressAt(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mousePress(view()->viewport(), button, {}, at);
    }
    void release(int row, Qt::MouseButton button = Qt::LeftButton) {
        releaseAt(rowCentre(row), button);
    }
    void releaseAt(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseRelease(view()->viewport(), button, {}, at);
    }

    // A move with `held` down, delivered to the viewport as the pressed list receives it.
    void moveHeldTo(QPoint at, Qt::MouseButtons held = Qt::LeftButton) { send(at, held); }
    void moveHeldOver(int row, Qt::MouseButtons held = Qt::LeftButton) {
        send(rowCentre(row), held);
    }
    void hoverOver(int row) { send(rowCentre(row), Qt::NoButton); }

    void send(QPoint at, Qt::MouseButtons held) {
        QWidget* viewport = view()->viewport();
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, held,
                         Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
    }

    // Whether the list takes a drag of one local file.
    bool offerFiles() {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(window_->filePath(QStringLiteral("dropped.txt")))});
        QWidget* viewport = view()->viewport();
        if (!viewport->acceptDrops()) {
            return false;  // the window system offers it no drag at all
        }
        QDragEnterEvent enter(viewport->rect().center(), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(viewport, &enter);
        return enter.isAccepted();
    }

    std::optional<WindowFixture> window_;
};

QTEST_MAIN(SourceListReorderTest)
#include "tst_source_list_reorder.moc"
