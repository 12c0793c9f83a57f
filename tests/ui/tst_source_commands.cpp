// Filling and pruning the source list from the window as a user does: "Add File(s)" with the
// Open dialog, "Clear List", the double-click removal and files dropped on the list.
#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "tests/ui/scripted_platform.h"
#include "tests/ui/window_fixture.h"
#include "ui/commands/add_files_command.h"
#include "ui/commands/source_list_drop.h"
#include "ui/window/form1.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <optional>

using namespace orlenta;
using Call = ScriptedPlatform::Call;

namespace {

// The dialog's answers and the expected entries are written with "/"; the platform's own
// separator is put in.
QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QStringList Native(const QStringList& paths) {
    QStringList native;
    for (const QString& path : paths) {
        native.append(Native(path));
    }
    return native;
}

QStringList Entries(const Form1& form) {
    QStringList entries;
    for (int i = 0; i < form.sourceModel().count(); ++i) {
        entries.append(form.sourceModel().pathAt(i));
    }
    return entries;
}

// What happened to one drag from entering the list to the drop.
struct DragOutcome {
    bool enterAccepted = false;
    bool moveAccepted = false;
    bool dropAccepted = false;
    Qt::DropAction enterAction = Qt::IgnoreAction;
    Qt::DropAction dropAction = Qt::IgnoreAction;
};

// Sends the events a drag from another program brings to the list's viewport: enter, move,
// then the drop.
DragOutcome DragAndDrop(ReportListView& view, const QMimeData& data,
                        Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction) {
    QWidget* viewport = view.viewport();
    const QPoint point = viewport->rect().center();
    DragOutcome outcome;

    QDragEnterEvent enter(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    outcome.enterAccepted = enter.isAccepted();
    outcome.enterAction = enter.dropAction();

    QDragMoveEvent move(point + QPoint(1, 1), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    outcome.moveAccepted = move.isAccepted();

    QDropEvent drop(QPointF(point), offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    outcome.dropAccepted = drop.isAccepted();
    outcome.dropAction = drop.dropAction();
    return outcome;
}

// A double-click as the list gets it from a person: press, release, then the second press
// arriving as the double-click, and its release. (QTest::mouseDClick sends the double-click
// event alone.)
void DoubleClick(QWidget* widget, Qt::MouseButton button, QPoint point) {
    QTest::mousePress(widget, button, Qt::NoModifier, point);
    QTest::mouseRelease(widget, button, Qt::NoModifier, point);
    QTest::mouseDClick(widget, button, Qt::NoModifier, point);
    QTest::mouseRelease(widget, button, Qt::NoModifier, point);
}

QList<QUrl> LocalUrls(const QStringList& paths) {
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

}  // namespace

class SourceCommandsTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        window_.emplace();
        QVERIFY(window_->dir.isValid());
    }
    void cleanup() { window_.reset(); }

    // ---- Add File(s) ------------------------------------------------------------------------

    void addFilesAppendsTheChoice_data() {
        QTest::addColumn<QStringList>("chosen");

        QTest::newRow("one file") << QStringList{"/data/mail one.txt"};
        QTest::newRow("three files in a folder")
            << QStringList{"/data/a.txt", "/data/b.txt", "/data/c.txt"};
        QTest::newRow("dialog order kept")
            << QStringList{"/data/c.txt", "/data/a.txt", "/data/b.txt"};
        // Guards against a folder-and-names answer, which kept only the first file's folder.
        QTest::newRow("files from two folders")
            << QStringList{"/data/a.txt", "/other/place/b.txt", "/data/sub/c.txt"};
    }

    void addFilesAppendsTheChoice() {
        QFETCH(QStringList, chosen);
        window_->form.sourceModel().append(QStringLiteral("already there"));
        window_->form.resultsModel().append("kept@example.com");
        window_->platform.openAnswers << FileNames(Native(chosen));

        QTest::mouseClick(window_->form.addFilesButton(), Qt::LeftButton);

        QCOMPARE(Entries(window_->form), QStringList{"already there"} + Native(chosen));
        QCOMPARE(window_->form.addFilesButton()->value(), 0);
        QCOMPARE(window_->form.resultsModel().count(), 1);
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
    }

    void openDialogIsSetUpAnewForEachPress() {
        window_->platform.openAnswers << FileNames({Native(QStringLiteral("/data/a.txt"))});
        QTest::mouseClick(window_->form.addFilesButton(), Qt::LeftButton);
        QTest::mouseClick(window_->form.addFilesButton(), Qt::LeftButton);

        const auto dialogs = window_->platform.callsOf(Call::OpenDialog);
        QCOMPARE(dialogs.size(), std::size_t(2));
        for (const ScriptedPlatform::Record& dialog : dialogs) {
            QCOMPARE(dialog.owner, &window_->form);
            QCOMPARE(dialog.dialog.title,
                     QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"));
            QCOMPARE(dialog.dialog.nameFilters, QStringList{"All Files (*.*) (*)"});
        }
        QVERIFY(window_->platform.callsOf(Call::SaveDialog).empty());
    }

    void cancelledDialogAddsNothing() {
        window_->form.sourceModel().append(QStringLiteral("/data/a.txt"));
        QTest::mouseClick(window_->form.addFilesButton(), Qt::LeftButton);  // no answer: cancelled
        QCOMPARE(window_->platform.callsOf(Call::OpenDialog).size(), std::size_t(1));
        QCOMPARE(Entries(window_->form), QStringList{"/data/a.txt"});
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
        QCOMPARE(window_->form.addFilesButton()->value(), 0);
    }

    void fileAddedTwiceIsListedTwice() {
        const QString path = Native(QStringLiteral("/data/mail one.txt"));
        window_->platform.openAnswers << FileNames({path}) << FileNames({path});
        QTest::mouseClick(window_->form.addFilesButton(), Qt::LeftButton);
        QTest::mouseClick(window_->form.addFilesButton(), Qt::LeftButton);
        QCOMPARE(Entries(window_->form), (QStringList{path, path}));
    }

    // ---- Clear List ---------------------------------------------------------------------------

    void clearListEmptiesOnlyTheSourceList_data() {
        QTest::addColumn<QStringList>("entries");
        QTest::newRow("empty list") << QStringList{};
        QTest::newRow("three entries") << QStringList{"/a.txt", "/b.txt", "/a.txt"};
    }

    void clearListEmptiesOnlyTheSourceList() {
        QFETCH(QStringList, entries);
        window_->form.sourceModel().append(entries);
        window_->form.resultsModel().append("kept@example.com");

        QTest::mouseClick(window_->form.clearSourcesButton(), Qt::LeftButton);

        QCOMPARE(window_->form.sourceModel().count(), 0);
        QCOMPARE(window_->form.resultsModel().count(), 1);
        QCOMPARE(window_->form.clearSourcesButton()->value(), 0);
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
    }

    // ---- Double-click -------------------------------------------------------------------------

    void doubleClickRemovesTheEntryClicked() {
        const QStringList five{"/one.txt", "/two.txt", "/three.txt", "/four.txt", "/five.txt"};
        window_->form.sourceModel().append(five);

        doubleClickRow(2);

        QCOMPARE(Entries(window_->form),
                 (QStringList{"/one.txt", "/two.txt", "/four.txt", "/five.txt"}));
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
    }

    void doubleClickWithoutSelectionDoesNothing() {
        window_->form.sourceModel().append(QStringList{"/one.txt", "/two.txt"});
        QCOMPARE(SelectedRow(), -1);
        // Below the last entry: nothing there to select.
        QWidget* viewport = window_->form.sourceList()->viewport();
        DoubleClick(viewport, Qt::LeftButton, QPoint(10, viewport->height() - 3));
        QCOMPARE(Entries(window_->form), (QStringList{"/one.txt", "/two.txt"}));
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
    }

    // Guards against removing the entry under the pointer instead of the selected one.
    void doubleClickActsOnTheSelection() {
        window_->form.sourceModel().append(QStringList{"/one.txt", "/two.txt", "/three.txt"});
        ReportListView* view = window_->form.sourceList();
        view->selectionModel()->select(window_->form.sourceModel().index(0),
                                       QItemSelectionModel::ClearAndSelect);
        // The double-click event alone, without the first click that would select the entry
        // under the pointer.
        const QPoint onThird = view->visualRect(window_->form.sourceModel().index(2)).center();
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, onThird);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, Qt::NoModifier, onThird);
        QCOMPARE(Entries(window_->form), (QStringList{"/two.txt", "/three.txt"}));
    }

    void rightDoubleClickRemovesNothing() {
        window_->form.sourceModel().append(QStringList{"/one.txt", "/two.txt"});
        const QPoint onFirst =
            window_->form.sourceList()->visualRect(window_->form.sourceModel().index(0)).center();
        DoubleClick(window_->form.sourceList()->viewport(), Qt::RightButton, onFirst);
        QCOMPARE(window_->form.sourceModel().count(), 2);
    }

    // Guards against entries vanishing under an extraction run, which reads them by position.
    void removalAndClearingWaitForTheRun() {
        const QString a = writeFile("a.txt", "first@example.com\r\n");
        const QString b = writeFile("b.txt", "second@example.com\r\n");
        window_->form.sourceModel().append(QStringList{a, b});
        bool tried = false;
        window_->platform.onProcessEvents = [&] {
            if (!tried) {
                tried = true;
                doubleClickRow(1);
                window_->press(3);  // Clear List under the source list
                QCOMPARE(window_->form.sourceModel().count(), 2);
            }
        };
        window_->form.extractButton()->click();
        QVERIFY(tried);
        QCOMPARE(Entries(window_->form), (QStringList{a, b}));
        QCOMPARE(window_->form.resultsModel().count(), 2);

        doubleClickRow(1);  // after the run both work again
        QCOMPARE(Entries(window_->form), QStringList{a});
        window_->press(3);
        QCOMPARE(window_->form.sourceModel().count(), 0);
    }

    // ---- Dropping files -----------------------------------------------------------------------

    void droppedFilesAndFolderAreAppended() {
        const QString a = writeFile("a.txt", "");
        const QString b = writeFile("b.html", "");
        const QString folder = window_->dir.filePath(QStringLiteral("a folder"));
        QVERIFY(QDir().mkpath(folder));
        window_->form.sourceModel().append(QStringLiteral("/before.txt"));
        QVERIFY(window_->form.sourceList()->viewport()->acceptDrops());
        QMimeData data;
        data.setUrls(LocalUrls({b, folder, a}));

        const DragOutcome outcome = DragAndDrop(*window_->form.sourceList(), data, Qt::CopyAction);

        QVERIFY(outcome.enterAccepted);
        QVERIFY(outcome.moveAccepted);
        QVERIFY(outcome.dropAccepted);
        QCOMPARE(outcome.enterAction, Qt::CopyAction);
        QCOMPARE(outcome.dropAction, Qt::CopyAction);
        QCOMPARE(Entries(window_->form),
                 (QStringList{"/before.txt", Native(b), Native(folder), Native(a)}));
        QVERIFY(window_->platform.callsOf(Call::Message).empty());
    }

    // Guards against dropped paths being filtered: no check for existence, kind or duplicates.
    void droppedPathsAreNotChecked() {
        const QString missing = window_->dir.filePath(QStringLiteral("not there.csv"));
        QMimeData data;
        data.setUrls(LocalUrls({missing, missing}));
        const DragOutcome outcome = DragAndDrop(*window_->form.sourceList(), data);
        QVERIFY(outcome.dropAccepted);
        QCOMPARE(Entries(window_->form), (QStringList{Native(missing), Native(missing)}));
    }

    void dropKeepsTheProposedAction() {
        QMimeData data;
        data.setUrls(LocalUrls({window_->dir.filePath(QStringLiteral("x.txt"))}));
        QDragEnterEvent enter(QPoint(5, 5), Qt::MoveAction | Qt::LinkAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        const Qt::DropAction proposed = enter.proposedAction();
        QApplication::sendEvent(window_->form.sourceList()->viewport(), &enter);
        // The drag goes elsewhere, as a real one ends: Qt keeps the list as the drag's target
        // until then.
        QDragLeaveEvent leave;
        QApplication::sendEvent(window_->form.sourceList()->viewport(), &leave);
        QVERIFY(enter.isAccepted());
        QCOMPARE(enter.dropAction(), proposed);
    }

    void otherDataIsRefused_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<QUrl>>("urls");

        QTest::newRow("selected text") << "some text from an editor" << QList<QUrl>{};
        QTest::newRow("text that looks like a path") << "/etc/hosts" << QList<QUrl>{};
        QTest::newRow("web link") << "" << QList<QUrl>{QUrl("https://example.org/page.html")};
        QTest::newRow("files with a web link")
            << "" << QList<QUrl>{QUrl::fromLocalFile("/data/a.txt"), QUrl("ftp://example.org/x")};
        QTest::newRow("empty list of links") << "" << QList<QUrl>{};
    }

    void otherDataIsRefused() {
        QFETCH(QString, text);
        QFETCH(QList<QUrl>, urls);
        QMimeData data;
        if (!text.isEmpty()) {
            data.setText(text);
        }
        if (!urls.isEmpty() || text.isEmpty()) {
            data.setUrls(urls);
        }

        const DragOutcome outcome = DragAndDrop(*window_->form.sourceList(), data);

        QVERIFY(!outcome.enterAccepted);  // the pointer shows that it cannot be dropped
        QVERIFY(!outcome.moveAccepted);
        QVERIFY(!outcome.dropAccepted);
        QCOMPARE(window_->form.sourceModel().count(), 0);
    }

    void dragLeavingChangesNothing() {
        QMimeData data;
        data.setUrls(LocalUrls({QStringLiteral("/data/a.txt")}));
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window_->form.sourceList()->viewport(), &enter);
        QDragLeaveEvent leave;
        QApplication::sendEvent(window_->form.sourceList()->viewport(), &leave);
        QCOMPARE(window_->form.sourceModel().count(), 0);
    }

