#include "tests/ui/cursor_fixtures.h"
#include "ui/pointer/cursor_file.h"
#include "ui/pointer/mouse_pointer.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace orlenta;

class MousePointerTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void loadsACursorWithItsHotSpot() {
        const QString path = dir_.filePath(QStringLiteral("hand.cur"));
        QVERIFY(WriteBytes(path, CursorFileBytes(QPoint(5, 7))));
        const std::optional<QCursor> cursor = LoadCursorFile(path);
        QVERIFY(cursor.has_value());
        QCOMPARE(cursor->shape(), Qt::BitmapCursor);
        QCOMPARE(cursor->pixmap().size(), QSize(32, 32));
        QCOMPARE(cursor->hotSpot(), QPoint(5, 7));
    }

    void iconGetsItsCentreAsHotSpot() {
        const QString path = dir_.filePath(QStringLiteral("drag.ico"));
        QVERIFY(WriteBytes(path, IconFileBytes()));
        const std::optional<QCursor> cursor = LoadCursorFile(path);
        QVERIFY(cursor.has_value());
        QCOMPARE(cursor->hotSpot(), QPoint(16, 16));
    }

    // Guards against a hot spot outside the image, which some platforms refuse to show.
    void hotSpotOutsideTheImageIsKeptInside() {
        const QString path = dir_.filePath(QStringLiteral("far.cur"));
        QVERIFY(WriteBytes(path, CursorFileBytes(QPoint(200, 40))));
        const std::optional<QCursor> cursor = LoadCursorFile(path);
        QVERIFY(cursor.has_value());
        QCOMPARE(cursor->hotSpot(), QPoint(31, 31));
    }

    void unreadableFilesGiveNoImage_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("not a cursor at all, just some text\r\n");
        QTest::newRow("cut short") << CursorFileBytes(QPoint(1, 1)).left(40);
        QByteArray png;
        {
            QImage image(8, 8, QImage::Format_ARGB32);
            image.fill(Qt::red);
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
        }
        QTest::newRow("another image format") << png;
    }
    void unreadableFilesGiveNoImage() {
        QFETCH(QByteArray, bytes);
        const QString path = dir_.filePath(QStringLiteral("bad.cur"));
        QVERIFY(WriteBytes(path, bytes));
        QVERIFY(!LoadCursorFile(path).has_value());
    }

    void missingFileGivesNoImage() {
        QVERIFY(!LoadCursorFile(dir_.filePath(QStringLiteral("absent.cur"))).has_value());
        QVERIFY(!LoadCursorFile(dir_.path()).has_value());  // a folder
    }

    void settingsMapOntoQtCursors() {
        QWidget window;
        QWidget& widget = *new QWidget(&window);  // a list, say
        PointerSetting pointer(&widget);
        QCOMPARE(pointer.value(), MousePointer::Default);
        QVERIFY(!widget.testAttribute(Qt::WA_SetCursor));

        pointer.set(MousePointer::Hourglass);
        QCOMPARE(widget.cursor().shape(), Qt::WaitCursor);
        pointer.set(MousePointer::Arrow);
        QCOMPARE(widget.cursor().shape(), Qt::ArrowCursor);
        pointer.set(MousePointer::Custom);  // no image yet: the arrow
        QCOMPARE(widget.cursor().shape(), Qt::ArrowCursor);
        pointer.set(MousePointer::Default);
        QVERIFY(!widget.testAttribute(Qt::WA_SetCursor));
        PointerSetting windowPointer(&window);
        windowPointer.set(MousePointer::Hourglass);
        QCOMPARE(window.cursor().shape(), Qt::WaitCursor);
        windowPointer.set(MousePointer::Default);
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);  // a window's default
        QCOMPARE(static_cast<int>(MousePointer::Hourglass), 11);
        QCOMPARE(static_cast<int>(MousePointer::Custom), 99);
    }

    void customImageShowsWhereCustomIsSet() {
        QWidget widget;
        PointerSetting pointer(&widget);
        const QString path = dir_.filePath(QStringLiteral("hand2.cur"));
        QVERIFY(WriteBytes(path, CursorFileBytes(QPoint(3, 4))));

        pointer.setCustomImage(LoadCursorFile(path));
        QVERIFY(!widget.testAttribute(Qt::WA_SetCursor));  // not shown until asked for

        pointer.set(MousePointer::Custom);
        QCOMPARE(widget.cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(widget.cursor().hotSpot(), QPoint(3, 4));

        pointer.setCustomImage(std::nullopt);  // applies at once while Custom is set
        QCOMPARE(widget.cursor().shape(), Qt::ArrowCursor);
    }

    void childrenShowTheirWindowsPointer() {
        QWidget window;
        QWidget* child = new QWidget(&window);
        PointerSetting pointer(&window);
        pointer.set(MousePointer::Hourglass);
        QCOMPARE(child->cursor().shape(), Qt::WaitCursor);
    }

private:
    QTemporaryDir dir_;
};

QTEST_MAIN(MousePointerTest)
#include "tst_mouse_pointer.moc"
