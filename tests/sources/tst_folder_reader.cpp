#include "sources/folder_reader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace orlenta;

namespace {

QByteArray Bytes(const QString& path) {
    return QFile::encodeName(path);
}

QString Describe(const QList<FolderEntry>& entries) {
    QStringList parts;
    for (const FolderEntry& entry : entries) {
        const char* kind = entry.kind == EntryKind::File     ? "file"
                           : entry.kind == EntryKind::Folder ? "folder"
                                                             : "other";
        parts.append(QFile::decodeName(entry.name) + QLatin1Char(':') + QLatin1String(kind));
    }
    return parts.join(QLatin1Char(' '));
}

}  // namespace

class FolderReaderTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void kinds_data();
    void kinds();
    void nameOrder_data();
    void nameOrder();
    void identitySeesThroughLinks();
    void missingFolder();
    void fileIsNoFolder();

private:
    QTemporaryDir dir_;
    QString root_;
};

// A folder with one of each kind of entry, hidden ones included.
void FolderReaderTest::init() {
    QVERIFY(dir_.isValid());
    root_ = dir_.path() + QStringLiteral("/kinds");
    if (QFileInfo::exists(root_)) {
        return;
    }
    QVERIFY(QDir().mkpath(root_ + QStringLiteral("/Folder")));
    QVERIFY(QDir().mkpath(root_ + QStringLiteral("/.hiddenFolder")));
    for (const char* name : {"b.txt", "A.csv", ".hidden"}) {
        QFile file(root_ + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QFile::link(root_ + QStringLiteral("/b.txt"), root_ + QStringLiteral("/fileLink")));
    QVERIFY(QFile::link(root_ + QStringLiteral("/Folder"), root_ + QStringLiteral("/folderLink")));
    QVERIFY(QFile::link(root_ + QStringLiteral("/none"), root_ + QStringLiteral("/brokenLink")));
    QCOMPARE(::mkfifo(QFile::encodeName(root_ + QStringLiteral("/pipe")).constData(), 0600), 0);
}

void FolderReaderTest::kinds_data() {
    QTest::addColumn<bool>("withHidden");
    QTest::addColumn<QString>("expected");
    QTest::newRow("visible") << false
                             << "A.csv:file b.txt:file brokenLink:other fileLink:file "
                                "Folder:folder folderLink:folder pipe:other";
    QTest::newRow("with hidden") << true
                                 << ".hidden:file .hiddenFolder:folder A.csv:file b.txt:file "
                                    "brokenLink:other fileLink:file Folder:folder "
                                    "folderLink:folder pipe:other";
}

// The direct reading and Qt's agree on every kind of entry, and on the order.
void FolderReaderTest::kinds() {
    QFETCH(bool, withHidden);
    QFETCH(QString, expected);
    const ReadOptions options{withHidden, false};

    QList<FolderEntry> direct;
    QString error;
    QVERIFY(ReadFolder(Bytes(root_), options, direct, error));
    QVERIFY(error.isEmpty());
    QCOMPARE(Describe(direct), expected);

    QList<FolderEntry> throughQt;
    QVERIFY(ReadFolderWithQt(Bytes(root_), options, throughQt, error));
    QCOMPARE(Describe(throughQt), expected);
}

void FolderReaderTest::nameOrder_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("expected");
    // "_" lies between "Z" and "a": an order that forgets to fold case puts "B" before "_x".
    const QStringList ascii{"b", "_x", "B", "a", "A"};
    QTest::newRow("ASCII names") << ascii << "_x:file A:file a:file B:file b:file";
    QTest::newRow("one name not ASCII")
        << (QStringList(ascii) << QString::fromUtf8("\xc3\xa9.txt"))
        << QString::fromUtf8("_x:file A:file a:file B:file b:file \xc3\xa9.txt:file");
}

// Case-insensitive name order, ties by the exact name, whether or not every name is ASCII.
void FolderReaderTest::nameOrder() {
    QFETCH(QStringList, names);
    QFETCH(QString, expected);
    const QString folder = dir_.path() + QStringLiteral("/order/") + QTest::currentDataTag();
    QVERIFY(QDir().mkpath(folder));
    for (const QString& name : names) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QList<FolderEntry> entries;
    QString error;
    QVERIFY(ReadFolder(Bytes(folder), {}, entries, error));
    QCOMPARE(Describe(entries), expected);
}

void FolderReaderTest::identitySeesThroughLinks() {
    QList<FolderEntry> entries;
    QString error;
    QVERIFY(ReadFolder(Bytes(root_), {true, true}, entries, error));
    QString folder;
    QString link;
    QString hidden;
    for (const FolderEntry& entry : std::as_const(entries)) {
        if (entry.kind != EntryKind::Folder) {
            QVERIFY(entry.identity.isEmpty());
        } else if (entry.name == "Folder") {
            folder = entry.identity;
        } else if (entry.name == "folderLink") {
            link = entry.identity;
        } else {
            hidden = entry.identity;
        }
    }
    QVERIFY(!folder.isEmpty());
    QCOMPARE(link, folder);
    QVERIFY(hidden != folder);
    QCOMPARE(FolderIdentity(Bytes(root_ + QStringLiteral("/folderLink/")), error), folder);
    QCOMPARE(FolderIdentity(Bytes(root_ + QStringLiteral("//Folder")), error), folder);
}

void FolderReaderTest::missingFolder() {
    QList<FolderEntry> entries{{QByteArray("stale"), EntryKind::File, {}}};
    QString error;
    QVERIFY(!ReadFolder(Bytes(root_ + QStringLiteral("/none")), {}, entries, error));
    QVERIFY(entries.isEmpty());
    QCOMPARE(error, QStringLiteral("No such file or directory"));
    QVERIFY(FolderIdentity(Bytes(root_ + QStringLiteral("/none")), error).isEmpty());
    QCOMPARE(error, QStringLiteral("No such file or directory"));
}

void FolderReaderTest::fileIsNoFolder() {
    QList<FolderEntry> entries;
    QString error;
    QVERIFY(!ReadFolder(Bytes(root_ + QStringLiteral("/b.txt")), {}, entries, error));
    QCOMPARE(error, QStringLiteral("Not a directory"));
    QVERIFY(FolderIdentity(Bytes(root_ + QStringLiteral("/b.txt")), error).isEmpty());
    QCOMPARE(error, QStringLiteral("Not a directory"));
}

QTEST_GUILESS_MAIN(FolderReaderTest)
#include "tst_folder_reader.moc"
