#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "tests/ui/scripted_platform.h"
#include "ui/window/form1.h"
#include "ui/window/form1_layout.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <utility>
#include <vector>

using namespace orlenta;

namespace {

QRect PixelRect(int left, int top, int width, int height) {
    const auto px = [](int twips) { return qRound(twips / 15.0); };
    return {px(left), px(top), px(width), px(height)};
}

bool AllTransparent(const QIcon& icon) {
    const QImage image = icon.pixmap(QSize(32, 32)).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                return false;
            }
        }
    }
    return image.size() == QSize(32, 32);
}

}  // namespace

class Form1LayoutTest final : public QObject {
    Q_OBJECT

private slots:
    void window() {
        ScriptedPlatform platform;
        Form1 form(platform);
        QCOMPARE(form.objectName(), QStringLiteral("Form1"));
        QCOMPARE(form.windowTitle(), QStringLiteral("Orlenta"));
        // 7350 x 5895 twips of client area, and no resizing.
        QCOMPARE(form.size(), QSize(490, 393));
        QCOMPARE(form.minimumSize(), QSize(490, 393));
        QCOMPARE(form.maximumSize(), QSize(490, 393));
        QVERIFY(form.autoFillBackground());
        QCOMPARE(form.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(AllTransparent(form.windowIcon()));
    }

    void controlsFollowTheTable_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QRect>("geometry");
        // The table, written out here on its own so that a slip in the data is caught.
        QTest::newRow("ListView1")
            << "ListView1"
            << ""
            << "Drag and drop files here. Double-click item to remove it. Move bar to right "
               "and out of window to reveal full names."
            << PixelRect(120, 120, 7095, 1575);
        QTest::newRow("Check1") << "Check1"
                                << "Add File(s)"
                                << "" << PixelRect(120, 1800, 1815, 400);
        QTest::newRow("Check5") << "Check5"
                                << "Add All File(s) In Folder"
                                << "" << PixelRect(2040, 1800, 3135, 400);
        QTest::newRow("Check3") << "Check3"
                                << "Clear List"
                                << "" << PixelRect(5280, 1800, 1935, 400);
        QTest::newRow("Check2") << "Check2"
                                << "Delete Duplicate Emails"
                                << "" << PixelRect(120, 2280, 7095, 400);
        QTest::newRow("ListView2")
            << "ListView2"
            << ""
            << "Double-click item to remove it. Move bar to right and out of window to reveal "
               "full names."
            << PixelRect(120, 2760, 7095, 1935);
        QTest::newRow("Check6") << "Check6"
                                << "Save Results As List"
                                << "" << PixelRect(120, 4800, 2415, 400);
        QTest::newRow("Check4") << "Check4"
                                << "Save As Comma Delimited"
                                << "" << PixelRect(2640, 4800, 3015, 400);
        QTest::newRow("Check7") << "Check7"
                                << "Clear List"
                                << "" << PixelRect(5760, 4800, 1455, 400);
        QTest::newRow("Label1") << "Label1"
                                << ""
                                << "" << PixelRect(120, 5280, 7095, 495);
        QTest::newRow("Command1") << "Command1"
                                  << "Command1"
                                  << "" << PixelRect(-720, 2640, 615, 495);
    }
    void controlsFollowTheTable() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QString, hint);
        QFETCH(QRect, geometry);
        ScriptedPlatform platform;
        Form1 form(platform);
        auto* control = form.findChild<QWidget*>(name, Qt::FindDirectChildrenOnly);
        QVERIFY(control);
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->toolTip(), hint);
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            QCOMPARE(button->text(), text);
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            QCOMPARE(label->text(), text);
        }
        QVERIFY(FindControlLayout(name.toLatin1().constData()));
    }

    void everyControlIsInTheTable() {
        ScriptedPlatform platform;
        Form1 form(platform);
        const QList<QWidget*> children =
            form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(children.size(), Form1ControlCount);
        for (const QWidget* child : children) {
            QVERIFY2(FindControlLayout(child->objectName().toLatin1().constData()),
                     qPrintable(child->objectName()));
        }
    }

    // Guards against a control whose role and designer name disagree (a press wired to the
    // wrong command).
    void controlsByRoleKeepTheirDesignerNames() {
        ScriptedPlatform platform;
        Form1 form(platform);
        const std::vector<std::pair<QWidget*, QString>> controls{
            {form.sourceList(), "ListView1"},   {form.addFilesButton(), "Check1"},
            {form.extractButton(), "Check2"},   {form.clearSourcesButton(), "Check3"},
            {form.saveCommaButton(), "Check4"}, {form.addFolderButton(), "Check5"},
            {form.saveListButton(), "Check6"},  {form.clearResultsButton(), "Check7"},
            {form.resultsList(), "ListView2"},  {form.statusLine(), "Label1"},
            {form.focusHolder(), "Command1"}};
        for (const auto& [control, name] : controls) {
            QCOMPARE(control->objectName(), name);
        }
    }

    void listsHaveOneColumn_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("heading");
        QTest::newRow("ListView1") << "ListView1"
                                   << "File(s)";
        QTest::newRow("ListView2") << "ListView2"
                                   << "Results";
    }
    void listsHaveOneColumn() {
        QFETCH(QString, name);
        QFETCH(QString, heading);
        ScriptedPlatform platform;
        Form1 form(platform);
        auto* view = form.findChild<ReportListView*>(name);
        QVERIFY(view);
        QVERIFY(view == form.sourceList() || view == form.resultsList());
        QVERIFY(view->model() == (view == form.sourceList()
                                      ? static_cast<QAbstractItemModel*>(&form.sourceModel())
                                      : static_cast<QAbstractItemModel*>(&form.resultsModel())));
        QVERIFY(!view->header()->isHidden());
        QCOMPARE(view->model()->columnCount(), 1);
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), heading);
        QCOMPARE(view->header()->sectionSize(0), 400);  // 6000 twips
        QVERIFY(!view->header()->stretchLastSection());
        QVERIFY(view->verticalHeader()->isHidden());
        QVERIFY(!view->showGrid());
        QCOMPARE(view->font().family(), QStringLiteral("Arial"));
        QCOMPARE(view->font().pointSizeF(), 9.0);
        QCOMPARE(view->font().weight(), QFont::Bold);
    }

    void columnDraggedWiderThanTheListScrollsIt() {
        ScriptedPlatform platform;
        Form1 form(platform);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        ReportListView* view = form.sourceList();
        form.sourceModel().append(QStringLiteral("/a/very/long/path/") + QString(200, 'x'));
        QApplication::processEvents();
        QCOMPARE(view->horizontalScrollBar()->maximum(), 0);

        view->header()->resizeSection(0, 1200);  // what dragging the divider does
        QApplication::processEvents();
        QCOMPARE(view->header()->sectionSize(0), 1200);
        QVERIFY(view->horizontalScrollBar()->maximum() > 0);
    }

    void statusLine() {
        ScriptedPlatform platform;
        Form1 form(platform);
        QLabel* label = form.statusLine();
        QCOMPARE(label->objectName(), QStringLiteral("Label1"));
        QVERIFY(label->text().isEmpty());
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        QCOMPARE(label->font().family(), QStringLiteral("Arial"));
        QCOMPARE(label->font().pointSizeF(), 9.0);
        QCOMPARE(label->font().weight(), QFont::Bold);
    }

    void focusHolderLiesLeftOfTheWindow() {
        ScriptedPlatform platform;
        Form1 form(platform);
        QCOMPARE(form.focusHolder()->objectName(), QStringLiteral("Command1"));
        QCOMPARE(form.focusHolder()->geometry().x() + form.focusHolder()->width(), -7);
    }

    void firstFocusIsTheFocusHolderAndTabReachesTheSourceList() {
        ScriptedPlatform platform;
        Form1 form(platform);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCOMPARE(QApplication::focusWidget(), form.focusHolder());

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.sourceList());
    }

    void tabOrderFollowsTheTabIndexes() {
        ScriptedPlatform platform;
        Form1 form(platform);
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QStringList visited;
        for (int i = 0; i < 10; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        // Check4 has tab index 10, after Check7's 8; the status line (9) takes no focus.
        const QStringList expected{"ListView1", "Check1", "Check5", "Check3", "Check2",
                                   "ListView2", "Check6", "Check7", "Check4", "Command1"};
        QCOMPARE(visited, expected);
    }

    void everyButtonRunsItsActionOnce_data() {
        QTest::addColumn<int>("number");
        for (int n = 1; n <= 7; ++n) {
            QTest::addRow("Check%d", n) << n;
        }
    }
    void everyButtonRunsItsActionOnce() {
        QFETCH(int, number);
        ScriptedPlatform platform;
        Form1 form(platform);
        auto* button = form.findChild<PressButton*>(QStringLiteral("Check%1").arg(number));
        QSignalSpy actions(button, &PressButton::activated);
        button->click();
        QCOMPARE(actions.count(), 1);
        QCOMPARE(button->value(), 0);
        QVERIFY(!button->isChecked());
    }
};

QTEST_MAIN(Form1LayoutTest)
#include "tst_form1_layout.moc"