    void dropsRefusedOnceSwitchedOffButButtonsStillAdd() {
        SourceListDropTarget& commands = window_->form.sourceDrops();
        QVERIFY(commands.acceptsFileDrops());
        commands.setAcceptsFileDrops(false);
        QVERIFY(!commands.acceptsFileDrops());
        QVERIFY(!window_->form.sourceList()->viewport()->acceptDrops());
        QMimeData data;
        data.setUrls(LocalUrls({window_->dir.filePath(QStringLiteral("a.txt"))}));

        const DragOutcome outcome = DragAndDrop(*window_->form.sourceList(), data);

        QVERIFY(!outcome.enterAccepted);
        QVERIFY(!outcome.dropAccepted);
        QCOMPARE(window_->form.sourceModel().count(), 0);

        window_->platform.openAnswers << FileNames({Native(QStringLiteral("/data/b.txt"))});
        QTest::mouseClick(window_->form.addFilesButton(), Qt::LeftButton);
        QCOMPARE(Entries(window_->form), QStringList{Native(QStringLiteral("/data/b.txt"))});
    }

    // Guards against a run that reads entries dropped in the middle of it: its count is taken
    // at the start; the dropped file waits for the next run.
    void dropDuringARunAppendsForTheNextRun() {
        const QString a = writeFile("a.txt", "first@example.com\r\n");
        const QString late = writeFile("late.txt", "late@example.com\r\n");
        window_->form.sourceModel().append(a);
        QMimeData data;
        data.setUrls(LocalUrls({late}));
        bool dropped = false;
        window_->platform.onProcessEvents = [&] {
            if (!dropped) {
                dropped = true;
                QVERIFY(DragAndDrop(*window_->form.sourceList(), data).dropAccepted);
            }
        };
        window_->form.extractButton()->click();
        QVERIFY(dropped);
        QCOMPARE(Entries(window_->form), (QStringList{a, late}));
        QCOMPARE(window_->form.resultsModel().count(), 1);
    }

