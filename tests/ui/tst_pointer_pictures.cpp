// The hand pointer and the drag image that the build puts beside the program: both must read
// as pointers, the hand pointing with its fingertip, and be the pictures kept in assets/.
#include "ui/pointer/cursor_file.h"
#include "ui/pointer/source_list_reorder.h"
#include "ui/window/startup.h"

#include <QFile>
#include <QImage>
#include <QTest>

using namespace orlenta;

namespace {

const QString ProgramFolder = QStringLiteral(ORLENTA_PROGRAM_FOLDER);
const QString AssetsDir = QStringLiteral(ORLENTA_ASSETS_DIR);

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int OpaquePixels(const QImage& image) {
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            opaque += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    return opaque;
}

}  // namespace

class PointerPicturesTest final : public QObject {
    Q_OBJECT

private slots:
    void besideTheProgram_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("asset");
        QTest::addColumn<QPoint>("hotSpot");
        // The hand's hot spot is the tip of its index finger; an icon's is its centre.
        QTest::newRow("HAND-M.CUR")
            << HandCursorPath(ProgramFolder) << QStringLiteral("HAND-M.CUR") << QPoint(5, 1);
        QTest::newRow("drag.ico") << DragImagePath(ProgramFolder) << QStringLiteral("drag.ico")
                                  << QPoint(16, 16);
    }
    void besideTheProgram() {
        QFETCH(QString, path);
        QFETCH(QString, asset);
        QFETCH(QPoint, hotSpot);

        // Guards against a stale copy after the picture was drawn again.
        const QByteArray copied = Bytes(path);
        QVERIFY2(!copied.isEmpty(), qPrintable(path));
        QCOMPARE(copied, Bytes(AssetsDir + QLatin1Char('/') + asset));

        const std::optional<QCursor> cursor = LoadCursorFile(path);
        QVERIFY(cursor.has_value());
        QCOMPARE(cursor->shape(), Qt::BitmapCursor);
        QCOMPARE(cursor->pixmap().size(), QSize(32, 32));
        QCOMPARE(cursor->hotSpot(), hotSpot);
        const QImage image = cursor->pixmap().toImage();
        QVERIFY(OpaquePixels(image) > 0);
        if (asset == QStringLiteral("HAND-M.CUR")) {
            // The point that clicks lies on the fingertip, not on the transparent surround.
            QVERIFY(qAlpha(image.pixel(hotSpot)) > 0);
        }
    }
};

QTEST_MAIN(PointerPicturesTest)
#include "tst_pointer_pictures.moc"
