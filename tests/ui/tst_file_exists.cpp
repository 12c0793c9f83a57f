#include "ui/platform/file_exists.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace orlenta;

class FileExistsTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        QFile file(dir_.filePath(QStringLiteral("present.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.close();
        QFile empty(dir_.filePath(QStringLiteral("empty")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("folder")));
        QVERIFY(QFile::link(dir_.filePath(QStringLiteral("nowhere")),
                            dir_.filePath(QStringLiteral("dangling"))));
    }

    void answers_data() {
        QTest::addColumn<QString>("name");  // relative to the fixture folder, "" for none
        QTest::addColumn<QString>("path");  // used when name is empty
        QTest::addColumn<bool>("exists");
        QTest::newRow("file") << "present.txt"
                              << "" << true;
        QTest::newRow("empty file") << "empty"
                                    << "" << true;
        QTest::newRow("folder") << "folder"
                                << "" << true;
        QTest::newRow("missing") << "absent.txt"
                                 << "" << false;
        QTest::newRow("inside a missing folder") << "nope/absent.txt"
                                                 << "" << false;
        QTest::newRow("through a file") << "present.txt/x"
                                        << "" << false;
        QTest::newRow("dangling link") << "dangling"
                                       << "" << false;
        QTest::newRow("empty path") << ""
                                    << "" << false;
    }
    void answers() {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QFETCH(bool, exists);
        const QString full = name.isEmpty() ? path : dir_.filePath(name);
        QCOMPARE(FileExists(full), exists);
    }

    // Guards against a NUL cutting the name short, so that "present.txt\0junk" would be
    // reported as the existing present.txt.
    void nameWithNulIsNoFile() {
        const QString path =
            dir_.filePath(QStringLiteral("present.txt")) + QChar(0) + QStringLiteral("junk");
        QVERIFY(!FileExists(path));
    }

    // Guards against an unpaired UTF-16 surrogate making the conversion throw.
    void unconvertibleNameIsNoFile() {
        const QString path = dir_.filePath(QStringLiteral("bad")) + QChar(0xD800);
        QVERIFY(!FileExists(path));
    }

    void unreadableFolderIsNoFile() {
        if (::geteuid() == 0) {
            QSKIP("root reads every folder");
        }
        const QString locked = dir_.filePath(QStringLiteral("locked"));
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("locked")));
        QFile inner(locked + QStringLiteral("/inner.txt"));
        QVERIFY(inner.open(QIODevice::WriteOnly));
        inner.close();
        QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
        const bool exists = FileExists(locked + QStringLiteral("/inner.txt"));
        QFile::setPermissions(
            locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!exists);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(FileExistsTest)
#include "tst_file_exists.moc"
