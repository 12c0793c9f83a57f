#include "tests/ui/cursor_fixtures.h"
#include "tests/ui/scripted_platform.h"
#include "ui/window/form1.h"
#include "ui/window/home_page.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"
#include "ui/window/startup.h"

#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>

using namespace orlenta;
using Call = ScriptedPlatform::Call;

class StartupTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        folder_.emplace();
        QVERIFY(folder_->isValid());
    }

    void stepsRunInOrder() {
        QVERIFY(WriteBytes(HandCursorPath(folder_->path()), CursorFileBytes(QPoint(2, 2))));
        ScriptedPlatform platform;
        platform.folder = folder_->path();
        platform.draw = HomePageDraw;

        Form1* form = nullptr;
        struct Seen {
            QPoint position;
            bool handLoaded = false;
            QString caption;
            int sourceColumn = 0;
            int resultsColumn = 0;
        } atDraw, atUrl;
        const auto look = [&form](Seen& seen) {
            seen.position = form->pos();
            seen.handLoaded = form->windowPointer().customImage().has_value();
            seen.caption = form->windowTitle();
            seen.sourceColumn = form->sourceList()->header()->sectionSize(0);
            seen.resultsColumn = form->resultsList()->header()->sectionSize(0);
        };
        // The window is being built while the steps run; look at it from the calls.
        platform.onCall = [&](const ScriptedPlatform::Record& record) {
            form = qobject_cast<Form1*>(QApplication::topLevelWidgets().value(0));
            if (!form) {
                return;
            }
            if (record.call == Call::Draw) {
                look(atDraw);
            } else if (record.call == Call::OpenUrl) {
                look(atUrl);
            }
        };
        Form1 window(platform);

        QList<Call> order;
        for (const auto& record : platform.calls) {
            order << record.call;
        }
        QCOMPARE(order, (QList<Call>{Call::ScreenGeometry, Call::ProgramFolder, Call::Draw,
                                     Call::OpenUrl}));
        const QPoint centred = CentredTopLeft(platform.screen, QSize(490, 393));
        // 1 and 2 have run when the draw is made; 4, 5 and 6 have not.
        QCOMPARE(atDraw.position, centred);
        QVERIFY(atDraw.handLoaded);
        QVERIFY(atDraw.caption != QLatin1String("Orlenta"));
        QVERIFY(atDraw.sourceColumn != 400);
        QVERIFY(atDraw.resultsColumn != 400);
        QVERIFY(atUrl.caption != QLatin1String("Orlenta"));
        // And all of them before the window is first shown.
        QVERIFY(!window.isVisible());
        QCOMPARE(window.windowTitle(), QStringLiteral("Orlenta"));
        QCOMPARE(window.sourceList()->header()->sectionSize(0), 400);
        QCOMPARE(window.resultsList()->header()->sectionSize(0), 400);
    }

    void homePageOpensOnlyOnSeven_data() {
        QTest::addColumn<int>("draw");
        QTest::addColumn<int>("opened");
        QTest::newRow("1") << 1 << 0;
        QTest::newRow("6") << 6 << 0;
        QTest::newRow("7") << 7 << 1;
        QTest::newRow("8") << 8 << 0;
        QTest::newRow("100") << 100 << 0;
    }
    void homePageOpensOnlyOnSeven() {
        QFETCH(int, draw);
        QFETCH(int, opened);
        ScriptedPlatform platform;
        platform.folder = folder_->path();
        platform.draw = draw;
        Form1 form(platform);
        QCOMPARE(platform.callsOf(Call::Draw).size(), std::size_t(1));
        const auto urls = platform.callsOf(Call::OpenUrl);
        QCOMPARE(static_cast<int>(urls.size()), opened);
        if (opened) {
            QCOMPARE(urls[0].text, HomePageAddress());
        }
        QVERIFY(platform.callsOf(Call::Message).empty());  // the start shows nothing
    }

    void centresByTheOuterSize_data() {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QPoint>("topLeft");
        QTest::newRow("1024 x 768") << QRect(0, 0, 1024, 768) << QPoint(267, 188);
        QTest::newRow("second screen") << QRect(1024, 0, 1280, 1024) << QPoint(1024 + 395, 316);
        // Guards against clamping: a window larger than the screen goes above and left of it.
        QTest::newRow("smaller than the window") << QRect(0, 0, 300, 200) << QPoint(-95, -97);
    }
    void centresByTheOuterSize() {
        QFETCH(QRect, screen);
        QFETCH(QPoint, topLeft);
        ScriptedPlatform platform;
        platform.folder = folder_->path();
        platform.screen = screen;
        Form1 form(platform);
        // Before the first show the outer size is the client size; the frame goes there.
        QCOMPARE(form.frameGeometry().size(), QSize(490, 393));
        QCOMPARE(form.pos(), topLeft);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.frameGeometry().topLeft(), topLeft);
    }

    void handPointerLoadedWhenItsFileIsThere() {
        QVERIFY(WriteBytes(HandCursorPath(folder_->path()), CursorFileBytes(QPoint(6, 1))));
        ScriptedPlatform platform;
        platform.folder = folder_->path();
        Form1 form(platform);
        const auto& hand = form.windowPointer().customImage();
        QVERIFY(hand.has_value());
        QCOMPARE(hand->hotSpot(), QPoint(6, 1));
        form.windowPointer().set(MousePointer::Custom);
        QCOMPARE(form.cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(form.addFilesButton()->cursor().shape(), Qt::BitmapCursor);  // buttons show it
    }

    void handPointerPathIsTheProgramFolderAndTheName() {
        QCOMPARE(HandCursorPath(QStringLiteral("/opt/orlenta")),
                 QStringLiteral("/opt/orlenta") + QDir::separator() + QStringLiteral("HAND-M.CUR"));
    }

    void noHandPointerWithoutItsFile_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("absent") << "absent";
        QTest::newRow("unreadable") << "garbage";
        QTest::newRow("a folder of that name") << "folder";
        QTest::newRow("name in other case") << "lowercase";
    }
    void noHandPointerWithoutItsFile() {
        QFETCH(QString, what);
        const QString path = HandCursorPath(folder_->path());
        if (what == QLatin1String("garbage")) {
            QVERIFY(WriteBytes(path, QByteArray(300, '\x7f')));
        } else if (what == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(path));
        } else if (what == QLatin1String("lowercase")) {
            QVERIFY(WriteBytes(folder_->filePath(QStringLiteral("hand-m.cur")),
                               CursorFileBytes(QPoint(1, 1))));
        }
        ScriptedPlatform platform;
        platform.folder = folder_->path();
        Form1 form(platform);
        QVERIFY(!form.windowPointer().customImage().has_value());
        // The start goes on, and the custom pointer shows the arrow.
        QCOMPARE(form.windowTitle(), QStringLiteral("Orlenta"));
        form.windowPointer().set(MousePointer::Custom);
        QCOMPARE(form.cursor().shape(), Qt::ArrowCursor);
    }

private:
    std::optional<QTemporaryDir> folder_;
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
