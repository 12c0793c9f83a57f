#include "tests/ui/scripted_platform.h"
#include "ui/platform/platform.h"
#include "ui/platform/qt_platform.h"
#include "ui/window/home_page.h"

#include <QTest>
#include <QUrl>

using namespace orlenta;

class PlatformHelpersTest final : public QObject {
    Q_OBJECT

private slots:
    void drawsFrom1To100_data() {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("draw");
        QTest::newRow("zero") << 0.0 << 1;
        QTest::newRow("just below 0.06") << 0.0599999 << 6;
        QTest::newRow("0.06") << 0.06 << 7;
        QTest::newRow("just below 0.07") << 0.0699999 << 7;
        QTest::newRow("0.07") << 0.07 << 8;
        QTest::newRow("largest fraction below one") << 0.9999999999999999 << 100;
    }
    void drawsFrom1To100() {
        QFETCH(double, fraction);
        QFETCH(int, draw);
        QCOMPARE(DrawFrom1To100(fraction), draw);
    }

    void realDrawStaysInRange() {
        QtPlatform platform;
        for (int i = 0; i < 1000; ++i) {
            const int n = platform.drawFrom1To100();
            QVERIFY2(n >= 1 && n <= 100, qPrintable(QString::number(n)));
        }
    }

    void messageHelpersCarryTheTitleAndButtons() {
        ScriptedPlatform platform;
        platform.messageAnswers = {MessageAnswer::Ok, MessageAnswer::Yes, MessageAnswer::Cancel};
        TellUser(platform, nullptr, QStringLiteral("Told."));
        QCOMPARE(AskYesNo(platform, nullptr, QStringLiteral("Sure?")), MessageAnswer::Yes);
        QCOMPARE(AskYesNoCancel(platform, nullptr, QStringLiteral("Load?")), MessageAnswer::Cancel);
        // Unanswered questions get the answer of Esc.
        QCOMPARE(AskYesNo(platform, nullptr, QStringLiteral("Again?")), MessageAnswer::No);
        QCOMPARE(AskYesNoCancel(platform, nullptr, QStringLiteral("And?")), MessageAnswer::Cancel);

        const auto boxes = platform.callsOf(ScriptedPlatform::Call::Message);
        QCOMPARE(boxes.size(), std::size_t(5));
        const MessageButtons expected[] = {MessageButtons::Ok, MessageButtons::YesNo,
                                           MessageButtons::YesNoCancel, MessageButtons::YesNo,
                                           MessageButtons::YesNoCancel};
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            QCOMPARE(boxes[i].message.caption, QStringLiteral("Orlenta"));
            QVERIFY(boxes[i].message.buttons == expected[i]);
        }
        QCOMPARE(boxes[0].message.text, QStringLiteral("Told."));
    }

    void homePageIsAWebAddress() {
        const QUrl url(HomePageAddress());
        QVERIFY(url.isValid());
        QVERIFY(url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
        QVERIFY(!url.host().isEmpty());
    }
};

QTEST_GUILESS_MAIN(PlatformHelpersTest)
#include "tst_platform_helpers.moc"
