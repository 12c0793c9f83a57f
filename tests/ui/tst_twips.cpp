#include "ui/window/startup.h"
#include "ui/window/twips.h"

#include <QTest>

using namespace orlenta;

class TwipsTest final : public QObject {
    Q_OBJECT

private slots:
    void convertsTwipsToPixels_data() {
        QTest::addColumn<double>("twips");
        QTest::addColumn<int>("pixels");
        QTest::newRow("margin") << 120.0 << 8;
        QTest::newRow("button height, 26.67 rounds up") << 400.0 << 27;
        QTest::newRow("off-screen left edge") << -720.0 << -48;
        QTest::newRow("list width") << 7095.0 << 473;
        QTest::newRow("column width") << 6000.0 << 400;
        QTest::newRow("just under half a pixel") << 7.0 << 0;
        QTest::newRow("just over half a pixel") << 8.0 << 1;
        QTest::newRow("half a pixel below zero rounds away") << -7.5 << -1;
    }
    void convertsTwipsToPixels() {
        QFETCH(double, twips);
        QFETCH(int, pixels);
        QCOMPARE(TwipsToPixels(twips), pixels);
    }

    void centresInTwipsWithoutRounding_data() {
        QTest::addColumn<QSizeF>("screen");
        QTest::addColumn<QSizeF>("window");
        QTest::addColumn<QPointF>("topLeft");
        QTest::newRow("1024 x 768")
            << QSizeF(1024 * 15, 768 * 15) << QSizeF(7380, 6375) << QPointF(3990, 2572.5);
        QTest::newRow("odd difference keeps its half")
            << QSizeF(15361, 11520) << QSizeF(7350, 5895) << QPointF(4005.5, 2812.5);
        QTest::newRow("window wider and taller than the screen")
            << QSizeF(4500, 3000) << QSizeF(7350, 5895) << QPointF(-1425, -1447.5);
        QTest::newRow("exactly the screen")
            << QSizeF(7350, 5895) << QSizeF(7350, 5895) << QPointF(0, 0);
    }
    void centresInTwipsWithoutRounding() {
        QFETCH(QSizeF, screen);
        QFETCH(QSizeF, window);
        QFETCH(QPointF, topLeft);
        QCOMPARE(CentredTopLeftTwips(screen, window), topLeft);
    }
};

QTEST_GUILESS_MAIN(TwipsTest)
#include "tst_twips.moc"
