#include "result_writers.h"
#include "results_model.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

using namespace orlenta;

Q_DECLARE_METATYPE(ResultFormat)

namespace {

Addresses Numbered(int count) {
    Addresses addresses;
    addresses.reserve(count);
    for (int i = 0; i < count; ++i) {
        addresses.push_back("user" + std::to_string(i) + "@example.com");
    }
    return addresses;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The addresses a saved file holds, read back without the writer's help.
Addresses ParseSaved(const QByteArray& bytes, ResultFormat format) {
    Addresses addresses;
    if (format == ResultFormat::List) {
        const QList<QByteArray> lines = bytes.split('\n');
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            if (!lines[i].endsWith('\r')) {
                return {"<line without CR>"};
            }
            addresses.push_back(lines[i].chopped(1).toStdString());
        }
        return lines.last().isEmpty() ? addresses : Addresses{"<unterminated last line>"};
    }
    if (!bytes.endsWith("\r\n") || bytes.count('\n') != 1) {
        return {"<not one CR LF line>"};
    }
    const QByteArray line = bytes.chopped(2);
    if (line.isEmpty()) {
        return addresses;
    }
    for (const QByteArray& address : line.split(',')) {
        addresses.push_back(address.toStdString());
    }
    return addresses;
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace

class ResultWritersTest final : public QObject {
    Q_OBJECT

private slots:
    void formats_data();
    void formats();
    void saveWritesTheFormat_data();
    void saveWritesTheFormat();
    void overwriteLeavesNoTail_data();
    void overwriteLeavesNoTail();
    void largeListsComplete_data();
    void largeListsComplete();
    void nameUsedExactly();
    void linkAndPermissionsKept();

    void failureKeepsOldFile_data();
    void failureKeepsOldFile();
    void readOnlyFileRefused();
    void folderWithoutWriteAccess();
    void fileSizeLimit();
    void diskFull();
    void writeErrorOnDevice();

    void hookRunsPerAddressBeforeTheFileIsTouched();
    void hookCanAbandon();
    void snapshotSurvivesChangesDuringTheSave();
};

void ResultWritersTest::formats_data() {
    QTest::addColumn<Addresses>("addresses");
    QTest::addColumn<ResultFormat>("format");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("list, none") << Addresses{} << ResultFormat::List << QByteArray();
    QTest::newRow("list, one") << Addresses{"a@b.com"} << ResultFormat::List
                               << QByteArray("a@b.com\r\n");
    QTest::newRow("list, three") << Addresses{"A@x.org", "B@y.net", "C@z.com"} << ResultFormat::List
                                 << QByteArray("A@x.org\r\nB@y.net\r\nC@z.com\r\n");
    QTest::newRow("comma, none") << Addresses{} << ResultFormat::CommaDelimited
                                 << QByteArray("\r\n");
    QTest::newRow("comma, one") << Addresses{"a@b.com"} << ResultFormat::CommaDelimited
                                << QByteArray("a@b.com\r\n");
    QTest::newRow("comma, three") << Addresses{"A@x.org", "B@y.net", "C@z.com"}
                                  << ResultFormat::CommaDelimited
                                  << QByteArray("A@x.org,B@y.net,C@z.com\r\n");
}

void ResultWritersTest::formats() {
    QFETCH(Addresses, addresses);
    QFETCH(ResultFormat, format);
    QFETCH(QByteArray, bytes);
    QCOMPARE(QByteArray::fromStdString(FormatResults(addresses, format)), bytes);

    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(WriteResults(buffer, addresses, format));
    QCOMPARE(buffer.data(), bytes);

    // Guards against the one-at-a-time path of orlenta-extract drifting from the list's bytes.
    ResultAppender appender(format);
    for (const std::string& address : addresses) {
        appender.add(address);
    }
    const std::string appended = appender.finish();
    QCOMPARE(QByteArray::fromStdString(appended), bytes);
    QBuffer appendedBuffer;
    QVERIFY(appendedBuffer.open(QIODevice::WriteOnly));
    QVERIFY(WriteFormatted(appendedBuffer, appended));
    QCOMPARE(appendedBuffer.data(), bytes);
}

void ResultWritersTest::saveWritesTheFormat_data() {
    formats_data();
}

void ResultWritersTest::saveWritesTheFormat() {
    QFETCH(Addresses, addresses);
    QFETCH(ResultFormat, format);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    QString error;
    QVERIFY2(SaveResults(path, addresses, format, &error), qPrintable(error));
    QCOMPARE(ReadAll(path), bytes);
    QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
}

void ResultWritersTest::overwriteLeavesNoTail_data() {
    QTest::addColumn<ResultFormat>("format");
    QTest::newRow("list") << ResultFormat::List;
    QTest::newRow("comma") << ResultFormat::CommaDelimited;
}

// Guards against writing over the old bytes without cutting the file.
void ResultWritersTest::overwriteLeavesNoTail() {
    QFETCH(ResultFormat, format);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, QByteArray(10000, 'x'));
    QVERIFY(SaveResults(path, {"a@b.com"}, format));
    QCOMPARE(ReadAll(path), QByteArray("a@b.com\r\n"));
    QVERIFY(SaveResults(path, {}, format));
    QCOMPARE(ReadAll(path).size(), format == ResultFormat::List ? 0 : 2);
}

void ResultWritersTest::largeListsComplete_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<ResultFormat>("format");
    // 32,766 was the old limit of 16-bit positions; one more must not be lost.
    for (const int count : {32766, 32767, 100000}) {
        QTest::addRow("list, %d", count) << count << ResultFormat::List;
        QTest::addRow("comma, %d", count) << count << ResultFormat::CommaDelimited;
    }
}

