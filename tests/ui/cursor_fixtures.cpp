#include "tests/ui/cursor_fixtures.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

namespace orlenta {

namespace {

void PutU16(QByteArray& bytes, int at, int value) {
    bytes[at] = static_cast<char>(value & 0xff);
    bytes[at + 1] = static_cast<char>((value >> 8) & 0xff);
}

}  // namespace

QByteArray IconFileBytes(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int i = 0; i < size; ++i) {
        image.setPixel(i, i, qRgba(0, 0, 0, 255));  // a visible diagonal
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "ico");
    if (!writer.write(image)) {
        return {};
    }
    return buffer.data();
}

QByteArray CursorFileBytes(QPoint hotSpot, int size) {
    QByteArray bytes = IconFileBytes(size);
    if (bytes.size() < 22) {
        return {};
    }
    PutU16(bytes, 2, 2);  // type: cursor
    PutU16(bytes, 6 + 4, hotSpot.x());
    PutU16(bytes, 6 + 6, hotSpot.y());
    return bytes;
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace orlenta
