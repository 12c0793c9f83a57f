// The pointer over the main window: the hand over the seven buttons, the default pointer over
// the background and both lists, nothing changed over the status line, and the hourglass of a
// long operation left alone. Moves go through the window system, as a user's do.
#include "results/results_model.h"
#include "sources/source_list_model.h"
#include "tests/ui/scripted_platform.h"
#include "ui/pointer/hover_feedback.h"
#include "ui/pointer/mouse_pointer.h"
#include "ui/window/form1.h"
#include "ui/window/press_button.h"
#include "ui/window/report_list_view.h"

#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace orlenta;

namespace {

const QString AssetsDir = QStringLiteral(ORLENTA_ASSETS_DIR);
const QPoint HandHotSpot(5, 1);

bool IsHand(const QCursor& cursor) {
    return cursor.shape() == Qt::BitmapCursor && cursor.hotSpot() == HandHotSpot &&
           cursor.pixmap().size() == QSize(32, 32);
}

}  // namespace

class HoverFeedbackTest final : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir_.emplace();
        QVERIFY(dir_->isValid());
        platform_.emplace();
        platform_->folder = dir_->path();
    }
    void cleanup() {
        form_.reset();
        platform_.reset();
        dir_.reset();
    }

    void hourglassIsNeverReplaced_data() {
        QTest::addColumn<MousePointer>("before");
        QTest::addColumn<MousePointer>("wanted");
        QTest::addColumn<MousePointer>("after");
        QTest::newRow("default, over a button")
            << MousePointer::Default << MousePointer::Custom << MousePointer::Custom;
        QTest::newRow("hand, over a list")
            << MousePointer::Custom << MousePointer::Default << MousePointer::Default;
        QTest::newRow("arrow, over a button")
            << MousePointer::Arrow << MousePointer::Custom << MousePointer::Custom;
        QTest::newRow("hourglass, over a button")
            << MousePointer::Hourglass << MousePointer::Custom << MousePointer::Hourglass;
        QTest::newRow("hourglass, over a list")
            << MousePointer::Hourglass << MousePointer::Default << MousePointer::Hourglass;
    }
    void hourglassIsNeverReplaced() {
        QFETCH(MousePointer, before);
        QFETCH(MousePointer, wanted);
        QFETCH(MousePointer, after);
        QWidget widget;
        PointerSetting pointer(&widget);
        pointer.set(before);
        ShowHoverPointer(pointer, wanted);
        QCOMPARE(pointer.value(), after);
    }

    void pointerFollowsWhatLiesUnderIt() {
        installHand();
        open();
        QWidget* background = &*form_;
        struct Step {
            const char* over;
            QWidget* widget;
            QPoint at;
            MousePointer expected;
        };
        const QPoint inBackground(3, 3);  // left of and above the source list
        const std::vector<Step> steps{
            {"Check1", form_->addFilesButton(), {}, MousePointer::Custom},
            {"background", background, inBackground, MousePointer::Default},
            {"Check5", form_->addFolderButton(), {}, MousePointer::Custom},
            {"Check3, from another button", form_->clearSourcesButton(), {}, MousePointer::Custom},
            {"ListView1", form_->sourceList()->viewport(), {}, MousePointer::Default},
            {"Check2", form_->extractButton(), {}, MousePointer::Custom},
            {"ListView2", form_->resultsList()->viewport(), {}, MousePointer::Default},
            {"Check6", form_->saveListButton(), {}, MousePointer::Custom},
            {"Label1, after a button", form_->statusLine(), {}, MousePointer::Custom},
            {"background", background, inBackground + QPoint(1, 0), MousePointer::Default},
            {"Label1, after the background", form_->statusLine(), {3, 3}, MousePointer::Default},
            {"Check7", form_->clearResultsButton(), {}, MousePointer::Custom},
            {"ListView2's header", form_->resultsList()->header(), {}, MousePointer::Custom},
        };
        for (const Step& step : steps) {
            hoverOver(step.widget, step.at);
            QVERIFY2(form_->windowPointer().value() == step.expected, step.over);
            // The buttons and the status line have no pointer of their own: they show the
            // window's, the hand included.
            const bool hand = step.expected == MousePointer::Custom;
            for (QWidget* control : {static_cast<QWidget*>(form_->addFilesButton()),
                                     static_cast<QWidget*>(form_->statusLine())}) {
                QVERIFY2(IsHand(control->cursor()) == hand, step.over);
                if (!hand) {
                    QCOMPARE(control->cursor().shape(), Qt::ArrowCursor);
                }
            }
        }
    }

    void everyButtonShowsTheHand() {
        installHand();
        open();
        for (int number = 1; number <= 7; ++number) {
            hoverOver(&*form_, QPoint(3, 3 + number));
            QCOMPARE(form_->windowPointer().value(), MousePointer::Default);
            auto* button = form_->findChild<QWidget*>(QStringLiteral("Check%1").arg(number));
            hoverOver(button, {});
            QCOMPARE(form_->windowPointer().value(), MousePointer::Custom);
            QVERIFY(IsHand(button->cursor()));
        }
    }

    // Guards against a missing or damaged hand file showing nothing, or stopping the start.
    void withoutAReadableHandTheButtonsShowTheArrow_data() {
        QTest::addColumn<QByteArray>("fileBytes");  // null: no file at all
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not a cursor") << QByteArray("this is no cursor file\r\n");
    }
    void withoutAReadableHandTheButtonsShowTheArrow() {
        QFETCH(QByteArray, fileBytes);
        if (!fileBytes.isNull()) {
            QFile file(dir_->filePath(QStringLiteral("HAND-M.CUR")));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(fileBytes);
        }
        open();
        hoverOver(form_->saveCommaButton(), {});
        QCOMPARE(form_->windowPointer().value(), MousePointer::Custom);
        QCOMPARE(form_->saveCommaButton()->cursor().shape(), Qt::ArrowCursor);
    }

    void hourglassStaysThroughARunAndTheHandComesBackAfter() {
        installHand();
        const QString source = dir_->filePath(QStringLiteral("mail.txt"));
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("one@example.com two@example.com three@example.com\r\n");
        }
        open();
        form_->sourceModel().append(source);
        QList<MousePointer> during;
        QList<Qt::CursorShape> shownOnAButton;
        bool moved = false;
        platform_->onProcessEvents = [&] {
            if (std::exchange(moved, true)) {
                return;
            }
            const QList<QWidget*> places{form_->addFilesButton(),
                                         form_->sourceList()->viewport(),
                                         form_->addFolderButton(),
                                         form_->resultsList()->viewport(),
                                         &*form_,
                                         form_->clearResultsButton()};
            for (QWidget* place : places) {
                hoverOver(place, place == &*form_ ? QPoint(3, 3) : QPoint());
                during << form_->windowPointer().value();
                shownOnAButton << form_->addFilesButton()->cursor().shape();
            }
        };

        QTest::mouseClick(form_->extractButton(), Qt::LeftButton);

        QVERIFY(moved);
        QCOMPARE(form_->resultsModel().count(), 3);
        QCOMPARE(during, QList<MousePointer>(6, MousePointer::Hourglass));
        QCOMPARE(shownOnAButton, QList<Qt::CursorShape>(6, Qt::WaitCursor));
        QCOMPARE(form_->windowPointer().value(), MousePointer::Default);
        hoverOver(form_->saveListButton(), {});
        QCOMPARE(form_->windowPointer().value(), MousePointer::Custom);
        QVERIFY(IsHand(form_->saveListButton()->cursor()));
    }

    // Guards against the picture from before a modal box staying after it closes (here only
    // an Enter event comes then, no pointer move): the hand over the background after "No".
    void pictureFollowsThePointerWhenABoxCloses_data() {
        QTest::addColumn<QString>("restsOn");  // where the pointer is when the box closes
        QTest::addColumn<MousePointer>("before");
        QTest::addColumn<MousePointer>("after");
        QTest::newRow("background") << "Form1" << MousePointer::Custom << MousePointer::Default;
        QTest::newRow("a button") << "Check1" << MousePointer::Default << MousePointer::Custom;
        QTest::newRow("the results list")
            << "ListView2" << MousePointer::Custom << MousePointer::Default;
        QTest::newRow("the status line")
            << "Label1" << MousePointer::Custom << MousePointer::Custom;
        QTest::newRow("outside the window") << "" << MousePointer::Custom << MousePointer::Custom;
    }
    void pictureFollowsThePointerWhenABoxCloses() {
        QFETCH(QString, restsOn);
        QFETCH(MousePointer, before);
        QFETCH(MousePointer, after);
        open();
        const QString path = dir_->filePath(QStringLiteral("out.txt"));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        platform_->saveAnswers << FileName(path);
        platform_->messageAnswers << MessageAnswer::No;
        platform_->onCall = [&](const ScriptedPlatform::Record& record) {
            if (record.call != ScriptedPlatform::Call::Message) {
                return;
            }
            // The user moves the mouse while the question is up; the window sees none of it.
            if (restsOn.isEmpty()) {
                platform_->pointer = form_->mapToGlobal(QPoint(-50, -50));
            } else if (restsOn == QLatin1String("Form1")) {
                platform_->pointer = form_->mapToGlobal(QPoint(2, 2));
            } else {
                QWidget* place = form_->findChild<QWidget*>(restsOn);
                platform_->pointer = place->mapToGlobal(place->rect().center());
            }
        };
        form_->windowPointer().set(before);

        form_->saveListButton()->click();  // the overwrite question, answered No

        QCOMPARE(form_->windowPointer().value(), after);
    }

    // Guards against the feedback after a box taking the hourglass down in the middle of work.
    void hourglassStaysWhenABoxClosesDuringWork() {
        open();
        form_->resultsModel().append("a@example.com");
        const QString path = dir_->filePath(QStringLiteral("out.txt"));
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        platform_->saveAnswers << FileName(path);
        platform_->messageAnswers << MessageAnswer::Yes;
        platform_->pointer = form_->addFilesButton()->mapToGlobal(QPoint(2, 2));
        std::optional<MousePointer> afterQuestion;
        platform_->onProcessEvents = [&] {
            if (!afterQuestion) {
                afterQuestion = form_->windowPointer().value();
            }
        };
        form_->saveCommaButton()->click();
        QCOMPARE(afterQuestion, std::optional(MousePointer::Hourglass));
    }

private:
    void installHand() {
        QVERIFY(QFile::copy(AssetsDir + QStringLiteral("/HAND-M.CUR"),
                            dir_->filePath(QStringLiteral("HAND-M.CUR"))));
    }

    void open() {
        form_.emplace(*platform_);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(&*form_));
    }

    // Moves the pointer over `widget` (its centre when `at` is null) without a button held,
    // through the window system, which hands the move to the control under the pointer.
    void hoverOver(QWidget* widget, QPoint at) {
        const QPoint point = at.isNull() ? widget->rect().center() : at;
        // A move to where the pointer already is would not be reported.
        if (widget->mapToGlobal(point) == QCursor::pos()) {
            QTest::mouseMove(widget, point + QPoint(1, 1));
        }
        QTest::mouseMove(widget, point);
    }

    std::optional<QTemporaryDir> dir_;
    std::optional<ScriptedPlatform> platform_;
    std::optional<Form1> form_;
};

QTEST_MAIN(HoverFeedbackTest)
#include "tst_hover_feedback.moc"