void ResultWritersTest::largeListsComplete() {
    QFETCH(int, count);
    QFETCH(ResultFormat, format);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    const Addresses addresses = Numbered(count);
    int hookCalls = 0;
    QVERIFY(SaveResults(path, addresses, format, nullptr, [&hookCalls] {
        ++hookCalls;
        return true;
    }));
    QCOMPARE(hookCalls, format == ResultFormat::CommaDelimited ? count : 0);
    QVERIFY(ParseSaved(ReadAll(path), format) == addresses);
}

// No extension is added: the name is used as given.
void ResultWritersTest::nameUsedExactly() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("results"));
    QVERIFY(SaveResults(path, {"a@b.com"}, ResultFormat::List));
    QCOMPARE(Entries(dir.path()), QStringList{"results"});
}

// Replacing the file must not turn a link into a file or widen who may read the file.
void ResultWritersTest::linkAndPermissionsKept() {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("target.txt"));
    const QString link = dir.filePath(QStringLiteral("link.txt"));
    WriteFile(target, "old\r\n");
    QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QFile::link(target, link));

    QString error;
    QVERIFY2(SaveResults(link, {"a@b.com"}, ResultFormat::List, &error), qPrintable(error));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(ReadAll(target), QByteArray("a@b.com\r\n"));
    struct stat status {};
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &status), 0);
    QCOMPARE(status.st_mode & 0777, 0600u);
}

void ResultWritersTest::failureKeepsOldFile_data() {
    QTest::addColumn<QString>("target");  // relative to the temporary folder
    QTest::addColumn<QString>("reason");
    QTest::newRow("parent is a file") << "plain.txt/out.txt"
                                      << "Not a directory";
    QTest::newRow("target is a folder") << "folder"
                                        << "Filename refers to a directory";
    QTest::newRow("parent missing") << "missing/out.txt"
                                    << "No such file or directory";
}

// These fail for root as well. Guards against a failure that damages the old file, leaves
// a temporary file behind or says nothing about why.
void ResultWritersTest::failureKeepsOldFile() {
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    WriteFile(dir.filePath(QStringLiteral("plain.txt")), "old content\r\n");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    WriteFile(dir.filePath(QStringLiteral("folder/inside.txt")), "inside\r\n");
    const QStringList before = Entries(dir.path());

    for (const ResultFormat format : {ResultFormat::List, ResultFormat::CommaDelimited}) {
        QString error;
        QVERIFY(!SaveResults(dir.filePath(target), {"a@b.com", "c@d.org"}, format, &error));
        QCOMPARE(error, reason);
    }
    QCOMPARE(ReadAll(dir.filePath(QStringLiteral("plain.txt"))), QByteArray("old content\r\n"));
    QCOMPARE(ReadAll(dir.filePath(QStringLiteral("folder/inside.txt"))), QByteArray("inside\r\n"));
    QCOMPARE(Entries(dir.path()), before);
    QCOMPARE(Entries(dir.filePath(QStringLiteral("folder"))), QStringList{"inside.txt"});
}

void ResultWritersTest::readOnlyFileRefused() {
    if (::geteuid() == 0) {
        QSKIP("File permissions do not hold back root");
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    QString error;
    QVERIFY(!SaveResults(path, {"a@b.com"}, ResultFormat::List, &error));
    QVERIFY2(error.contains(QLatin1String("not writable")), qPrintable(error));
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
    QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
}

void ResultWritersTest::folderWithoutWriteAccess() {
    if (::geteuid() == 0) {
        QSKIP("Folder permissions do not hold back root");
    }
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("locked")));
    const QString path = folder + QStringLiteral("/out.txt");
    WriteFile(path, "old\r\n");
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    const auto unlock = qScopeGuard([&folder] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    QString error;
    QVERIFY(!SaveResults(path, {"a@b.com"}, ResultFormat::CommaDelimited, &error));
    QCOMPARE(error, QStringLiteral("Permission denied"));
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
    QCOMPARE(Entries(folder), QStringList{"out.txt"});
}

