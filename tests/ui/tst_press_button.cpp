#include "ui/window/press_button.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace orlenta;

class PressButtonTest final : public QObject {
    Q_OBJECT

private slots:
    void clickRunsTheActionOnceAndLeavesTheButtonRaised() {
        PressButton button(QStringLiteral("Clear List"));
        QSignalSpy actions(&button, &PressButton::activated);
        QSignalSpy toggles(&button, &QAbstractButton::toggled);
        QList<int> valuesSeenByAction;
        connect(&button, &PressButton::activated, [&] { valuesSeenByAction << button.value(); });

        button.click();

        QCOMPARE(actions.count(), 1);
        // Pressed in by the click, raised again by the handler before the action ran.
        QCOMPARE(toggles.count(), 2);
        QCOMPARE(valuesSeenByAction, QList<int>{0});
        QCOMPARE(button.value(), 0);
    }

    void mouseAndKeyboardPressesBehaveAlike() {
        PressButton button(QStringLiteral("Add File(s)"));
        button.resize(120, 27);
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QSignalSpy actions(&button, &PressButton::activated);

        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(actions.count(), 1);
        QCOMPARE(button.value(), 0);

        button.setFocus();
        QTest::keyClick(&button, Qt::Key_Space);
        QCOMPARE(actions.count(), 2);
        QCOMPARE(button.value(), 0);
    }

    void eachPressRunsOnce() {
        PressButton button(QStringLiteral("Save Results As List"));
        QSignalSpy actions(&button, &PressButton::activated);
        for (int i = 0; i < 5; ++i) {
            button.click();
        }
        QCOMPARE(actions.count(), 5);
        QCOMPARE(button.value(), 0);
    }

    // A click that finds the button pressed in only raises it: the handler sees 0.
    void clickOnAPressedButtonOnlyRaisesIt() {
        PressButton button(QStringLiteral("Clear List"));
        button.setValue(1);
        QSignalSpy actions(&button, &PressButton::activated);
        button.click();
        QCOMPARE(actions.count(), 0);
        QCOMPARE(button.value(), 0);
    }

    void settingTheValueFromCodeRunsNothing() {
        PressButton button(QStringLiteral("Clear List"));
        QSignalSpy actions(&button, &PressButton::activated);
        button.setValue(1);
        button.setValue(0);
        QCOMPARE(actions.count(), 0);
    }

    void looks() {
        PressButton button(QStringLiteral("Delete Duplicate Emails"));
        QVERIFY(button.isCheckable());
        QCOMPARE(button.text(), QStringLiteral("Delete Duplicate Emails"));
        QCOMPARE(button.font().family(), QStringLiteral("Arial"));
        QCOMPARE(button.font().pointSizeF(), 11.25);
        QCOMPARE(button.font().weight(), QFont::Bold);
        QCOMPARE(button.palette().color(QPalette::Button), QColor(Qt::white));
        QCOMPARE(button.focusPolicy() & Qt::TabFocus, Qt::TabFocus);

        QVERIFY(!button.icon().isNull());
        const QImage picture = button.icon().pixmap(QSize(32, 32)).toImage();
        QCOMPARE(picture.size(), QSize(32, 32));
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                QCOMPARE(qAlpha(picture.pixel(x, y)), 0);
            }
        }
    }
};

QTEST_MAIN(PressButtonTest)
#include "tst_press_button.moc"