    void droppedPathsAreTheNamesBytes_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("blank") << "file:///data/sub/a%20b.txt" << QByteArray("/data/sub/a b.txt");
        QTest::newRow("UTF-8") << "file:///data/caf%C3%A9.txt"
                               << QByteArray("/data/caf\xc3\xa9.txt");
        // Guards against a name that is not UTF-8 coming back as another name.
        QTest::newRow("not UTF-8") << "file:///data/caf%E9.txt" << QByteArray("/data/caf\xe9.txt");
    }
    void droppedPathsAreTheNamesBytes() {
        QFETCH(QString, url);
        QFETCH(QByteArray, path);
        QMimeData data;
        data.setUrls({QUrl(url)});
        QCOMPARE(SourceListDropTarget::DroppedPaths(&data), QList<QByteArray>{path});
    }

private:
    int SelectedRow() const {
        const QModelIndexList rows = window_->form.sourceList()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    void doubleClickRow(int row) {
        const QPoint point =
            window_->form.sourceList()->visualRect(window_->form.sourceModel().index(row)).center();
        DoubleClick(window_->form.sourceList()->viewport(), Qt::LeftButton, point);
    }

    QString writeFile(const QString& name, const QByteArray& content) {
        const QString path = window_->dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            qFatal("cannot write the fixture %s", qPrintable(name));
        }
        return path;
    }

    std::optional<WindowFixture> window_;
};

QTEST_MAIN(SourceCommandsTest)
#include "tst_source_commands.moc"