// The process may not write files beyond a size limit: the write fails part-way, as on a
// full disk, and does so for root as well.
void ResultWritersTest::fileSizeLimit() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");

    rlimit before{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString error;
    const bool saved = SaveResults(path, Numbered(10000), ResultFormat::List, &error);
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!saved);
    QCOMPARE(error, QStringLiteral("File too large"));
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
    QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
}

void ResultWritersTest::diskFull() {
    if (::geteuid() != 0) {
        QSKIP("Mounting a small file system needs root");
    }
    QTemporaryDir dir;
    const QByteArray mountPoint = QFile::encodeName(dir.path());
    if (::mount("orlenta-test", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0) {
        QSKIP("A small file system cannot be mounted here");
    }
    const auto unmount =
        qScopeGuard([&mountPoint] { ::umount2(mountPoint.constData(), MNT_DETACH); });

    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");
    for (const ResultFormat format : {ResultFormat::List, ResultFormat::CommaDelimited}) {
        QString error;
        QVERIFY(!SaveResults(path, Numbered(20000), format, &error));
        QCOMPARE(error, QStringLiteral("No space left on device"));
        QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
        QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
    }
    // Once there is room again, the same save succeeds.
    QVERIFY(SaveResults(path, Numbered(10), ResultFormat::List));
}

void ResultWritersTest::writeErrorOnDevice() {
    QBuffer closed;
    QString error;
    QTest::ignoreMessage(QtWarningMsg, "QIODevice::write (QBuffer): device not open");
    QVERIFY(!WriteResults(closed, {"a@b.com"}, ResultFormat::List, &error));
    QVERIFY(!error.isEmpty());
    // Nothing to write is no error, even on a closed device.
    QVERIFY(WriteResults(closed, {}, ResultFormat::List, &error));
}

// The comma-delimited line is complete before the file is opened; the hook runs once per
// address, before that address joins the line. The one-per-line save never yields.
void ResultWritersTest::hookRunsPerAddressBeforeTheFileIsTouched() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");
    int calls = 0;
    bool fileUntouched = true;
    const AddressHook hook = [&] {
        ++calls;
        fileUntouched = fileUntouched && ReadAll(path) == "old\r\n";
        return true;
    };
    QVERIFY(SaveResults(path, {"a@b.com", "c@d.org", "e@f.net"}, ResultFormat::CommaDelimited,
                        nullptr, hook));
    QCOMPARE(calls, 3);
    QVERIFY(fileUntouched);
    QCOMPARE(ReadAll(path), QByteArray("a@b.com,c@d.org,e@f.net\r\n"));

    QVERIFY(SaveResults(path, {"a@b.com"}, ResultFormat::List, nullptr, hook));
    QCOMPARE(calls, 3);
    QVERIFY(SaveResults(path, {}, ResultFormat::CommaDelimited, nullptr, hook));
    QCOMPARE(calls, 3);
}

// Guards against a save that goes on writing after the window asked it to stop.
void ResultWritersTest::hookCanAbandon() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    WriteFile(path, "old\r\n");
    int calls = 0;
    QString error;
    QVERIFY(!SaveResults(path, Numbered(5), ResultFormat::CommaDelimited, &error,
                         [&calls] { return ++calls < 2; }));
    QCOMPARE(calls, 2);
    QVERIFY(!error.isEmpty());
    QCOMPARE(ReadAll(path), QByteArray("old\r\n"));
    QCOMPARE(Entries(dir.path()), QStringList{"out.txt"});
}

// Guards against the list changing under a save that yields: what is saved is the list as it
// stood when the save began.
void ResultWritersTest::snapshotSurvivesChangesDuringTheSave() {
    ResultsModel model;
    for (const std::string& address : Numbered(50)) {
        model.append(address);
    }
    const Addresses expected = model.snapshot();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.txt"));
    int calls = 0;
    const AddressHook meddle = [&] {
        switch (++calls % 3) {
            case 0:
                model.clear();
                break;
            case 1:
                model.append("new@x.org");
                break;
            default:
                model.removeAt(0);
                break;
        }
        return true;
    };
    QVERIFY(SaveResults(path, model.snapshot(), ResultFormat::CommaDelimited, nullptr, meddle));
    QCOMPARE(calls, 50);
    QVERIFY(ParseSaved(ReadAll(path), ResultFormat::CommaDelimited) == expected);
}

QTEST_GUILESS_MAIN(ResultWritersTest)
#include "tst_result_writers.moc"
