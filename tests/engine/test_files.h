#pragma once

// Small helpers shared by the engine tests that need files on disk.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace orlenta::test {

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline std::string Local(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// `length` bytes that are not all alike: every byte value, NULs and bytes above 127 included.
inline QByteArray PatternedBytes(qsizetype length) {
    QByteArray bytes(length, '\0');
    for (qsizetype i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

// Random text of `length` bytes for runs held to one another: few distinct addresses in
// several spellings, separators, NULs and high bytes, with tokens across chunk borders.
inline QByteArray AddressText(QRandomGenerator& random, qsizetype length) {
    // Few distinct addresses in several spellings, so first spellings matter, and separators
    // that put tokens across chunk borders.
    static const QList<QByteArray> pieces = {"ann@example.com",
                                             "ANN@Example.com",
                                             " ",
                                             "\r\n",
                                             "\n",
                                             ",",
                                             "x.y@z.org",
                                             "a@b.c",
                                             "<",
                                             "\t",
                                             "q_q@w-w.ee",
                                             QByteArray("\0", 1),
                                             "\xE9",
                                             "."};
    QByteArray text;
    text.reserve(length + 40);
    while (text.size() < length) {
        text += pieces[random.bounded(static_cast<int>(pieces.size()))];
        if (random.bounded(8) == 0) {
            text += "U" + QByteArray::number(random.bounded(3000)) + "@d" +
                    QByteArray::number(random.bounded(10)) + (random.bounded(2) ? ".COM" : ".com");
        }
    }
    text.truncate(length);
    return text;
}

// Kinds of path that cannot be read as a file, made inside `folder`. Returns the path, or an
// empty string when the kind cannot be made here (then the caller skips).
inline QString MakeUnreadablePath(const QString& folder, const QString& kind) {
    if (kind == "missing") {
        return folder + "/no-such-file.txt";
    }
    if (kind == "folder") {
        return folder;
    }
    if (kind == "fifo") {
        const QString path = folder + "/pipe";
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
    }
    if (kind == "device") {
        return QStringLiteral("/dev/zero");
    }
    if (kind == "no permission") {
        const QString path = folder + "/locked.txt";
        if (!WriteBytes(path, "ann@example.com\r\n")) {
            return {};
        }
        ::chmod(QFile::encodeName(path).constData(), 0);
        return path;
    }
    return {};
}

}  // namespace orlenta::test
