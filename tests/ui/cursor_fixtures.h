#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>

namespace orlenta {

// Pointer image files for tests, made on the spot: an icon as Qt's ICO writer writes it, and a
// cursor, which is the same format with type 2 and the hot spot in the image's entry.
QByteArray IconFileBytes(int size = 32);
QByteArray CursorFileBytes(QPoint hotSpot, int size = 32);

bool WriteBytes(const QString& path, const QByteArray& bytes);

}  // namespace orlenta
