#include "ui/pointer/cursor_file.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

namespace orlenta {

namespace {

// The header of an .ico/.cur file: reserved (0), type (1 icon, 2 cursor), image count, then
// one 16-byte entry per image. In a cursor's entry, bytes 4-5 and 6-7 hold the hot spot.
std::optional<QPoint> CursorHotSpot(const QByteArray& header) {
    if (header.size() < 6 + 16) {
        return std::nullopt;
    }
    const auto u16 = [&header](int at) {
        return static_cast<int>(static_cast<unsigned char>(header[at])) |
               (static_cast<int>(static_cast<unsigned char>(header[at + 1])) << 8);
    };
    if (u16(0) != 0 || u16(2) != 2 || u16(4) == 0) {
        return std::nullopt;
    }
    return QPoint(u16(6 + 4), u16(6 + 6));
}

}  // namespace

std::optional<QCursor> LoadCursorFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray header = file.peek(6 + 16);
    // The content decides, not the name: ".cur" and ".ico" are the same format, and a file
    // that is neither is refused by the reader rather than guessed at.
    QImageReader reader(&file, "ico");
    const QImage image = reader.read();
    if (image.isNull()) {
        return std::nullopt;
    }
    QPoint hotSpot = CursorHotSpot(header).value_or(QPoint(image.width() / 2, image.height() / 2));
    hotSpot.setX(qBound(0, hotSpot.x(), image.width() - 1));
    hotSpot.setY(qBound(0, hotSpot.y(), image.height() - 1));
    return QCursor(QPixmap::fromImage(image), hotSpot.x(), hotSpot.y());
}

}  // namespace orlenta
